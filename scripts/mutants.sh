#!/bin/bash
# Do the native tests notice a fault? Makes each change of a list to the
# source, one at a time, rebuilds the native tests and runs them, and says
# whether they caught it. Not part of the test command: a tool for judging
# the tests, run by hand. The tree is restored after each change.
#   scripts/mutants.sh [LIST]    (default scripts/mutants.txt)
# Each line of LIST: file, text and replacement, separated by tabs (the first
# occurrence of text is replaced; \n in either stands for a line feed). Blank
# lines and # comments are skipped.
set -uo pipefail
cd "$(dirname "$0")/.."
list=${1:-scripts/mutants.txt}
build=build/native
tests=(tests/unit/core_tests tests/adapter/vadapter_tests text-tests/text_tests)
# The killed-writer trial takes ten seconds and covers the adapter, not these.
filter=--gtest_filter=-*WriterIsKilled*

cmake --preset native >/dev/null && cmake --build "$build" -j "$(nproc)" >/dev/null || exit 2
for t in "${tests[@]}"; do "$build/$t" "$filter" >/dev/null || { echo "mutants: $t fails unchanged" >&2; exit 2; }; done

caught=0 survived=0 broken=0 n=0
survivors=()
while IFS=$'\t' read -r file text replacement; do
    [[ -z $file || $file == \#* ]] && continue
    n=$((n + 1))
    cp "$file" "$file.orig"
    if ! TEXT=${text//\\n/$'\n'} NEW=${replacement//\\n/$'\n'} \
        perl -0pi -e 's/\Q$ENV{TEXT}\E/$ENV{NEW}/ or die "not found\n"' "$file"; then
        echo "$n $file: '$text' not found" >&2
        mv "$file.orig" "$file"
        exit 2
    fi
    if ! cmake --build "$build" -j "$(nproc)" >/dev/null 2>&1; then
        verdict="does not compile"
        broken=$((broken + 1))
    else
        verdict=survived
        for t in "${tests[@]}"; do
            timeout 300 "$build/$t" "$filter" >/dev/null 2>&1 || { verdict=caught; break; }
        done
        if [ "$verdict" = caught ]; then caught=$((caught + 1)); else
            survived=$((survived + 1))
            survivors+=("$n $file: '$text' -> '$replacement'")
        fi
    fi
    echo "$n $verdict  $file: '$text' -> '$replacement'"
    mv "$file.orig" "$file"
    touch "$file"
done <"$list"
cmake --build "$build" -j "$(nproc)" >/dev/null

echo "mutants: $n changes: $caught caught, $survived survived, $broken did not compile"
for s in "${survivors[@]}"; do echo "  survived: $s"; done
