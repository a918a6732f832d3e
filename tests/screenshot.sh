#!/usr/bin/env bash
# Takes a screenshot of the real window under Xvfb after a build: docs/window.png.
#   tests/screenshot.sh [build folder] [output png]
# QT_SCALE_FACTOR=2 tests/screenshot.sh build /tmp/window@2x.png checks the window at 200%.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/window.png}
program="$build/bin/tavrine"
[ -x "$program" ] || { echo "error: $program not built (cmake --build $build --target tavrine)" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
# A settings folder of its own, so that the picture shows the first start and touches nothing.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$program" --screenshot "$(realpath -m "$out")"
echo "$out"
