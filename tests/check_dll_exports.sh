#!/usr/bin/env bash
# The DLL must export exactly the functions the public header declares, under undecorated names,
# and need no library beside those every Windows system has.
set -euo pipefail
dll=$1
header=$2
expected=$(grep -oE 'D2U_EXPORT[^;(]*D2U_API[[:space:]]+[A-Za-z0-9_]+' "$header" \
    | sed -E 's/.*D2U_API[[:space:]]+//' | sort -u)
actual=$(i686-w64-mingw32-objdump -p "$dll" \
    | awk '/\[Ordinal\/Name Pointer\] Table/{table=1; next} table && /^[ \t]*\[/{print $NF; next} table && NF==0{table=0}' \
    | sort -u)
if [ "$expected" != "$actual" ]; then
    echo "DLL exports differ from the header:"
    diff <(echo "$expected") <(echo "$actual") || true
    echo "0 passed, 1 failed"
    exit 1
fi
imports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
if [ "$(echo "$imports" | grep -viE '^(kernel32|msvcrt)\.dll$' || true)" != "" ]; then
    echo "DLL needs libraries beside the system's:" $imports
    echo "0 passed, 1 failed"
    exit 1
fi
count=$(echo "$expected" | wc -l)
echo "DLL export table matches the header: $count undecorated names"
echo "1 passed, 0 failed"
