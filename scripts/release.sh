#!/bin/bash
# Builds the release of the tree's commit, from a fresh copy of that commit
# (scripts/tree-copy.sh): both Windows architectures with the presets' flags
# (the binaries the tests run), one zip each, and their sums:
#   dist/Varnock-<version>-win32.zip, dist/Varnock-<version>-win64.zip,
#   dist/SHA256SUMS
# The same commit gives the same bytes in any folder, at any time, under any
# umask, time zone or user, whatever compiler flags the caller's environment
# holds. The programs are stamped with the commit's time; a SOURCE_DATE_EPOCH
# that differs from it is refused. Outside a git checkout it must be set.
#
# Signing is all or nothing: setting any of these asks for it, and then the
# first, second and fourth are required. Any other VARNOCK_SIGN_* or
# VARNOCK_GPG_* name set is refused. Each signature is made and checked on a
# scratch file before anything is built.
#   VARNOCK_SIGN_PKCS12         a PKCS#12 file with the code-signing key and
#   VARNOCK_SIGN_PASSWORD_FILE  a file holding its password: every program and
#                               DLL is Authenticode-signed before zipping
#   VARNOCK_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, so that the
#                               signatures outlive the certificate (optional)
#   VARNOCK_GPG_KEY             an OpenPGP key id in the user's keyring: also
#                               writes dist/SHA256SUMS.asc, signing the sums
# A signature adds bytes and changes nothing else: osslsigncode
# remove-signature gives back the unsigned, reproducible files.
#
# Every program and DLL in the zips is checked as shipped: hardened (the
# tests' check-hardening.sh) and, when signing, signed. A failure at any step,
# an interrupt included, leaves no dist/ and no zip under build/release, and
# ends with a line saying the release failed. One release at a time runs in
# a tree.
set -euo pipefail
# The tree is the script's own, even through a symlink: the dist/ removed
# below must be this project's and no other folder's.
cd "$(dirname "$(readlink -f "$0")")/.."
[ -f CMakePresets.json ] && [ -f scripts/release.sh ] || { echo "release: $PWD is not Varnock's tree" >&2; exit 1; }
root=$PWD

# Two releases in one tree would remove and fill each other's staging folder:
# the second is refused, before it touches anything.
command -v flock >/dev/null || { echo "release: missing flock, from Debian's util-linux" >&2; exit 1; }
mkdir -p build
exec 9>build/release.lock
flock -n 9 || { echo "release: another release.sh is running in $root (it holds build/release.lock)" >&2; exit 1; }

# The release is written to a staging folder and moved to dist/ only once
# everything has passed, so a failed one leaves nothing that looks like one.
stage=build/release/dist
tmp=
finish() {
    local status=$?
    [ -z "$tmp" ] || rm -rf "$tmp"
    if [ "$status" != 0 ]; then
        rm -rf dist "$stage"
        # A signed or unchecked zip left in a build folder is what an
        # artifact pattern such as **/Varnock-*.zip would pick up.
        find build/release -type f -name '*.zip' -delete 2>/dev/null || true
        echo "release: FAILED; no release in dist/" >&2
    fi
}
trap finish EXIT
# Killed by timeout or Ctrl-C, the clean-up above runs too.
trap 'exit 130' INT
trap 'exit 143' TERM
die() { echo "release: $*" >&2; exit 1; }
rm -rf dist "$stage"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/varnock-release.XXXXXX")

# The bytes depend on the commit alone, so nothing the caller's environment
# says to the build gets in: compiler and linker flags (LDFLAGS=-Wl,
# --disable-dynamicbase drops ASLR), the compilers' search paths, make's
# flags (which can set the generated makefiles' variables, CXX_FLAGS
# included), every CMAKE_* (launchers, install mode), DESTDIR, zip's default
# options, and git's (GIT_DIR would check and stamp another repository).
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS CC CXX RC \
    GCC_EXEC_PREFIX COMPILER_PATH LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH \
    MAKEFLAGS MFLAGS GNUMAKEFLAGS MAKEFILES DESTDIR ZIP ZIPOPT
unset "${!CMAKE_@}" "${!GIT_@}"

