#!/usr/bin/env bash
# Benchmarks: programs that print figures, never timed tests. Builds what it
# needs and runs every figure RUNS times (default 7, after one unmeasured
# warm run) with the program and the wineserver pinned to one CPU and
# unpinned, in a Wine prefix of its own; prints median and spread and writes
# the table to bench/results.md with the date, machine, Wine and load.
#
#   scripts/bench.sh [BUILD_DIR]
#
# Environment: RUNS (default 7), BIG_RUNS (runs of the figures of payloads
# of 1 GB and more, default 3, without a warm run: one takes minutes), SIZES_MB (generated payloads for
# the memory figures, default "18 1024"; the first is the small one),
# EXTRACT_SIZES_MB (generated payloads for the extractor alone, default
# "18"), CPU (the CPU to pin to, default 0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${RUNS:-7}
big_runs=${BIG_RUNS:-3}
sizes=${SIZES_MB:-18 1024}
extract_sizes=${EXTRACT_SIZES_MB:-18}
cpu=${CPU:-0}
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
source "$root/scripts/wine-common.sh"

cmake --build "$build" -j2 --target installer bench_payload_extract bench_install bench_floor bench_wizard bench_empty bench_empty_themed >/dev/null

installer=$build/src/Quillmar3Setup.exe
payload=$build/src/resources/payload.bz2
stage=$build/src/resources/quillmar3-payload-stage

# A Wine state of its own: the benchmark neither waits for nor disturbs
# tests, and its installations never meet a tests' prefix.
state=$build/bench/wine
mkdir -p "$state"
wine_setup_env
wine_ensure_template "$state"
export WINEPREFIX=$state/prefix
export LC_ALL=C.UTF-8 LANG=C.UTF-8 LANGUAGE=
wine_start_xvfb "$state"
work=$(mktemp -d "${TMPDIR:-/tmp}/hv-bench.XXXXXX")
cleanup() {
    # A fair peer's run that stopped the benchmark leaves nothing behind.
    if [[ -n ${registration_saved:-} ]]; then
        fair_peer_clean || true
        registration_restore || true
    fi
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The Windows form of a Unix path.
win() { printf 'Z:%s\n' "${1//\//\\}"; }

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

# repeat LABEL MODE COUNT PROGRAM ARGS...: one unmeasured warm run (none
# when COUNT is negative: -N runs N measured), then COUNT measured ones, each
# output in $work/LABEL.MODE.N; a failed run stops the benchmark with its
# output.
repeat() {
    local label=$1 mode=$2 count=$3 first=-1 i
    shift 3
    ((count < 0)) && count=$((-count)) first=0
    for ((i = first; i < count; i++)); do
        local out=$work/$label.$mode.$i
        ((i < 0)) && out=$work/$label.$mode.warm
        if ! run_wine "$mode" "$out" "$@"; then
            echo "bench: $label ($mode) failed:" >&2
            cat "$out" >&2
            exit 1
        fi
    done
}

# pick LABEL MODE SED_EXPRESSION: the figure of every measured run, one a line.
pick() {
    local file
    for file in "$work/$1.$2".[0-9]*; do
        [[ $file == *.rss ]] || sed -n "$3" "$file"
    done
}

# rss LABEL MODE: the peak RSS of the Wine process of every measured run, MB.
rss() {
    local file
    for file in "$work/$1.$2".[0-9]*.rss; do
        awk '{ printf "%.1f\n", $1 / 1024 }' "$file" | tail -1
    done
}

# median: of the numbers on standard input.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) exit 1
        printf "%.3f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# stats: "median (spread max-min, N runs)" of the numbers on standard input.
stats() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "-"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f (spread %.3f, %d runs)", m, v[NR] - v[1], NR }'
}

# ratio A B: A / B to three places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f\n", a / b; else print "-" }'; }

table=$work/table.md
notes=$work/notes.md
: >"$notes"
echo "| Figure | Pinned to CPU $cpu | Unpinned |" >"$table"
echo "|---|---|---|" >>"$table"
row() { echo "| $1 | $2 | $3 |" >>"$table"; }

