#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: when
# everything is there already it changes nothing and asks no server.
set -euo pipefail

packages=(
    cmake ninja-build dpkg-dev xz-utils
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    libboost1.81-dev libfmt-dev googletest
    libboost-iostreams1.81-dev libbz2-dev g++ python3
    wine wine64 fonts-wine xvfb xauth imagemagick locales
    osslsigncode openssl e2fsprogs mount util-linux
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
    [[ $status == ii* ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-packages: all packages present"
    exit 0
fi

echo "install-packages: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
