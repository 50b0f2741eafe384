#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a running installer: packages,
# the target's dependencies, configure, build, then the installer under Wine.
# With a DISPLAY the installer shows on it, in a prefix kept between runs
# (build/wine-run-installer/prefix); without one it runs on a virtual display
# in a session of its own and is ended after HV_INSTALLER_TIMEOUT seconds
# (default 600), since nobody can answer its wizard there. Prints the
# installer's exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/prepare.sh
cmake --build --preset windows --target installer

state=$root/build/wine-run-installer
installer=$root/build/src/Quillmar3Setup.exe
mkdir -p "$state"
set +e
if [[ -n ${DISPLAY:-} ]]; then
    source scripts/wine-common.sh
    wine_setup_env
    wine_ensure_template "$state" || exit 1
    WINEPREFIX=$state/prefix "$wine_loader" "$installer" "$@"
    rc=$?
    WINEPREFIX=$state/prefix "$wine_server" -w 2>/dev/null
else
    limit=${HV_INSTALLER_TIMEOUT:-600}
    timeout --kill-after=20 "$limit" scripts/wine-run "$state" "$installer" "$@"
    rc=$?
    if [[ $rc -eq 124 ]]; then
        echo "Quillmar3Setup.exe did not end within $limit s without a display; it was ended" >&2
    fi
fi
echo "Quillmar3Setup.exe exit code: $rc"
exit $rc
