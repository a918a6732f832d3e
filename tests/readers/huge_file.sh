#!/usr/bin/env bash
# Reads a file beyond 4 GiB back through the outside readers. Not part of the default test run:
# it writes an image of 4 GiB and streams it about ten times (minutes).
#
# A sparse source of 2^32 + 4103 bytes, with marker bytes at its start, on both sides of the
# first extent boundary (2^32 - 2048) and at its end, lies between two small files. xorriso,
# bsdtar and 7-Zip stream the whole file, hashed against its source, and the small file after
# it, in each tree they can choose (7-Zip shows the Joliet tree only). isoinfo and libcdio's
# iso-info list the run of records but do not join the extents when they read a file: that is
# their limit, shown with what they read, not counted as a failure.
#
# Usage: tests/readers/huge_file.sh [TAVRINE_CLI]   (default build/bin/tavrine-cli)
# Scratch space: $TMPDIR, else /dev/shm (a sparse source reads fastest from memory).
set -uo pipefail
cli=$(realpath "${1:-build/bin/tavrine-cli}")
scratch=$(mktemp -d "${TMPDIR:-/dev/shm}/tavrine-huge-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

size=$(((1 << 32) + 4103))
boundary=4294965248
truncate -s "$size" huge.bin
mark() { printf '%s' "$2" | dd of=huge.bin bs=1 seek="$1" conv=notrunc status=none; }
mark 0 start
mark $((boundary - 6)) before
mark "$boundary" after
mark $((size - 3)) end
printf 'first\n' >a.txt
printf 'last file\n' >z.txt
"$cli" -q -o image.iso a.txt huge.bin z.txt || exit 1

want_huge=$(sha256sum <huge.bin | cut -d' ' -f1)
want_last=$(sha256sum <z.txt | cut -d' ' -f1)
failures=0
# check READER TREE FILE EXPECTED_HASH COMMAND...: hashes what the command writes to stdout.
check() {
  local reader=$1 tree=$2 file=$3 want=$4
  shift 4
  local got
  got=$("$@" 2>/dev/null | sha256sum | cut -d' ' -f1)
  if [ "$got" = "$want" ]; then
    echo "ok    $reader $tree $file"
  else
    echo "FAIL  $reader $tree $file: hash $got"
    failures=$((failures + 1))
  fi
}

for tree in iso9660 joliet; do
  huge=/huge.bin last=/z.txt xo=() bt=()
  if [ $tree = iso9660 ]; then
    huge=/HUGE.BIN last=/Z.TXT xo=(-read_fs ecma119) bt=(--options 'iso9660:!joliet')
  fi
  for file in "$huge" "$last"; do
    want=$want_huge
    [ "$file" = "$last" ] && want=$want_last
    check xorriso $tree "$file" "$want" \
      xorriso -osirrox on "${xo[@]}" -indev image.iso -concat pipe / /bin/cat / "$file"
    check bsdtar $tree "$file" "$want" bsdtar "${bt[@]}" -xOf image.iso "${file#/}"
    [ $tree = joliet ] && check 7-Zip $tree "$file" "$want" 7z e -so image.iso "${file#/}"
  done
done

# The readers that do not join extents: what they list, and what they read of the file.
limit() {
  local reader=$1 records=$2
  shift 2
  local bytes status
  bytes=$("$@" 2>/dev/null | wc -c)
  status=${PIPESTATUS[0]}
  echo "limit $reader lists $records records for huge.bin; reads $bytes of $size bytes (exit $status)"
}
limit isoinfo "$(isoinfo -i image.iso -J -l | grep -c ' huge.bin')" \
  isoinfo -i image.iso -J -x /huge.bin
limit iso-info/iso-read "$(iso-info --no-header -l -i image.iso | grep -c ' huge.bin')" \
  iso-read --no-header -i image.iso -e /huge.bin -o /dev/stdout

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