# row_of TITLE LABEL SED_EXPRESSION: a row of one figure in both modes.
row_of() { row "$1" "$(pick "$2" pinned "$3" | stats)" "$(pick "$2" unpinned "$3" | stats)"; }
row_rss() { row "$1" "$(rss "$2" pinned | stats)" "$(rss "$2" unpinned | stats)"; }

# The shipped payload, headless and through the wizard, against the floor.
# The peer installers, both NSIS with the same files packed solid with bzip2
# and its CRC check of the installer on (the default). The file-only peer
# puts every file into one folder and does nothing else. The fair peer does
# the work of our installation: each file of the payload's manifest to its
# place (the installation folder, the data folders, the examples on the
# common desktop), the program and the uninstaller read-only, the two links,
# the twelve Uninstall values under a key of its own, its uninstaller, and
# the product's self-registration with its exit code checked, the shell told
# of the new document type.
peer=""
fair_peer=""
command -v makensis >/dev/null || apt-get install -y --no-install-recommends nsis >/dev/null || true
manifest=$build/src/resources/payload-manifest.txt
# The names the product shows and our installer uses: the version label as
# the build makes it ("3.05c" for 3.5.3.1) after the product's name.
product_version=$(sed -n 's/^HV_PRODUCT_VERSION:STRING=//p' "$build/CMakeCache.txt")
IFS=. read -r v_major v_minor v_build _ <<<"$product_version"
product_label=$(printf '%d.%02d' "$v_major" "$v_minor")
((v_build >= 1 && v_build <= 26)) && product_label+=$(printf "\\x$(printf %x $((96 + v_build)))")
product_title="Quillmar $product_label"
peer_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\HvBenchFairPeer'
# The peer's own uninstaller, named in its Uninstall entry, beside the
# payload's Uninstall.exe, which it would otherwise replace.
peer_uninstaller=PeerUninstall.exe
registration_roots=('HKLM\Software\Halden & Voss' 'HKLM\Software\Classes\.qmd' 'HKLM\Software\Classes\Quillmar.Document.3')
# The registration run's exit code for success (-10).
registration_succeeded=-10

# The shell folders of the prefix, as Unix folders.
program_files_folder="$WINEPREFIX/drive_c/Program Files"
common_data_folder="$WINEPREFIX/drive_c/ProgramData"
user_data_folder="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
common_desktop_folder="$WINEPREFIX/drive_c/users/Public/Desktop"
common_programs_folder="$common_data_folder/Microsoft/Windows/Start Menu/Programs"

# fair_peer_place TEMPLATE: the NSIS lines that make the manifest's
# destination TEMPLATE the output folder; the Unix folder it is in this
# prefix on the last line (the peer is checked there).
fair_peer_place() {
    local place=$1 token rest
    token=${place%%>*}'>'
    rest=${place#"$token"}
    case $token in
    '<InstallPath>')
        echo "  SetOutPath \"\$INSTDIR$rest\""
        echo "$program_files_folder/Halden & Voss/Quillmar 3${rest//\\//}" ;;
    '<CommonData>')
        echo '  SetShellVarContext all'
        echo "  SetOutPath \"\$APPDATA$rest\""
        echo "$common_data_folder${rest//\\//}" ;;
    '<UserData>')
        echo '  SetShellVarContext current'
        echo "  SetOutPath \"\$APPDATA$rest\""
        echo "$user_data_folder${rest//\\//}" ;;
    '<SamplePath>')
        echo '  SetShellVarContext all'
        echo "  SetOutPath \"\$DESKTOP\\Quillmar Examples$rest\""
        echo "$common_desktop_folder/Quillmar Examples${rest//\\//}" ;;
    *)
        echo "bench: the fair peer knows no place $place" >&2
        return 1 ;;
    esac
}

