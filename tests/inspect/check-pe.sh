#!/bin/bash
# Checks what a Windows binary exports or imports, from `objdump -p`.
#   check-pe.sh OBJDUMP FILE exports ORDINAL...
#       FILE exports exactly these numbers, and no names.
#   check-pe.sh OBJDUMP FILE imports-by-number DLL ORDINAL...
#       FILE imports DLL by exactly these numbers, and no names from it.
#   check-pe.sh OBJDUMP FILE imports-only DLL...
#       every DLL that FILE imports is one of these (case does not matter).
set -euo pipefail
# objdump's words are read here, and it translates them.
export LC_ALL=C

objdump=$1 file=$2 mode=$3
shift 3
dump=$("$objdump" -p "$file")

fail() { echo "check-pe: $file: $*" >&2; exit 1; }
sorted() { printf '%s\n' "$@" | sort -n | tr '\n' ' '; }

case $mode in
exports)
    grep -q '^Export Address Table -- Ordinal Base' <<<"$dump" || fail "no export table"
    # "[   0] +base[   1] 18d8 Export RVA": only the entries in use are listed.
    got=$(awk '/^Export Address Table -- /{on=1; next} on && /^$/{on=0}
               on && /\+base\[/{s=$0; sub(/.*\+base\[ */, "", s); sub(/\].*/, "", s); print s}' <<<"$dump")
    [ "$(sorted $got)" = "$(sorted "$@")" ] || fail "exports numbers '$(sorted $got)', expected '$(sorted "$@")'"
    names=$(awk '/\[Name Pointer\/Ordinal\] Table/ && NF == 4 {print $4}' <<<"$dump")
    [ -n "$names" ] || fail "no count of exported names"
    [ $((16#$names)) -eq 0 ] || fail "exports $((16#$names)) names"
    ;;
imports-by-number)
    dll=$1
    shift
    # The DLL's block: "vma:  Hint/Ord Member-Name Bound-To", then one line per
    # import; by number they read "80000005  5  <none>", by name
    # "82f0  283  GetLastError".
    block=$(awk -v dll="$dll" 'tolower($0) ~ /dll name:/ {on = (tolower($3) == tolower(dll)); next}
                               on && /^$/ {on = 0} on && !/Hint\/Ord/ {print}' <<<"$dump")
    [ -n "$block" ] || fail "does not import $dll"
    named=$(awk '$3 != "<none>" || $1 !~ /^8/' <<<"$block")
    [ -z "$named" ] || fail "imports from $dll by name: $named"
    got=$(awk '{print $2 + 0}' <<<"$block")
    [ "$(sorted $got)" = "$(sorted "$@")" ] || fail "imports $dll numbers '$(sorted $got)', expected '$(sorted "$@")'"
    ;;
imports-only)
    allowed=" $(tr '[:upper:]' '[:lower:]' <<<"$*") "
    dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump" | sort -u)
    [ -n "$dlls" ] || fail "imports no DLL at all"
    for d in $dlls; do
        [[ $allowed == *" $d "* ]] || fail "imports $d, which is not allowed"
    done
    ;;
*)
    fail "unknown check $mode"
    ;;
esac
echo "check-pe: $(basename "$file"): $mode ok"
