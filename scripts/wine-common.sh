# Shared by wine-run, wine-session and screenshot.sh: Wine sessions of a
# state folder in the build tree.
#
# The state folder holds one template prefix, made once. A session is a copy
# of it (hard links for Wine's large read-only files) with its own
# wineserver and its own virtual display, under sessions/OWNER, where OWNER
# is the process the session belongs to (a ctest run, or one wine-run
# command) as "pid-starttime". Sessions therefore never end each other's
# processes; a session whose owner is gone is ended by its watchdog.
# shellcheck shell=bash

wine_setup_env() {
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko offers; and no debugger, so a program that crashes
    # ends at once with a failure instead of waiting for the test's timeout.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}
    # Wine's menu builder turns every shortcut a program makes into a desktop
    # entry in the Unix home folder: never in our sessions.
    [[ $WINEDLLOVERRIDES == *winemenubuilder* ]] || WINEDLLOVERRIDES+=";winemenubuilder.exe=d"
    export WINEARCH=win64
    wine_loader=$(command -v wine64 || true)
    [[ -n $wine_loader ]] || wine_loader=/usr/lib/wine/wine64
    [[ -x $wine_loader ]] || wine_loader=$(command -v wine)
    wine_server=$(command -v wineserver)
}

# An absolute form of a path (Wine refuses a relative WINEPREFIX).
wine_absolute() {
    if [[ $1 == /* ]]; then
        printf '%s\n' "$1"
    else
        printf '%s\n' "$PWD/$1"
    fi
}

wine_parent_pid() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- $stat
    printf '%s\n' "$2"
}

# "pid-starttime" of a running process: an identity that a reused pid never
# matches. A process that has ended but is not yet reaped has none.
wine_process_tag() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- "$1" $stat
    [[ $2 != Z && $2 != X && -n ${21:-} ]] || return 1
    printf '%s-%s\n' "$1" "${21}"
}

# Whether a tag still names the process it was taken from.
wine_tag_alive() {
    local pid=${1%-*}
    [[ $(wine_process_tag "$pid" 2>/dev/null) == "$1" ]]
}

# Ends the process named by a tag, if it is still that process.
wine_stop_tag() {
    local tag=$1 pid=${1%-*} i
    wine_tag_alive "$tag" || return 0
    kill "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 50; i++)); do
        wine_tag_alive "$tag" || return 0
        sleep 0.1
    done
    wine_tag_alive "$tag" && kill -9 "$pid" 2>/dev/null
    return 0
}

# Makes the template prefix once; concurrent callers wait for the first.
# Every step is checked: a prefix that is not complete is not marked ready
# and is made again next time. A prefix of another Wine version is made
# again too, as Wine would otherwise update it through the sessions' shared
# files.
wine_ensure_template() {
    local state=$1 template=$1/prefix version
    # The marker names the prefix's layout too, so a prefix made before a
    # change of it is made again.
    version="$("$wine_loader" --version 2>/dev/null); no links out of the user folders"
    (
        flock 9
        [[ -f $template/.hv-ready && $(cat "$template/.hv-ready") == "$version" ]] && exit 0
        rm -rf "$template"
        export WINEPREFIX=$template
        echo "wine: creating prefix $template" >&2
        if ! "$wine_loader" wineboot -i </dev/null >"$state/wineboot.log" 2>&1; then
            echo "wine: wineboot failed (see $state/wineboot.log)" >&2
            "$wine_server" -k 2>/dev/null
            exit 1
        fi
        timeout 120 "$wine_server" -w
        # Without a window manager on the virtual display Wine waits up to 2 s
        # for every managed window it hides; test windows stay unmanaged.
        if ! "$wine_loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            </dev/null >>"$state/wineboot.log" 2>&1; then
            echo "wine: cannot set Managed=N in the prefix (see $state/wineboot.log)" >&2
            "$wine_server" -k 2>/dev/null
            exit 1
        fi
        # Nor does the menu builder write desktop entries into the home folder,
        # whatever a session's WINEDLLOVERRIDES says.
        if ! "$wine_loader" reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d "" /f \
            </dev/null >>"$state/wineboot.log" 2>&1; then
            echo "wine: cannot switch the menu builder off in the prefix (see $state/wineboot.log)" >&2
            "$wine_server" -k 2>/dev/null
            exit 1
        fi
        timeout 120 "$wine_server" -w
        # A fresh prefix links the user's Desktop, Documents, Downloads, Music,
        # Pictures, Videos and Templates to the Unix home folder: what a test
        # puts there would land in the home folder, outlive the run and be seen
        # by other runs. Every link of the user folders becomes a folder of the
        # prefix.
        local link
        while IFS= read -r -d '' link; do
            if ! { rm -f "$link" && mkdir "$link"; }; then
                echo "wine: cannot replace the link $link by a folder" >&2
                exit 1
            fi
        done < <(find "$template/drive_c/users" -type l -print0)
        # The caption buttons of unmanaged windows are drawn with Marlett;
        # Wine finds it only among the prefix's fonts.
        local marlett
        for marlett in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
            [[ -f $marlett ]] && break
        done
        if ! cp "$marlett" "$template/drive_c/windows/Fonts/marlett.ttf"; then
            echo "wine: cannot give the prefix the Marlett font" >&2
            exit 1
        fi
        echo "$version" >"$template/.hv-ready"
    ) 9>"$state/prefix.lock"
}

# Copies the template into a session folder. Wine's libraries are hard links;
# the files Wine or a test rewrites in place are copies of their own.
wine_copy_template() {
    local template=$1 prefix=$2 file
    cp -al "$template" "$prefix" || return 1
    rm -f "$prefix/.hv-ready"
    while IFS= read -r -d '' file; do
        cp -p --remove-destination "$template/$file" "$prefix/$file" || return 1
    done < <(cd "$template" && find . -type f \( -name '*.reg' -o -name '*.ini' -o -name '*.log' \
        -o -path './drive_c/users/*' -o -path './drive_c/ProgramData/*' \) -print0)
}

# Starts Xvfb on a free display; sets xvfb_pid and DISPLAY.
wine_start_xvfb() {
    local folder=$1 fifo
    fifo=$(mktemp -u "$folder/displayfd.XXXXXX")
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" \
        </dev/null >"$folder/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local display=""
    if ! read -r -t 20 display <"$fifo"; then
        kill "$xvfb_pid" 2>/dev/null || true
        rm -f "$fifo"
        echo "wine: Xvfb did not start (see $folder/xvfb.log)" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$display"
}

# The session folder of an owner tag.
wine_session_folder() {
    printf '%s\n' "$1/sessions/$2"
}

# Makes the session's environment current: its prefix and display.
wine_enter_session() {
    local session=$1 xvfb display watchdog
    [[ -f $session/session ]] || return 1
    read -r xvfb display watchdog <"$session/session" || return 1
    wine_tag_alive "$xvfb" || return 1
    export WINEPREFIX=$session/prefix
    export DISPLAY=$display
}

# The live session of the nearest ancestor of this process that owns one
# (the ctest run whose fixture started it, or a hand-started session).
wine_find_session() {
    local state=$1 pid=$$ tag session
    while [[ -n $pid && $pid != 0 && $pid != 1 ]]; do
        if tag=$(wine_process_tag "$pid" 2>/dev/null); then
            session=$(wine_session_folder "$state" "$tag")
            if [[ -f $session/session ]] && (wine_enter_session "$session"); then
                printf '%s\n' "$session"
                return 0
            fi
        fi
        pid=$(wine_parent_pid "$pid" 2>/dev/null) || return 1
    done
    return 1
}

# Ends the sessions whose owner and watchdog are both gone.
wine_sweep_sessions() {
    local state=$1 session xvfb display watchdog
    for session in "$state"/sessions/*/; do
        session=${session%/}
        [[ -d $session ]] || continue
        wine_tag_alive "${session##*/}" && continue
        watchdog=-
        [[ -f $session/session ]] && read -r xvfb display watchdog <"$session/session"
        [[ $watchdog != - ]] && wine_tag_alive "$watchdog" && continue
        wine_stop_session "$session"
    done
}

# Starts a session owned by the process with the tag: prefix copy, display,
# persistent wineserver, Wine's services, and the watchdog that ends the
# session when the owner is gone. Sets wine_session to its folder and makes
# it the current environment.
wine_start_session() {
    local state=$1 owner=$2 session xvfb watchdog
    session=$(wine_session_folder "$state" "$owner")
    wine_session=$session
    wine_ensure_template "$state" || return 1
    rm -rf "$session"
    mkdir -p "$session"
    if ! wine_copy_template "$state/prefix" "$session/prefix"; then
        echo "wine: cannot copy the prefix into $session" >&2
        rm -rf "$session"
        return 1
    fi
    wine_start_xvfb "$session" || { rm -rf "$session"; return 1; }
    xvfb=$(wine_process_tag "$xvfb_pid")
    export WINEPREFIX=$session/prefix
    # Detached twice over, so that neither a ctest run waiting for the
    # starter's output nor a timeout ending the starter's process tree
    # reaches the watchdog.
    (setsid "$wine_common_dir/wine-watchdog" "$state" "$session" "$owner" \
        </dev/null >/dev/null 2>&1 &)
    watchdog=""
    local i
    for ((i = 0; i < 50; i++)); do
        [[ -s $session/watchdog ]] && { read -r watchdog <"$session/watchdog"; break; }
        sleep 0.1
    done
    echo "$xvfb $DISPLAY ${watchdog:--}" >"$session/session"
    # The server stays up between the session's programs; should every other
    # way of ending the session fail, it ends by itself once idle.
    "$wine_server" -p600 </dev/null >/dev/null 2>&1
    if ! "$wine_loader" wineboot </dev/null >"$session/wineboot.log" 2>&1; then
        echo "wine: starting Wine's services failed (see $session/wineboot.log)" >&2
        wine_stop_session "$session"
        return 1
    fi
}

# Ends what the session started, and only that: the processes of its own
# prefix, its display and its watchdog (each checked by start time), then
# removes its folder. Safe to call twice, and from the watchdog.
wine_stop_session() {
    local session=$1 xvfb="-" display watchdog="-"
    [[ -d $session ]] || return 0
    (
        flock 8
        [[ -d $session ]] || exit 0
        [[ -f $session/session ]] && read -r xvfb display watchdog <"$session/session"
        if [[ -d $session/prefix ]]; then
            WINEPREFIX=$session/prefix "$wine_server" -k 2>/dev/null
            WINEPREFIX=$session/prefix timeout 30 "$wine_server" -w 2>/dev/null
        fi
        [[ $xvfb != - ]] && wine_stop_tag "$xvfb"
        if [[ $watchdog != - && $watchdog != "${wine_self_tag:-}" ]]; then
            wine_stop_tag "$watchdog"
        fi
        rm -rf "$session"
    ) 8>>"$session.lock"
    rm -f "$session.lock"
}

wine_common_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
