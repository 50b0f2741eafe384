#!/usr/bin/env bash
# Signs a copy of the built installer with a throw-away certificate through
# scripts/sign.sh, verifies the Authenticode signature, checks that signing
# changed nothing but the header's checksum and certificate-table entry
# (every section, the payload resource among them, is as built), and lets the
# payload test extract and verify the payload of the signed copy under Wine.
#   signing_test.sh SOURCE_DIR BINARY_DIR
set -euo pipefail
source=$1
binary=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/hv-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Halden & Voss test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# Copies of the shipped programs in the layout of a build folder.
originals=()
for program in src/Quillmar3Setup.exe src/product/Quillmar.exe src/product/Uninstall.exe; do
    if [[ -f $binary/$program ]]; then
        mkdir -p "$(dirname "$work/build/$program")"
        cp "$binary/$program" "$work/build/$program"
        originals+=("$program")
    fi
done
original=$binary/src/Quillmar3Setup.exe
signed=$work/build/src/Quillmar3Setup.exe
"$source/scripts/sign.sh" "$work/cert.pem" "$work/key.pem" "$work/build"
# Signing twice replaces the signature instead of nesting a second one.
"$source/scripts/sign.sh" "$work/cert.pem" "$work/key.pem" "$work/build"

for program in "${originals[@]}"; do
    verify_output=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$work/build/$program" 2>&1) || {
        echo "$verify_output" >&2
        echo "FAIL: the signature of $program does not verify" >&2
        exit 1
    }
    for expected in 'Signature verification: ok' 'Message digest algorithm *: SHA256' \
                    'Number of verified signatures: 1'; do
        grep -q "$expected" <<<"$verify_output" || {
            echo "$verify_output" >&2
            echo "FAIL: $program: no '$expected'" >&2
            exit 1
        }
    done
done

# A changed byte in a signed section must break the signature.
tampered=$work/tampered.exe
cp "$signed" "$tampered"
middle=$(( $(stat -c %s "$original") / 2 ))
byte=$(od -An -tu1 -j"$middle" -N1 "$signed" | tr -d ' ')
printf "\\$(printf %03o $(( 255 - byte )))" | dd of="$tampered" bs=1 seek="$middle" conv=notrunc status=none
cmp -s "$signed" "$tampered" && { echo "FAIL: the test did not change the copy" >&2; exit 1; }
if osslsigncode verify -CAfile "$work/cert.pem" -in "$tampered" >/dev/null 2>&1; then
    echo "FAIL: a changed byte still verifies" >&2
    exit 1
fi

# Only the PE checksum (4 bytes at header+88) and the certificate-table entry
# (8 bytes at header+24+144, PE32+) may differ; the signature is appended.
pe=$(od -An -tu4 -j60 -N4 "$original" | tr -d ' ')
allowed() {
    local offset=$1
    (( offset >= pe + 88 && offset < pe + 92 )) || (( offset >= pe + 168 && offset < pe + 176 ))
}
size=$(stat -c %s "$original")
(( $(stat -c %s "$signed") > size )) || { echo "FAIL: nothing appended" >&2; exit 1; }
while read -r position _ _; do
    offset=$(( position - 1 ))
    if ! allowed "$offset"; then
        echo "FAIL: signing changed the byte at offset $offset" >&2
        exit 1
    fi
done < <(cmp -l -n "$size" "$original" "$signed" || true)

# The signed installer's payload extracts and verifies.
HV_TEST_INSTALLER=$signed HV_TEST_BINARY_DIR=$binary HV_TEST_SOURCE_DIR=$source \
    "$source/scripts/wine-run" "$binary/wine" "$binary/tests/payload/test_payload_resource.exe" \
    --gtest_brief=1 --gtest_filter='PayloadResource.InstallerPayload*'
echo "signed, verified, sections unchanged, payload extracts"
