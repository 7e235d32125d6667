#!/usr/bin/env bash
# Builds the fuzz targets with clang, ASan and UBSan into build-fuzz/ (or
# $ZR_FUZZ_BUILD_DIR). Arguments name targets to build; none builds all.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZR_FUZZ_BUILD_DIR:-$root/build-fuzz}
cxx=${ZR_FUZZ_CXX:-$(command -v clang++ || command -v clang++-14)}

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
if [[ $# -gt 0 ]]; then
  cmake --build "$build" -j "${ZR_JOBS:-2}" --target "$@"
else
  cmake --build "$build" -j "${ZR_JOBS:-2}"
fi
