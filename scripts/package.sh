#!/usr/bin/env bash
# Builds Tavrine's Debian package and prints its path.
#   scripts/package.sh                      release build in build-package/, package in out/
#   scripts/package.sh BUILD_DIR [OUT_DIR]  package an existing build (out/ by default)
# The package's dependencies are read from the binaries by dpkg-shlibdeps.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
out=$(mkdir -p "${2:-$src/out}" && cd "${2:-$src/out}" && pwd)
if [ -z "$build" ]; then
  source "$src/scripts/deps.sh"
  tavrine_ensure_packages "${TAVRINE_BUILD_PACKAGES[@]}" dpkg-dev
  build=$src/build-package
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRINE_BUILD_APP=ON \
    -DTAVRINE_BUILD_TESTS=OFF -DTAVRINE_BUILD_BENCH=OFF >&2
  cmake --build "$build" -j "$(nproc)" >&2
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$build" && cpack -G DEB -B "$out") >&2
echo "$out/tavrine_${version}_$(dpkg --print-architecture).deb"
