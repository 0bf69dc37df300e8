#!/bin/bash
# Builds the release from a clean tree: both Windows architectures with the
# presets' flags (the binaries the tests run), one zip each, and their sums:
#   dist/Varnock-<version>-win32.zip, dist/Varnock-<version>-win64.zip,
#   dist/SHA256SUMS
# The same commit gives the same bytes in any folder, at any time, under any
# umask, time zone or user. The programs are stamped with SOURCE_DATE_EPOCH if
# it is set, else with the last commit's time; outside a git checkout it must
# be set.
#
# Signing, when configured by the environment:
#   VARNOCK_SIGN_PKCS12         a PKCS#12 file with the code-signing key and
#   VARNOCK_SIGN_PASSWORD_FILE  a file holding its password: every program and
#                               DLL is Authenticode-signed before zipping
#   VARNOCK_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, so that the
#                               signatures outlive the certificate (optional)
#   VARNOCK_GPG_KEY             an OpenPGP key id in the user's keyring: also
#                               writes dist/SHA256SUMS.asc, signing the sums
# A signature adds bytes and changes nothing else: osslsigncode
# remove-signature gives back the unsigned, reproducible files.
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

if [ -n "${VARNOCK_SIGN_PKCS12:-}" ]; then
    if [ -z "${VARNOCK_SIGN_PASSWORD_FILE:-}" ]; then
        echo "release: VARNOCK_SIGN_PKCS12 is set, VARNOCK_SIGN_PASSWORD_FILE is not: it names the file holding the key's password." >&2
        exit 1
    fi
    for file in "$VARNOCK_SIGN_PKCS12" "$VARNOCK_SIGN_PASSWORD_FILE"; do
        [ -r "$file" ] || { echo "release: cannot read $file" >&2; exit 1; }
    done
    echo "release: signing the programs with $VARNOCK_SIGN_PKCS12${VARNOCK_SIGN_TIMESTAMP_URL:+, time-stamped by $VARNOCK_SIGN_TIMESTAMP_URL}"
else
    echo "release: the programs are not signed (no VARNOCK_SIGN_PKCS12)"
fi

scripts/install-deps.sh

# Signs in place, keeping the file's mode. A failure (a wrong password, an
# unreachable time-stamp server) stops the release: no unsigned file ships
# as a signed one.
sign() {
    local file
    for file; do
        osslsigncode sign -pkcs12 "$VARNOCK_SIGN_PKCS12" -readpass "$VARNOCK_SIGN_PASSWORD_FILE" \
            -h sha256 -n Varnock ${VARNOCK_SIGN_TIMESTAMP_URL:+-ts "$VARNOCK_SIGN_TIMESTAMP_URL"} \
            -in "$file" -out "$file.signed" >/dev/null
        cat "$file.signed" >"$file"
        rm "$file.signed"
    done
}

rm -rf dist
mkdir -p dist
for preset in windows-x86 windows-x64; do
    build=build/release/$preset
    rm -rf "$build"
    echo "=== release: $preset"
    # The preset's toolchain and build type, in a folder of its own, without the tests.
    cmake --preset "$preset" -B "$build" -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target Varnock varnock_cli qelvo_virtual
    # Every program and DLL the zip carries (cmake/Packaging.cmake). The
    # signed files are newer than what they were linked from, so the zip
    # target below takes them as they are.
    if [ -n "${VARNOCK_SIGN_PKCS12:-}" ]; then
        sign "$build"/bin/{Varnock.exe,varnock-cli.exe,Qelvo_CAN.dll}
    fi
    cmake --build "$build" -j "$(nproc)" --target release_zip
    cp "$build"/Varnock-*.zip dist/
done
(cd dist && sha256sum Varnock-*.zip >SHA256SUMS)
if [ -n "${VARNOCK_GPG_KEY:-}" ]; then
    gpg --local-user "$VARNOCK_GPG_KEY" --armor --detach-sign --output dist/SHA256SUMS.asc dist/SHA256SUMS
    echo "release: SHA256SUMS signed with OpenPGP key $VARNOCK_GPG_KEY"
else
    echo "release: SHA256SUMS is not signed (no VARNOCK_GPG_KEY)"
fi

echo "release: in $PWD/dist/"
(cd dist && sha256sum *)
