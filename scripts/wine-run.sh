#!/bin/bash
# ctest's emulator for the x86_64 build: runs one Windows program under wine64
# in the project's prefix.
source "$(dirname "$0")/wine-env.sh"
varnock_wine_prefix
exec "$WINELOADER" "$@"
