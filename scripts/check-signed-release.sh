#!/bin/bash
# Proves the signed release. Makes a throwaway code-signing CA and OpenPGP
# key, and in a copy of this tree checks that release.sh refuses, before
# building, a signing variable misspelled (and leaves no dist/). Then builds
# the release with the keys, a source dated in the future and the caller's
# compiler flags set against it (neither may reach the zips), and checks:
#   - every program and DLL in both zips verifies against that CA, and fails
#     to with one byte changed;
#   - without its signature each is, byte for byte, the file the tests ran in
#     build/<preset>/bin (which check-reproducible.sh --tested has shown to
#     be the unsigned release);
#   - SHA256SUMS.asc verifies, and fails to with one byte of SHA256SUMS
#     changed;
#   - the signed programs, beside the zip's virtual adapter, pass an
#     end-to-end smoke test under Wine: a read and a write, in the window
#     and from the console program.
# Needs the presets' builds (scripts/test.sh runs it after them). Uses the
# caller's DISPLAY and Wine prefix if it has them, else starts its own.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
source scripts/tree-copy.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/varnock-signed.XXXXXX")
export GNUPGHOME=$work/gnupg
cleanup() {
    gpgconf --kill gpg-agent 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "signed-release: $*"; status=1; }

# --- Throwaway keys ------------------------------------------------------------
keys=$work/keys
mkdir -p "$keys" && mkdir -m 700 "$GNUPGHOME"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnock test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$keys/ca.key" -out "$keys/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Varnock test signer" \
    -keyout "$keys/signer.key" -out "$keys/signer.csr" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" >"$keys/signer.ext"
openssl x509 -req -days 2 -in "$keys/signer.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" \
    -CAcreateserial -extfile "$keys/signer.ext" -out "$keys/signer.pem" 2>/dev/null
openssl rand -hex 16 >"$keys/password"
openssl pkcs12 -export -inkey "$keys/signer.key" -in "$keys/signer.pem" -certfile "$keys/ca.pem" \
    -passout "file:$keys/password" -out "$keys/signer.p12"
gpg --batch --quiet --passphrase '' --quick-generate-key "Varnock test <test@varnock.invalid>" \
    ed25519 sign 2d 2>/dev/null
