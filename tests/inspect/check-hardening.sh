#!/bin/bash
# The exploit mitigations and imports of the Windows binaries a release
# ships, from their headers. Prints one table line per file and fails on:
#   no ASLR (DYNAMIC_BASE, with a relocation table to move by), no NX, no
#   high-entropy ASLR on x86_64, a section both writable and executable, the
#   wrong subsystem, or an import that the reviewed allow-list lacks.
#   check-hardening.sh OBJDUMP ALLOW-LIST FILE=KIND...
# KIND is gui, console or dll. The allow-list has one line per import:
# "DLL function oldest-Windows"; an import by number is "#<number>".
set -uo pipefail

objdump=$1 allow=$2
shift 2
allowed=$(awk '!/^#/ && NF >= 3 {print tolower($1) " " $2}' "$allow")
failures=0

printf '%-16s %-7s %-5s %-8s %-4s %-4s %-10s %s\n' file arch ASLR HE-ASLR NX W^X subsystem imports
for entry in "$@"; do
    file=${entry%=*} kind=${entry##*=}
    dump=$("$objdump" -p "$file") && sections=$("$objdump" -h "$file") || { echo "$file: not readable"; exit 2; }
    problems=()
    flag() { grep -q "^[[:space:]]*$1\$" <<<"$dump" && echo yes || echo no; }

    arch=$(sed -n 's/.*file format pei-//p' <<<"$dump")
    relocs=$(awk '/Base Relocation Directory/ {print $3}' <<<"$dump")
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

    # "DLL Name: X", then one line per function: by name, or by number.
    imports=$(awk '/^\tDLL Name:/ {dll = tolower($3); next}
                   /^$/ {dll = ""}
                   dll && /^\t[0-9a-f]+\t +[0-9]+  <none>$/ {sub(/^0*/, "", $2); print dll " #" $2; next}
                   dll && /^\t[0-9a-f]+\t +[0-9]+  [A-Za-z_]/ {print dll " " $3}' <<<"$dump")
    unknown=$(comm -23 <(sort -u <<<"$imports") <(sort -u <<<"$allowed"))
    count=$(sort -u <<<"$imports" | grep -c .)
    while read -r dll function; do
        [ -n "$dll" ] && problems+=("imports $dll $function, which $(basename "$allow") lacks")
    done <<<"$unknown"

    printf '%-16s %-7s %-5s %-8s %-4s %-4s %-10s %s\n' "$(basename "$file")" "$arch" "$aslr" "$heaslr" "$nx" \
        "$([ -z "$wx" ] && echo ok || echo no)" "${subsystem:-?}" "$count, $([ -z "$unknown" ] && echo all allowed || echo NOT all allowed)"
    for p in "${problems[@]}"; do
        echo "  $(basename "$file"): $p"
        failures=$((failures + 1))
    done
done
[ "$failures" -eq 0 ] || { echo "check-hardening: $failures problem(s)"; exit 1; }
