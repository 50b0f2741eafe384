#!/usr/bin/env bash
# Saves a PNG of the virtual display of a running Wine test session, for a
# look at a test by hand (tests take pictures of their windows themselves).
#   screenshot.sh STATE_DIR OUTPUT.png
# The display is that of the one live session under STATE_DIR; with none or
# several, DISPLAY from the environment. The picture appears under its name
# only when complete.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-common.sh"

if [[ $# -ne 2 ]]; then
    echo "usage: screenshot.sh STATE_DIR OUTPUT.png" >&2
    exit 2
fi
state=$(wine_absolute "$1")
output=$2
live=()
for session in "$state"/sessions/*/; do
    [[ -d $session ]] && (wine_enter_session "${session%/}") && live+=("${session%/}")
done
if [[ ${#live[@]} -eq 1 ]]; then
    wine_enter_session "${live[0]}"
elif [[ -z ${DISPLAY:-} ]]; then
    echo "screenshot: ${#live[@]} live sessions in $state and DISPLAY unset; set DISPLAY to choose" >&2
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
