#!/usr/bin/env bash
# Fetches Debian's bzip2 and boost1.81 source packages and builds, for the
# Windows target, libbzip2 and the compiled part of Boost.Iostreams' bzip2
# filter. The machine's apt configuration is left alone: a private sources
# list and private state folders are passed to apt-get.
# Results are cached in $HV_DEPS_DIR (default: <repo>/.deps) and reused.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps=${HV_DEPS_DIR:-$root/.deps}
cc=${HV_TARGET_CC:-x86_64-w64-mingw32-gcc-posix}
cxx=${HV_TARGET_CXX:-x86_64-w64-mingw32-g++-posix}
ar=${HV_TARGET_AR:-x86_64-w64-mingw32-ar}
lib=$deps/mingw64/lib
inc=$deps/mingw64/include

if [[ -f $lib/libbz2.a && -f $lib/libboost_iostreams_bzip2.a && -f $inc/bzlib.h && -e $inc/boost/version.hpp ]]; then
    echo "fetch-deps: using cached libraries in $lib"
    exit 0
fi

apt_dir=$deps/apt
src_dir=$deps/src
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$src_dir" "$lib" "$inc"

uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
if [[ -z $uri ]]; then
    uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list 2>/dev/null || true)
fi
[[ -n $uri ]] || { echo "fetch-deps: no Debian archive address found in the apt configuration" >&2; exit 1; }
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm main" > "$apt_dir/sources.list"

apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=/nonexistent"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "Dir::Cache::archives=$apt_dir/cache/archives"
)

cd "$src_dir"
if ! ls bzip2_*.dsc >/dev/null 2>&1 || ! ls boost1.81_*.orig.tar.* >/dev/null 2>&1; then
    apt-get "${apt_opts[@]}" -qq update
    apt-get "${apt_opts[@]}" -qq source --download-only bzip2 boost1.81
fi

# libbzip2, with Debian's patches applied.
bz_dir=$(find . -maxdepth 1 -type d -name 'bzip2-*' | head -n 1)
if [[ -z $bz_dir ]]; then
    dpkg-source --no-check -x bzip2_*.dsc >/dev/null
    bz_dir=$(find . -maxdepth 1 -type d -name 'bzip2-*' | head -n 1)
fi
objs=()
for f in blocksort huffman crctable randtable compress decompress bzlib; do
    "$cc" -O2 -D_FILE_OFFSET_BITS=64 -c "$bz_dir/$f.c" -o "$bz_dir/$f.o"
    objs+=("$bz_dir/$f.o")
done
rm -f "$lib/libbz2.a"
"$ar" rcs "$lib/libbz2.a" "${objs[@]}"
cp "$bz_dir/bzlib.h" "$inc/bzlib.h"

# The cross compiler sees Debian's Boost headers through a folder that holds
# only a link to them, never the whole /usr/include.
ln -sfn /usr/include/boost "$inc/boost"

# Only the bzip2 filter's source is needed from Boost's 74 MB source archive.
bzip2_cpp=$(find . -path '*/libs/iostreams/src/bzip2.cpp' | head -n 1)
if [[ -z $bzip2_cpp ]]; then
    tar -xf boost1.81_*.orig.tar.* --wildcards '*/libs/iostreams/src/bzip2.cpp'
    bzip2_cpp=$(find . -path '*/libs/iostreams/src/bzip2.cpp' | head -n 1)
fi
"$cxx" -O2 -std=c++20 -DBOOST_ALL_NO_LIB -DBOOST_IOSTREAMS_NO_LIB -I"$inc" -c "$bzip2_cpp" -o "$src_dir/boost_iostreams_bzip2.o"
rm -f "$lib/libboost_iostreams_bzip2.a"
"$ar" rcs "$lib/libboost_iostreams_bzip2.a" "$src_dir/boost_iostreams_bzip2.o"

echo "fetch-deps: built $lib/libbz2.a and $lib/libboost_iostreams_bzip2.a"
