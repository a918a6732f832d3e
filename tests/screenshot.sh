#!/usr/bin/env bash
# Takes pictures of the real window under Xvfb after a build of the sample folder, at the
# default size and maximised: docs/window.png and docs/window-maximised.png.
#   tests/screenshot.sh [build folder] [output folder]
# QT_SCALE_FACTOR=2 tests/screenshot.sh build /tmp checks the window at 200%.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$(realpath -m "${2:-docs}")
program="$build/bin/tavrine"
[ -x "$program" ] || { echo "error: $program not built (cmake --build $build --target tavrine)" >&2; exit 1; }
mkdir -p "$out"
# A settings folder of its own, so that the pictures show the first start and touch nothing.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
for shot in "window.png" "window-maximised.png --maximised"; do
  set -- $shot
  XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1280x800x24" \
    "$program" --screenshot "$out/$1" "${@:2}"
  echo "$out/$1"
done
