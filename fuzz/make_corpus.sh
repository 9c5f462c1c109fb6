#!/bin/bash
# Makes the fuzzers' seed corpus: small recordings written by brimwrite, 525/60
# and 625/50 (-pal), and captures of a few frames each made from them by capsim
# (AVI with audio chunks, raw DV, dropped/damaged/concealed frames, parity
# frames, a spliced recording, a recording of the other system following one,
# frames cut short by the end of the file, frames whose DSF bit names the other
# system).
# Usage: make_corpus.sh BRIMWRITE CAPSIM DVFRAME_NTSC DVFRAME_PAL OUTDIR
# OUTDIR gets frame_reader/, unpack_classify/ (raw DV only, frames aligned) and
# decoder/ (each capture behind one byte that picks the decoder's options).
set -euo pipefail

brimwrite=$1 capsim=$2 template=$3 template_pal=$4 out=$5
# The tools carry the sanitizer runtime; their leaks at exit are not our business here.
export ASAN_OPTIONS=detect_leaks=0

work=$out/work
rm -rf "$out"
mkdir -p "$work/rec1/docs" "$work/rec2" "$work/rec3/docs" "$work/rec4" "$out/frame_reader" "$out/unpack_classify" \
    "$out/decoder"

note() { for i in $(seq 1 40); do echo "line $i of a short note stored in a directory"; done; }

# Recording 1 (525/60): a one-plane file under a directory and a two-plane file;
# four copies of each frame 0, 80 frames per AVI file (one ECC block, 78 frames).
cd "$work/rec1"
cp "$template" DVFRAME_NTSC
note > docs/note.txt
seq -w 1 25000 > numbers.txt   # 150,000 bytes: two planes in either system
"$brimwrite" -repeat0 4 -avisize 80 docs/note.txt numbers.txt > /dev/null || true
rec1=$work/rec1/DV000001.avi
# Recording 2 (525/60, another recording tag): one tiny file, to splice into the others.
cd "$work/rec2"
cp "$template" DVFRAME_NTSC
echo "a tiny file of another recording" > tiny.txt
"$brimwrite" -repeat0 4 -avisize 80 tiny.txt > /dev/null || true
rec2=$work/rec2/DV000001.avi
# Recording 3 (625/50): the files of recording 1, with the same frame layout
# (frames 0..8 hold the data, 69..77 are padding and the parity frames).
cd "$work/rec3"
cp "$template_pal" DVFRAME_PAL
note > docs/note.txt
seq -w 1 25000 > numbers.txt
"$brimwrite" -pal -repeat0 4 -avisize 80 docs/note.txt numbers.txt > /dev/null || true
rec3=$work/rec3/DV000001.avi
# Recording 4 (625/50): one file of three planes, its bytes filling the planes
# to their ends (also where a 625/50 plane outgrows a 525/60 one).
cd "$work/rec4"
cp "$template_pal" DVFRAME_PAL
seq -w 1 41666 > counts.txt   # 249,996 bytes
"$brimwrite" -pal -repeat0 4 -avisize 80 counts.txt > /dev/null || true
rec4=$work/rec4/DV000001.avi
for rec in "$rec1" "$rec2" "$rec3" "$rec4"; do
    [ -s "$rec" ] || { echo "make_corpus.sh: brimwrite wrote no AVI file ($rec)" >&2; exit 1; }
done
# Recordings 1 to 3 have 78 frames each: in capsim's numbering of two inputs together,
# the second one's frames start at 78.
second=78

# capture NAME CAPSIM-OPTIONS...: a capture into $work/NAME.
cd "$work"
capture() {
    local name=$1
    shift
    "$capsim" -o "$work/$name" "$@" > /dev/null
}
# Byte offset of the Nth (from 1) "00dc" chunk of an AVI file.
chunk_at() { LC_ALL=C grep -obUa '00dc' "$1" | sed -n "$2p" | cut -d: -f1; }
# poke FILE OFFSET BYTE: overwrites one byte (BYTE as printf's \xHH).
poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

