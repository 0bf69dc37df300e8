#!/bin/bash
# ctest's emulator for the Windows builds: runs one Windows program under
# wine64 in the project's prefix.
source "$(dirname "$0")/wine-env.sh"
varnock_wine_prefix

# Now and then Wine loses a process as it starts. Each test program prints a
# banner before anything else, so one that failed having printed nothing
# never reached its main: it is started once more, and the line goes where
# test.sh counts the starts made again (build/<preset>/artifacts).
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for try in 1 2; do
    "$WINELOADER" "$@" 2>&1 | tee "$out"
    status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] || [ -s "$out" ] || [ "$try" -eq 2 ]; then
        exit "$status"
    fi
    line="wine-run: $(basename "$1") ${2:-}: ended with $status before it printed anything; started once more"
    echo "$line" >&2
    artifacts=$(dirname "$(dirname "$1")")/artifacts
    mkdir -p "$artifacts" && echo "$line" >>"$artifacts/started-again.txt"
done
