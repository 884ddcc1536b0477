#!/bin/sh
# Starts or stops the tests' private Wine session: a prefix of its own and an Xvfb display of its own,
# so that tests see a real desktop and never touch a user's Wine setup.
#   wine-session.sh start DIR   creates DIR/prefix, starts Xvfb and a persistent wineserver, writes DIR/env.sh
#   wine-session.sh stop DIR    ends the wineserver and Xvfb
# A missing Wine or Xvfb is an error: the tests that need the session then fail, they never skip.
set -eu
command=${1:?start or stop}
dir=${2:?session folder}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

fail() { echo "wine-session: $*" >&2; exit 1; }

# True while process $1 runs (a zombie, which nobody may reap here, counts as ended).
alive() { [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat"; }

# Waits for a condition (a shell command) for up to $1 tenths of a second.
wait_for() {
    tries=$1; shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

start() {
    [ -x "$WINE" ] || fail "$WINE not found (install the Debian packages wine64 and wine)"
    command -v Xvfb >/dev/null || fail "Xvfb not found (install the Debian package xvfb)"
    stop 2>/dev/null || true
    mkdir -p "$dir"
    # Xvfb picks a free display itself and writes its number when it is ready, so that two sessions
    # starting at the same moment never race for one display.
    rm -f "$dir/display"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    xvfb=$(cat "$dir/xvfb.pid")
    wait_for 100 test -s "$dir/display" || fail "Xvfb did not start ($(cat "$dir/xvfb.log"))"
    display=$(tr -dc 0-9 <"$dir/display")
    alive "$xvfb" || fail "Xvfb :$display ended at start ($(cat "$dir/xvfb.log"))"
    cat >"$dir/env.sh" <<ENV
export KESTRUN_SESSION='$dir'
export WINEPREFIX='$dir/prefix'
export DISPLAY=':$display'
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEDEBUG="\${KESTRUN_WINEDEBUG:--all}"
ENV
    . "$dir/env.sh"
    # The display must exist before the session starts; the server stays up between test programs.
    setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1 &
    # The first program of a session hands its stderr to the system processes (the service manager,
    # the event log): that is session.err, where service-mode event-log lines appear. Opened for
    # appending, so that other writers of it (service-session.sh run) never overwrite each other.
    : >"$dir/session.err"
    setsid "$WINE" cmd /c echo </dev/null >/dev/null 2>>"$dir/session.err" || fail "wine64 cannot start ($(tail -3 "$dir/session.err"))"
    # Without a window manager, Wine waits 2 s for every managed window it hides; unmanaged windows
    # close at once.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 ||
        fail "cannot write the Wine registry"
    echo "wine session ready: prefix $WINEPREFIX, display :$display"
}

stop() {
    if [ -f "$dir/env.sh" ]; then
        . "$dir/env.sh"
        "$WINESERVER" -k 2>/dev/null || true
        "$WINESERVER" -w 2>/dev/null || true
    fi
    if [ -f "$dir/xvfb.pid" ]; then
        xvfb=$(cat "$dir/xvfb.pid")
        kill "$xvfb" 2>/dev/null || true
        # A new session must not find this display's socket still there.
        wait_for 50 eval "! alive $xvfb" || kill -9 "$xvfb" 2>/dev/null || true
        rm -f "$dir/xvfb.pid"
    fi
}

case $command in
start) start ;;
stop) stop ;;
*) fail "unknown command $command" ;;
esac
