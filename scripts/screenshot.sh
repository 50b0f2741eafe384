#!/usr/bin/env bash
# Saves a PNG of the virtual display of a Wine test session.
#   screenshot.sh STATE_DIR OUTPUT.png
# The display is the running session's (wine-session start); without one,
# DISPLAY from the environment. The picture appears under its name only when
# complete, so a program waiting for the file never reads half of it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-common.sh"

if [[ $# -ne 2 ]]; then
    echo "usage: screenshot.sh STATE_DIR OUTPUT.png" >&2
    exit 2
fi
state=$1
output=$2
wine_session_display "$state" || true
if [[ -z ${DISPLAY:-} ]]; then
    echo "screenshot: no display (no running session in $state, DISPLAY unset)" >&2
    exit 1
fi
mkdir -p "$(dirname "$output")"
partial="$output.partial.png"
if ! timeout 30 import -display "$DISPLAY" -window root "$partial"; then
    rm -f "$partial"
    echo "screenshot: import failed on display $DISPLAY" >&2
    exit 1
fi
mv -f "$partial" "$output"
echo "screenshot: $output"
