#!/usr/bin/env bash
# Signs the built programs with Authenticode (SHA-256, osslsigncode).
#
#   scripts/sign.sh CERT KEY [BUILD_DIR]
#
# CERT is the PEM certificate (with its chain), KEY the PEM private key;
# BUILD_DIR defaults to build/. The product and the uninstaller, when the build
# has them, are signed first and the installer is rebuilt, so the payload
# carries the signed programs; the installer is signed last. Signing appends
# the signature and leaves every section, the payload resource included,
# byte for byte as built.
#
# Environment: SIGN_TIMESTAMP_URL, an RFC 3161 time-stamping service (no time
# stamp without it); SIGN_KEY_PASSWORD_FILE, a file holding the key's
# password.
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 ]]; then
    echo "usage: $0 CERT KEY [BUILD_DIR]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
cert=$1
key=$2
build=${3:-$root/build}
for file in "$cert" "$key"; do
    [[ -r $file ]] || { echo "sign: cannot read $file" >&2; exit 2; }
done

installer=$build/src/Quillmar3Setup.exe
[[ -f $installer ]] || { echo "sign: no installer at $installer; build it first" >&2; exit 2; }

options=(-h sha256 -certs "$cert" -key "$key")
[[ -n ${SIGN_KEY_PASSWORD_FILE:-} ]] && options+=(-readpass "$SIGN_KEY_PASSWORD_FILE")
[[ -n ${SIGN_TIMESTAMP_URL:-} ]] && options+=(-ts "$SIGN_TIMESTAMP_URL")

# sign FILE DESCRIPTION: signs in place through a temporary file beside it.
sign() {
    local file=$1 description=$2
    local signed="$file.signing"
    rm -f "$signed"
    # An earlier signature is replaced, not nested.
    if osslsigncode extract-signature -in "$file" -out /dev/null >/dev/null 2>&1; then
        osslsigncode remove-signature -in "$file" -out "$signed" >/dev/null
        mv -f "$signed" "$file"
    fi
    osslsigncode sign "${options[@]}" -n "$description" -in "$file" -out "$signed" >/dev/null
    mv -f "$signed" "$file"
    echo "signed $file"
}

# The product's programs and language libraries, which the payload carries.
programs=()
for file in "$build/src/product/Quillmar.exe" "$build/src/product/Uninstall.exe" "$build"/src/product/Lang/*.dll; do
    [[ -f $file ]] && programs+=("$file")
done

if [[ ${#programs[@]} -gt 0 ]]; then
    for file in "${programs[@]}"; do
        sign "$file" "Quillmar 3"
    done
    # Repack the payload with the signed files and link the installer again.
    if [[ -f $build/CMakeCache.txt ]]; then
        cmake --build "$build" --target installer
    fi
fi
sign "$installer" "Quillmar 3 Setup"
