#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a running installer: packages,
# the target's dependencies, configure, build, then the installer under Wine.
# With a DISPLAY the wizard opens there for the user. Without one a virtual
# display is started and a complete quick installation is driven through the
# real windows: the texts of every page, the install log, where the product
# went and a picture of every page are printed. Ends with the installer's
# exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/prepare.sh
cmake --build --preset windows --target installer wizard_tour

state=$root/build/wine-run-installer
mkdir -p "$state"
source scripts/wine-common.sh
source scripts/wizard-common.sh
set +e
if [[ -n ${DISPLAY:-} ]]; then
    wine_setup_env "$state"
    wine_ensure_prefix "$state"
    "$wine_loader" build/src/Quillmar3Setup.exe "$@"
    rc=$?
    "$wine_server" -w 2>/dev/null
else
    pictures=$root/build/run-installer-pictures
    rm -rf "$pictures"
    mkdir -p "$pictures"
    scripts/wine-session start "$state" >/dev/null
    scripts/wine-run "$state" build/tests/ui/wizard_tour.exe \
        "$(windows_path "$root/build/src/Quillmar3Setup.exe")" "$(windows_path "$pictures")"
    rc=$?
    scripts/wine-session stop "$state" >/dev/null
    echo "Pictures of the pages (PNG):"
    pictures_to_png "$pictures"
fi
echo "Quillmar3Setup.exe exit code: $rc"
exit $rc
