#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to a running installer: packages,
# the target's dependencies, configure, build, then the installer under Wine.
# With a DISPLAY the installer shows on it; without one it runs on a virtual
# display of its own. Prints the installer's exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/prepare.sh
cmake --build --preset windows --target installer

state=$root/build/wine-run-installer
mkdir -p "$state"
set +e
if [[ -n ${DISPLAY:-} ]]; then
    source scripts/wine-common.sh
    wine_setup_env "$state"
    wine_ensure_prefix "$state"
    "$wine_loader" build/src/Quillmar3Setup.exe "$@"
    rc=$?
    "$wine_server" -w 2>/dev/null
else
    scripts/wine-run "$state" build/src/Quillmar3Setup.exe "$@"
    rc=$?
fi
echo "Quillmar3Setup.exe exit code: $rc"
exit $rc
