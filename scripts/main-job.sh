#!/usr/bin/env bash
# Sets up the machine, builds the tools and runs the main job on the bundled
# sample stream.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZR_BUILD_DIR:-$root/build}

"$root/setup.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "${ZR_JOBS:-2}" --target zrinfo zrplay
"$build/tools/zrinfo" "$root/samples/gradient-progressive.zr"
# Streams the sample through the server as the plug-in would and writes every
# stage, the final frame and a contact sheet.
"$build/tools/zrplay" "$root/samples/astronaut-progressive.zr" "$build/zrplay" --chunk 512 --interval 2048
echo "zrplay: stages and contact sheet in $build/zrplay"