# write_fair_peer_script FILE: the fair peer's NSIS script, from the
# payload's manifest; fills fair_peer_folders (Unix folder -> files there).
declare -A fair_peer_folders=()
write_fair_peer_script() {
    local source place kind lines folder current=""
    {
        echo 'Target amd64-unicode'
        echo 'SetCompressor /SOLID bzip2'
        echo 'CRCCheck on'
        echo 'OutFile "fair-peer.exe"'
        echo "Name \"$product_title\""
        echo 'InstallDir "$PROGRAMFILES64\Halden & Voss\Quillmar 3"'
        echo 'RequestExecutionLevel admin'
        echo 'SilentInstall silent'
        echo 'Section'
        while IFS=$'\t' read -r source place kind; do
            [[ -z $source || $source == '#'* ]] && continue
            if [[ $place != "$current" ]]; then
                lines=$(fair_peer_place "$place") || return 1
                sed '$d' <<<"$lines"
                folder=$(tail -1 <<<"$lines")
                current=$place
            fi
            fair_peer_folders[$folder]=$((${fair_peer_folders[$folder]:-0} + 1))
            echo "  File \"$(dirname "$manifest")/$source\""
            [[ $kind == program || $kind == uninstaller ]] &&
                echo "  SetFileAttributes \"\$OUTDIR\\$(basename "$source")\" READONLY"
        done <"$manifest"
        echo '  SetShellVarContext all'
        echo '  SetOutPath "$INSTDIR"'
        echo "  CreateShortcut \"\$SMPROGRAMS\\$product_title.lnk\" \"\$INSTDIR\\Quillmar.exe\""
        echo "  CreateShortcut \"\$DESKTOP\\$product_title.lnk\" \"\$INSTDIR\\Quillmar.exe\""
        echo "  WriteUninstaller \"\$INSTDIR\\$peer_uninstaller\""
        # The values of our Uninstall entry (the maker's data as in
        # src/identity/product.h; the language English, as in the headless run).
        echo "  WriteRegStr HKLM \"$peer_key\" DisplayName \"$product_title\""
        echo "  WriteRegStr HKLM \"$peer_key\" UninstallString \"\$INSTDIR\\$peer_uninstaller\""
        echo "  WriteRegStr HKLM \"$peer_key\" DisplayIcon \"\$INSTDIR\\Quillmar.exe,0\""
        echo "  WriteRegStr HKLM \"$peer_key\" DisplayVersion \"$product_version\""
        echo "  WriteRegStr HKLM \"$peer_key\" Publisher \"Halden & Voss\""
        echo "  WriteRegStr HKLM \"$peer_key\" URLInfoAbout \"https://www.halden-voss.example/\""
        echo "  WriteRegStr HKLM \"$peer_key\" HelpLink \"https://www.halden-voss.example/\""
        echo "  WriteRegStr HKLM \"$peer_key\" URLUpdateInfo \"https://www.halden-voss.example/\""
        echo "  WriteRegStr HKLM \"$peer_key\" HelpTelephone \"+44 20 7946 0731\""
        echo "  WriteRegDWORD HKLM \"$peer_key\" NoModify 1"
        echo "  WriteRegDWORD HKLM \"$peer_key\" NoRepair 1"
        echo "  WriteRegDWORD HKLM \"$peer_key\" HvLanguage 1"
        # A registration that could not start or did not succeed ends the
        # peer with exit code 3.
        echo '  ClearErrors'
        echo '  ExecWait '"'"'"$INSTDIR\Quillmar.exe" /Register /Background'"'"' $0'
        echo '  IfErrors failed'
        echo "  IntCmp \$0 $registration_succeeded registered"
        echo '  failed:'
        echo '  SetErrorLevel 3'
        echo '  Abort'
        echo '  registered:'
        # The shell hears of the new document type, as after ours.
        echo "  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0x1000, p 0, p 0)'"
        echo 'SectionEnd'
        echo 'Section Uninstall'
        echo 'SectionEnd'
    } >"$1"
}

