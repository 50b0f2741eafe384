#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a running installer: packages,
# the target's dependencies, configure, build, then the installer under Wine.
# With a DISPLAY the wizard opens there for the user, in a prefix kept
# between runs (build/wine-run-installer/prefix). Without one a virtual
# display is started in a session of its own and a complete quick
# installation is driven through the real windows: the texts every page
# showed, the install log, where the product went and a picture of every
# page are printed. Ends with the installer's exit code; the drive is ended
# after HV_INSTALLER_TIMEOUT seconds (default 600).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/prepare.sh
cmake --build --preset windows --target installer wizard_tour

state=$root/build/wine-run-installer
installer=$root/build/src/Quillmar3Setup.exe
mkdir -p "$state"
source scripts/wine-common.sh
source scripts/wizard-common.sh
set +e
if [[ -n ${DISPLAY:-} ]]; then
    wine_setup_env
    wine_ensure_template "$state" || exit 1
    WINEPREFIX=$state/prefix "$wine_loader" "$installer" "$@"
    rc=$?
    WINEPREFIX=$state/prefix "$wine_server" -w 2>/dev/null
else
    pictures=$root/build/run-installer-pictures
    rm -rf "$pictures"
    mkdir -p "$pictures"
    limit=${HV_INSTALLER_TIMEOUT:-600}
    timeout --kill-after=20 "$limit" scripts/wine-run "$state" build/tests/ui/wizard_tour.exe \
        "$(windows_path "$installer")" "$(windows_path "$pictures")"
    rc=$?
    if [[ $rc -eq 124 ]]; then
        echo "the drive through the wizard did not end within $limit s; it was ended" >&2
    fi
    echo "Pictures of the pages (PNG):"
    pictures_to_png "$pictures"
fi
echo "Quillmar3Setup.exe exit code: $rc"
exit $rc
