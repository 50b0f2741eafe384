#!/usr/bin/env bash
# Benchmarks: programs that print figures, never timed tests. Builds what it
# needs, runs every figure RUNS times (default 7) with the program and the
# wineserver pinned to one CPU and unpinned, prints median and spread, and
# writes the table to bench/results.md with the date, machine and Wine.
#
#   scripts/bench.sh [BUILD_DIR]
#
# Environment: RUNS (default 7), SIZES_MB (generated payloads, default
# "18 1024"), CPU (the CPU to pin to, default 0).
# Figures that need the installation through the wizard are listed as not
# measured until the installer carries the wizard.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${RUNS:-7}
sizes=${SIZES_MB:-18 1024}
cpu=${CPU:-0}
source "$root/scripts/wine-common.sh"

cmake --build "$build" -j2 --target installer bench_payload_extract >/dev/null

# A Wine state of its own: the benchmark neither waits for nor disturbs tests.
state=$build/bench/wine
wine_setup_env "$state"
wine_ensure_prefix "$state"
wine_start_xvfb "$state"
work=$(mktemp -d "${TMPDIR:-/tmp}/hv-bench.XXXXXX")
cleanup() {
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
    wine_stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

# start_server pinned|unpinned: a fresh persistent wineserver, pinned or not.
start_server() {
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
    if [[ $1 == pinned ]]; then
        taskset -c "$cpu" "$wine_server" -p60
    else
        "$wine_server" -p60
    fi
    "$wine_loader" wineboot </dev/null >/dev/null 2>&1
}

# run_wine MODE OUT PROGRAM ARGS...: runs under Wine, its output to OUT; the
# peak RSS of the Wine process (kB) on the last line of OUT.rss.
run_wine() {
    local mode=$1 out=$2
    shift 2
    local pin=()
    [[ $mode == pinned ]] && pin=(taskset -c "$cpu")
    /usr/bin/time -f %M -o "$out.rss" "${pin[@]}" "$wine_loader" "$@" </dev/null >"$out" 2>&1
}

# stats FILE: "median (spread max-min)" of the numbers in FILE, one a line.
stats() {
    sort -g "$1" | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "-"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f (spread %.3f, %d runs)", m, v[NR] - v[1], NR }'
}

table=$work/table.md
echo "| Figure | Pinned to CPU $cpu | Unpinned |" >"$table"
echo "|---|---|---|" >>"$table"
row() { echo "| $1 | $2 | $3 |" >>"$table"; }

# Extraction of generated payloads: streamed to files with the CRC read
# back, against a plain bzip2 decode of the same stream; peak working set of
# the process (GetProcessMemoryInfo) and peak RSS of the Wine process.
extract=$build/tests/payload/bench_payload_extract.exe
for size in $sizes; do
    for mode in pinned unpinned; do
        start_server "$mode"
        : >"$work/time.$mode" ; : >"$work/ratio.$mode"; : >"$work/peak.$mode"; : >"$work/rss.$mode"
        for ((i = 0; i < runs; i++)); do
            out=$work/extract.$mode.$i
            run_wine "$mode" "$out" "$extract" "$size" "Z:${work//\//\\}\\payload"
            sed -n 's/^extract_payload (write + CRC read-back): \([0-9.]*\) s.*/\1/p' "$out" >>"$work/time.$mode"
            sed -n 's/^extraction time \/ plain decompression time: \([0-9.]*\)/\1/p' "$out" >>"$work/ratio.$mode"
            sed -n 's/^working set before: .*, peak: \([0-9.]*\) MB.*/\1/p' "$out" >>"$work/peak.$mode"
            awk '{ printf "%.1f\n", $1 / 1024 }' "$out.rss" | tail -1 >>"$work/rss.$mode"
        done
    done
    row "extraction of $size MB, s" "$(stats "$work/time.pinned")" "$(stats "$work/time.unpinned")"
    row "extraction / plain bzip2 decode ($size MB)" "$(stats "$work/ratio.pinned")" "$(stats "$work/ratio.unpinned")"
    row "peak working set, MB ($size MB)" "$(stats "$work/peak.pinned")" "$(stats "$work/peak.unpinned")"
    row "peak RSS of the Wine process, MB ($size MB)" "$(stats "$work/rss.pinned")" "$(stats "$work/rss.unpinned")"
done

# The peer installer: the same payload files packed by NSIS (solid bzip2),
# installed silently.
stage=$build/src/resources/quillmar3-payload-stage
command -v makensis >/dev/null || apt-get install -y --no-install-recommends nsis >/dev/null || true
if command -v makensis >/dev/null && [[ -d $stage ]]; then
    nsi=$work/peer.nsi
    {
        echo 'Target amd64-unicode'
        echo 'SetCompressor /SOLID bzip2'
        echo 'OutFile "peer.exe"'
        echo 'InstallDir "$PROGRAMFILES64\HvBenchPeer"'
        echo 'RequestExecutionLevel admin'
        echo 'SilentInstall silent'
        echo 'Section'
        echo '  SetOutPath "$INSTDIR"'
        echo "  File /r \"$stage/*\""
        echo 'SectionEnd'
    } >"$nsi"
    (cd "$work" && makensis -V1 peer.nsi) >/dev/null
    for mode in pinned unpinned; do
        start_server "$mode"
        : >"$work/peer-time.$mode"; : >"$work/peer-rss.$mode"
        for ((i = 0; i < runs; i++)); do
            rm -rf "$WINEPREFIX/drive_c/Program Files/HvBenchPeer"
            start=$(date +%s.%N)
            run_wine "$mode" "$work/peer.$mode.$i" "$work/peer.exe" /S
            awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", b - a }' >>"$work/peer-time.$mode"
            awk '{ printf "%.1f\n", $1 / 1024 }' "$work/peer.$mode.$i.rss" | tail -1 >>"$work/peer-rss.$mode"
            installed=$(find "$WINEPREFIX/drive_c/Program Files/HvBenchPeer" -type f 2>/dev/null | wc -l)
            expected=$(find "$stage" -type f | wc -l)
            if [[ $installed != "$expected" ]]; then
                echo "bench: the peer installer installed $installed of $expected files" >&2
                exit 1
            fi
        done
        rm -rf "$WINEPREFIX/drive_c/Program Files/HvBenchPeer"
    done
    row "peer installer (NSIS, solid bzip2): install, s" "$(stats "$work/peer-time.pinned")" "$(stats "$work/peer-time.unpinned")"
    row "peer installer: peak RSS of the Wine process, MB" "$(stats "$work/peer-rss.pinned")" "$(stats "$work/peer-rss.unpinned")"
else
    row "peer installer (NSIS)" "not measured: needs makensis (Debian package nsis) and a built payload stage" "-"
fi

# Overhead: the executable without its compressed payload.
installer=$build/src/Quillmar3Setup.exe
payload=$build/src/resources/payload.bz2
overhead=$(( $(stat -c %s "$installer") - $(stat -c %s "$payload") ))
row "overhead: installer size minus compressed payload, bytes" "$overhead" "$overhead"

for figure in "install time of the payload, headless do_installation" \
              "install time through the wizard (Install click to end status)" \
              "two-pass floor and ratio to it" \
              "start-up: process start to the wizard's first paint"; do
    row "$figure" "not measured yet" "-"
done

results=$root/bench/results.md
mkdir -p "$(dirname "$results")"
{
    echo "# Benchmark results"
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- Machine: $(uname -srm), $(nproc) CPUs, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
    echo "- Wine: $("$wine_loader" --version 2>/dev/null)"
    echo "- Runs per figure: $runs"
    echo
    cat "$table"
} >"$results"
cat "$results"