if command -v makensis >/dev/null && [[ -d $stage ]]; then
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
    } >"$work/peer.nsi"
    (cd "$work" && makensis -V1 peer.nsi) >/dev/null
    peer=$work/peer.exe
    write_fair_peer_script "$work/fair-peer.nsi"
    (cd "$work" && makensis -V1 fair-peer.nsi) >/dev/null
    fair_peer=$work/fair-peer.exe
fi
expected_files=$(find "$stage" -type f | wc -l)
peer_folder="$WINEPREFIX/drive_c/Program Files/HvBenchPeer"
fair_peer_install="$program_files_folder/Halden & Voss/Quillmar 3"
fair_peer_links=("$common_programs_folder/$product_title.lnk" "$common_desktop_folder/$product_title.lnk")

# timed_run MODE OUT TIMES PROGRAM ARGS...: run_wine timed from outside (the
# process's start and end included); the seconds appended to TIMES unless it
# is empty. A failed run stops the benchmark with its output.
timed_run() {
    local mode=$1 out=$2 times=$3 start code=0
    shift 3
    start=$(date +%s.%N)
    run_wine "$mode" "$out" "$@" || code=$?
    if ((code != 0)); then
        echo "bench: $(basename "$1") ($mode) failed with exit code $code:" >&2
        cat "$out" >&2
        exit 1
    fi
    [[ -z $times ]] || awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", b - a }' >>"$times"
}

# outside_runs LABEL MODE PREPARE CHECK PROGRAM ARGS...: one unmeasured warm
# run, then RUNS measured ones timed from outside into $work/LABEL-time.MODE,
# each after the command PREPARE and followed by the command CHECK.
outside_runs() {
    local label=$1 mode=$2 prepare=$3 check=$4 i out times
    shift 4
    : >"$work/$label-time.$mode"
    for ((i = -1; i < runs; i++)); do
        out=$work/$label.$mode.$i
        times=$work/$label-time.$mode
        ((i < 0)) && out=$work/$label.$mode.warm times=""
        $prepare
        timed_run "$mode" "$out" "$times" "$@"
        $check
    done
}

# The file-only peer's run: an empty folder before, every file in it after.
peer_clean() { rm -rf "$peer_folder"; }
peer_check() {
    local installed
    installed=$(find "$peer_folder" -type f 2>/dev/null | wc -l)
    if [[ $installed != "$expected_files" ]]; then
        echo "bench: the file-only peer installed $installed of $expected_files files" >&2
        exit 1
    fi
}

# reg ARGS...: Wine's reg, quietly; its status.
reg() { "$wine_loader" reg "$@" </dev/null 2>/dev/null; }

# What stood under the product registration's keys before the fair peer's
# runs, put back after them (or when the benchmark stops during them): each
# key exported, or noted missing.
registration_save() {
    local i
    for i in "${!registration_roots[@]}"; do
        rm -f "$work/registration-$i.reg"
        reg export "${registration_roots[$i]}" "$(win "$work/registration-$i.reg")" /y >/dev/null || true
    done
    registration_saved=yes
}
registration_restore() {
    local i
    for i in "${!registration_roots[@]}"; do
        reg delete "${registration_roots[$i]}" /f >/dev/null || true
        if [[ -f $work/registration-$i.reg ]] && ! reg import "$(win "$work/registration-$i.reg")" >/dev/null; then
            echo "bench: cannot put back ${registration_roots[$i]}" >&2
            return 1
        fi
    done
    registration_saved=""
}

# The fair peer's run starts with none of its files, links, Uninstall entry
# or the product's registration in the prefix.
fair_peer_clean() {
    local folder
    for folder in "${!fair_peer_folders[@]}"; do
        rm -rf "$folder"
    done
    # The maker's folders, when nothing else is left in them.
    for folder in "$program_files_folder" "$common_data_folder" "$user_data_folder"; do
        rmdir --ignore-fail-on-non-empty "$folder/Halden & Voss" 2>/dev/null || true
    done
    rm -f "${fair_peer_links[@]}"
    reg delete "HKLM\\$peer_key" /f >/dev/null || true
    local root
    for root in "${registration_roots[@]}"; do
        reg delete "$root" /f >/dev/null || true
    done
}

