#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavrine's window.
#   ./run.sh            the window
#   ./run.sh cli ARGS   the command-line tool, tavrine-cli ARGS (try: ./run.sh cli --help)
#   ./run.sh --help     this text
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'
  echo "After a build the programs are in build/bin/: tavrine (the window) and tavrine-cli."
  exit 0
fi
source scripts/deps.sh
tavrine_ensure_packages "${TAVRINE_BUILD_PACKAGES[@]}"
cmake --preset default -DTAVRINE_BUILD_TESTS=OFF -DTAVRINE_BUILD_BENCH=OFF >/dev/null
cmake --build --preset default -j "$(nproc)" --target tavrine tavrine-cli >&2
if [ "${1:-}" = "cli" ]; then
  shift
  exec build/bin/tavrine-cli "$@"
fi
exec build/bin/tavrine "$@"
