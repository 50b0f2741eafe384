#!/usr/bin/env python3
"""Where the bytes of a linked Windows program come from.

  size_report.py [--check] [--target BYTES] PROGRAM MAP [PAYLOAD]

PROGRAM is the linked executable, MAP the linker's map of it (-Wl,-Map),
PAYLOAD the compressed archive its resources carry, if any. Prints two
Markdown tables: the program's sections as objdump lists them, and the
bytes each origin brought into each kind of section, read from the input
sections of the map. Code that templates and inline functions of a
header-only library put into our objects is counted for that library (by
the outermost namespace of its section's symbol), so the C++ library's
templates, fmt and Boost show up beside the archives they do not come from.
The rows add up to the program's size (.bss, which takes no room in the
file, is left out of them).

--target BYTES: adds whether the overhead (the program less its payload)
stays within BYTES, and what the C++ library's own objects take of it.
--check: exits 1 unless, for every section, the map accounts for its size
within 1% (the map was read fully and belongs to the program).
"""
import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")
FILE_ALIGNMENT = 0x200

# The columns of the origin table: kinds of output sections.
COLUMNS = [
    ("code", (".text",)),
    ("read-only data", (".rdata",)),
    ("unwind tables", (".pdata", ".xdata")),
    ("data", (".data", ".tls", ".CRT")),
    ("imports", (".idata",)),
    ("resources", (".rsrc",)),
    ("relocations", (".reloc",)),
]

PAYLOAD_ROW = "resources: the compressed payload"
RESOURCES_ROW = "resources: dialogs, strings, pictures, icons, manifest, version"
PADDING_ROW = "headers, alignment and padding"


