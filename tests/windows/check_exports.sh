#!/usr/bin/env bash
# zr32ut.dll exports exactly its six names, undecorated, and zr32serv.exe
# imports it.
set -euo pipefail
objdump=$1 dll=$2 server=$3

exports=$("$objdump" -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {table = 1; next} table && /^[[:space:]]*\[/ {print $NF; next} table {table = 0}' |
    LC_ALL=C sort | tr '\n' ' ')
expected="CloseThunk InitThunk UT32CBProc _ZrDecompressCBFunc dispImageProg ut_ptr16to32 "
if [[ $exports != "$expected" ]]; then
    echo "zr32ut.dll exports '$exports', expected '$expected'" >&2
    exit 1
fi
if [[ $("$objdump" -p "$server") != *"DLL Name: zr32ut.dll"* ]]; then
    echo "zr32serv.exe does not import zr32ut.dll" >&2
    exit 1
fi
echo "exports: $exports"
