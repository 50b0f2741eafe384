#!/usr/bin/env bash
# Pictures of every wizard page and the About box in each of the installer's
# twelve languages, and in English at 120, 144 and 192 DPI, taken by the wizard tour on a
# virtual display with a Wine prefix of their own. Writes OUTPUT/<name>/*.png
# and OUTPUT/index.html. Names after OUTPUT (en, en-144dpi, ...) take only
# those sets.
#   wizard-screenshots.sh BUILD_DIR OUTPUT [NAME...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-common.sh"
source "$here/wizard-common.sh"

build=$(cd "$1" && pwd)
output=$2
mkdir -p "$output"
output=$(cd "$output" && pwd)
state=$build/wine-screenshots

# name, language index, Unix locale, pixels per inch
runs=(
    "fr 0 fr_FR.UTF-8 96" "en 1 en_US.UTF-8 96" "de 2 de_DE.UTF-8 96" "es 3 es_ES.UTF-8 96"
    "pt 4 pt_PT.UTF-8 96" "tr 7 tr_TR.UTF-8 96" "ro 9 ro_RO.UTF-8 96" "it 11 it_IT.UTF-8 96"
    "cs 12 cs_CZ.UTF-8 96" "hu 19 hu_HU.UTF-8 96" "ar 21 ar_SA.UTF-8 96" "hr 24 hr_HR.UTF-8 96"
    "en-120dpi 1 en_US.UTF-8 120" "en-144dpi 1 en_US.UTF-8 144" "en-192dpi 1 en_US.UTF-8 192"
)

if (($# > 2)); then
    wanted=" ${*:3} "
    chosen=()
    for run in "${runs[@]}"; do
        [[ $wanted == *" ${run%% *} "* ]] && chosen+=("$run")
    done
    ((${#chosen[@]} > 0)) || { echo "no picture set named ${*:3}" >&2; exit 2; }
    runs=("${chosen[@]}")
fi

# Wine names files in the Unix locale's character set; a locale missing on
# this machine leaves it ASCII and non-ASCII folder names of the installation
# fail. The locales are compiled into a folder of the build instead of the
# system's (localedef from Debian's "locales" package).
locales=$state/locales
mkdir -p "$locales"
for run in "${runs[@]}"; do
    read -r _ _ locale _ <<<"$run"
    [[ -d $locales/$locale ]] || localedef -i "${locale%%.*}" -f UTF-8 "$locales/$locale" 2>/dev/null \
        || echo "   locale $locale could not be compiled; its non-ASCII file names will fail" >&2
done
export LOCPATH=$locales

failed=0
{
    echo "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Wizard pictures</title></head><body>"
    echo "<h1>The wizard in every installer language</h1>"
} >"$output/index.html"
for run in "${runs[@]}"; do
    read -r name index locale dpi <<<"$run"
    folder=$output/$name
    rm -rf "$folder"
    mkdir -p "$folder"
    # Every wine-run is a session of its own on a fresh copy of the prefix, so
    # each run is a first installation. The language an earlier installation
    # recorded decides the language the installer starts in, as on a user's
    # machine; the tour records it, and the screen resolution, before it
    # starts the installer.
    echo "== $name ($locale, $dpi DPI)"
    LC_ALL=$locale LANG=$locale "$here/wine-run" "$state" "$build/tests/ui/wizard_tour.exe" \
        "$(windows_path "$build/src/Quillmar3Setup.exe")" "$(windows_path "$folder")" \
        --language "$index" --dpi "$dpi" >"$folder/texts.txt" 2>&1
    rc=$?
    [[ $rc -eq 0 ]] || { echo "   tour failed with $rc (see $folder/texts.txt)"; failed=1; }
    pictures_to_png "$folder"
    # Start, About, mode, exit question, options, summary, log and end page.
    count=$(find "$folder" -name '*.png' | wc -l)
    [[ $count -eq 8 ]] || { echo "   $count pictures instead of 8"; failed=1; }
    {
        echo "<h2>$name ($locale, $dpi DPI)</h2><p><a href=\"$name/texts.txt\">texts</a></p><p>"
        for png in "$folder"/*.png; do
            [[ -e $png ]] && echo "<img src=\"$name/$(basename "$png")\" title=\"$(basename "$png")\"> "
        done
        echo "</p>"
    } >>"$output/index.html"
done
echo "</body></html>" >>"$output/index.html"
echo "index: $output/index.html"
exit $failed
