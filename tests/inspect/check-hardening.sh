#!/bin/bash
# The exploit mitigations and imports of the Windows binaries a release
# ships, from their headers. Prints one table line per file and fails on:
#   no ASLR (DYNAMIC_BASE, with a relocation table to move by), no NX, no
#   high-entropy ASLR on x86_64, a section both writable and executable, the
#   wrong subsystem, an import that the reviewed allow-list lacks for the
#   file's architecture, or an import line it cannot read.
#   check-hardening.sh OBJDUMP ALLOW-LIST FILE=KIND...
# KIND is gui, console or dll. The allow-list has one line per import:
# "DLL function oldest-Windows architectures", where architectures is "both",
# "x86_64 only" or "i686 only"; an import by number is "#<number>".
set -uo pipefail
# objdump's words are read here, and it translates them ("文件格式").
export LC_ALL=C

objdump=$1 allow=$2
shift 2
# A line of the list that names no architecture would allow nothing, silently.
bad=$(awk '!/^#/ && NF && !(NF == 4 && $4 == "both" ||
                             NF == 5 && $5 == "only" && ($4 == "x86_64" || $4 == "i686"))' "$allow")
[ -z "$bad" ] || { printf '%s: cannot read:\n%s\n' "$allow" "$bad"; exit 2; }
failures=0

printf '%-16s %-7s %-5s %-8s %-4s %-4s %-10s %s\n' file arch ASLR HE-ASLR NX W^X subsystem imports
for entry in "$@"; do
    file=${entry%=*} kind=${entry##*=}
    dump=$("$objdump" -p "$file") && sections=$("$objdump" -h "$file") || { echo "$file: not readable"; exit 2; }
    problems=()
    flag() { grep -q "^[[:space:]]*$1\$" <<<"$dump" && echo yes || echo no; }

    arch=$(sed -n 's/.*file format pei-//p' <<<"$dump")
    case $arch in
    x86-64) machine=x86_64 ;;
    i386) machine=i686 ;;
    *) machine=none; problems+=("architecture ${arch:-unknown}") ;;
    esac
    # "Entry 5 <address> <size> Base Relocation Directory": no size, no table.
    relocs=$(awk '/Base Relocation Directory/ {print $4}' <<<"$dump")
    aslr=$(flag DYNAMIC_BASE)
    [ "$aslr" = yes ] && [ -n "$relocs" ] && [ $((16#$relocs)) -gt 0 ] || { aslr=no; problems+=("no ASLR"); }
    heaslr=$(flag HIGH_ENTROPY_VA)
    [ "$arch" = i386 ] && heaslr=n/a
    [ "$heaslr" = no ] && problems+=("no high-entropy ASLR")
    nx=$(flag NX_COMPAT)
    [ "$nx" = yes ] || problems+=("no NX")
    # objdump marks an executable section CODE and one without write access READONLY.
    wx=$(awk '/^ *[0-9]+ / {name=$2} /CODE/ && !/READONLY/ {print name}' <<<"$sections" | tr '\n' ' ')
    [ -z "$wx" ] || problems+=("writable and executable: $wx")
    subsystem=$(sed -n 's/^Subsystem.*(Windows \(GUI\|CUI\)).*/\1/p' <<<"$dump")
    case $kind:$subsystem in
    gui:GUI | console:CUI) ;;
    dll:*) grep -q '^[[:space:]]*DLL$' <<<"$dump" && subsystem=DLL || problems+=("not a DLL") ;;
    *) problems+=("subsystem ${subsystem:-unknown}, expected $kind") ;;
    esac

    # "DLL Name: X", then one line per function: by name, or by number. Any
    # other line there (a decorated name, a format objdump did not have) is
    # one this check cannot vouch for, marked "!".
    imports=$(awk '/^\tDLL Name:/ {dll = tolower($3); next}
                   /^$/ {dll = ""}
                   !dll || /^\tvma:  Hint\/Ord Member-Name Bound-To$/ {next}
                   /^\t[0-9a-f]+\t +[0-9]+  <none>$/ {sub(/^0*/, "", $2); print dll " #" $2; next}
                   /^\t[0-9a-f]+\t +[0-9]+  [A-Za-z_][A-Za-z0-9_]*$/ {print dll " " $3; next}
                   {sub(/^\t/, ""); print "! " dll ": " $0}' <<<"$dump")
    allowed=$(awk -v arch="$machine" '!/^#/ && NF && ($4 == "both" || $4 == arch) {print tolower($1) " " $2}' "$allow")
    readable=$(grep -v '^! ' <<<"$imports" | sort -u)
    unknown=$(comm -23 - <(sort -u <<<"$allowed") <<<"$readable")
    count=$(grep -c . <<<"$readable")
    [ "$count" -gt 0 ] || problems+=("no imports read")
    while read -r dll function; do
        [ -n "$dll" ] && problems+=("imports $dll $function, which $(basename "$allow") lacks for $machine")
    done <<<"$unknown"
    unreadable=$(sed -n 's/^! //p' <<<"$imports")
    while IFS= read -r line; do
        [ -n "$line" ] && problems+=("cannot read the import line $line")
    done <<<"$unreadable"

    printf '%-16s %-7s %-5s %-8s %-4s %-4s %-10s %s\n' "$(basename "$file")" "$arch" "$aslr" "$heaslr" "$nx" \
        "$([ -z "$wx" ] && echo ok || echo no)" "${subsystem:-?}" "$count, $([ -z "$unknown$unreadable" ] && echo all allowed || echo NOT all allowed)"
    for p in "${problems[@]}"; do
        echo "  $(basename "$file"): $p"
        failures=$((failures + 1))
    done
done
[ "$failures" -eq 0 ] || { echo "check-hardening: $failures problem(s)"; exit 1; }
