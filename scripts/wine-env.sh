# Sourced by the run and test scripts: the project's Wine prefix, and a
# headless X display for tests. The prefix is VARNOCK_WINEPREFIX, else
# build/wineprefix, whatever WINEPREFIX the caller has: the set-up below
# stops the prefix's server and writes into it, and a user's own prefix is
# not ours to do that to.
#   varnock_wine_prefix   creates the prefix once (fonts for 宋体 included)
#   varnock_start_xvfb    starts Xvfb on a free display and exports DISPLAY,
#                         or fails saying why
#   varnock_wine_up       persistent wineserver, so each program starts fast
#   varnock_wine_down     stops what the two above started
VARNOCK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${VARNOCK_WINEPREFIX:-$VARNOCK_ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their install dialogs would hang.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
# 64-bit programs go straight to the 64-bit loader. Once the 32-bit Wine is
# installed, plain `wine` (and winepath, wineboot) starts everything through
# the 32-bit one, which under emulation costs about a minute a start.
export WINELOADER=/usr/lib/wine/wine64
varnock_wine() { "$WINELOADER" "$@"; }

# Set VARNOCK_WINE_HEADLESS=1 before creating a prefix for tests: with no
# window manager on Xvfb, Wine's managed windows make every exit wait ~2 s.
varnock_wine_prefix() {
    # -3: made with the 32-bit Wine installed, so it has its 32-bit side;
    # one made without it (scripts/run.sh for the 64-bit program) is -64,
    # and is made again once the 32-bit Wine is there.
    local marker="$WINEPREFIX/.varnock-ready-3"
    [ -e /usr/lib/wine/wine ] || marker="$WINEPREFIX/.varnock-ready-64"
    [ -f "$marker" ] && return 0
    echo "wine-env: creating Wine prefix $WINEPREFIX"
    # A persistent server left on an older prefix would make the waits below endless.
    wineserver -k 2>/dev/null || true
    mkdir -p "$WINEPREFIX"
    varnock_wine wineboot.exe -i >/dev/null 2>&1 || true
    wineserver -w
    # Wine has no 宋体. A Song face of Debian's stands in for it: its Latin
    # letters are half the width of its Chinese ones, as in 宋体, so labels
    # sized for 宋体 fit. The .reg file is UTF-16 so the Chinese names survive
    # whatever the Unix locale is.
    local reg="$WINEPREFIX/varnock-setup.reg"
    local face="AR PL UMing CN"
    {
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
            '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
            "\"宋体\"=\"$face\"" "\"SimSun\"=\"$face\"" "\"新宋体\"=\"$face\"" "\"NSimSun\"=\"$face\"" ''
        if [ "${VARNOCK_WINE_HEADLESS:-0}" = 1 ]; then
            printf '%s\r\n' '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' ''
        fi
    } | iconv -f UTF-8 -t UTF-16 >"$reg"
    # A prefix without its fonts or settings is not ready: no marker, and it
    # is set up again next time.
    if ! varnock_wine regedit.exe /S "$reg" >/dev/null 2>&1; then
        echo "wine-env: regedit could not import $reg into $WINEPREFIX" >&2
        return 1
    fi
    wineserver -w
    touch "$marker"
}

# -displayfd: Xvfb takes a free display itself and writes its number once it
# accepts connections, so runs side by side cannot race for one.
varnock_start_xvfb() {
    local out log n='' why
    out=$(mktemp) log=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$out" >"$log" 2>&1 &
    VARNOCK_XVFB_PID=$!
    why="took no display in 20 s"
    for _ in $(seq 200); do
        # A whole line: the number is written at once, with its newline.
        if read -r n <"$out"; then
            [[ $n =~ ^[0-9]+$ ]] && why= || why="wrote '$n' for its display"
            break
        fi
        kill -0 "$VARNOCK_XVFB_PID" 2>/dev/null || { why="exited"; break; }
        sleep 0.1
    done
    kill -0 "$VARNOCK_XVFB_PID" 2>/dev/null || why=${why:-exited}
    if [ -n "$why" ]; then
        echo "wine-env: Xvfb $why; it said:" >&2
        sed 's/^/    /' "$log" >&2
        varnock_stop_xvfb
        rm -f "$out" "$log"
        return 1
    fi
    rm -f "$out" "$log"
    export DISPLAY=":$n"
}

varnock_stop_xvfb() {
    [ -n "${VARNOCK_XVFB_PID:-}" ] || return 0
    kill "$VARNOCK_XVFB_PID" 2>/dev/null || true
    wait "$VARNOCK_XVFB_PID" 2>/dev/null || true
    unset VARNOCK_XVFB_PID
}

varnock_wine_up() {
    varnock_wine_prefix || return 1
    wineserver -p
    # The first program of a server session starts Wine's background services,
    # which inherit its output. Start them here on /dev/null, or they would
    # hold ctest's pipe to the first test program open for good.
    varnock_wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

varnock_wine_down() {
    wineserver -k 2>/dev/null || true
    varnock_stop_xvfb
}
