#!/usr/bin/env bash
# The Wine scripts on the build machine: wine-run streams a program's output
# while it runs, and when wine-run itself is killed its own session (program,
# server, display, prefix copy) is ended by the watchdog without touching the
# test run's session; relative paths work; a failing wineboot or prefix
# setting fails the session start; a whole session, from a new template
# prefix to a complete installation through the wizard, leaves the home
# folder as it found it.
#   wine_scripts_test.sh SOURCE_DIR BUILD_DIR STATE_DIR WORK_DIR
set -uo pipefail
source_dir=$1
build_dir=$2
state=$3
# Concurrent test runs of one build tree each work in a folder of their own.
work=$4-$$
scripts=$source_dir/scripts
driver=$build_dir/tests/driver/ui_driver.exe
sample=$build_dir/tests/driver/ui_driver_frame_sample.exe
tour=$build_dir/tests/ui/wizard_tour.exe
installer=$build_dir/src/Quillmar3Setup.exe
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Polls a condition for up to $1 seconds.
within() {
    local limit=$1 i
    shift
    for ((i = 0; i < limit * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"

# A state folder of its own, so that wine-run starts a private session
# rather than joining the test run's; its template shares the files of the
# build's template.
private=$work/private-state
mkdir -p "$private"
cp -al "$state/prefix" "$private/prefix" || { echo "no template prefix in $state" >&2; exit 1; }

# 1. Output streams while the program runs, and a killed wine-run leaves
# nothing behind.
out=$work/stream.out
"$scripts/wine-run" "$private" "$driver" --timeout 120000 "$sample" -- \
    dialog "Driver frame" caption dialog "No such dialog" >"$out" 2>&1 &
runner=$!
started+=("$runner")
# Whether a process runs (an ended one may linger unreaped for a moment).
running() {
    local state
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
    [[ -n $state && $state != Z && $state != X ]]
}
no_sessions() {
    [[ -z $(ls -A "$1/sessions") ]]
}
none_running() {
    local pid
    for pid in "$@"; do
        running "$pid" && return 1
    done
    return 0
}

if within 60 grep -q "caption Driver frame" "$out"; then
    session=$(ls "$private/sessions")
    # The program and the display are the runner's children.
    mapfile -t children < <(ps --ppid "$runner" -o pid= | tr -d ' ')
    [[ ${#children[@]} -ge 2 ]] || fail "expected the program and a display under wine-run, found ${children[*]}"
    kill -9 "$runner"
    within 30 no_sessions "$private" || fail "the session $session was not ended after its owner was killed"
    within 10 none_running "${children[@]}" || fail "processes of the session outlived it: ${children[*]}"
    leftovers=$(find "$private" -maxdepth 1 -name 'run-*')
    [[ -z $leftovers ]] || fail "wine-run left files: $leftovers"
else
    fail "no output while the program ran: $(cat "$out")"
fi

# 2. Relative paths, inside the test run's session, which the private
# session's end left alone.
relative_state=$(realpath --relative-to="$build_dir" "$state")
output=$(cd "$build_dir" && "$scripts/wine-run" "$relative_state" tests/driver/ui_driver.exe \
    tests/driver/ui_driver_frame_sample.exe -- dialog "Driver frame" syscommand 61536 box answer 6 exit 2>&1)
rc=$?
[[ $rc -eq 0 && $output == *"exit 2"* ]] || fail "relative paths: exit code $rc, output: $output"

# 3. A failing wineboot, or a failing prefix setting, fails the session start
# and leaves no prefix marked ready.
stubs=$work/stubs
mkdir -p "$stubs"
printf '#!/bin/sh\nexit 0\n' >"$stubs/wineserver"
for failing in wineboot reg; do
    printf '#!/bin/sh\n[ "$1" = --version ] && echo stub && exit 0\n[ "$1" = "%s" ] && exit 3\nmkdir -p "$WINEPREFIX/drive_c/windows/Fonts"\nexit 0\n' \
        "$failing" >"$stubs/wine64"
    chmod +x "$stubs/wine64" "$stubs/wineserver"
    stub_state=$work/stub-$failing
    output=$(PATH=$stubs:$PATH "$scripts/wine-session" start "$stub_state" 2>&1)
    rc=$?
    [[ $rc -ne 0 ]] || fail "the session started although $failing failed: $output"
    [[ ! -e $stub_state/prefix/.hv-ready ]] || fail "a prefix is marked ready although $failing failed"
    [[ -z $(ls "$stub_state/sessions" 2>/dev/null) ]] || fail "a session was left after $failing failed"
done

# 4. Nothing of a session reaches the home folder: no links of the prefix's
# user folders into it, no desktop entries of Wine's menu builder, no caches.
# The session gets a home folder of its own, laid out like a user's, so that
# the comparison is exact: the machine's real home changes all the time
# through other programs (compiler caches, other users' runs). Its template
# is made under that home too, as the build's was under the real one.
user_links() {
    find "$1/drive_c/users" -type l -printf '%p -> %l\n' 2>/dev/null
}
menu_builder_off() {
    grep -A20 -F '[Software\\Wine\\DllOverrides]' "$1/user.reg" | grep -q '^"winemenubuilder.exe"=""'
}
# The build's template, made by the test run's session start.
links=$(user_links "$state/prefix")
[[ -z $links ]] || fail "the template prefix links user folders out of it: $links"
menu_builder_off "$state/prefix" || fail "the template prefix does not switch the menu builder off"

home=$work/home
mkdir -p "$home"/{Desktop,Documents,Downloads,Music,Pictures,Videos,Templates,.local/share,.config,.cache}
echo "the user's own" >"$home/Documents/notes.txt"
# Every entry with its type, mode, size, time of change and link target.
listing() {
    find "$1" -printf '%y %m %s %T@ %p -> %l\n' | sort
}
before=$(listing "$home")
home_state=$work/home-state
pictures=$work/tour-pictures
tour_log=$work/tour.out
(
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_DESKTOP_DIR XDG_DOCUMENTS_DIR
    export HOME=$home
    "$scripts/wine-session" start "$home_state" || exit 10
    links=$(user_links "$home_state/prefix")
    [[ -z $links ]] || echo "FAIL: a new template prefix links user folders out of it: $links" >&2
    menu_builder_off "$home_state/prefix" || echo "FAIL: a new template prefix leaves the menu builder on" >&2
    "$scripts/wine-run" "$home_state" "$tour" "Z:${installer//\//\\}" "Z:${pictures//\//\\}" >"$tour_log" 2>&1
    rc=$?
    "$scripts/wine-session" stop "$home_state"
    exit $rc
) 2>"$work/home-session.err"
rc=$?
if grep -q '^FAIL: ' "$work/home-session.err"; then
    fail "$(grep '^FAIL: ' "$work/home-session.err")"
fi
if [[ $rc -ne 0 ]] || ! grep -q '== installer exit code: 0' "$tour_log"; then
    fail "the installation through the wizard failed ($rc): $(cat "$tour_log" "$work/home-session.err")"
fi
grep -q '^== installed in: .\+' "$tour_log" || fail "the tour shows no installation folder: $(cat "$tour_log")"
after=$(listing "$home")
if [[ $after != "$before" ]]; then
    fail "the session changed the home folder:
$(diff <(echo "$before") <(echo "$after"))"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "wine scripts: all checks passed"