capture avi_clean.avi -last 8 "$rec1"
capture avi_faults.avi -drop 2 -dup 5 -damage 8 -fhdamage 6 -garbage 7 -garbage-max 300 -last 9 -cut 5000 "$rec1"
capture avi_parity.avi -first 68 -last 77 "$rec1"
capture avi_splice.avi -splice 5,"$rec2" -last 9 "$rec1"
capture raw_clean.dv -raw -last 8 "$rec1"
capture raw_faults.dv -raw -hdamage 1 -swap 8 -conceal 7 -sta -dup 3 -fhdamage 4 -fh-copies 2 -last 8 "$rec1"
capture raw_parity.dv -raw -first 68 -last 77 "$rec1"
capture raw_splice.dv -raw -splice 5,"$rec2" -exchange 2,6 -last 9 "$rec1"
head -c 250000 "$work/avi_clean.avi" > "$work/avi_short.avi"   # two frames and a cut one

# 625/50: frames of up to 144,000 bytes, eight at most per capture (max_len).
capture avi_pal_clean.avi -last 7 "$rec3"
# The last frame cut 130,000 bytes into its chunk: longer than a searching read.
capture avi_pal_faults.avi -drop 2 -dup 5 -damage 6 -fhdamage 4 -garbage 7 -garbage-max 300 -last 8 -cut 130000 "$rec3"
capture avi_pal_parity.avi -first 70 -last 77 "$rec3"
capture avi_pal_splice.avi -splice 4,"$rec2" -last 7 "$rec3"
capture raw_pal_clean.dv -raw -last 7 "$rec3"
capture raw_pal_faults.dv -raw -hdamage 1 -swap 6 -conceal 5 -sta -dup 3 -fhdamage 4 -fh-copies 2 -last 7 "$rec3"
capture raw_pal_parity.dv -raw -first 70 -last 77 "$rec3"
head -c 250000 "$work/avi_pal_clean.avi" > "$work/avi_pal_short.avi"   # a frame and one cut inside its first 120,000 bytes
head -c 290000 "$work/avi_pal_clean.avi" > "$work/avi_pal_short2.avi"  # ... and one cut beyond them

# A recording of the other system after a few frames of one: its first file's
# frame 0 (four copies) starts a new recording, the system changes between blocks.
capture avi_ntsc_then_pal.avi -drop 3-$((second - 1)) -last $((second + 5)) "$rec1" "$rec3"
capture raw_pal_then_ntsc.dv -raw -drop 3-$((second - 1)) -last $((second + 6)) "$rec3" "$rec1"
# The same after a 625/50 block holding data to its planes' ends (frames 0..5
# of recording 4: four copies of frame 0, two more planes).
frames4=$(od -A n -t u4 -j 48 -N 4 "$rec4" | tr -d ' ')   # the AVI header's frame count
capture raw_pal_data_then_ntsc.dv -raw -drop 6-$((frames4 - 1)) -last $((frames4 + 3)) "$rec4" "$rec1"

# DSF bits that name the other system: a 525/60 frame read as 625/50 swallows the
# start of the next one, a 625/50 frame read as 525/60 leaves its last sequences.
cp "$work/raw_clean.dv" "$work/raw_dsf.dv"
poke "$work/raw_dsf.dv" $((2 * 120000 + 3)) '\xbf'
cp "$work/raw_pal_clean.dv" "$work/raw_pal_dsf.dv"
poke "$work/raw_pal_dsf.dv" $((2 * 144000 + 3)) '\x3f'
# In AVI: a 525/60 frame whose chunk length and DSF byte both say 625/50.
cp "$work/avi_clean.avi" "$work/avi_dsf.avi"
at=$(chunk_at "$work/avi_dsf.avi" 3)
poke "$work/avi_dsf.avi" $((at + 4)) '\x80'
poke "$work/avi_dsf.avi" $((at + 5)) '\x32'
poke "$work/avi_dsf.avi" $((at + 6)) '\x02'
poke "$work/avi_dsf.avi" $((at + 11)) '\xbf'

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
    { printf "\\x0$mode"; cat "$work/avi_pal_clean.avi"; } > "$out/decoder/$mode-avi_pal_clean.avi"
done
rm -rf "$work"
