#!/bin/bash
# Builds the release twice, from two copies of this tree at different paths,
# under different umasks and time zones and at different times, and compares
# every output byte for byte: both architectures' programs, the readme files,
# the zips and SHA256SUMS. It also looks for the copies' paths and the user's
# name in the programs and readme files.
#   --tested  also compare the programs with the presets' builds in build/
#             (scripts/test.sh has just built and tested those)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tested=0
[ "${1:-}" = --tested ] && tested=1
start=$SECONDS

source scripts/tree-copy.sh
rev=$(varnock_tree_commit)

work=$(mktemp -d "${TMPDIR:-/tmp}/varnock-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
one=$work/one/varnock
two=$work/second/at-another-depth/varnock

release() {  # <folder> <umask> <TZ>
    varnock_tree_copy "$rev" "$1"
    # Unsigned, whatever keys the caller has configured: any of the four
    # asks release.sh to sign.
    (umask "$2" && cd "$1" && TZ=$3 nice -n 10 env -u VARNOCK_SIGN_PKCS12 -u VARNOCK_SIGN_PASSWORD_FILE \
        -u VARNOCK_SIGN_TIMESTAMP_URL -u VARNOCK_GPG_KEY scripts/release.sh >"$1.log" 2>&1) || {
        tail -n 30 "$1.log"
        echo "reproducible: the release build in $1 failed"
        exit 1
    }
}
release "$one" 022 UTC0
release "$two" 077 CST-8

# What no output may name: the copies, this tree, the user's home and name.
# A pattern under four characters (HOME=/, a user "ci") would match any
# program by chance; HOME may be unset.
names=()
for name in "$work" "$root" "${HOME:-}" "$(id -un 2>/dev/null)"; do
    [ ${#name} -lt 4 ] || names+=(-e "$name")
done

outputs() {  # every file the release writes, relative to the tree
    (cd "$1" && find dist build/release/*/bin build/release/*/package-texts -type f \
        \( -path 'dist/*' -o -name '*.exe' -o -name '*.dll' -o -name '*.txt' \) | sort)
}
status=0
if [ "$(outputs "$one")" != "$(outputs "$two")" ]; then
    echo "reproducible: the two builds wrote different files:"
    diff <(outputs "$one") <(outputs "$two") || true
    status=1
fi
while read -r file; do
    if cmp -s "$one/$file" "$two/$file"; then
        echo "same       $(sha256sum "$one/$file" | cut -c1-16)  $file"
    else
        echo "DIFFERENT  $file: $(cmp -l "$one/$file" "$two/$file" 2>&1 | wc -l) bytes differ"
        status=1
    fi
    case $file in
    dist/*) ;;  # compressed: their contents are checked unpacked
    *)
        if grep -a -q -F "${names[@]}" "$one/$file"; then
            echo "reproducible: $file names a build folder or the user"
            status=1
        fi ;;
    esac
done < <(outputs "$one")

if [ $tested = 1 ]; then
    for preset in windows-x64 windows-x86; do
        for program in Varnock.exe varnock-cli.exe Qelvo_CAN.dll; do
            if ! cmp -s "build/$preset/bin/$program" "$one/build/release/$preset/bin/$program"; then
                echo "reproducible: the release's $preset $program is not the one the tests ran"
                status=1
            fi
        done
    done
fi

(cd "$one/dist" && sha256sum -c --quiet SHA256SUMS) || status=1
echo "reproducible: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $status
