# Shared by wine-run and wine-session: the Wine environment of one state
# folder (its prefix, its virtual display) inside a build tree.
# shellcheck shell=bash

wine_setup_env() {
    local state=$1
    mkdir -p "$state"
    export WINEPREFIX=$state/prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    export WINEARCH=win64
    wine_loader=$(command -v wine64 || true)
    [[ -n $wine_loader ]] || wine_loader=/usr/lib/wine/wine64
    [[ -x $wine_loader ]] || wine_loader=$(command -v wine)
    wine_server=$(command -v wineserver)
}

# Creates the prefix once; concurrent callers wait for the first.
wine_ensure_prefix() {
    local state=$1
    (
        flock 9
        if [[ ! -f $WINEPREFIX/system.reg ]]; then
            echo "wine: creating prefix $WINEPREFIX" >&2
            "$wine_loader" wineboot -i >/dev/null 2>&1
            "$wine_server" -w
        fi
        # Without a window manager on the virtual display Wine waits up to 2 s
        # for every managed window it hides; test windows stay unmanaged.
        if [[ ! -f $WINEPREFIX/.unmanaged-windows ]]; then
            "$wine_loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
                </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/.unmanaged-windows"
        fi
    ) 9>"$state/prefix.lock"
}

# Starts Xvfb on a free display; sets xvfb_pid and DISPLAY.
wine_start_xvfb() {
    local state=$1 fifo
    fifo=$(mktemp -u "$state/displayfd.XXXXXX")
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" \
        </dev/null >"$state/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local display=""
    if ! read -r -t 20 display <"$fifo"; then
        kill "$xvfb_pid" 2>/dev/null || true
        rm -f "$fifo"
        echo "wine: Xvfb did not start (see $state/xvfb.log)" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$display"
}

wine_stop_pid() {
    local pid=$1 i
    kill "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

# The display of a running session, if its Xvfb is still alive.
wine_session_display() {
    local state=$1 pid display
    [[ -f $state/session ]] || return 1
    read -r pid display <"$state/session" || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    export DISPLAY=$display
}
