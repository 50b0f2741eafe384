#!/usr/bin/env bash
# Everything from a fresh Debian 12 machine to the test results: packages,
# the target's dependencies from Debian sources, configure, build, ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/prepare.sh
cmake --build --preset windows
ctest --preset windows
