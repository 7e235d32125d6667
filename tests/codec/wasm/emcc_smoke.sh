#!/usr/bin/env bash
# Builds the decoder and the incremental smoke program with emcc (WebAssembly,
# no threads) and runs it under node on the samples: it must pass its own
# checks and print what the native build prints.
#   emcc_smoke.sh SOURCE_ROOT OUT_DIR NATIVE_SMOKE_PROGRAM
# Exits 77 (SKIPPED) when emcc or node is missing.
set -euo pipefail

root="$1"
out="$2"
native="$3"
emcc="${EMCC:-emcc}"

for tool in "$emcc" node; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool not found (setup.sh installs Debian's emscripten, node-acorn and nodejs)"
        exit 77
    fi
done
# Debian's emscripten runs its optimiser under node and needs acorn from here.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"

# Objects of sources that moved or went away must not be linked.
rm -rf "$out/objects"
mkdir -p "$out/objects"
# The module emcc writes is CommonJS, whatever the repository's package.json says.
echo '{"type": "commonjs"}' >"$out/package.json"
# Every decoder source: codec/ and its folders except the encoder.
mapfile -t sources < <(find "$root/codec" -name '*.cpp' -not -path "$root/codec/encoder/*" | sort)
sources+=("$root/tests/codec/wasm/incremental_smoke.cpp")

flags=(-std=c++20 -O2 -fwrapv -Wall -Wextra -I"$root")
running=0
for source in "${sources[@]}"; do
    object="$out/objects/$(echo "${source#"$root"/}" | tr / _).o"
    "$emcc" "${flags[@]}" -c "$source" -o "$object" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait
# Fibers need Asyncify, and fiber_returns.js gives JavaScript the statuses of
# calls that switched fibers. Node cannot fetch a file: URL, so the module is
# compiled synchronously.
exports=_main,_malloc,_free,_zrFree,_zrIncrementalNew,_zrIncrementalAppend,_zrIncrementalInfo
exports+=,_zrIncrementalLatest,_zrIncrementalFinish,_zrIncrementalFree
"$emcc" "${flags[@]}" -sASYNCIFY -sALLOW_MEMORY_GROWTH=1 -sENVIRONMENT=node -sNODERAWFS=1 \
    -sWASM_ASYNC_COMPILATION=0 -sMODULARIZE=1 -sEXPORTED_FUNCTIONS="$exports" \
    -sALLOW_TABLE_GROWTH=1 -sEXPORTED_RUNTIME_METHODS=callMain,addFunction \
    --post-js "$root/codec/fiber_returns.js" "$out"/objects/*.o -o "$out/incremental_smoke.js"

samples=("$root"/samples/*.zr)
node "$root/tests/codec/wasm/incremental_smoke.cjs" "$out/incremental_smoke.js" "${samples[@]}" >"$out/wasm.txt"
"$native" --js "${samples[@]}" >"$out/native.txt"
if ! diff "$out/native.txt" "$out/wasm.txt"; then
    echo "emcc smoke: the WebAssembly decoder differs from the native one" >&2
    exit 1
fi
cat "$out/wasm.txt"
echo "emcc smoke: $(stat -c %s "$out/incremental_smoke.wasm") bytes of WebAssembly, same results as native"
