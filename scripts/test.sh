#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test.
#   ZR_BUILD_DIR    build directory (default: build/ in the repository)
#   ZR_CMAKE_ARGS   extra arguments for the configure step
#   ZR_JOBS         parallel build and test jobs (default: 2)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZR_BUILD_DIR:-$root/build}
jobs=${ZR_JOBS:-2}

"$root/setup.sh"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -G Ninja ${ZR_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs"
