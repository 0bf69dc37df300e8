#!/bin/bash
# Builds Varnock and the virtual adapter (x86_64) and runs Varnock under Wine
# on this display, against the virtual adapter that sits beside it as
# Qelvo_CAN.dll. Its record lives in the Wine prefix's
# %LOCALAPPDATA%\Varnock\virtual-adapter.bin unless VADAPTER_IMAGE says
# otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${DISPLAY:-}" ]; then
    echo "run: DISPLAY is not set; Varnock is a window and needs a display to show it on." >&2
    echo "run: start it from a desktop session (or, headless, under xvfb-run)." >&2
    exit 1
fi

"$root/scripts/install-deps.sh"

cd "$root"
cmake --preset windows-x64
cmake --build build/windows-x64 -j"$(nproc)" --target Varnock qelvo_virtual

source "$root/scripts/wine-env.sh"
varnock_wine_prefix
exec "$WINELOADER" "$root/build/windows-x64/bin/Varnock.exe"
