#!/bin/bash
# ctest's emulator for the Windows builds: runs one Windows program under
# wine64 in the project's prefix.
source "$(dirname "$0")/wine-env.sh"
varnock_wine_prefix || exit 1

# Passes its input on; fails if there was none.
printed() {
    local first
    IFS= read -r -d '' -n 1 first || return 1
    printf '%s' "$first"
    cat
}

# Now and then Wine loses a process as it starts. A test program prints its
# banner before anything else, so one that failed having printed nothing
# never reached its main: it is started once more, and the line goes where
# test.sh counts the starts made again (build/<preset>/artifacts). A status
# over 128 may be a kill from outside (the OOM killer, a person), and is
# not run twice.
for try in 1 2; do
    "$WINELOADER" "$@" | printed
    status=${PIPESTATUS[0]} said=${PIPESTATUS[1]}
    if [ "$status" -eq 0 ] || [ "$status" -gt 128 ] || [ "$said" -eq 0 ] || [ "$try" -eq 2 ]; then
        exit "$status"
    fi
    line="wine-run: $(basename "$1") ${2:-}: ended with $status before it printed anything; started once more"
    echo "$line" >&2
    artifacts=$(dirname "$(dirname "$1")")/artifacts
    mkdir -p "$artifacts" && echo "$line" >>"$artifacts/started-again.txt"
done
