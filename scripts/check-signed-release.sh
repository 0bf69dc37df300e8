#!/bin/bash
# Proves the signed release. Makes a throwaway code-signing CA and OpenPGP
# key, and in a copy of this tree checks that release.sh refuses, before
# building and leaving no dist/, each row of a table: a signing variable
# misspelled, a caller's SOURCE_DATE_EPOCH, keys that cannot sign. It checks
# that a release the hardening check refuses, and one killed as it runs,
# leave no zip under build/release. Then builds the release with the keys,
# with edits git does not show in the copy, a source dated in the future and
# the caller's compiler flags set against it (none may reach the zips), and
# checks:
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
# caller's DISPLAY and VARNOCK_WINEPREFIX if it has them, else starts its own.
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
# A key that expired in 2020, and a certificate without the CA it chains to.
gpg --batch --quiet --passphrase '' --faked-system-time 20200101T000000 \
    --quick-generate-key "Varnock expired <expired@varnock.invalid>" ed25519 sign 1d 2>/dev/null
expired_key=$(gpg --list-keys --with-colons 2>/dev/null | awk -F: '$1 == "fpr" { n++ } $1 == "fpr" && n == 2 { print $10 }')
openssl pkcs12 -export -inkey "$keys/signer.key" -in "$keys/signer.pem" \
    -passout "file:$keys/password" -out "$keys/no-ca.p12"

copy=$work/varnock
rev=$(varnock_tree_commit)
varnock_tree_copy "$rev" "$copy"

# --- Refused before building -------------------------------------------------------
# Each row: release.sh stops before building, says why, and leaves no dist/
# (an older one included).
refused() {  # <row> <what the refusal says> <VAR=value>...
    local row=$1 says=$2
    shift 2
    mkdir -p "$copy/dist" && touch "$copy/dist/SHA256SUMS"
    if (cd "$copy" && env -u VARNOCK_SIGN_PKCS12 -u VARNOCK_SIGN_PASSWORD_FILE -u VARNOCK_SIGN_TIMESTAMP_URL \
        -u VARNOCK_GPG_KEY -u SOURCE_DATE_EPOCH "$@" scripts/release.sh >"$work/refused.log" 2>&1); then
        fail "$row: release.sh passed"
    fi
    grep -qF -- "$says" "$work/refused.log" && echo "refused    $row" ||
        fail "$row: the refusal does not say '$says': $(tail -n 3 "$work/refused.log" | tr '\n' ' ')"
    [ -z "$(ls -A "$copy/dist" 2>/dev/null)" ] || fail "$row: a refused release left dist/: $(ls "$copy/dist")"
    [ ! -e "$copy/build/release" ] || fail "$row: release.sh built before refusing"
    rm -rf "$copy/build/release" "$copy/dist"
}
signer=("VARNOCK_SIGN_PKCS12=$keys/signer.p12" "VARNOCK_SIGN_PASSWORD_FILE=$keys/password")
refused "certificate's variable misspelled" "VARNOCK_SIGN_PKCS21 is set" "VARNOCK_SIGN_PKCS21=$keys/signer.p12" \
    "VARNOCK_SIGN_PASSWORD_FILE=$keys/password" VARNOCK_SIGN_TIMESTAMP_URL=never-used "VARNOCK_GPG_KEY=$gpg_key"
refused "only a misspelled variable" "VARNOCK_SIGN_PKCS21 is set" "VARNOCK_SIGN_PKCS21=$keys/signer.p12"
refused "time stamp's variable misspelled" "VARNOCK_SIGN_TIMESTAMP_ULR is set" "${signer[@]}" \
    VARNOCK_SIGN_TIMESTAMP_ULR=never-used "VARNOCK_GPG_KEY=$gpg_key"
refused "caller's SOURCE_DATE_EPOCH" "SOURCE_DATE_EPOCH=1700000000 is not the commit's time" SOURCE_DATE_EPOCH=1700000000
refused "expired OpenPGP key" "cannot sign" "${signer[@]}" "VARNOCK_GPG_KEY=$expired_key"
refused "certificate without its CA" "a scratch program signed as a test is not signed" \
    "VARNOCK_SIGN_PKCS12=$keys/no-ca.p12" "VARNOCK_SIGN_PASSWORD_FILE=$keys/password" "VARNOCK_GPG_KEY=$gpg_key"

