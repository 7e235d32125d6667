#!/usr/bin/env bash
# Fails when a codec file includes a folder above its own. The layers, lowest
# first (a folder may include itself and the folders listed for it):
#   core; entropy and synth on core; recon on synth; session on entropy;
#   onepass and progressive (the drivers) on session, entropy and recon;
#   decoder (the entry points) on both drivers; codec/*.{h,cpp} (the embedding
#   interface) on decoder; encoder on anything in codec.
# Nothing in codec includes a file outside codec.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

declare -A allowed=(
  [core]="core"
  [entropy]="core entropy"
  [synth]="core synth"
  [recon]="core synth recon"
  [session]="core entropy session"
  [onepass]="core entropy synth recon session onepass"
  [progressive]="core entropy synth recon session progressive"
  [decoder]="core entropy synth recon session onepass progressive decoder"
  [top]="core entropy synth recon session onepass progressive decoder top"
  [encoder]="core entropy synth recon session onepass progressive decoder top encoder"
)

status=0
while IFS= read -r file; do
  dir=${file#codec/}
  if [[ $dir == */* ]]; then layer=${dir%%/*}; else layer=top; fi
  if [[ -z ${allowed[$layer]+x} ]]; then
    echo "$file: folder codec/$layer has no place in the layers (add it to scripts/check-layers.sh)"
    status=1
    continue
  fi
  while IFS= read -r target; do
    case $target in
      codec/*/*) used=${target#codec/}; used=${used%%/*} ;;
      codec/*) used=top ;;
      *) echo "$file: includes $target, outside codec"; status=1; continue ;;
    esac
    if [[ " ${allowed[$layer]} " != *" $used "* ]]; then
      echo "$file: includes $target, a layer above codec/$layer"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files -co --exclude-standard 'codec/*.h' 'codec/*.cpp')

exit $status
