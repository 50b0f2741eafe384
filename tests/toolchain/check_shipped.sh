#!/usr/bin/env bash
# Fails unless a PE file is fit to ship: no debug sections, no symbol table,
# and no link time in its header (a reproducible build writes 0).
set -euo pipefail
objdump=$1
pe=$2
status=0
flags=$("$objdump" -f "$pe")
if grep -Eq 'HAS_DEBUG|HAS_SYMS' <<<"$flags"; then
    echo "FAIL: symbols or debug information: $(grep flags <<<"$flags")" >&2
    status=1
fi
if "$objdump" -h "$pe" | grep -q '\.debug'; then
    echo "FAIL: debug sections:" >&2
    "$objdump" -h "$pe" | grep '\.debug' >&2
    status=1
fi
# TimeDateStamp of the COFF file header (4 bytes at PE header + 8).
pe_offset=$(od -An -tu4 -j60 -N4 "$pe" | tr -d ' ')
stamp=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$pe" | tr -d ' ')
if [[ $stamp != 0 ]]; then
    echo "FAIL: link time stamp $stamp in the header" >&2
    status=1
fi
[[ $status == 0 ]] && echo "ok      $pe: stripped, no time stamp"
exit $status