# --- Failed after building --------------------------------------------------------
# A commit the hardening check refuses, and a release killed once it has
# staged a zip (timeout and Ctrl-C kill the whole process group): each
# ends saying it failed, and leaves no zip under build/release, where an
# artifact pattern would find it, nor dist/.
failed=$work/failed
varnock_tree_copy "$rev" "$failed"
no_zip_after() {  # <row> <exit status>
    local zips
    [ "$2" != 0 ] || fail "$1: release.sh passed"
    grep -q '^release: FAILED' "$work/failed.log" || fail "$1: no FAILED line: $(tail -n 1 "$work/failed.log")"
    zips=$(find "$failed/build/release" "$failed/dist" -name '*.zip' 2>/dev/null || true)
    [ -z "$zips" ] && echo "no zip     $1" || fail "$1: zips left: $zips"
    rm -rf "$failed/build/release"
}
sed -i '/^KERNEL32.dll /d' "$failed/tests/inspect/imports.txt"
git -C "$failed" -c user.name=varnock -c user.email=varnock@localhost commit -q -am "KERNEL32's imports refused"
ended=0
(cd "$failed" && scripts/release.sh >"$work/failed.log" 2>&1) || ended=$?
no_zip_after "hardening check refuses" $ended
grep -q 'fails the hardening check' "$work/failed.log" || fail "the refused commit failed otherwise: $(tail -n 3 "$work/failed.log")"
git -C "$failed" reset -q --hard HEAD~
(cd "$failed" && exec setsid scripts/release.sh >"$work/failed.log" 2>&1) &
killed=$!
for _ in $(seq 600); do
    compgen -G "$failed/build/release/dist/*.zip" >/dev/null || ! kill -0 $killed 2>/dev/null && break
    sleep 0.5
done
kill -TERM -- -$killed 2>/dev/null || fail "killed as it runs: release.sh ended before it staged a zip"
ended=0
wait $killed || ended=$?
no_zip_after "killed as it runs" $ended

# --- The signed release ----------------------------------------------------------
# Edits that git does not show must not reach the zips: one hidden by
# --skip-worktree, one by --assume-unchanged, and a stray windows.h that the
# include path would find, ignored and unshown. Each would stop the build.
# A source newer than its objects (a clock ahead) must not have make relink a
# signed program before zipping; the caller's flags must not reach the build,
# nor its SOURCE_DATE_EPOCH when it is the commit's own.
# -fno-inline changes the code wherever it gets in (the project's own
# -fstack-protector-strong comes later and overrides -fno-stack-protector).
echo '#error an edit hidden by --skip-worktree' >>"$copy/cli/Console.cpp"
git -C "$copy" update-index --skip-worktree cli/Console.cpp
echo '#error an edit hidden by --assume-unchanged' >>"$copy/ui/AboutBox.cpp"
git -C "$copy" update-index --assume-unchanged ui/AboutBox.cpp
echo '#error a windows.h that is not in the commit' >"$copy/windows.h"
echo /windows.h >>"$copy/.git/info/exclude"
git -C "$copy" config status.showUntrackedFiles no
touch -d '+20 minutes' "$copy/cli/Console.cpp"
flags="-fno-stack-protector -fno-inline"
(cd "$copy" && env -u VARNOCK_SIGN_TIMESTAMP_URL "VARNOCK_SIGN_PKCS12=$keys/signer.p12" \
    "VARNOCK_SIGN_PASSWORD_FILE=$keys/password" "VARNOCK_GPG_KEY=$gpg_key" \
    "SOURCE_DATE_EPOCH=$(git -C "$copy" log -1 --format=%ct)" \
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
    export VARNOCK_WINEPREFIX=$PWD/build/wineprefix-test VARNOCK_WINE_HEADLESS=1
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
    else
        cat "$work/smoke.log"
        fail "$preset: the signed programs fail the smoke test"
    fi
done
# Programs started once more (the e2e harness and wine-run.sh write them
# beside bin/): counted as test.sh counts a preset's, more than one fails.
again=$(cat "$work"/smoke-*/artifacts/started-again.txt 2>/dev/null || true)
if [ -n "$again" ]; then
    echo "signed-release: $(wc -l <<<"$again") program start(s) made again:"
    sed 's/^/    /' <<<"$again"
    [ "$(wc -l <<<"$again")" -le 1 ] || fail "more than one start made again in the smoke test"
fi

echo "signed-release: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $status
