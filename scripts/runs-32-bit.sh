#!/usr/bin/env bash
# Exit status 0 when this machine can run 32-bit x86 Linux programs (a kernel
# with ia32 emulation and the 32-bit compiler libraries).
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo 'int main(void) { return 0; }' >"$dir/probe.c"
gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>/dev/null && "$dir/probe" 2>/dev/null
