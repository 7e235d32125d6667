#!/usr/bin/env bash
# wine-run.sh ARCH PREFIX PROGRAM [ARGS...]: runs a Windows program of ARCH
# (i686 or x86_64) under Wine in PREFIX (unless WINEPREFIX is set), quietly
# and without the offers to install the .NET and HTML runtimes. An X display
# must be there (xvfb-run).
set -euo pipefail
arch=$1 prefix=$2
shift 2
export WINEPREFIX=${WINEPREFIX:-$prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [[ $arch == x86_64 ]]; then
    # The 64-bit loader directly: the wine launcher prefers the 32-bit one.
    export WINELOADER=/usr/lib/wine/wine64
    exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
