#!/usr/bin/env bash
# Runs a test program with a helper on the build machine that makes Unix
# symbolic links inside the run's Wine prefix when the program asks: Wine
# makes no Windows links, but follows a Unix link inside the prefix as
# Windows follows a junction, so an attack through a link can be staged.
#   with_link_maker.sh STATE_DIR PROGRAM [ARGS...]
# The program writes NAME.request files into the folder HV_LINK_REQUESTS
# names (a Windows path), each with two lines: the link and its target
# (Windows paths on drive C:), or an empty second line to remove the link;
# the helper answers with NAME.done.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-common.sh"
state=$(wine_absolute "$1")
shift

work=$(mktemp -d "${TMPDIR:-/tmp}/hv-link-maker.XXXXXX")
maker=""
cleanup() {
    [[ -n $maker ]] && kill "$maker" 2>/dev/null && wait "$maker" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

wine_setup_env
if session=$(wine_find_session "$state") && wine_enter_session "$session"; then
    unix_path() {
        local path=${1//$'\r'/}
        [[ ${path:0:3} == 'C:\' || ${path:0:3} == 'c:\' ]] || return 1
        path=${path:3}
        printf '%s/drive_c/%s\n' "$WINEPREFIX" "${path//\\//}"
    }
    (
        while sleep 0.1; do
            for request in "$work"/*.request; do
                [[ -f $request ]] || continue
                { read -r link; read -r target; } <"$request"
                target=${target//$'\r'/}
                if [[ -z $target ]] && from=$(unix_path "$link") && [[ -L $from ]] && rm -f "$from"; then
                    echo removed >"${request%.request}.done"
                elif from=$(unix_path "$link") && to=$(unix_path "$target") && ln -s "$to" "$from"; then
                    echo made >"${request%.request}.done"
                else
                    echo "cannot link $link to $target" >"${request%.request}.done"
                fi
                rm -f "$request"
            done
        done
    ) &
    maker=$!
    export HV_LINK_REQUESTS="Z:${work//\//\\}"
else
    export HV_LINK_MAKER_UNAVAILABLE="no Wine session of a test run (run it through ctest)"
fi
"$here/scripts/wine-run" "$state" "$@"
