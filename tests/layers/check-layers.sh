#!/bin/bash
# The layers, and what each folder's sources may include besides their own
# folder. Written here once; docs/contributing.md's layout table says the
# same in words.
# "system" is the operating system's headers: any <name.h>, where the C++
# library's have no ".h"; the test framework's are not among them. An
# include whose first path part names a layer is that layer, in quotes or
# brackets. A quoted name without a folder is the file's neighbour only if
# it, or the template it is made from (name.in), is beside the file: the
# compiler would otherwise find a system header by it, past this check. An
# include that names no header, or a computed one, is read by no one here,
# so it fails too. Tests, fuzzers and the benchmark may include any layer.
# Prints every #include that crosses a layer, and fails if there is one.
set -uo pipefail
declare -A may_use=(
    [hardening]="system"
    [device]=""
    [text]="system"
    [actions]="device text"
    [ledger]="text"
    [label]="text"
    [platform]="text system"
    [ui]="actions platform device text"
    [res]="ui system"
    [app]="ui platform res"
    [cli]="actions ledger label device text system"
    [vadapter]="device system"
    [otherwindows]="system"
)

cd "${1:-$(dirname "$0")/../..}" || exit 2
crossings=0
while IFS= read -r file; do
    file=${file#./}
    case $file in tests/* | */tests/* | fuzz/* | bench/*) continue ;; esac
    folder=${file%%/*}
    if [ "$folder" = "$file" ] || [ -z "${may_use[$folder]+set}" ]; then
        echo "$file: in no layer; give its folder a line in $0"
        crossings=$((crossings + 1))
        continue
    fi
    while IFS= read -r found; do
        line=${found%%:*}
        directive=${found#*:}
        name=${directive#*[\"<]} name=${name%%[\">]*} part=${name%%/*}
        if ! [[ $directive =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*(\"[^\"]+\"|\<[^\>]+\>) ]]; then
            layer="no header named, or a computed include"
        # Through . or .. a path can reach any layer from any first part.
        elif [[ /$name/ == */./* || /$name/ == */../* ]]; then
            layer="a path through . or .."
        elif [ -n "$part" ] && [ "$part" != "$name" ] && [ -n "${may_use[$part]+set}" ]; then
            layer=$part  # ours, whatever its brackets
        elif [[ $part == gtest || $part == gmock ]]; then
            layer="the test framework"  # only tests may use it
        else
            case $directive in
            *'<'*'.h>'*) layer=system ;;
            *'<'*) continue ;;  # the C++ library
            *'"'*/*'"'*) layer=$part ;;
            *)
                if [ -e "$(dirname "$file")/$name" ] || [ -e "$(dirname "$file")/$name.in" ]; then
                    layer=$folder  # beside the file
                else
                    layer="not beside the file (a system header takes <>, ours its folder)"
                fi ;;
            esac
        fi
        [ "$layer" = "$folder" ] && continue
        [[ " ${may_use[$folder]} " == *" $layer "* ]] && continue
        echo "$file:$line: $directive  ($layer; $folder may use: ${may_use[$folder]:-nothing of ours})"
        crossings=$((crossings + 1))
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done < <(find . -mindepth 1 \( -name build -o -name '.*' \) -prune -o -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) -print | sort)

if [ "$crossings" -gt 0 ]; then
    echo "layers: $crossings include(s) cross a layer"
    exit 1
fi
echo "layers: every include keeps to its layer"
