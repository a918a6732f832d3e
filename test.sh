#!/usr/bin/env bash
# Installs what is missing, builds twice (release, and sanitizers), and runs every test.
# The last line is ctest's own summary of the full release run.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
tavrine_ensure_packages "${TAVRINE_BUILD_PACKAGES[@]}" "${TAVRINE_TEST_PACKAGES[@]}"

jobs=$(nproc)

echo "== sanitizer build (address, undefined behaviour): core and command line ==" >&2
cmake --preset asan -DTAVRINE_BUILD_TESTS=ON >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan

echo "== release build: everything ==" >&2
cmake --preset default -DTAVRINE_BUILD_TESTS=ON -DTAVRINE_BUILD_BENCH=ON -DTAVRINE_BUILD_APP=ON >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default
