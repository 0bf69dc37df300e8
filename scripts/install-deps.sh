#!/bin/bash
# Installs the Debian packages that building, running and testing Varnock
# need, when they are missing, and generates the locales the tests use. The
# 32-bit Wine runs the i686 build; where the kernel cannot start 32-bit
# programs itself, an emulator is registered for them.
set -euo pipefail

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

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

apt_install() { DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends "$@"; }

dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || missing+=(wine32:i386)

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    as_root apt-get update -q
    apt_install "${missing[@]}"
fi

# 32-bit programs. A kernel without 32-bit support says "Exec format error";
# then qemu runs them through binfmt_misc. Bookworm's qemu (7.2) ignores
# MAP_FIXED_NOREPLACE, and Wine then probes its address space for about a
# minute at every start; the one in backports starts it in a second.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    # 8.1 is the first qemu to honour MAP_FIXED_NOREPLACE.
    qemu_version=$(/usr/bin/qemu-i386 --version 2>/dev/null | sed -n 's/.* version \([0-9.]*\).*/\1/p' || true)
    if ! printf '8.1\n%s\n' "${qemu_version:-0}" | sort -V -C; then
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        backports=$codename-backports
        echo "install-deps: installing qemu-user from $backports for 32-bit programs"
        # apt knows the suite, or it is added from the same source (mirror,
        # proxy or snapshot) that the machine's own configuration uses for the
        # release itself, whatever format that configuration is in. apt lists a
        # source's address only once its package lists are there.
        as_root apt-get update -q
        if ! apt-cache policy | grep -q " $backports/"; then
            uri=$(apt-cache policy | awk -v s="$codename/main" '$3 == s && $2 ~ /:\/\// {print $2; exit}')
            [ -n "$uri" ] || { echo "install-deps: no configured source serves $codename/main to add $backports from" >&2; exit 1; }
            echo "install-deps: adding $backports from $uri"
            echo "deb $uri $backports main" | as_root tee "/etc/apt/sources.list.d/$backports.list" >/dev/null
        fi
        as_root apt-get update -q
        apt_install -t "$backports" qemu-user
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e $binfmt/register ] || as_root mount -t binfmt_misc binfmt_misc $binfmt
    [ -e $binfmt/qemu-i386 ] && echo -1 | as_root tee $binfmt/qemu-i386 >/dev/null
    # i386 ELF executables and shared objects; F: the emulator is opened now,
    # so it works in any mount namespace.
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' |
        as_root tee $binfmt/register >/dev/null
    /usr/lib/wine/wine --version >/dev/null || { echo "install-deps: 32-bit programs still do not start" >&2; exit 1; }
fi

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
        grep -qx "$line" /etc/locale.gen 2>/dev/null || echo "$line" | as_root tee -a /etc/locale.gen >/dev/null
    done
    as_root locale-gen >/dev/null
fi
