#!/bin/bash
# Makes the fuzzers' seed corpus: two small recordings written by brimwrite, and
# captures of a few frames each made from them by capsim (AVI with audio chunks,
# raw DV, dropped/damaged/concealed frames, parity frames, a spliced recording).
# Usage: make_corpus.sh BRIMWRITE CAPSIM DVFRAME_NTSC OUTDIR
# OUTDIR gets frame_reader/, unpack_classify/ (raw DV only, frames aligned) and
# decoder/ (each capture behind one byte that picks the decoder's options).
set -euo pipefail

brimwrite=$1 capsim=$2 template=$3 out=$4
# The tools carry the sanitizer runtime; their leaks at exit are not our business here.
export ASAN_OPTIONS=detect_leaks=0

work=$out/work
rm -rf "$out"
mkdir -p "$work/rec1/docs" "$work/rec2" "$out/frame_reader" "$out/unpack_classify" "$out/decoder"

# Recording 1: a one-plane file under a directory and a two-plane file; four
# copies of each frame 0, 80 frames per AVI file (one ECC block, 78 frames).
cd "$work/rec1"
cp "$template" DVFRAME_NTSC
for i in $(seq 1 40); do echo "line $i of a short note stored in a directory"; done > docs/note.txt
seq -w 1 25000 > numbers.txt   # 150,000 bytes
"$brimwrite" -repeat0 4 -avisize 80 docs/note.txt numbers.txt > /dev/null || true
rec1=$work/rec1/DV000001.avi
# Recording 2 (another recording tag): one tiny file, to splice into the first.
cd "$work/rec2"
cp "$template" DVFRAME_NTSC
echo "a tiny file of another recording" > tiny.txt
"$brimwrite" -repeat0 4 -avisize 80 tiny.txt > /dev/null || true
rec2=$work/rec2/DV000001.avi
[ -s "$rec1" ] && [ -s "$rec2" ] || { echo "make_corpus.sh: brimwrite wrote no AVI file" >&2; exit 1; }

# capture NAME CAPSIM-OPTIONS...: a capture of recording 1 into $work/NAME.
cd "$work"
capture() {
    local name=$1
    shift
    "$capsim" -o "$work/$name" "$@" > /dev/null
}
# Frames 0..8 hold both files' data; 69..77 are padding and the parity frames.
capture avi_clean.avi -last 8 "$rec1"
capture avi_faults.avi -drop 2 -dup 5 -damage 8 -fhdamage 6 -garbage 7 -garbage-max 300 -last 9 -cut 5000 "$rec1"
capture avi_parity.avi -first 68 -last 77 "$rec1"
capture avi_splice.avi -splice 5,"$rec2" -last 9 "$rec1"
capture raw_clean.dv -raw -last 8 "$rec1"
capture raw_faults.dv -raw -hdamage 1 -swap 8 -conceal 7 -sta -dup 3 -fhdamage 4 -fh-copies 2 -last 8 "$rec1"
capture raw_parity.dv -raw -first 68 -last 77 "$rec1"
capture raw_splice.dv -raw -splice 5,"$rec2" -exchange 2,6 -last 9 "$rec1"
head -c 250000 "$work/avi_clean.avi" > "$work/avi_short.avi"   # two frames and a cut one

for f in "$work"/*.avi "$work"/*.dv; do
    cp "$f" "$out/frame_reader/"
done
cp "$work"/raw_*.dv "$out/unpack_classify/"
# The decoder harness's first byte: bit 0 recurse, bit 1 no correction, bit 2 sync.
mode=0
for f in "$work"/*.avi "$work"/*.dv; do
    { printf "\\x0$mode"; cat "$f"; } > "$out/decoder/$mode-$(basename "$f")"
    mode=$(( (mode + 1) % 8 ))
done
for mode in 1 2 5; do
    { printf "\\x0$mode"; cat "$work/avi_clean.avi"; } > "$out/decoder/$mode-avi_clean.avi"
done
rm -rf "$work"
