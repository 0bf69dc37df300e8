#!/bin/bash
# check-hardening.sh fails on what it must refuse: each row edits the real
# objdump's dump of a built program, and the check must name the problem; the
# unedited dump passes.
#   check-hardening-refuses.sh OBJDUMP ALLOW-LIST FILE=KIND
set -uo pipefail
objdump=$1 allow=$2 file=$3
check=$(dirname "$0")/check-hardening.sh
# shellcheck source=../support/refuses.sh
. "$(dirname "$0")/../support/refuses.sh"
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT

# name | sed script applied to the dump | what the check must say ("" = it passes)
# | the caller's LC_ALL
rows=(
    'unedited||'
    'Chinese locale|||zh_CN.gbk'
    'decorated import|s/^\tDLL Name: KERNEL32.dll$/\tDLL Name: evil.dll\n\tvma:  Hint\/Ord Member-Name Bound-To\n\t1234\t   12  ?Foo@@YAXXZ\n\n&/|cannot read the import line evil.dll: 1234'
    'no relocations|s/^\(Entry 5 [0-9a-f]* \)[0-9a-f]*/\100000000/|no ASLR'
    'other architecture|s/pei-x86-64$/pei-OTHER/; s/pei-i386$/pei-x86-64/; s/pei-OTHER$/pei-i386/|imports.txt lacks for'
)
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name edit expected locale <<<"$row"
    printf '#!/bin/bash\n"%s" "$@" | sed -e %q\n' "$objdump" "$edit" >"$work/objdump"
    chmod +x "$work/objdump"
    output=$(LC_ALL=${locale:-${LC_ALL:-}} bash "$check" "$work/objdump" "$allow" "$file" 2>&1)
    status=$?
    refuses_row "$name" "$status" "$output" "$expected" || failed=$((failed + 1))
done
echo "check-hardening refuses: $((${#rows[@]} - failed)) of ${#rows[@]} rows as expected"
[ "$failed" -eq 0 ]
