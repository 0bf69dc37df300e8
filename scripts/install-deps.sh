#!/bin/bash
# Installs the Debian packages that building, running and testing Varnock
# need, when they are missing, and generates the locales the tests use.
set -euo pipefail

packages=(
    cmake make g++ googletest                       # native build and tests
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
    wine wine64                                      # runs the x86_64 build
    xvfb xauth imagemagick                           # headless display, screenshots
    fonts-arphic-uming fonts-wqy-zenhei              # stand in for 宋体 and Wine's own CJK
    locales                                          # Wine takes its code page from these
    clang libclang-rt-14-dev                         # libFuzzer
    zip                                              # cpack archives
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    as_root apt-get update -q
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
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
