#!/bin/bash
# Builds the two Windows presets and runs the benchmark (bench/, whose driver is
# bench/Bench.cpp; each other file there is one thing it measures):
# Varnock.exe against the least code showing its window, started in turn under
# wine64 in Xvfb, varnock-cli.exe write-suffix against the least C program
# making the same library calls, varnock-cli.exe provision on a ledger of
# 10,000 lines against write-suffix, then Varnock's two actions, then the
# programs' sizes on both architectures. A benchmark, not a test: it fails only when it cannot run.
# Arguments go to the driver, e.g. --runs 200 or --raw. With --trace [PAIRS]
# it benchmarks nothing: Wine traces PAIRS starts (20 by default) of
# Varnock.exe and of the least code showing its window, in turn, and
# bench/start-trace.awk prints the median time of each step.
#   VARNOCK_BUILD_ROOT    where the presets' build folders go (default build)
#   VARNOCK_BENCH_PREFIX  the benchmark's Wine prefix (default build/bench-wineprefix)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The programs measured are the ones that ship: the caller's flags stay out
# of a new build folder's cache, as in release.sh (LDFLAGS=-Wl,
# --disable-dynamicbase drops ASLR), and a folder whose cache has them
# already is caught by the hardening check below.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS CC CXX RC \
    GCC_EXEC_PREFIX COMPILER_PATH LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH \
    MAKEFLAGS MFLAGS GNUMAKEFLAGS MAKEFILES
unset "${!CMAKE_@}"

build_root=${VARNOCK_BUILD_ROOT:-build}
declare -A triple=([windows-x64]=x86_64-w64-mingw32 [windows-x86]=i686-w64-mingw32)
declare -A targets=([windows-x64]="Varnock VarnockBaseline VarnockBaselineV6 VarnockBaselineWindow VarnockBench
                                   varnock_cli VarnockLeastCli qelvo_virtual"
                    [windows-x86]="Varnock VarnockBaseline varnock_cli")
for preset in windows-x64 windows-x86; do
    dir=$build_root/$preset
    echo "=== build $preset in $dir"
    cmake --preset "$preset" -B "$dir" >/dev/null
    # shellcheck disable=SC2086  # the target list splits on purpose
    cmake --build "$dir" -j "$(nproc)" --target ${targets[$preset]}
    # The size target is on stripped files, whatever the build type did.
    mkdir -p "$dir/bench-stripped"
    for exe in Varnock VarnockBaseline varnock-cli; do
        "${triple[$preset]}-strip" -o "$dir/bench-stripped/$exe.exe" "$dir/bin/$exe.exe"
    done
    bash tests/inspect/check-hardening.sh "${triple[$preset]}-objdump" tests/inspect/imports.txt \
        "$dir/bin/Varnock.exe=gui" "$dir/bin/varnock-cli.exe=console" ||
        { echo "bench: $dir builds programs unlike the ones that ship (above); remove it and run again" >&2; exit 1; }
done

# Its own prefix and wineserver, so tests running meanwhile share neither.
# Headless: with no window manager on Xvfb, Wine would wait 2 s for one at
# every closed window.
export VARNOCK_WINEPREFIX=${VARNOCK_BENCH_PREFIX:-$PWD/build/bench-wineprefix}
export VARNOCK_WINE_HEADLESS=1
source scripts/wine-env.sh
trap varnock_wine_down EXIT
# One CPU for Xvfb, the wineserver and every program: a program on another CPU
# than the server waits for a cross-CPU wake-up at each of its requests, and
# a console run lands in a mode 40 ms slower (docs/benchmark.md).
taskset -pc "$(($(nproc) - 1))" $$ >/dev/null
varnock_start_xvfb
varnock_wine_up
# The target systems' code page, 936.
export LC_ALL=zh_CN.UTF-8

x64=$build_root/windows-x64
x86=$build_root/windows-x86
if [ "${1:-}" = --trace ]; then
    [[ ${2:-20} =~ ^[1-9][0-9]*$ ]] || { echo "bench: --trace takes a number of pairs, 1 or more" >&2; exit 2; }
    trace=$build_root/start-trace.txt
    programs=()
    for _ in $(seq 0 "${2:-20}"); do programs+=(Varnock.exe VarnockBaselineWindow.exe); done
    # Wine's trace and the driver's own errors share stderr: show the errors.
    if ! WINEDEBUG=+pid,+timestamp,+loaddll,+dialog,+debugstr \
        varnock_wine "$x64/bin/VarnockBench.exe" --trace "${programs[@]}" >/dev/null 2>"$trace"; then
        grep -a '^bench:' "$trace" >&2 || echo "bench: the traced starts failed; see $trace" >&2
        exit 1
    fi
    echo "=== start-up traced, CPUs $(nproc), load average $(cut -d' ' -f1-3 /proc/loadavg); the trace is $trace"
    awk -f bench/start-trace.awk "$trace"
    exit 0
fi
echo "=== bench $(date -u +%F), $(nproc) cores, $(LC_ALL=C lscpu | sed -n 's/^Model name: *//p'), $(varnock_wine --version)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
varnock_wine "$x64/bin/VarnockBench.exe" "$@" \
    --sizes "x86_64 stripped" "$(varnock_wine winepath.exe -w "$x64/bench-stripped")" \
    --sizes "i686" "$(varnock_wine winepath.exe -w "$x86/bin")" \
    --sizes "i686 stripped" "$(varnock_wine winepath.exe -w "$x86/bench-stripped")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