# After the fair peer's run: each place holds its files, both links, the
# twelve Uninstall values, the uninstaller and the product's registration.
fair_peer_check() {
    local folder found value values
    for folder in "${!fair_peer_folders[@]}"; do
        found=$(find "$folder" -maxdepth 1 -type f ! -name "$peer_uninstaller" 2>/dev/null | wc -l)
        if [[ $found != "${fair_peer_folders[$folder]}" ]]; then
            echo "bench: the fair peer put $found of ${fair_peer_folders[$folder]} files in $folder" >&2
            exit 1
        fi
    done
    for found in "${fair_peer_links[@]}" "$fair_peer_install/$peer_uninstaller"; do
        [[ -f $found ]] || { echo "bench: the fair peer made no $found" >&2; exit 1; }
    done
    values=$(reg query "HKLM\\$peer_key" | tr -d '\r') || values=""
    for value in DisplayName UninstallString DisplayIcon DisplayVersion Publisher URLInfoAbout HelpLink \
        URLUpdateInfo HelpTelephone NoModify NoRepair HvLanguage; do
        grep -q "^ *$value " <<<"$values" || { echo "bench: the fair peer wrote no Uninstall value $value" >&2; exit 1; }
    done
    values=$(reg query "${registration_roots[0]}" /v "Quillmar 3 Path" | tr -d '\r') || values=""
    if ! grep -qF 'C:\Program Files\Halden & Voss\Quillmar 3\Quillmar.exe' <<<"$values"; then
        echo "bench: the product's registration by the fair peer wrote no registered path" >&2
        exit 1
    fi
    values=$(reg query "${registration_roots[1]}" /ve | tr -d '\r') || values=""
    if ! grep -q 'REG_SZ *Quillmar\.Document\.3$' <<<"$values"; then
        echo "bench: the product's registration by the fair peer did not take the document type" >&2
        exit 1
    fi
}

# fair_peer_runs MODE: the fair peer's runs; the product's registration keys
# are as before afterwards.
fair_peer_runs() {
    registration_save
    outside_runs fair-peer "$1" fair_peer_clean fair_peer_check "$fair_peer" /S
    fair_peer_clean
    registration_restore || exit 1
}

# The start and end of a process under Wine, which the figures timed from
# outside include.
empty_program=$build/tests/payload/bench_empty.exe
# The same empty dialog with the installer's manifest and common controls.
themed_empty_program=$build/tests/payload/bench_empty_themed.exe
nothing() { :; }

installer_win=$(win "$installer")
scratch_win=$(win "$work")
for mode in pinned unpinned; do
    start_server "$mode"
    repeat headless "$mode" "$runs" "$build/tests/engine/bench_install.exe" "$installer_win" "$scratch_win"
    repeat floor "$mode" "$runs" "$build/tests/payload/bench_floor.exe" "$installer_win" "$scratch_win"
    repeat wizard "$mode" "$runs" "$build/tests/ui/bench_wizard.exe" install "$installer_win"
    repeat paint "$mode" "$runs" "$build/tests/ui/bench_wizard.exe" first-paint "$installer_win"
    repeat empty-paint "$mode" "$runs" "$build/tests/ui/bench_wizard.exe" first-paint "$(win "$empty_program")" window
    repeat themed-paint "$mode" "$runs" "$build/tests/ui/bench_wizard.exe" first-paint "$(win "$themed_empty_program")" window
    if [[ -n $peer ]]; then
        outside_runs peer "$mode" peer_clean peer_check "$peer" /S
        peer_clean
        fair_peer_runs "$mode"
    fi
    outside_runs empty "$mode" nothing nothing "$empty_program"
done

