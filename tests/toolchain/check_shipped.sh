#!/usr/bin/env bash
# Fails unless every PE file given is fit to ship: no debug sections, no symbol table,
# and no link time in its header (a reproducible build writes 0).
set -euo pipefail
objdump=$1
shift
status=0
for pe in "$@"; do
    flags=$("$objdump" -f "$pe")
    if grep -Eq 'HAS_DEBUG|HAS_SYMS' <<<"$flags"; then
        echo "FAIL: $pe: symbols or debug information: $(grep flags <<<"$flags")" >&2
        status=1
    fi
    if "$objdump" -h "$pe" | grep -q '\.debug'; then
        echo "FAIL: $pe: debug sections:" >&2
        "$objdump" -h "$pe" | grep '\.debug' >&2
        status=1
    fi
    # TimeDateStamp of the COFF file header (4 bytes at PE header + 8).
    pe_offset=$(od -An -tu4 -j60 -N4 "$pe" | tr -d ' ')
    stamp=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$pe" | tr -d ' ')
    if [[ $stamp != 0 ]]; then
        echo "FAIL: $pe: link time stamp $stamp in the header" >&2
        status=1
    else
        echo "ok      $pe: no time stamp"
    fi
done
exit $status
