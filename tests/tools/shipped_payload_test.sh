#!/usr/bin/env bash
# The installer's shipped payload: 27 entries with their kinds and
# destinations, header size 4072, and an archive that verifies.
#   shipped_payload_test.sh PACKER ARCHIVE
set -euo pipefail
packer=$1
archive=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

listing=$("$packer" list "$archive")
echo "$listing"
grep -q '^entries 27, header size 4072, ' <<<"$listing" || fail "27 entries and header size 4072"

# kind, file name, destination, in archive order
expected=$(cat <<'TABLE'
regular|Quillmar.de.dll|<InstallPath>\Lang
regular|Quillmar.en.dll|<InstallPath>\Lang
regular|Quillmar.es.dll|<InstallPath>\Lang
regular|Quillmar.hu.dll|<InstallPath>\Lang
regular|Quillmar.it.dll|<InstallPath>\Lang
regular|Quillmar.pl.dll|<InstallPath>\Lang
regular|Quillmar.pt.dll|<InstallPath>\Lang
regular|Quillmar.ro.dll|<InstallPath>\Lang
regular|Quillmar.tk.dll|<InstallPath>\Lang
program|Quillmar.exe|<InstallPath>
uninstaller|Uninstall.exe|<InstallPath>
shared_data|Quillmar.ini|<CommonData>\Halden & Voss\Quillmar
shared_data|Styles.ini|<CommonData>\Halden & Voss\Quillmar
shared_data|UserDictionary.dic|<UserData>\Halden & Voss\Quillmar
sample|Welcome.qmd|<SamplePath>
sample|Letter.qmd|<SamplePath>
sample|Invoice.qmd|<SamplePath>
sample|Meeting Notes.qmd|<SamplePath>
sample|Recipe.qmd|<SamplePath>
sample|Travel Plan.qmd|<SamplePath>
sample|Newsletter.qmd|<SamplePath>
sample|Report.qmd|<SamplePath>
sample|Poem.qmd|<SamplePath>
sample|Checklist.qmd|<SamplePath>
sample|Shopping List.qmd|<SamplePath>
sample|Tables.qmd|<SamplePath>
sample|Styles.qmd|<SamplePath>
TABLE
)
# "#  kind  size  crc32  source -> destination"; the source's last element is the file name.
actual=$(sed -n '2,28p' <<<"$listing" |
    sed -E 's/^[0-9]+ +([a-z_]+) +[0-9]+ [0-9A-F]{8} +(.*) -> (.*)$/\1|\2|\3/' |
    awk -F'|' -v OFS='|' '{ n = split($2, parts, "/"); $2 = parts[n]; print }')
[[ $actual == "$expected" ]] || { diff <(echo "$expected") <(echo "$actual") >&2 || true; fail "kinds, names and destinations"; }

# Every file is a real one: the programs and libraries are PE images.
python3 - "$archive" <<'PY'
import bz2, struct, sys
data = bz2.decompress(open(sys.argv[1], "rb").read())
header_size, count = struct.unpack_from("<QI", data, 0)
pos, entries = 12, []
for _ in range(count):
    n, = struct.unpack_from("<I", data, pos); src = data[pos+4:pos+4+2*n].decode("utf-16-le"); pos += 4 + 2*n
    n, = struct.unpack_from("<I", data, pos); pos += 4 + 2*n
    kind, size, crc = struct.unpack_from("<IQI", data, pos); pos += 16
    entries.append((src, kind, size))
pos = header_size
for src, kind, size in entries:
    body = data[pos:pos+size]; pos += size
    if src.endswith((".exe", ".dll")):
        assert body[:2] == b"MZ", src
    else:
        assert body[:2] == b"\xff\xfe", src + " is not UTF-16 with a byte-order mark"
assert pos == len(data)
PY

"$packer" verify "$archive" || fail "verify"
echo "PASS"
