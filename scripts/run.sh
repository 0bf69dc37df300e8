#!/bin/bash
# Builds Varnock and the virtual adapter (x86_64, or i686 with --x86) and
# runs Varnock under Wine on this display, against the virtual adapter that
# sits beside it as Qelvo_CAN.dll. Its record lives in the Wine prefix's
# %LOCALAPPDATA%\Varnock\virtual-adapter.bin unless VADAPTER_IMAGE says
# otherwise. The i686 build is the one for a 32-bit vendor library.
# The prefix is the project's, build/wineprefix (or VARNOCK_WINEPREFIX),
# never the caller's WINEPREFIX: see wine-env.sh.
set -euo pipefail

preset=windows-x64 needs=run
case "${1:-}" in
    --x86) preset=windows-x86 needs=run-x86 ;;
    "") ;;
    *) echo "usage: scripts/run.sh [--x86]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DISPLAY:-}" ]; then
    echo "run: DISPLAY is not set; Varnock is a window and needs a display to show it on." >&2
    echo "run: start it from a desktop session (or, headless, under xvfb-run)." >&2
    exit 1
fi

# What this program needs, not what the tests need.
"$root/scripts/install-deps.sh" "$needs"

cd "$root"
cmake --preset "$preset"
cmake --build "build/$preset" -j"$(nproc)" --target Varnock qelvo_virtual

source "$root/scripts/wine-env.sh"
varnock_wine_prefix
# The 64-bit loader hands a 32-bit program on to the 32-bit one.
exec "$WINELOADER" "$root/build/$preset/bin/Varnock.exe"
