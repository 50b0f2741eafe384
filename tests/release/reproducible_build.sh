#!/usr/bin/env bash
# Two clean builds of the installer from the same sources, in folders of
# different names and at different times, must give byte-identical programs.
#   reproducible_build.sh SOURCE_DIR DEPS_DIR TOOLCHAIN_FILE
set -euo pipefail
source=$1
deps=$2
toolchain=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/hv-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

programs=(src/Quillmar3Setup.exe)
targets=(installer)
# The product and the uninstaller, once the tree builds them.
if grep -q 'add_executable(product' -r "$source/src" --include=CMakeLists.txt; then
    programs+=(src/product/Quillmar.exe src/product/Uninstall.exe)
    targets+=(product uninstaller product_languages)
fi

build() {
    local tree=$1
    mkdir -p "$tree"
    # The sources as checked out, without build trees and caches.
    tar -C "$source" --exclude=./.git --exclude='./build*' --exclude=./.deps -cf - . | tar -C "$tree" -xf -
    cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DHV_DEPS_DIR="$deps" -DHV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$tree/build" -j2 --target "${targets[@]}" >/dev/null
}

build "$work/first"
build "$work/second-tree-with-a-longer-name"

# The product's language libraries travel in the payload too.
while IFS= read -r -d '' library; do
    programs+=("${library#"$work/first/build/"}")
done < <(find "$work/first/build/src/product/Lang" -name '*.dll' -print0 2>/dev/null | sort -z)

status=0
for program in "${programs[@]}"; do
    a=$work/first/build/$program
    b=$work/second-tree-with-a-longer-name/build/$program
    if cmp -s "$a" "$b"; then
        echo "identical $program ($(stat -c %s "$a") bytes)"
    else
        echo "DIFFERENT $program; first differing bytes (offset, octal values):" >&2
        cmp -l "$a" "$b" | head -20 >&2 || true
        status=1
    fi
done
exit $status