# Any signing variable asks for signing, even set empty (a CI secret that did
# not arrive): a misspelled one must not give an unsigned release under
# signed sums, nor signed programs under unsigned ones, nor a signature
# without its time stamp (..._TIMESTAMP_ULR).
known=(VARNOCK_SIGN_PKCS12 VARNOCK_SIGN_PASSWORD_FILE VARNOCK_SIGN_TIMESTAMP_URL VARNOCK_GPG_KEY)
for var in "${!VARNOCK_SIGN_@}" "${!VARNOCK_GPG_@}"; do
    [[ " ${known[*]} " == *" $var "* ]] || die "$var is set, and is not a signing variable; they are ${known[*]}"
done
signing=0
asked=()
for var in "${known[@]}"; do
    [ -z "${!var+set}" ] || { signing=1; asked+=("$var"); }
done
if [ $signing = 1 ]; then
    missing=()
    for var in VARNOCK_SIGN_PKCS12 VARNOCK_SIGN_PASSWORD_FILE VARNOCK_GPG_KEY; do
        [ -n "${!var:-}" ] || missing+=("$var")
    done
    [ ${#missing[@]} = 0 ] || die "signing is all or nothing: ${asked[*]} set, ${missing[*]} unset or empty." \
        "Set VARNOCK_SIGN_PKCS12, VARNOCK_SIGN_PASSWORD_FILE and VARNOCK_GPG_KEY (VARNOCK_SIGN_TIMESTAMP_URL is optional), or none."
    # Set and empty is a URL that did not arrive, not a wish for no stamp.
    [ -z "${VARNOCK_SIGN_TIMESTAMP_URL+set}" ] || [ -n "$VARNOCK_SIGN_TIMESTAMP_URL" ] ||
        die "VARNOCK_SIGN_TIMESTAMP_URL is set but empty: give the time-stamp server, or unset it."
fi

# The tools this script runs, each with the Debian package that has it:
# releasing needs no root, so nothing is installed here.
missing=() packages=()
need() {  # <package> <command>...
    local package=$1 command
    shift
    for command; do
        command -v "$command" >/dev/null && continue
        missing+=("$command")
        [[ " ${packages[*]} " == *" $package "* ]] || packages+=("$package")
    done
}
need cmake cmake
need make make
need coreutils sha256sum
need zip zip
need unzip unzip
for triple in x86_64 i686; do
    need "gcc-mingw-w64-${triple/_/-}-posix" "$triple-w64-mingw32-gcc-posix"
    need "g++-mingw-w64-${triple/_/-}-posix" "$triple-w64-mingw32-g++-posix"
    need "binutils-mingw-w64-${triple/_/-}" "$triple-w64-mingw32-windres" "$triple-w64-mingw32-objdump"
done
[ ! -e .git ] || need git git
if [ $signing = 1 ]; then
    need osslsigncode osslsigncode
    need openssl openssl
    need gpg gpg
fi
[ ${#missing[@]} = 0 ] || die "missing ${missing[*]}, from Debian's ${packages[*]}"

# A release is what a commit builds. Only a tree without .git is built as
# "not a checkout": where git refuses the repository (another user's, by
# safe.directory), its error stops the release.
# The changes git shows are refused, as a release would not carry them; what
# it hides (--skip-worktree, --assume-unchanged, an ignored or unshown
# untracked windows.h, which the include path would reach) cannot get in
# either, since the build is of a fresh copy of the commit.
if [ -e .git ]; then
    changes=$(git status --porcelain) ||
        die "git cannot read this checkout (above), so its changes are unknown."
    [ -z "$changes" ] || die "the tree has uncommitted changes or untracked files; a release is what a commit builds:" \
        "$(head -5 <<<"$changes" | tr '\n' ' ')"
    rev=$(git rev-parse --verify HEAD^{commit})
    epoch=$(git log -1 --format=%ct "$rev")
    # Many build environments export one; it would change every byte.
    [ -z "${SOURCE_DATE_EPOCH+set}" ] || [ "$SOURCE_DATE_EPOCH" = "$epoch" ] ||
        die "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH is not the commit's time, $epoch, which a release is stamped with: unset it."
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    die "not a git checkout; set SOURCE_DATE_EPOCH (seconds since 1970) to stamp the programs."
else
    epoch=$SOURCE_DATE_EPOCH
fi
export SOURCE_DATE_EPOCH=$epoch

# The keys open before anything is built: a wrong password or an unknown
# OpenPGP key costs seconds, not a build.
if [ $signing = 1 ]; then
    for file in "$VARNOCK_SIGN_PKCS12" "$VARNOCK_SIGN_PASSWORD_FILE"; do
        [ -r "$file" ] || die "cannot read $file"
    done
    # -legacy: Windows' certificate export writes RC2-40, which OpenSSL 3
    # opens only so (and osslsigncode signs with).
    p12=(-legacy -in "$VARNOCK_SIGN_PKCS12" -passin "file:$VARNOCK_SIGN_PASSWORD_FILE")
    openssl pkcs12 "${p12[@]}" -noout ||
        die "cannot open $VARNOCK_SIGN_PKCS12 with the password in $VARNOCK_SIGN_PASSWORD_FILE"
    # Exactly one key: a name that matches two would sign with the first.
    gpg_fpr=$({ gpg --with-colons --list-secret-keys -- "$VARNOCK_GPG_KEY" 2>/dev/null || true; } |
        awk -F: '$1 == "sec" { n++; want = 1; next } want && $1 == "fpr" { f = $10; want = 0 } END { if (n == 1) print f }')
    [ -n "$gpg_fpr" ] || die "VARNOCK_GPG_KEY=$VARNOCK_GPG_KEY names no secret OpenPGP key, or more than one: give its fingerprint"
    # What the zips' programs must verify against: the certificate's chain
    # from the PKCS#12, and the system's roots for a chain that ends there;
    # and the signing certificate itself must be this one.
    openssl pkcs12 "${p12[@]}" -nokeys -cacerts -out "$tmp/ca.pem"
    [ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$tmp/ca.pem"
    leaf=$(openssl pkcs12 "${p12[@]}" -nokeys -clcerts | openssl x509 -outform DER | sha256sum | cut -d' ' -f1)
    echo "release: signing the programs with $VARNOCK_SIGN_PKCS12${VARNOCK_SIGN_TIMESTAMP_URL:+, time-stamped by $VARNOCK_SIGN_TIMESTAMP_URL}, the sums with $VARNOCK_GPG_KEY"
else
    echo "release: not signed (no VARNOCK_SIGN_* or VARNOCK_GPG_KEY set)"
fi

# Signs in place, keeping the file's mode. A failure (a wrong password, an
# unreachable time-stamp server) stops the release.
sign() {
    local file
    for file; do
        osslsigncode sign -pkcs12 "$VARNOCK_SIGN_PKCS12" -readpass "$VARNOCK_SIGN_PASSWORD_FILE" \
            -h sha256 -n Varnock ${VARNOCK_SIGN_TIMESTAMP_URL:+-ts "$VARNOCK_SIGN_TIMESTAMP_URL"} \
            -in "$file" -out "$file.signed" >/dev/null || die "osslsigncode cannot sign ${file##*/} (above)"
        cat "$file.signed" >"$file"
        rm "$file.signed"
    done
}

# The file's Authenticode signature is this certificate's, and carries the
# time stamp asked for: without it the signatures die with the certificate.
check_signed() {  # <file> <what it is, for the message>
    if ! LC_ALL=C osslsigncode verify -CAfile "$tmp/ca.pem" -TSA-CAfile "$tmp/ca.pem" -require-leaf-hash "sha256:$leaf" \
        -in "$1" >"$tmp/verify.log" 2>&1; then
        cat "$tmp/verify.log" >&2
        die "$2 is not signed by $VARNOCK_SIGN_PKCS12"
    fi
    [ -z "${VARNOCK_SIGN_TIMESTAMP_URL:-}" ] || grep -q '^Timestamp Server Signature verification: ok' "$tmp/verify.log" ||
        { cat "$tmp/verify.log" >&2; die "$2 carries no verified time stamp"; }
}

# Signs a file into <file>.asc with the OpenPGP key, and checks that it
# verifies as that key's: VALIDSIG ends with the primary key's fingerprint,
# whichever of its subkeys signed.
sign_detached() {  # <file>
    gpg --local-user "$gpg_fpr" --armor --detach-sign --output "$1.asc" "$1" ||
        die "the OpenPGP key $gpg_fpr cannot sign (above)"
    LC_ALL=C gpg --status-fd 1 --verify "$1.asc" "$1" 2>"$tmp/gpg.log" >"$tmp/gpg.status" &&
        awk -v f="$gpg_fpr" '$2 == "VALIDSIG" && $NF == f { ok = 1 } END { exit !ok }' "$tmp/gpg.status" ||
        { cat "$tmp/gpg.log" >&2; die "${1##*/}.asc does not verify as signed by $gpg_fpr"; }
}

# Both signatures once on scratch files before building: a key that cannot
# sign, an expired one, a certificate whose signatures do not verify or a
# time-stamp server that does not answer cost seconds, not a build.
if [ $signing = 1 ]; then
    x86_64-w64-mingw32-gcc-posix -o "$tmp/probe.exe" -x c - <<<'int main(void) { return 0; }'
    sign "$tmp/probe.exe"
    check_signed "$tmp/probe.exe" "a scratch program signed as a test"
    echo "a scratch file signed as a test" >"$tmp/probe.txt"
    sign_detached "$tmp/probe.txt"
    echo "release: both keys sign, and their signatures verify"
fi

# Unpacks a zip and checks every program and DLL in it, as it ships: the
# zip holds exactly what Packaging.cmake puts in, nothing unchecked beside it.
check_zip() {  # <zip> <objdump>
    local zip=${1##*/} unpacked=$tmp/${1##*/} top file entries=()
    top=${zip%.zip}
    [ "$(unzip -Z1 "$1")" = "$(printf "$top/%s\n" README.txt Varnock.exe labels/adapter-label.zpl varnock-cli.exe \
        virtual-adapter/Qelvo_CAN.dll virtual-adapter/README.txt)" ] ||
        die "$zip does not hold exactly the six files it ships: $(unzip -Z1 "$1" | tr '\n' ' ')"
    unzip -q "$1" -d "$unpacked"
    entries=("$unpacked/$top/Varnock.exe=gui" "$unpacked/$top/varnock-cli.exe=console"
        "$unpacked/$top/virtual-adapter/Qelvo_CAN.dll=dll")
    for file in "${entries[@]%=*}"; do
        [ $signing = 0 ] || check_signed "$file" "${file#"$unpacked"/} in $zip"
    done
    bash "$src/tests/inspect/check-hardening.sh" "$2" "$src/tests/inspect/imports.txt" "${entries[@]}" ||
        die "$zip fails the hardening check (above)"
}

# The commit's own files, in a folder of their own: nothing of the working
# tree that git does not show gets in.
if [ -e .git ]; then
    source scripts/tree-copy.sh
    src=$tmp/source
    varnock_tree_copy "$rev" "$src"
else
    src=$root
fi

mkdir -p "$stage"
for preset in windows-x86 windows-x64; do
    build=build/release/$preset
    case $preset in windows-x86) triple=i686 ;; windows-x64) triple=x86_64 ;; esac
    rm -rf "$build"
    echo "=== release: $preset"
    # The preset's toolchain and build type, in a folder of its own, without the tests.
    (cd "$src" && cmake --preset "$preset" -B "$root/$build" -DBUILD_TESTING=OFF >/dev/null)
    cmake --build "$build" -j "$(nproc)" --target Varnock varnock_cli qelvo_virtual
    # Every program and DLL the zip carries (cmake/Packaging.cmake).
    [ $signing = 0 ] || sign "$build"/bin/{Varnock.exe,varnock-cli.exe,Qelvo_CAN.dll}
    # The zip alone (/fast): make's dependency checks would relink a program
    # whose source looks newer (a clock ahead, a touched file) over its
    # signed copy.
    cmake --build "$build" --target release_zip/fast
    cp "$build"/Varnock-*.zip "$stage/"
    check_zip "$stage/$(basename "$build"/Varnock-*.zip)" "$triple-w64-mingw32-objdump"
done
(cd "$stage" && sha256sum Varnock-*.zip >SHA256SUMS)
if [ $signing = 1 ]; then
    sign_detached "$stage/SHA256SUMS"
    echo "release: SHA256SUMS signed with OpenPGP key $gpg_fpr"
fi

mv "$stage" dist
echo "release: in $PWD/dist/"
(cd dist && sha256sum -- *)
