#!/bin/bash
# The speed of tavrine-cli --verify against reading the same bytes with cat: the image and every
# source file into /dev/null. Both run warm (the files in the page cache), RUNS times each,
# alternating; prints every wall time, every CPU time (user + system: on a busy machine the
# steadier figure), and the peak memory of --verify.
#   bench/verify_bench.sh [build/bin/tavrine-cli] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/bin/tavrine-cli}")
runs=${2:-5}
python3 "$here/gen_inputs.py" --inputs big,many >&2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

seconds() { /usr/bin/time -f "%e %U %S %M" "$@" 2>&1 >/dev/null | tail -1; }
cpu() { awk -v a="$1" -v b="$2" 'BEGIN { print a + b }'; }

for input in big many; do
  src="$here/data/$input"
  "$cli" -q -o "$out/$input.iso" "$src"
  cat_times=() cat_cpu=() verify_times=() verify_cpu=() memory=0
  for ((i = 0; i < runs; i++)); do
    read -r t u s _ < <(seconds sh -c 'cat "$1" >/dev/null; find "$2" -type f -print0 | xargs -0 cat >/dev/null' \
      _ "$out/$input.iso" "$src")
    cat_times+=("$t") cat_cpu+=("$(cpu "$u" "$s")")
    read -r t u s kib < <(seconds "$cli" -q --verify "$out/$input.iso" "$src")
    verify_times+=("$t") verify_cpu+=("$(cpu "$u" "$s")")
    ((kib > memory)) && memory=$kib
  done
  echo "$input: wall: cat ${cat_times[*]} s, --verify ${verify_times[*]} s"
  echo "$input: cpu:  cat ${cat_cpu[*]} s, --verify ${verify_cpu[*]} s; --verify peak $((memory / 1024)) MiB"
done
uptime
