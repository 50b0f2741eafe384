# Shared by run-installer.sh and wizard-screenshots.sh: paths for Wine and
# the pictures the wizard tour saves.
# shellcheck shell=bash

# A Unix path as Wine's Z: drive sees it.
windows_path() {
    local p=$1
    echo "Z:${p//\//\\}"
}

# Converts the tour's BMP pictures in a folder to PNG and prints their paths.
pictures_to_png() {
    local folder=$1 bmp
    for bmp in "$folder"/*.bmp; do
        [[ -e $bmp ]] || continue
        if convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then
            rm -f "$bmp"
            echo "    ${bmp%.bmp}.png"
        else
            echo "    $bmp"
        fi
    done
}
