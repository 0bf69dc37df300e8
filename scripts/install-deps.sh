#!/bin/bash
# Installs the Debian packages that building, running and testing Varnock
# need, when they are missing, and generates the locales the tests use. The
# 32-bit Wine runs the i686 build; where the kernel refuses 32-bit programs
# itself, an emulator is registered for them. Each change to the machine is
# announced before it is made.
#   install-deps.sh          what testing needs: everything
#   install-deps.sh run      what scripts/run.sh needs for the 64-bit program
#   install-deps.sh run-x86  ...and for the 32-bit one, the 32-bit Wine too
set -euo pipefail

what=${1:-test}
case $what in
test | run | run-x86) ;;
*) echo "usage: scripts/install-deps.sh [run | run-x86]" >&2; exit 2 ;;
esac

packages=(
    cmake make g++ googletest                       # native build and tests
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    wine wine64                                      # runs the x86_64 build
    xvfb xauth imagemagick                           # headless display, screenshots
    fonts-arphic-uming fonts-wqy-zenhei              # stand in for 宋体 and Wine's own CJK
    locales                                          # Wine takes its code page from these
    clang libclang-rt-14-dev                         # libFuzzer
    zip git                                          # release zips; the commit time stamps the programs
    osslsigncode gnupg openssl unzip                 # signed releases, and the test that proves them
)
# Running builds one program and starts it on the caller's display, in the
# caller's locale: no tests, no fuzzers, no release, no locales; the 32-bit
# Wine (and the i386 architecture, and an emulator on some kernels) only for
# the 32-bit program.
case $what in
run) packages=(cmake make git googletest g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
               wine wine64 fonts-arphic-uming fonts-wqy-zenhei) ;;
run-x86) packages=(cmake make git googletest g++-mingw-w64-i686-posix binutils-mingw-w64-i686
                   wine wine64 fonts-arphic-uming fonts-wqy-zenhei) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# sudo resets the environment: whatever a command needs from it goes through env.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

apt_install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"; }

# A mirror in the middle of a sync serves indexes that do not match its
# Release file, and apt refuses them (exit code 100) until the sync has
# ended: that is tried again. A mirror that stays wrong still fails, and so
# does anything else at once, sudo's refusal among them.
apt_update() {
    local try status
    for try in 1 2 3; do
        status=0
        as_root apt-get update -q || status=$?
        [ "$status" -ne 0 ] || return 0
        if [ "$status" -ne 100 ]; then
            echo "install-deps: updating the package lists failed with exit code $status" >&2
            return 1
        fi
        [ "$try" -lt 3 ] || break
        echo "install-deps: apt-get update failed (try $try of 3); trying again in 60 s" >&2
        sleep 60
    done
    echo "install-deps: apt-get update failed 3 times" >&2
    return 1
}

if [ "$what" != run ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "install-deps: adding the i386 architecture to dpkg, for the 32-bit Wine"
        as_root dpkg --add-architecture i386
    fi
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || missing+=(wine32:i386)
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    apt_update
    apt_install "${missing[@]}"
fi
[ "$what" != run ] || exit 0

apt_targets() { apt-get indextargets --no-release-info "Release: $1" 'Component: main' 'Identifier: Packages'; }

# The source entry for $2 from the one apt reads for $1/main (mirror, proxy or
# snapshot, with its options, in its format), as "FILE" then the entry; none
# when $2 is configured already. apt reads its sources itself, so comments,
# disabled entries and *.save files count for nothing, and no update is needed.
backports_entry() {
    local codename=$1 suite=$2 parts entry file n uri
    [ -z "$(apt_targets "$suite")" ] || return 0
    read -r entry uri < <(apt_targets "$codename" | awk '$1 == "Sourcesentry:" { e = $2 } $1 == "Repo-URI:" { u = $2 }
                                                        e != "" && u != "" { print e, u; exit }')
    [ -n "$entry" ] || { echo "install-deps: no configured source serves $codename/main to add $suite from" >&2; return 1; }
    file=${entry%:*} n=${entry##*:}
    eval "$(apt-config shell parts Dir::Etc::sourceparts/d)"
    case $file in
    *.sources)  # n counts stanzas; the fields that name what to fetch are replaced
        echo "${parts%/}/$suite.sources"
        printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\n' "$uri" "$suite"
        awk -v n="$n" 'BEGIN { RS = "" } { gsub(/(^|\n)#[^\n]*/, "") } $0 != "" && ++i == n' "$file" |
            awk '/^[^ \t]/ { keep = tolower($1) !~ /^(types|uris|suites|components|enabled):$/ } keep' ;;
    *)          # n is the line: its [options] are kept
        echo "${parts%/}/$suite.list"
        echo "deb $(sed -n "${n}s/^[[:space:]]*deb[[:space:]]*\(\[[^]]*\]\).*/\1 /p" "$file")$uri $suite main" ;;
    esac
}