gpg_key=$(gpg --list-keys --with-colons 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')

copy=$work/varnock
varnock_tree_copy "$(varnock_tree_commit)" "$copy"

# --- Signing is all or nothing ---------------------------------------------------
# The certificate's variable misspelled, the others set: release.sh stops
# before building, names it, and leaves no dist/ (an older one included).
mkdir -p "$copy/dist" && touch "$copy/dist/SHA256SUMS"
if (cd "$copy" && env -u VARNOCK_SIGN_PKCS12 "VARNOCK_SIGN_PKCS21=$keys/signer.p12" \
    "VARNOCK_SIGN_PASSWORD_FILE=$keys/password" VARNOCK_SIGN_TIMESTAMP_URL=never-used \
    "VARNOCK_GPG_KEY=$gpg_key" scripts/release.sh >"$work/misspelled.log" 2>&1); then
    fail "release.sh passed with VARNOCK_SIGN_PKCS12 misspelled"
fi
grep -q 'VARNOCK_SIGN_PKCS12' "$work/misspelled.log" ||
    fail "release.sh's refusal does not name VARNOCK_SIGN_PKCS12: $(tail -n 1 "$work/misspelled.log")"
[ -z "$(ls -A "$copy/dist" 2>/dev/null)" ] || fail "a refused release left dist/: $(ls "$copy/dist")"
[ ! -e "$copy/build/release" ] || fail "release.sh built before refusing the misspelled signing variable"

# --- The signed release ----------------------------------------------------------
# A source newer than its objects (a clock ahead) must not have make relink a
# signed program before zipping; the caller's flags must not reach the build.
# -fno-inline changes the code wherever it gets in (the project's own
# -fstack-protector-strong comes later and overrides -fno-stack-protector).
touch -d '+20 minutes' "$copy/cli/Console.cpp"
flags="-fno-stack-protector -fno-inline"
(cd "$copy" && env -u VARNOCK_SIGN_TIMESTAMP_URL "VARNOCK_SIGN_PKCS12=$keys/signer.p12" \
    "VARNOCK_SIGN_PASSWORD_FILE=$keys/password" "VARNOCK_GPG_KEY=$gpg_key" \
    LDFLAGS=-Wl,--disable-dynamicbase "CFLAGS=$flags" "CXXFLAGS=$flags" \
    nice -n 10 scripts/release.sh >"$work/release.log" 2>&1) || {
    tail -n 30 "$work/release.log"
    echo "signed-release: the signed release build failed"
    exit 1
}
dist=$copy/dist

flip_byte() {  # <file> <offset>: changes one byte there
    local byte
    byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# --- Authenticode --------------------------------------------------------------
for zip in "$dist"/Varnock-*-win64.zip "$dist"/Varnock-*-win32.zip; do
    case $zip in *-win64.zip) preset=windows-x64 ;; *) preset=windows-x86 ;; esac
    unzip -q "$zip" -d "$work/$preset"
    checked=0
    while read -r file; do
        name=${file##*/}
        checked=$((checked + 1))
        if osslsigncode verify -CAfile "$keys/ca.pem" -in "$file" >"$work/verify.log" 2>&1; then
            echo "signed     $preset ${file#"$work/$preset/"}"
        else
            cat "$work/verify.log"
            fail "$preset $name does not verify against the test CA"
        fi
        cp "$file" "$work/changed"
        flip_byte "$work/changed" 1024  # in the code
        osslsigncode verify -CAfile "$keys/ca.pem" -in "$work/changed" >/dev/null 2>&1 &&
            fail "$preset $name still verifies with a byte changed"
        rm -f "$work/unsigned"
        osslsigncode remove-signature -in "$file" -out "$work/unsigned" >/dev/null 2>&1 &&
            cmp -s "$work/unsigned" "build/$preset/bin/$name" ||
            fail "$preset $name without its signature is not the file the tests ran"
    done < <(find "$work/$preset" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
    [ $checked = 3 ] || fail "$preset: $checked programs and DLLs in the zip, not 3"
done

# --- The sums' signature -------------------------------------------------------
(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "SHA256SUMS does not match the zips"
if gpg --verify "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" 2>"$work/gpg.log"; then
    echo "signed     SHA256SUMS by $gpg_key"
else
    cat "$work/gpg.log"
    fail "SHA256SUMS.asc does not verify"
fi
cp "$dist/SHA256SUMS" "$work/sums"
flip_byte "$work/sums" 0
gpg --verify "$dist/SHA256SUMS.asc" "$work/sums" 2>/dev/null &&
    fail "SHA256SUMS.asc still verifies with a byte of SHA256SUMS changed"

# --- The signed programs run ----------------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
    export WINEPREFIX=$PWD/build/wineprefix-test VARNOCK_WINE_HEADLESS=1
    source scripts/wine-env.sh
    trap 'varnock_wine_down; cleanup' EXIT
    varnock_start_xvfb
    varnock_wine_up
fi
# A read and a write through each program; the e2e tests list them.
smoke="Records/ReadShows.*/FactoryRecord:Suffixes/WriteSuffix.*/TwoDigits"
smoke+=":Runs/Cli.*/ReadPlain:Runs/Cli.*/WriteTwoLetters"
for preset in windows-x64 windows-x86; do
    bin=$work/smoke-$preset/bin
    mkdir -p "$bin"
    cp "$work/$preset"/Varnock-*/{Varnock.exe,varnock-cli.exe,virtual-adapter/Qelvo_CAN.dll} "$bin/"
    cp "build/$preset/bin"/{varnock_e2e.exe,varnock_e2e_menu_reader.dll} "$bin/"
    if LC_ALL=en_US.UTF-8 timeout 600 scripts/wine-run.sh "$bin/varnock_e2e.exe" \
        --gtest_filter="$smoke" --gtest_brief=1 >"$work/smoke.log" 2>&1 &&
        grep -q '^\[  PASSED  \] 4 tests' "$work/smoke.log"; then
        echo "runs       $preset signed programs: $(grep '^\[  PASSED' "$work/smoke.log")"
        grep '; started once more$' "$work/smoke.log" | sed 's/^/           /' || true
    else
        cat "$work/smoke.log"
        fail "$preset: the signed programs fail the smoke test"
    fi
done

echo "signed-release: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $status