row_of "install of the shipped payload, headless (run_installation), s" headless 's/^install: \([0-9.]*\) s/\1/p'
row_of "… of which the extraction, s" headless 's/^extraction: \([0-9.]*\) s/\1/p'
# Where the headless install's time goes, step by step as its status lines
# tell them (bench_install prints "step NAME: SECONDS s").
while IFS= read -r step; do
    row_of "… step: $step, s" headless "s/^step $step: \([0-9.]*\) s/\1/p"
done < <(sed -n 's/^step \(.*\): [0-9.]* s.*/\1/p' "$work/headless.pinned.0")
row_of "install through the wizard (Install click to the end), s" wizard 's/^wizard install: \([0-9.]*\) s/\1/p'
row_of "two-pass floor (two decodes, files written and read back), s" floor 's/^floor: \([0-9.]*\) s/\1/p'
for mode in pinned unpinned; do
    floor_m=$(pick floor "$mode" 's/^floor: \([0-9.]*\) s/\1/p' | median)
    headless_m=$(pick headless "$mode" 's/^install: \([0-9.]*\) s/\1/p' | median)
    extraction_m=$(pick headless "$mode" 's/^extraction: \([0-9.]*\) s/\1/p' | median)
    wizard_m=$(pick wizard "$mode" 's/^wizard install: \([0-9.]*\) s/\1/p' | median)
    printf -v "r_headless_$mode" '%s' "$(ratio "$headless_m" "$floor_m")"
    printf -v "r_extraction_$mode" '%s' "$(ratio "$extraction_m" "$floor_m")"
    printf -v "r_wizard_$mode" '%s' "$(ratio "$wizard_m" "$floor_m")"
    printf -v "r_wizard_headless_$mode" '%s' "$(ratio "$wizard_m" "$headless_m")"
    if [[ -n $peer ]]; then
        peer_m=$(median <"$work/peer-time.$mode")
        printf -v "r_peer_headless_$mode" '%s' "$(ratio "$headless_m" "$peer_m")"
        printf -v "r_peer_wizard_$mode" '%s' "$(ratio "$wizard_m" "$peer_m")"
        fair_m=$(median <"$work/fair-peer-time.$mode")
        printf -v "r_fair_headless_$mode" '%s' "$(ratio "$headless_m" "$fair_m")"
        printf -v "r_fair_wizard_$mode" '%s' "$(ratio "$wizard_m" "$fair_m")"
    fi
done
row "headless install / floor (medians)" "$r_headless_pinned" "$r_headless_unpinned"
row "headless extraction / floor (medians; target ≤ 1.05)" "$r_extraction_pinned" "$r_extraction_unpinned"
row "wizard install / floor (medians)" "$r_wizard_pinned" "$r_wizard_unpinned"
row "wizard install / headless install (medians; target ≤ 1.10)" "$r_wizard_headless_pinned" "$r_wizard_headless_unpinned"
row_of "peak working set, headless install of the shipped payload, MB" headless 's/^peak working set: \([0-9.]*\) MB/\1/p'
row_rss "peak RSS of the Wine process, headless install of the shipped payload, MB" headless
row_of "peak working set of the installer, wizard install, MB" wizard 's/^installer peak working set: \([0-9.]*\) MB/\1/p'
if [[ -n $peer ]]; then
    row "fair peer installer (NSIS, same work): install, s" "$(stats <"$work/fair-peer-time.pinned")" "$(stats <"$work/fair-peer-time.unpinned")"
    row_rss "fair peer installer: peak RSS of the Wine process, MB" fair-peer
    row "headless install / fair peer install (medians; target ≤ 1.0)" "$r_fair_headless_pinned" "$r_fair_headless_unpinned"
    row "wizard install / fair peer install (medians)" "$r_fair_wizard_pinned" "$r_fair_wizard_unpinned"
    row "file-only peer installer (NSIS, solid bzip2): install, s" "$(stats <"$work/peer-time.pinned")" "$(stats <"$work/peer-time.unpinned")"
    row_rss "file-only peer installer: peak RSS of the Wine process, MB" peer
    row "headless install / file-only peer install (medians)" "$r_peer_headless_pinned" "$r_peer_headless_unpinned"
    row "wizard install / file-only peer install (medians)" "$r_peer_wizard_pinned" "$r_peer_wizard_unpinned"
