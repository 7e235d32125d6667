#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the tools and CI
# need. Quick and quiet when everything is already installed.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
  clang libclang-rt-14-dev llvm
  g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386 xvfb xauth
  libjpeg-turbo-progs libopenjp2-tools netpbm hyperfine
  webp libavif-bin libjxl-tools python3-numpy python3-scipy python3-pil python3-matplotlib
  emscripten node-acorn nodejs chromium
  python3-pybind11 python3-numpy python3-pil python3-distributed python3-pytest python3-setuptools
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info eog x11-apps
)

# Node's packages for the browser test (playwright-core drives the chromium
# above; it downloads no browser of its own).
npm_packages() {
  local root lock
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  lock=$root/node_modules/.package-lock.json
  if [[ ! -f $lock || $root/package-lock.json -nt $lock ]]; then
    echo "setup.sh: installing Node packages (npm ci)"
    (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null || true)
  [[ $status == ii* ]] || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  npm_packages
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "setup.sh: missing packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

echo "setup.sh: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
npm_packages
