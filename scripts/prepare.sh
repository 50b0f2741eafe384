#!/usr/bin/env bash
# From a fresh Debian 12 machine to a configured build tree: packages, the
# target's dependencies from Debian sources, CMake configuration.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-packages.sh
scripts/fetch-deps.sh
cmake --preset windows