else
    row "peer installer (NSIS)" "not measured: needs makensis (Debian package nsis) and a built payload stage" "-"
fi
row_of "start-up: process start to the wizard's first paint (warm; target ≤ 0.150), s" paint 's/^first paint: \([0-9.]*\) s/\1/p'
row_of "start-up of an empty dialog, process start to its first paint (Wine's floor), s" empty-paint 's/^first paint: \([0-9.]*\) s/\1/p'
row_of "start-up of an empty dialog with common controls 6.0 and visual styles, as the installer starts, s" themed-paint 's/^first paint: \([0-9.]*\) s/\1/p'
row "Wine process start and end of an empty program, s" "$(stats <"$work/empty-time.pinned")" "$(stats <"$work/empty-time.unpinned")"
# verdict VALUE LIMIT: whether a median keeps within its target.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print (v != "-" && v + 0 <= l + 0) ? "holds" : "does not hold" }'; }
for mode in pinned unpinned; do
    paint_m=$(pick paint "$mode" 's/^first paint: \([0-9.]*\) s/\1/p' | median)
    themed_m=$(pick themed-paint "$mode" 's/^first paint: \([0-9.]*\) s/\1/p' | median)
    extraction_r=r_extraction_$mode wizard_r=r_wizard_headless_$mode fair_r=r_fair_headless_$mode
    {
        echo "- Targets ($mode, medians):"
        [[ -n $peer ]] && echo "  headless install ≤ 1.0 × the fair peer: ${!fair_r}, $(verdict "${!fair_r}" 1.0);"
        echo "  wizard install ≤ 1.10 × the headless install: ${!wizard_r}, $(verdict "${!wizard_r}" 1.10);"
        echo "  extraction ≤ 1.05 × the two-pass floor: ${!extraction_r}, $(verdict "${!extraction_r}" 1.05);"
        echo "  first paint ≤ 0.150 s: $paint_m s, $(verdict "$paint_m" 0.150) (an empty dialog started as the installer starts: $themed_m s)."
    } >>"$notes"
done
echo "- The peers and the empty program are timed from outside, their process's start and end under Wine included; the headless install is timed inside the engine, from the call of run_installation to its return, the wizard install from the Install click to the end: the empty program's row is what a process's start and end add." >>"$notes"

# Generated payloads, each made once: the headless installation streamed
# from the archive file for the memory figures, and the extractor alone
# against a plain bzip2 decode of the same stream.
for size in $sizes $extract_sizes; do
    [[ -f $work/generated-$size.bz2 ]] && continue
    "$wine_loader" "$build/tests/engine/bench_install.exe" --generate "$(win "$work/generated-$size.bz2")" "$size" \
        </dev/null >/dev/null 2>&1 || { echo "bench: generating $size MB failed" >&2; exit 1; }
done
first_size=""
for size in $sizes; do
    count=$runs
    ((size >= 1024)) && count=-$big_runs
    for mode in pinned unpinned; do
        start_server "$mode"
        repeat "generated-$size" "$mode" "$count" "$build/tests/engine/bench_install.exe" \
            "$(win "$work/generated-$size.bz2")" "$scratch_win"
    done
    row_of "headless install of a generated $size MB payload, s" "generated-$size" 's/^install: \([0-9.]*\) s/\1/p'
    row_of "peak working set, headless install of $size MB, MB" "generated-$size" 's/^peak working set: \([0-9.]*\) MB/\1/p'
    row_rss "peak RSS of the Wine process, headless install of $size MB, MB" "generated-$size"
    [[ -n $first_size ]] || first_size=$size
    last_size=$size
