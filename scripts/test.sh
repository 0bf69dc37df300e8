#!/bin/bash
# Installs what is missing, builds every preset and runs every test, headless:
# native (with sanitizers), Windows x86_64 under wine64 in Xvfb, and Windows
# i686 under the 32-bit Wine (emulated where the kernel has no 32-bit
# support): its unit and adapter tests and a subset of the end-to-end ones.
# Then the release: reproducible unsigned, and signed with throwaway keys.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The test framework's settings, which Wine passes on to the test programs
# too: GTEST_TOTAL_SHARDS and GTEST_SHARD_INDEX had each program run none of
# its tests, GTEST_FILTER='-*' cut the list ctest discovers. TESTBRIDGE_*
# and the others are the framework's names for the same; CTEST_* are
# ctest's, and the sanitizers' options can turn a fault into a pass.
unset "${!GTEST_@}" "${!TESTBRIDGE_@}" "${!CTEST_@}" TEST_PREMATURE_EXIT_FILE TEST_WARNINGS_OUTPUT_FILE \
    XML_OUTPUT_FILE ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# A prefix of the tests' own, without window management (see wine-env.sh),
# whatever prefix the caller names: a prefix made elsewhere may lack the
# setting that the close-box test needs.
export VARNOCK_WINEPREFIX=$PWD/build/wineprefix-test VARNOCK_WINE_HEADLESS=1
source scripts/wine-env.sh
trap varnock_wine_down EXIT
varnock_start_xvfb
varnock_wine_up
echo "test: Xvfb on $DISPLAY, Wine prefix $WINEPREFIX"

# ctest passes a run with skipped tests; here a skip is a failure, since a
# test that skips itself checks nothing. ctest names them in its summary.
run_ctest() {
    local log=build/ctest-$1.log again=build/$1/artifacts/started-again.txt status
    local last=build/$1/Testing/Temporary/LastTest.log listed ran
    rm -f "$again" "$last"
    # The lists ctest discovered are kept until a program is relinked: one
    # cut by an earlier run's environment would stand. Each run lists anew.
    find "build/$1" -name '*\[*\]_tests.cmake' -delete
    set +e
    ctest --preset "$1" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    set -e
    # Programs started once more because they ended as they started (the
    # e2e harness and wine-run.sh write the lines). Wine loses one now and
    # then; more than one in a preset is more than Wine's share, and may be
    # the program's own fault.
    if [ -s "$again" ]; then
        local starts
        starts=$(wc -l <"$again")
        echo "test: $1: $starts program start(s) made again:"
        sed 's/^/    /' "$again"
        if [ "$starts" -gt 1 ]; then
            echo "test: $1: more than one start made again fails the run"
            status=1
        fi
    fi
    if grep -q '^The following tests did not run:' "$log"; then
        echo "test: $1: a test did not run (see above); a skipped test fails the run"
        return 1
    fi
    # A preset that ran nothing passes in ctest's eyes. Each test program
    # must list a test, and each test it lists must have run as one test
    # (ctest's log holds every test's command and output).
    if grep -q '^No tests were found' "$log" || [ ! -s "$last" ]; then
        echo "test: $1: no tests were found"
        return 1
    fi
    while IFS= read -r include; do
        [ "$(grep -c '^add_test(' "${include%_include.cmake}_tests.cmake" 2>/dev/null)" -gt 0 ] || {
            echo "test: $1: $(basename "${include%\[*}") lists no tests"; status=1; }
    done < <(find "build/$1" -name '*\[*\]_include.cmake')
    listed=$(find "build/$1" -name '*\[*\]_tests.cmake' -exec cat {} + | grep -c '^add_test(' || true)
    ran=$(awk '/^Command: .*--gtest_filter=/ { gtest = 1 } /^<end of output>/ { gtest = 0 }
               gtest && /^\[==========\] 1 test from .* ran\./ { n++ } END { print n + 0 }' "$last")
    if [ "$ran" -lt "$listed" ]; then
        echo "test: $1: its programs list $listed tests, and $ran ran"
        status=1
    fi
    return "$status"
}

failed=()
for preset in native fuzz windows-x64 windows-x86; do
    echo "=== $preset"
    started=$SECONDS
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
    built=$SECONDS
    run_ctest "$preset" || failed+=("$preset")
    echo "test: $preset built in $((built - started)) s, tested in $((SECONDS - built)) s"
done

echo "=== reproducible release"
scripts/check-reproducible.sh --tested || failed+=(reproducible-release)
echo "=== signed release"
scripts/check-signed-release.sh || failed+=(signed-release)

if [ ${#failed[@]} -gt 0 ]; then
    echo "test: FAILED in ${failed[*]}"
    exit 1
fi
echo "test: all presets passed in $SECONDS s"
