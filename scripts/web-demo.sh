#!/usr/bin/env bash
# Serves the viewer page, the samples and the WebAssembly build on 127.0.0.1
# (building the WebAssembly decoder first when it is missing):
#   scripts/web-demo.sh [--port N] [--rate BYTES_PER_SECOND]
# .zr files are sent at --rate bytes per second (default 4000) so that their
# coarse stages can be watched; --rate 0 sends them at once.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wasm=${ZR_BUILD_DIR:-$root/build}/web
if [[ ${1:-} != --help && ${1:-} != -h && ! -f $wasm/zr-wasm.wasm ]]; then
  "$root/scripts/build-wasm.sh" "$wasm"
fi
exec node "$root/scripts/web-server.mjs" --wasm "$wasm" "$@"
