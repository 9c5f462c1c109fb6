#!/usr/bin/env bash
# Whole-program benchmark: brimwrite's rate of AVI bytes written, against cp
# copying the same AVI files, and brimwrite's peak memory.
#   bench/encode_vs_cp.sh [build-dir] [megabytes of input]
# Goals: rate ratio >= 0.6; peak memory a few MB, whatever the input size.
# Both timings end with the data on disk (sync), so that the page cache's
# write-back does not favour whichever step runs first.
set -euo pipefail

build=${1:-/work/main/build}
megabytes=${2:-300}
bin="$build/bin"
files=3

if [ ! -x "$bin/brimwrite" ] || [ ! -f "$bin/DVFRAME_NTSC" ]; then
    echo "encode_vs_cp: build brimwrite and mkdvframe in $build first" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/brimbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/enc" "$work/copy"
cp "$bin/DVFRAME_NTSC" "$work/enc/"
for i in $(seq 1 "$files"); do
    head -c "$((megabytes * 1024 * 1024 / files))" /dev/urandom >"$work/enc/input$i.bin"
done
sync

now() { date +%s.%N; }

# Peak resident memory in kB: from GNU time when present, else by polling /proc.
run_measured() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/brimwrite.out" || true
        awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt"
    else
        "$@" >"$work/brimwrite.out" &
        local pid=$! peak=0 hwm
        while kill -0 "$pid" 2>/dev/null; do
            hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
            [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
            sleep 0.02
        done
        wait "$pid" || true
        echo "$peak"
    fi
}

cd "$work/enc"
t0=$(now)
peak_kb=$(run_measured "$bin/brimwrite" 'input*.bin')
sync
t1=$(now)
if ! grep -q 'Done!' "$work/brimwrite.out"; then
    echo "encode_vs_cp: brimwrite did not complete:" >&2
    tail -5 "$work/brimwrite.out" >&2
    exit 1
fi
avi_bytes=$(cat DV*.avi | wc -c)
sync

t2=$(now)
cp DV*.avi "$work/copy/"
sync
t3=$(now)

awk -v bytes="$avi_bytes" -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v peak="$peak_kb" \
    -v input="$megabytes" 'BEGIN {
    brim = bytes / (t1 - t0); copy = bytes / (t3 - t2)
    printf "input:              %d MiB in 3 files\n", input
    printf "AVI bytes written:  %d\n", bytes
    printf "brimwrite:          %.2f s, %.1f MB/s\n", t1 - t0, brim / 1e6
    printf "cp of the AVIs:     %.2f s, %.1f MB/s\n", t3 - t2, copy / 1e6
    printf "rate ratio:         %.2f (goal >= 0.6)\n", brim / copy
    printf "brimwrite peak RSS: %.1f MB (goal: a few MB)\n", peak / 1024
}'
