#!/usr/bin/env bash
# Fails unless every DLL a PE file imports is one the loader takes only from
# the system (KnownDLLs and ntdll): a DLL of any other name planted beside the
# program would be loaded in place of the system's. comctl32 is loaded at run
# time once the search is limited: imported, Wine resolves what it loads
# later (uxtheme, msimg32) from the program's folder.
set -euo pipefail
objdump=$1
pe=$2
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comdlg32|msvcrt|imm32|ws2_32|rpcrt4|setupapi|psapi|ntdll)\.dll$'
mapfile -t dlls < <("$objdump" -p "$pe" | awk '/DLL Name:/ { print tolower($3) }' | sort -u)
[[ ${#dlls[@]} -gt 0 ]] || { echo "no imports found in $pe" >&2; exit 1; }
status=0
for dll in "${dlls[@]}"; do
    if [[ $dll =~ $allowed ]]; then
        echo "ok      $dll"
    else
        echo "FOREIGN $dll" >&2
        status=1
    fi
done
exit $status