def sections(program):
    """[(name, size, bytes in the file)] of the program's sections."""
    out = subprocess.run([OBJDUMP, "-h", program], check=True, capture_output=True, text=True).stdout
    lines = out.splitlines()
    rows = []
    for i, line in enumerate(lines):
        m = re.match(r"\s*\d+\s+(\S+)\s+([0-9a-f]{8,})\s", line)
        if not m:
            continue
        size = int(m.group(2), 16)
        flags = lines[i + 1] if i + 1 < len(lines) else ""
        in_file = -(-size // FILE_ALIGNMENT) * FILE_ALIGNMENT if "CONTENTS" in flags else 0
        rows.append((m.group(1), size, in_file))
    return rows


def outermost_name(mangled):
    """The outermost namespace or class of an Itanium-mangled symbol ("std"
    for the standard library's abbreviations), or None."""
    if not mangled.startswith("_Z"):
        return None
    s = mangled[2:]
    # Special names: vtables, type information, guard variables, thunks.
    m = re.match(r"(TV|TI|TS|TT|GV|GR|TH|TW|T[hv][^_]*_|Tc[^_]*_[^_]*_)", s)
    if m:
        s = s[m.end():]
        if s.startswith("_Z"):
            s = s[2:]
    s = s.lstrip("N").lstrip("rVKRO")
    if s.startswith("St") or re.match(r"S[absiod]", s):
        return "std"
    m = re.match(r"(\d+)", s)
    if not m:
        return None
    return s[m.end():m.end() + int(m.group(1))]


def header_library(section_name):
    """The header-only library whose template or inline code a section of
    one of our objects holds, or None for our own code."""
    if "$" not in section_name:
        return None
    first = outermost_name(section_name.split("$", 1)[1])
    if first in ("std", "__gnu_cxx", "__cxxabiv1"):
        return "libstdc++: templates and inline code in our objects"
    if first == "fmt":
        return "fmt (header-only)"
    if first == "boost":
        return "Boost headers (UUID, CRC, System, Iostreams templates)"
    return None


def origin_of_file(path):
    member = re.match(r"(.*?)(\((.*)\))?$", path)
    archive = os.path.basename(member.group(1))
    if archive == "libstdc++.a":
        return "libstdc++: library objects"
    if archive == "libboost_iostreams_bzip2.a":
        return "Boost.Iostreams bzip2 filter (library)"
    if archive == "libbz2.a":
        return "libbzip2"
    if archive in ("libgcc.a", "libgcc_eh.a"):
        return "libgcc"
    if archive in ("libpthread.a", "libwinpthread.a"):
        return "winpthreads"
    if archive in ("libmingw32.a", "libmingwex.a", "libmsvcrt.a", "libmoldname.a",
                   "crt2.o", "crt2u.o", "crtbegin.o", "crtend.o", "dllcrt2.o"):
        return "mingw-w64 C runtime"
    if archive.endswith(".res"):
        return RESOURCES_ROW
    m = re.match(r"lib(hv_\w+)\.a$", archive)
    if m:
        return "ours: " + m.group(1)
    if archive.endswith((".obj", ".o")):
        return "ours: the program's own objects"
    if archive.endswith(".a"):
        return "Windows import libraries"
    return "linker: generated"


# The parts of the C++ library, by the names of its archive members.
LIBRARY_PARTS = [
    ("locale and its facets (every facet for char and wchar_t)",
     r"locale|facets|codecvt|ctype|_members|messages|monetary|numeric|time_|misc-inst"),
    ("streams (ios, istream, ostream, fstream, sstream, streambuf)", r"stream|ios|basic_file|compatibility"),
    ("file system (std::filesystem)", r"^fs_|^cow-fs_"),
    ("strings (std::string and std::wstring, both ABIs)", r"string"),
    ("name demangler (uncaught exception texts)", r"demangle|vterminate"),
    ("exceptions, type information, allocation, threads, errors", r""),
]


def library_parts(map_path):
    """[(part, bytes)] of the C++ library's members in the map."""
    totals = {part: 0 for part, _ in LIBRARY_PARTS}
    for member, size in members(map_path, "libstdc++.a"):
        for part, pattern in LIBRARY_PARTS:
            if re.search(pattern, member):
                totals[part] += size
                break
    return [(part, totals[part]) for part, _ in LIBRARY_PARTS]


def input_sections(map_path):
    """(output section, input section, bytes, file) of the map's memory map."""
    with open(map_path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    start = text.find("Linker script and memory map")
    if start < 0:
        sys.exit(f"{map_path}: no memory map")
    output = None
    pending = None
    for line in text[start:].splitlines():
        if re.match(r"^\S", line):
            # An output section ("name address size"), or the script's text.
            output = line.split()[0] if line.startswith(".") else None
            pending = None
            continue
        if output is None:
            continue
        m = re.match(r"^ (\S+)\s*$", line)
        if m:
            pending = m.group(1)  # a long input section name; its numbers follow
            continue
        m = re.match(r"^ (\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        name = (m.group(1) or pending) if m else None
        pending = None
        if name is None or name.startswith("*"):
            continue
        yield output, name, int(m.group(2), 16), m.group(3)


def members(map_path, archive):
    """[(member, bytes in the file)] of one archive's members."""
    sizes = {}
    for output, _, size, path in input_sections(map_path):
        m = re.match(r"(.*)\((.*)\)$", path)
        if output != ".bss" and m and os.path.basename(m.group(1)) == archive:
            sizes[m.group(2)] = sizes.get(m.group(2), 0) + size
    return sorted(sizes.items(), key=lambda kv: -kv[1])


def contributions(map_path):
    """{origin: {output section: bytes}} from the map's memory map."""
    table = {}
    for output, name, size, path in input_sections(map_path):
        origin = origin_of_file(path)
        if origin.startswith("ours"):
            origin = header_library(name) or origin
        row = table.setdefault(origin, {})
        row[output] = row.get(output, 0) + size
    return table


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    target = None
    if "--target" in args:
        at = args.index("--target")
        target = int(args[at + 1])
        del args[at:at + 2]
    if len(args) not in (2, 3):
        sys.exit(__doc__)
    program, map_path = args[0], args[1]
    payload = os.path.getsize(args[2]) if len(args) == 3 else 0
    size = os.path.getsize(program)
    listed = sections(program)
    table = contributions(map_path)

    if payload:
        if table.get(RESOURCES_ROW, {}).get(".rsrc", 0) < payload:
            sys.exit(f"{map_path}: the resources hold less than the payload")
        table[RESOURCES_ROW][".rsrc"] -= payload
        table[PAYLOAD_ROW] = {".rsrc": payload}
    # .bss takes no room in the file: the origin table leaves it out.
    bss = {origin: row.pop(".bss", 0) for origin, row in table.items()}
    accounted = sum(sum(row.values()) for row in table.values())
    table[PADDING_ROW] = {"": size - accounted}

    name = os.path.basename(program)
    if payload:
        print(f"{name}: {size:,} bytes; the compressed payload {payload:,} bytes; "
              f"overhead (the rest) {size - payload:,} bytes.")
    else:
        print(f"{name}: {size:,} bytes.")
    print()
    print("| Section | Bytes | In the file |")
    print("|---|---:|---:|")
    for section, vsize, in_file in listed:
        print(f"| `{section}` | {vsize:,} | {in_file:,} |")
    print()
    heads = [c[0] for c in COLUMNS]
    print("| Origin | " + " | ".join(heads) + " | all |")
    print("|---|" + "---:|" * (len(heads) + 1))
    rows = []
    for origin, row in table.items():
        values = [sum(v for k, v in row.items() if k in names) for _, names in COLUMNS]
        rows.append((origin, values, sum(row.values())))
    last = (PAYLOAD_ROW, PADDING_ROW)
    rows.sort(key=lambda r: (r[0] in last, -r[2]))
    for origin, values, total in rows:
        print(f"| {origin} | " + " | ".join(f"{v:,}" for v in values) + f" | {total:,} |")
    totals = [sum(r[1][i] for r in rows) for i in range(len(COLUMNS))]
    print("| all | " + " | ".join(f"{v:,}" for v in totals) + f" | {sum(r[2] for r in rows):,} |")
    parts = library_parts(map_path)
    if any(size for _, size in parts):
        print()
        print("| The C++ library's objects | Bytes |")
        print("|---|---:|")
        for part, part_size in parts:
            print(f"| {part} | {part_size:,} |")
    if target is not None:
        overhead = size - payload
        library = sum(table.get("libstdc++: library objects", {}).values())
        verdict = "holds" if overhead <= target else "does not hold"
        print()
        print(f"- Overhead within {target:,} bytes: {verdict} ({overhead:,} bytes); the C++ library's "
              f"own objects take {library:,} bytes of it.")

    if check:
        status = 0
        for section, vsize, _ in listed:
            got = sum(row.get(section, 0) for row in table.values())
            if section == ".bss":
                got = sum(bss.values())
            if abs(got - vsize) > max(vsize // 100, 256):
                print(f"size_report: {section}: the map accounts for {got:,} of {vsize:,} bytes",
                      file=sys.stderr)
                status = 1
        sys.exit(status)


if __name__ == "__main__":
    main()
