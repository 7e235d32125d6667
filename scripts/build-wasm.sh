#!/usr/bin/env bash
# Builds the decoder for browsers and Node with emscripten:
#   scripts/build-wasm.sh [OUTDIR]     (default: build/web)
# writes OUTDIR/zr-wasm.js (an ES module factory) and OUTDIR/zr-wasm.wasm,
# which web/zr-decoder.js loads. Compiles only what changed since the last run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/build/web}
jobs=${ZR_JOBS:-2}

if ! command -v em++ >/dev/null; then
  echo "build-wasm.sh: em++ not found; run ./setup.sh (Debian's emscripten package)" >&2
  exit 1
fi
# Debian's emscripten runs its JavaScript optimiser under Node with Debian's
# acorn modules.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

sources=()
for dir in core entropy synth recon session onepass progressive decoder; do
  sources+=("$root"/codec/$dir/*.cpp)
done
sources+=("$root"/codec/*.cpp "$root/tools/stream_info.cpp" "$root/web/wasm/zr_wasm.cpp")

cflags=(-std=c++20 -O2 -fwrapv -fno-exceptions -Wall -Wextra -I"$root" -DNDEBUG)
objdir=$out/obj
mkdir -p "$objdir"
# Other flags (or another emscripten) make every object stale.
# (sed reads the whole version text: head would close the pipe early and,
# under pipefail, em++'s broken pipe would fail the build now and then.)
stamp="$(em++ --version | sed -n 1p) ${cflags[*]}"
if [[ ! -f $objdir/flags || $(cat "$objdir/flags") != "$stamp" ]]; then
  rm -f "$objdir"/*.o "$objdir"/*.d
  printf '%s\n' "$stamp" >"$objdir/flags"
fi

# One object per source, named after its path; rebuilt when the source or a
# header it includes is newer (emcc writes make-style dependency files).
stale() {
  local object=$1 dep=$2 file
  [[ -f $object && -f $dep ]] || return 0
  for file in $(sed -e 's/\\$//' -e 's/^[^:]*://' "$dep"); do
    [[ $file -nt $object ]] && return 0
  done
  return 1
}
objects=()
todo=()
for source in "${sources[@]}"; do
  name=${source#"$root"/}
  object=$objdir/${name//\//_}.o
  objects+=("$object")
  if stale "$object" "${object%.o}.d"; then
    todo+=("$source" "$object")
  fi
done
if [[ ${#todo[@]} -gt 0 ]]; then
  echo "build-wasm.sh: compiling $((${#todo[@]} / 2)) sources"
  printf '%s\n' "${todo[@]}" | xargs -d '\n' -n 2 -P "$jobs" \
    bash -c 'source=${@: -2:1} object=${@: -1}
             em++ "${@:1:$#-2}" -MMD -MF "${object%.o}.d" -c "$source" -o "$object"' em++ "${cflags[@]}"
fi

exports=_zrwCreate,_zrwInput,_zrwAppend,_zrwResult,_zrwHeader,_zrwReason,_zrwFinish,_zrwPixels,_zrwStatusText,_zrwFree
em++ "${objects[@]}" -O2 -o "$out/zr-wasm.js" \
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createZrModule \
  -sENVIRONMENT=web,worker -sALLOW_MEMORY_GROWTH=1 -sFILESYSTEM=0 -sASYNCIFY=1 \
  -sEXPORTED_FUNCTIONS="$exports" -sEXPORTED_RUNTIME_METHODS=HEAPU8,HEAP32
wasm=$(stat -c %s "$out/zr-wasm.wasm")
echo "build-wasm.sh: $out/zr-wasm.wasm ($wasm bytes), $out/zr-wasm.js"
