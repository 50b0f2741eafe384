#!/usr/bin/env bash
# Native test of the payload packer: pack, list and verify a manifest, and
# refuse damaged archives.
#   payload_packer_test.sh PACKER WORK_DIR
set -euo pipefail
packer=$1
work=$2-$$ # its own folder when test runs of one build tree overlap
rm -rf "$work"
mkdir -p "$work/files/sub"
trap 'rm -rf "$work"' EXIT

printf 'first file\n' > "$work/files/a.txt"
head -c 300000 /dev/urandom > "$work/files/sub/random.bin"
: > "$work/files/empty"
printf 'Grüße, 世界 😀\n' > "$work/files/sub/unicode.txt"
printf '# comment\n\na.txt\t<InstallPath>\tprogram\nsub/random.bin\t<InstallPath>\\Lang\t0\nempty\t<Temporary>\ttransient\nsub/unicode.txt\t<CommonData>\\Ünïcode\tshared_data\n' > "$work/files/manifest.txt"

fail() { echo "FAIL: $*" >&2; exit 1; }

"$packer" pack "$work/files/manifest.txt" "$work/p.bz2"
[[ $(head -c 4 "$work/p.bz2") == BZh9 ]] || fail "not a BZh9 stream"
bzip2 -t "$work/p.bz2" 2>/dev/null || [[ ! -x $(command -v bzip2) ]] || fail "bzip2 -t rejects the archive"

listing=$("$packer" list "$work/p.bz2")
echo "$listing"
header=$((12 + (4 + 2*5 + 4 + 2*13 + 16) + (4 + 2*14 + 4 + 2*18 + 16) + (4 + 2*5 + 4 + 2*11 + 16) + (4 + 2*15 + 4 + 2*20 + 16)))
total=$((header + 11 + 300000 + 0 + $(stat -c %s "$work/files/sub/unicode.txt")))
grep -q "entries 4, header size $header, total size $total" <<<"$listing" || fail "header size or total size"
grep -q "program .* 11 $(printf '%08X' "$(python3 -c "import zlib,sys; print(zlib.crc32(open(sys.argv[1],'rb').read()))" "$work/files/a.txt")") " <<<"$listing" || fail "CRC-32 of a.txt"
grep -q 'sub/unicode.txt -> <CommonData>\\Ünïcode' <<<"$listing" || fail "UTF-16 strings"

"$packer" verify "$work/p.bz2" || fail "verify of a sound archive"

# The decompressed archive, byte for byte.
python3 - "$work" <<'PY'
import bz2, struct, sys, zlib
work = sys.argv[1]
data = bz2.decompress(open(f"{work}/p.bz2", "rb").read())
header_size, count = struct.unpack_from("<QI", data, 0)
pos, files = 12, []
for _ in range(count):
    n, = struct.unpack_from("<I", data, pos); src = data[pos+4:pos+4+2*n].decode("utf-16-le"); pos += 4 + 2*n
    n, = struct.unpack_from("<I", data, pos); dst = data[pos+4:pos+4+2*n].decode("utf-16-le"); pos += 4 + 2*n
    kind, size, crc = struct.unpack_from("<IQI", data, pos); pos += 16
    files.append((src, dst, kind, size, crc))
assert pos == header_size, (pos, header_size)
for src, dst, kind, size, crc in files:
    body = data[pos:pos+size]; pos += size
    assert body == open(f"{work}/files/{src}", "rb").read(), src
    assert zlib.crc32(body) == crc, src
assert pos == len(data), "nothing after the last file"
assert [f[2] for f in files] == [1, 0, 5, 3]
PY

# Damaged archives are refused.
python3 - "$work" <<'PY'
import bz2, sys
work = sys.argv[1]
data = bytearray(bz2.decompress(open(f"{work}/p.bz2", "rb").read()))
crc_damaged = bytearray(data); crc_damaged[12 + 4 + 10 + 4 + 26 + 4 + 8] ^= 1
open(f"{work}/crc.bz2", "wb").write(bz2.compress(bytes(crc_damaged)))
open(f"{work}/short.bz2", "wb").write(bz2.compress(bytes(data[:-1])))
open(f"{work}/long.bz2", "wb").write(bz2.compress(bytes(data) + b"x"))
raw = open(f"{work}/p.bz2", "rb").read()
open(f"{work}/cut.bz2", "wb").write(raw[:-20])
PY
for damaged in crc short long cut; do
    if "$packer" verify "$work/$damaged.bz2" >/dev/null 2>&1; then fail "verify accepted $damaged"; fi
done
if "$packer" pack "$work/files/missing-manifest" "$work/x.bz2" 2>/dev/null; then fail "pack without manifest"; fi

# A write error (here the file-size limit, as a full disk would) ends the
# packer with a message instead of leaving it spinning, and leaves no file.
# SIGXFSZ is ignored so the limit reaches the packer as a failed write.
set +e
message=$( (trap '' XFSZ; ulimit -f 64; exec timeout 60 "$packer" pack "$work/files/manifest.txt" "$work/limited.bz2") 2>&1 >/dev/null)
status=$?
set -e
[[ $status -ne 124 ]] || fail "the packer hung on a write error"
[[ $status -eq 1 ]] || fail "a write error gave exit code $status"
grep -q 'cannot write' <<<"$message" || fail "no message for the write error: $message"
[[ ! -e $work/limited.bz2 && ! -e $work/limited.bz2.partial ]] || fail "a failed pack left a file behind"
echo "payload packer: all checks passed"
