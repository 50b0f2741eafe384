#!/usr/bin/env bash
# Runs a test program with a small, nearly full drive: an ext4 image mounted
# through a loop device and mapped as drive Q: of the run's Wine session.
#   with_small_drive.sh STATE_DIR PROGRAM [ARGS...]
# The program learns the drive from HV_SMALL_DRIVE, or why there is none
# from HV_SMALL_DRIVE_UNAVAILABLE (no root, no loop devices, no session).
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-common.sh"
state=$(wine_absolute "$1")
shift

free_kb=${HV_SMALL_DRIVE_FREE_KB:-2048}
work=$(mktemp -d "${TMPDIR:-/tmp}/hv-small-drive.XXXXXX")
image=$work/drive.img
mountpoint=$work/mnt
link=""
mounted=""

cleanup() {
    [[ -n $link ]] && rm -f "$link"
    if [[ -n $mounted ]]; then
        umount "$mountpoint" 2>/dev/null || umount -l "$mountpoint" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

why=""
wine_setup_env
if ! session=$(wine_find_session "$state") || ! wine_enter_session "$session"; then
    why="no Wine session of a test run (run it through ctest)"
elif [[ $(id -u) != 0 ]]; then
    why="mounting a drive image needs root"
elif ! command -v mkfs.ext4 >/dev/null; then
    why="mkfs.ext4 is missing (package e2fsprogs)"
elif ! { truncate -s 16M "$image" && mkfs.ext4 -q -F -m 0 "$image" >/dev/null 2>&1; }; then
    why="cannot make an ext4 image in $work"
elif ! { mkdir -p "$mountpoint" && mount -o loop "$image" "$mountpoint" 2>"$work/mount.err"; }; then
    why="this machine does not allow a loop mount: $(head -c 200 "$work/mount.err")"
else
    mounted=yes
    # Fill the drive until about free_kb are left.
    available=$(df -k --output=avail "$mountpoint" | tail -1 | tr -d ' ')
    if (( available > free_kb )); then
        fallocate -l $(( (available - free_kb) * 1024 )) "$mountpoint/filler.bin" 2>/dev/null ||
            dd if=/dev/zero of="$mountpoint/filler.bin" bs=1K count=$(( available - free_kb )) status=none
    fi
    chmod -R a+rwx "$mountpoint"
    link=$WINEPREFIX/dosdevices/q:
    if [[ -e $link || -L $link ]]; then
        link=""
        why="drive Q: is already taken in the Wine prefix"
    else
        ln -s "$mountpoint" "$link"
    fi
fi

if [[ -n $why ]]; then
    export HV_SMALL_DRIVE_UNAVAILABLE=$why
else
    export HV_SMALL_DRIVE=Q:
fi
"$here/scripts/wine-run" "$state" "$@"