# 32-bit programs. Only a kernel that refuses them itself ("Exec format error",
# ENOEXEC) gets an emulator, through binfmt_misc; any other failure is the
# Wine's own and is reported as it is. bash (not env, whose execvp would hand
# the file to sh) says why an exec failed, in C so that it can be read here.
wine32=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
wine32_out=$(LC_ALL=C bash -c 'exec "$0" --version' "$wine32" 2>&1) || wine32_status=$?
if [ "${wine32_status:-0}" -ne 0 ]; then
    if [ "$wine32_status" -ne 126 ] || [[ $wine32_out != *"cannot execute binary file: Exec format error"* ]]; then
        echo "install-deps: the 32-bit Wine does not start (status $wine32_status), and not for want of 32-bit support:" >&2
        echo "$wine32_out" | sed 's/^/    /' >&2
        exit 1
    fi
    echo "install-deps: this kernel does not run 32-bit programs itself; qemu will"
    # Bookworm's qemu (7.2) ignores MAP_FIXED_NOREPLACE, and Wine then probes
    # its address space for about a minute at every start; 8.1 is the first to
    # honour it, and backports has one.
    qemu_version=$(/usr/bin/qemu-i386 --version 2>/dev/null | sed -n 's/.* version \([0-9.]*\).*/\1/p' || true)
    if ! printf '8.1\n%s\n' "${qemu_version:-0}" | sort -V -C; then
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        backports=$codename-backports
        added=
        # A source that does not work is not left behind, nor one whose
        # install was interrupted: a later run would take it as configured.
        remove_added() { [ -z "$added" ] || { echo "install-deps: removing $added again" >&2; as_root rm -f "$added"; }; }
        trap remove_added EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        entry=$(backports_entry "$codename" "$backports")
        if [ -n "$entry" ]; then
            added=$(head -1 <<<"$entry")
            echo "install-deps: adding $added, for qemu-user from $backports:"
            tail -n +2 <<<"$entry" | sed 's/^/    /'
            tail -n +2 <<<"$entry" | as_root tee "$added" >/dev/null
        fi
        echo "install-deps: installing qemu-user from $backports"
        apt_update && apt_install -t "$backports" qemu-user || exit 1
        trap - EXIT INT TERM
    fi

    if [ ! -e $binfmt/register ]; then
        echo "install-deps: mounting binfmt_misc on $binfmt"
        as_root mount -t binfmt_misc binfmt_misc $binfmt
    fi
    # An existing handler is read back as the line that registers it, so it
    # can be put back if ours does not take.
    old='' old_state=''
    if [ -e $binfmt/qemu-i386 ]; then
        old=$(awk 'function esc(h,  r, j) { for (j = 1; j < length(h); j += 2) r = r "\\x" substr(h, j, 2); return r }
                   $1 == "interpreter" { i = $2 } $1 == "flags:" { f = $2 } $1 == "offset" { o = $2 }
                   $1 == "magic" { m = $2 } $1 == "mask" { k = $2 } $1 == "extension" { e = substr($2, 2) }
                   END { if (m != "") print ":qemu-i386:M:" o ":" esc(m) ":" esc(k) ":" i ":" f
                         else print ":qemu-i386:E::" e "::" i ":" f }' $binfmt/qemu-i386)
        old_state=$(head -1 $binfmt/qemu-i386)
        echo "install-deps: replacing the qemu-i386 binfmt_misc handler ($old_state): $(sed -n 's/^interpreter //p; s/^flags: /flags /p' $binfmt/qemu-i386 | paste -sd ' ')"
        echo -1 | as_root tee $binfmt/qemu-i386 >/dev/null
    fi
    # i386 ELF executables and shared objects; F: the emulator is opened now,
    # so it works in any mount namespace.
    echo "install-deps: registering /usr/bin/qemu-i386 (flags F) with binfmt_misc for i386 programs"
    if ! echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' |
            as_root tee $binfmt/register >/dev/null ||
        ! "$wine32" --version >/dev/null; then
        echo "install-deps: 32-bit programs still do not start; undoing the registration" >&2
        [ ! -e $binfmt/qemu-i386 ] || echo -1 | as_root tee $binfmt/qemu-i386 >/dev/null
        if [ -z "$old" ]; then
            echo "install-deps: no qemu-i386 handler is registered, as before" >&2
        elif ! echo "$old" | as_root tee $binfmt/register >/dev/null; then
            echo "install-deps: the old qemu-i386 handler could not be put back: this machine now has none; it was $old" >&2
        else
            [ "$old_state" = enabled ] || echo 0 | as_root tee $binfmt/qemu-i386 >/dev/null || true
            echo "install-deps: the old qemu-i386 handler is back ($(head -1 $binfmt/qemu-i386))" >&2
        fi
        exit 1
    fi
fi

[ "$what" = test ] || exit 0

# An ungenerated locale makes Wine fall back to a Western code page.
need_locales=()
for l in en_US.UTF-8 zh_CN.UTF-8 zh_CN.GBK; do
    short=$(echo "$l" | sed 's/UTF-8/utf8/; s/GBK/gbk/')
    locale -a 2>/dev/null | grep -qix "$short" || need_locales+=("$l")
done
if [ ${#need_locales[@]} -gt 0 ]; then
    echo "install-deps: generating locales ${need_locales[*]}"
    for l in "${need_locales[@]}"; do
        charset=${l#*.}
        line="$l $charset"
        grep -qx "$line" /etc/locale.gen 2>/dev/null && continue
        echo "install-deps: adding '$line' to /etc/locale.gen"
        echo "$line" | as_root tee -a /etc/locale.gen >/dev/null
    done
    as_root locale-gen >/dev/null
fi
