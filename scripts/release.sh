#!/bin/bash
# Builds the release from a clean tree: both Windows architectures with the
# presets' flags (the binaries the tests run), one zip each, and their sums:
#   dist/Varnock-<version>-win32.zip, dist/Varnock-<version>-win64.zip,
#   dist/SHA256SUMS
# The same commit gives the same bytes in any folder, at any time, under any
# umask, time zone or user. The programs are stamped with SOURCE_DATE_EPOCH if
# it is set, else with the last commit's time; outside a git checkout it must
# be set.
set -euo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
        echo "release: the tree has uncommitted changes; a release is what a commit builds." >&2
        exit 1
    fi
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "release: not a git checkout; set SOURCE_DATE_EPOCH (seconds since 1970) to stamp the programs." >&2
    exit 1
fi

scripts/install-deps.sh

rm -rf dist
mkdir -p dist
for preset in windows-x86 windows-x64; do
    build=build/release/$preset
    rm -rf "$build"
    echo "=== release: $preset"
    # The preset's toolchain and build type, in a folder of its own, without the tests.
    cmake --preset "$preset" -B "$build" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target release_zip
    cp "$build"/Varnock-*.zip dist/
done
(cd dist && sha256sum Varnock-*.zip >SHA256SUMS)

echo "release: in $PWD/dist/"
(cd dist && sha256sum *)
