#!/usr/bin/env bash
# Whole-program benchmark of the decoder against cp: encodes a few hundred MB of
# random data with brimwrite (not timed), then times brimread decoding the AVI
# files and cp copying the same files, and reports brimread's captured bytes read
# per second as a ratio to cp's (goal: at least 0.6). The same again for a
# capture with an audio chunk after every frame. Also brimread's peak memory on a
# small and on the large input, which should not depend on the input size.
#
# Usage: bench/decode_vs_cp.sh [build dir] [MB of data]
set -euo pipefail

build=${1:-/work/main/build}
megabytes=${2:-300}
small_megabytes=20
bin=$(cd "$build/bin" && pwd)
for tool in brimwrite brimread DVFRAME_NTSC; do
  [ -e "$bin/$tool" ] || { echo "missing $bin/$tool (build the programs first)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/decode_vs_cp.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

# Peak resident memory (kB) of a command, from /usr/bin/time when present, else
# by sampling VmHWM while it runs.
peak_kb() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$work/time.out" "$@" >/dev/null || true
    tail -n 1 "$work/time.out"
  else
    "$@" >/dev/null &
    local pid=$! hwm=0 v
    while kill -0 "$pid" 2>/dev/null; do
      v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$v" ] && [ "$v" -gt "$hwm" ] && hwm=$v
      sleep 0.05
    done
    wait "$pid" || true
    echo "$hwm"
  fi
}

encode() {  # encode <dir> <MB>
  mkdir -p "$1"
  head -c $(($2 * 1024 * 1024)) /dev/urandom >"$1/data.bin"
  cp "$bin/DVFRAME_NTSC" "$1/"
  # brimwrite ends a completed run with exit status 1
  (cd "$1" && "$bin/brimwrite" data.bin >/dev/null) || [ $? -eq 1 ]
}

# Interleaves an 8-byte "01wb" header and 6,408 bytes of audio after every frame chunk.
add_audio() {  # add_audio <first avi> <output>
  python3 - "$1" "$2" <<'EOF'
import os, struct, sys
src, dst = sys.argv[1], sys.argv[2]
chunk, header = 120008, 224
audio = b"01wb" + struct.pack("<I", 6408) + os.urandom(6408)
with open(src, "rb") as f, open(dst, "wb") as out:
    out.write(f.read(header))
    while True:
        c = f.read(chunk)
        if len(c) < chunk or c[:2] != b"00":
            out.write(c + f.read())
            break
        out.write(c)
        out.write(audio)
EOF
}

# Times brimread on <capture> and cp of the same bytes, best of $runs each, every
# run starting from the page cache with nothing left to write back; prints MB/s
# and the ratio.
runs=5
best_seconds() {  # best_seconds <command...>: runs it $runs times, prints the shortest time
  local best="" t0 t1 t i
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out" && mkdir -p "$work/out" && sync
    t0=$(now); (cd "$work/out" && "$@" >/dev/null) || [ $? -eq 1 ]; t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

compare() {  # compare <label> <capture> <reference data>
  local label=$1 capture=$2 reference=$3 bytes dec cpy ddc
  bytes=$(stat -c %s "$capture")
  cat "$capture" >/dev/null
  cpy=$(best_seconds cp "$capture" "$work/out/")
  # cp may copy inside the kernel (copy_file_range); dd reads and writes through
  # user space as brimread must.
  ddc=$(best_seconds dd if="$capture" of="$work/out/copy" bs=4M status=none)
  dec=$(best_seconds "$bin/brimread" "$capture")
  cmp -s "$work/out/data.bin" "$reference" || { echo "$label: restored file differs!" >&2; exit 1; }
  dec=$(echo "$bytes / $dec / 1000000" | bc -l)
  cpy=$(echo "$bytes / $cpy / 1000000" | bc -l)
  ddc=$(echo "$bytes / $ddc / 1000000" | bc -l)
  printf '%-26s %6.1f MB  brimread %6.1f MB/s  cp %6.1f MB/s  ratio %.2f  (dd %6.1f MB/s, ratio %.2f)\n' \
    "$label" "$(echo "$bytes / 1000000" | bc -l)" "$dec" "$cpy" "$(echo "$dec / $cpy" | bc -l)" \
    "$ddc" "$(echo "$dec / $ddc" | bc -l)"
  rm -rf "$work/out"
}

encode "$work/big" "$megabytes"
compare "plain capture" "$work/big/DV000001.avi" "$work/big/data.bin"
add_audio "$work/big/DV000001.avi" "$work/big/CAP0001.avi"
compare "capture with audio chunks" "$work/big/CAP0001.avi" "$work/big/data.bin"

encode "$work/small" "$small_megabytes"
rm -rf "$work/out" && mkdir -p "$work/out"
small_kb=$(cd "$work/out" && peak_kb "$bin/brimread" "$work/small/DV000001.avi")
rm -rf "$work/out" && mkdir -p "$work/out"
big_kb=$(cd "$work/out" && peak_kb "$bin/brimread" "$work/big/DV000001.avi")
printf 'peak memory of brimread: %d kB on %d MB, %d kB on %d MB\n' "$small_kb" "$small_megabytes" "$big_kb" "$megabytes"
