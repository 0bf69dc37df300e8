#!/bin/bash
# Builds the release from a clean tree: both Windows architectures with the
# presets' flags (the binaries the tests run), one zip each, and their sums:
#   dist/Varnock-<version>-win32.zip, dist/Varnock-<version>-win64.zip,
#   dist/SHA256SUMS
# The same commit gives the same bytes in any folder, at any time, under any
# umask, time zone or user, whatever compiler flags the caller's environment
# holds. The programs are stamped with SOURCE_DATE_EPOCH if it is set, else
# with the last commit's time; outside a git checkout it must be set.
#
# Signing is all or nothing: setting any of these asks for it, and then the
# first, second and fourth are required.
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
# tests' check-hardening.sh) and, when signing, signed. A failure at any step
# leaves no dist/ and ends with a line saying the release failed.
set -euo pipefail
# The tree is the script's own, even through a symlink: the dist/ removed
# below must be this project's and no other folder's.
cd "$(dirname "$(readlink -f "$0")")/.."
[ -f CMakePresets.json ] && [ -f scripts/release.sh ] || { echo "release: $PWD is not Varnock's tree" >&2; exit 1; }

# The release is written to a staging folder and moved to dist/ only once
# everything has passed, so a failed one leaves nothing that looks like one.
stage=build/release/dist
tmp=
finish() {
    local status=$?
    [ -z "$tmp" ] || rm -rf "$tmp"
    if [ "$status" != 0 ]; then
        rm -rf dist "$stage"
        echo "release: FAILED; no release in dist/" >&2
    fi
}
trap finish EXIT
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
# signed sums, nor signed programs under unsigned ones.
signing=0
asked=()
for var in VARNOCK_SIGN_PKCS12 VARNOCK_SIGN_PASSWORD_FILE VARNOCK_SIGN_TIMESTAMP_URL VARNOCK_GPG_KEY; do
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
# Untracked files count: one in the tree (a stray windows.h) can reach the
# build through the include path.
if [ -e .git ]; then
    changes=$(git status --porcelain) ||
        die "git cannot read this checkout (above), so its changes are unknown."
    [ -z "$changes" ] || die "the tree has uncommitted changes or untracked files; a release is what a commit builds:" \
        "$(head -5 <<<"$changes" | tr '\n' ' ')"
elif [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    die "not a git checkout; set SOURCE_DATE_EPOCH (seconds since 1970) to stamp the programs."
fi

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
            -in "$file" -out "$file.signed" >/dev/null
        cat "$file.signed" >"$file"
        rm "$file.signed"
    done
}

# Unpacks a zip and checks every program and DLL in it, as it ships: the
# zip holds exactly what Packaging.cmake puts in, nothing unchecked beside it.
check_zip() {  # <zip> <objdump>
    local zip=${1##*/} unpacked=$tmp/${1##*/} top file entries=()
    top=${zip%.zip}
    [ "$(unzip -Z1 "$1")" = "$(printf "$top/%s\n" README.txt Varnock.exe varnock-cli.exe \
        virtual-adapter/Qelvo_CAN.dll virtual-adapter/README.txt)" ] ||
        die "$zip does not hold exactly the five files it ships: $(unzip -Z1 "$1" | tr '\n' ' ')"
    unzip -q "$1" -d "$unpacked"
    entries=("$unpacked/$top/Varnock.exe=gui" "$unpacked/$top/varnock-cli.exe=console"
        "$unpacked/$top/virtual-adapter/Qelvo_CAN.dll=dll")
    for file in "${entries[@]%=*}"; do
        [ $signing = 1 ] || continue
        if ! osslsigncode verify -CAfile "$tmp/ca.pem" -TSA-CAfile "$tmp/ca.pem" -require-leaf-hash "sha256:$leaf" \
            -in "$file" >"$tmp/verify.log" 2>&1; then
            cat "$tmp/verify.log" >&2
            die "${file#"$unpacked"/} in $zip is not signed by $VARNOCK_SIGN_PKCS12"
        fi
        # A requested time stamp is there and verifies: without it the
        # signatures die with the certificate.
        [ -z "${VARNOCK_SIGN_TIMESTAMP_URL:-}" ] || grep -q '^Timestamp Server Signature verification: ok' "$tmp/verify.log" ||
            { cat "$tmp/verify.log" >&2; die "${file#"$unpacked"/} in $zip carries no verified time stamp"; }
    done
    bash tests/inspect/check-hardening.sh "$2" tests/inspect/imports.txt "${entries[@]}" ||
        die "$zip fails the hardening check (above)"
}

mkdir -p "$stage"
for preset in windows-x86 windows-x64; do
    build=build/release/$preset
    case $preset in windows-x86) triple=i686 ;; windows-x64) triple=x86_64 ;; esac
    rm -rf "$build"
    echo "=== release: $preset"
    # The preset's toolchain and build type, in a folder of its own, without the tests.
    cmake --preset "$preset" -B "$build" -DBUILD_TESTING=OFF >/dev/null
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
    # VALIDSIG ends with the primary key's fingerprint, whichever of its
    # subkeys signed.
    gpg --local-user "$gpg_fpr" --armor --detach-sign --output "$stage/SHA256SUMS.asc" "$stage/SHA256SUMS"
    gpg --status-fd 1 --verify "$stage/SHA256SUMS.asc" "$stage/SHA256SUMS" 2>"$tmp/gpg.log" >"$tmp/gpg.status" &&
        awk -v f="$gpg_fpr" '$2 == "VALIDSIG" && $NF == f { ok = 1 } END { exit !ok }' "$tmp/gpg.status" ||
        { cat "$tmp/gpg.log" >&2; die "SHA256SUMS.asc does not verify as signed by $gpg_fpr"; }
    echo "release: SHA256SUMS signed with OpenPGP key $gpg_fpr"
fi

mv "$stage" dist
echo "release: in $PWD/dist/"
(cd dist && sha256sum -- *)
