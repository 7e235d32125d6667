#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test.
#   ZR_BUILD_DIR    build directory (default: build/ in the repository)
#   ZR_CMAKE_ARGS   extra arguments for the configure step
#   ZR_JOBS         parallel build and test jobs (default: 2)
#   ZR_FAIL_ON_SKIP nonzero: a skipped test fails the run (CI sets it)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZR_BUILD_DIR:-$root/build}
jobs=${ZR_JOBS:-2}

"$root/setup.sh"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -G Ninja ${ZR_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
cd "$build"
log="$build/ctest-output.log"
ctest --output-on-failure -j "$jobs" 2>&1 | tee "$log"
if [[ ${ZR_FAIL_ON_SKIP:-0} != 0 ]] && grep -q 'The following tests did not run' "$log"; then
  echo "test.sh: tests were skipped (listed above); this run requires every test to run" >&2
  exit 1
fi
