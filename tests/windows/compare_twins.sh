#!/usr/bin/env bash
# compare_twins.sh BASE LINUX_PROGRAM WINDOWS_PROGRAM WINE_RUN... -- ARGS...:
# runs the Linux and the Windows build of one program, each writing its
# report to BASE-linux.txt and BASE-windows.txt (their first argument); the
# reports must be identical.
set -euo pipefail
base=$1 linux=$2 windows=$3
shift 3
wine_run=()
while [[ $1 != -- ]]; do wine_run+=("$1"); shift; done
shift

"$linux" "$base-linux.txt" "$@"
"${wine_run[@]}" "$windows" "$base-windows.txt" "$@"
if ! diff "$base-linux.txt" "$base-windows.txt" >"$base-differences.txt"; then
    head -60 "$base-differences.txt" >&2
    echo "the Linux and Windows reports differ (< Linux, > Windows; $base-differences.txt)" >&2
    exit 1
fi
echo "$(wc -l <"$base-linux.txt") report lines identical ($base-linux.txt)"