done
for size in $extract_sizes; do
    for mode in pinned unpinned; do
        start_server "$mode"
        repeat "extract-$size" "$mode" "$runs" "$build/tests/payload/bench_payload_extract.exe" "$size" \
            "$scratch_win\\extract" "$(win "$work/generated-$size.bz2")"
    done
    row_of "extractor alone, generated $size MB, s" "extract-$size" 's/^extract_payload (write + CRC read-back): \([0-9.]*\) s.*/\1/p'
    row_of "extractor / plain bzip2 decode ($size MB)" "extract-$size" 's/^extraction time \/ plain decompression time: \([0-9.]*\)/\1/p'
done

# Whether the memory stays flat and below the peer, by the medians.
if [[ -n $first_size && $last_size != "$first_size" ]]; then
    for mode in pinned unpinned; do
        small=$(pick "generated-$first_size" "$mode" 's/^peak working set: \([0-9.]*\) MB/\1/p' | median)
        big=$(pick "generated-$last_size" "$mode" 's/^peak working set: \([0-9.]*\) MB/\1/p' | median)
        small_rss=$(rss "generated-$first_size" "$mode" | median)
        big_rss=$(rss "generated-$last_size" "$mode" | median)
        verdict=$(awk -v a="$small" -v b="$big" 'BEGIN { d = b - a; if (d < 0) d = -d; print (d <= 1.0) ? "holds" : "does not hold" }')
        echo "- Flat memory ($mode): peak working set ${small} MB at $first_size MB, ${big} MB at $last_size MB: within 1 MB $verdict (peak RSS of the Wine process ${small_rss} / ${big_rss} MB)." >>"$notes"
        if [[ -n $peer ]]; then
            peer_rss=$(rss peer "$mode" | median)
            shipped_rss=$(rss headless "$mode" | median)
            verdict=$(awk -v a="$big_rss" -v b="$shipped_rss" -v p="$peer_rss" 'BEGIN { print (a < p && b < p) ? "holds" : "does not hold" }')
            echo "- Below the file-only peer ($mode): peak RSS of the Wine process ${shipped_rss} MB (shipped payload) and ${big_rss} MB ($last_size MB) against the file-only peer's ${peer_rss} MB: $verdict (the headless run of the shipped payload connects to the display before it starts, as the installer has; the file-only peer never does)." >>"$notes"
            wizard_peak=$(pick wizard "$mode" 's/^installer peak working set: \([0-9.]*\) MB/\1/p' | median)
            verdict=$(awk -v a="$wizard_peak" -v p="$peer_rss" 'BEGIN { print (a < p) ? "below" : "above" }')
            echo "- The real installer with its wizard ($mode): peak working set ${wizard_peak} MB, $verdict the file-only peer's silent installation (${peer_rss} MB), which opens no window." >>"$notes"
        fi
    done
fi

# Overhead: the executable without its compressed payload.
overhead=$(( $(stat -c %s "$installer") - $(stat -c %s "$payload") ))
row "overhead: installer size minus compressed payload, bytes" "$overhead" "$overhead"
# Where the installer's bytes come from: its sections, and what each library
# brought into them, read from the linker's map written beside it.
size_table=$work/size.md
python3 "$root/tools/size_report/size_report.py" --target 1000000 "$installer" "$build/src/Quillmar3Setup.map" "$payload" >"$size_table"

results=$root/bench/results.md
mkdir -p "$(dirname "$results")"
{
    echo "# Benchmark results"
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- Machine: $(uname -srm), $(nproc) CPUs, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
    echo "- Wine: $("$wine_loader" --version 2>/dev/null)"
    echo "- Load average at the start (the machine is shared): $load_at_start"
    echo "- Runs per figure: $runs after one unmeasured warm run; $big_runs without a warm run for payloads of 1024 MB and more (one takes minutes)"
    echo
    cat "$table"
    if [[ -s $notes ]]; then
        echo
        cat "$notes"
    fi
    echo
    echo "## Size of the installer"
    echo
    cat "$size_table"
} >"$results"
cat "$results"
