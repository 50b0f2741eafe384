#!/usr/bin/env bash
# Fails unless every DLL a PE file imports is a Windows system DLL.
set -euo pipefail
objdump=$1
pe=$2
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|version|bcrypt|msvcrt|ntdll|uxtheme|ws2_32|rpcrt4|secur32|crypt32|api-ms-win-.*)\.dll$'
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
