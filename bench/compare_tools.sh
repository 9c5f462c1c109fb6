#!/usr/bin/env bash
# Whole-program comparison on the same random data, in one run:
#   - brimwrite / brimread (DV AVI files with Hamming parity frames),
#   - dvbackup (raw DV frames, no parity across frames): encode and decode,
#   - par2 at 12.5% redundancy with one recovery block per frame's worth of data
#     (what comparable erasure coding costs): create, and repair of one lost block,
#   - cp of the same bytes.
# Then what each DV format gives back when one frame of its stream is dropped.
#
#   bench/compare_tools.sh [megabytes]        default 300
#   bench/compare_tools.sh --paired [megabytes]   default 1024: paired timings only (below)
#   BRIM_BUILD_DIR=dir bench/compare_tools.sh  programs from dir/bin (default build/)
#
# --paired runs each pair of commands in turn, PAIRS times (default 7), on tmpfs
# (/dev/shm) and on the disk ($TMPDIR), and prints the median of the per-pair
# ratios of wall time with their spread: whole-run timings on a disk vary by a
# factor of three from round to round (writeback), a ratio taken pair by pair
# much less. Each run writes where the previous run's output was removed first,
# untimed: freeing a gigabyte of page cache is nobody's work.
#
# Every timed step ends with the data on disk (sync), so that write-back does not
# favour whichever step runs first. Throughput is counted in input bytes per second.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
paired_only=0
if [ "${1:-}" = --paired ]; then
    paired_only=1
    shift
fi
megabytes=${1:-$([ "$paired_only" = 1 ] && echo 1024 || echo 300)}
bin="${BRIM_BUILD_DIR:-$repo/build}/bin"
plane=102524                 # payload bytes of one of our frames: par2's block size
dv_frame=120000              # one NTSC DV frame
ntsc_frames_per_hour=107892  # 60 minutes at 30000/1001 frames per second

for p in brimwrite brimread capsim DVFRAME_NTSC; do
    if [ ! -e "$bin/$p" ]; then
        echo "compare_tools: $bin/$p is missing; build first (cmake --build build)" >&2
        exit 2
    fi
done
for tool in dvbackup par2 cmp sha256sum; do
    if ! command -v "$tool" >/dev/null; then
        echo "compare_tools: $tool is not installed (apt-get install dvbackup par2)" >&2
        exit 2
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/brimcompare.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/restore" "$work/dvb" "$work/par" "$work/cap" "$work/restore-drop"
bytes=$((megabytes * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$work/src/data.bin"
cp "$bin/DVFRAME_NTSC" "$work/src/"
sync

now() { date +%s.%N; }

# paired LABEL DIR A B [CLEAN]: runs the shell commands A and B in turn in DIR,
# PAIRS times each (each ending with sync), and prints LABEL with A's and B's
# median seconds and the median, lowest and highest of the per-pair ratios A/B.
# CLEAN runs in DIR before each timed run, untimed: it removes what the last
# run wrote, so that no run pays for freeing the previous one's output.
paired() {
    local label=$1 dir=$2 a=$3 b=$4 clean=${5:-true} i t0 t1 ta tb
    local ratios=() as=() bs=()
    for ((i = 0; i < ${PAIRS:-7}; i++)); do
        (cd "$dir" && sh -c "$clean"); sync
        t0=$(now); (cd "$dir" && sh -c "$a") >/dev/null 2>&1 || true; sync; t1=$(now)
        ta=$(awk -v x="$t0" -v y="$t1" 'BEGIN { print y - x }')
        (cd "$dir" && sh -c "$clean"); sync
        t0=$(now); (cd "$dir" && sh -c "$b") >/dev/null 2>&1 || true; sync; t1=$(now)
        tb=$(awk -v x="$t0" -v y="$t1" 'BEGIN { print y - x }')
        as+=("$ta"); bs+=("$tb"); ratios+=("$(awk -v x="$ta" -v y="$tb" 'BEGIN { print x / y }')")
    done
    median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
    printf '| %s | %.3f | %.3f | %.3f (%.3f-%.3f) |\n' "$label" "$(median "${as[@]}")" "$(median "${bs[@]}")" \
        "$(median "${ratios[@]}")" "$(printf '%s\n' "${ratios[@]}" | sort -g | head -1)" \
        "$(printf '%s\n' "${ratios[@]}" | sort -g | tail -1)"
}

# paired_medium NAME DIR: the pairs on one medium, with the data copied there.
paired_medium() {
    local name=$1 dir=$2
    rm -rf "$dir" && mkdir -p "$dir/w" "$dir/r" "$dir/c"
    cp "$work/src/data.bin" "$bin/DVFRAME_NTSC" "$dir/w/"
    (cd "$dir/w" && "$bin/brimwrite" data.bin >/dev/null) || true
    dvbackup -n <"$dir/w/data.bin" >"$dir/c/data.dv"
    cp "$dir/w/DV000001.avi" "$dir/c/capture.avi"
    echo
    echo "On $name ($dir), $megabytes MiB, ${PAIRS:-7} pairs; seconds are medians, the ratio A/B per pair:"
    echo
    echo "| A against B | A s | B s | A/B median (spread) |"
    echo "|---|---:|---:|---:|"
    # What the timed commands write, removed before each run (untimed).
    local out_r="rm -f data.bin Brimreadlog.txt ../c/back.bin ../c/copy.bin ../c/r/*"
    mkdir -p "$dir/c/b" "$dir/c/r"
    paired "brimwrite against dvbackup -n" "$dir/w" "'$bin/brimwrite' data.bin" "dvbackup -n <data.bin >../c/data.dv" \
        "rm -f DV*.avi Brimwritelog.txt ../c/data.dv"
    paired "brim write against dvbackup -n" "$dir/w" "'$bin/brim' write -q -o ../c/b data.bin" \
        "dvbackup -n <data.bin >../c/data.dv" "rm -f ../c/b/* ../c/data.dv"
    paired "brimread against dvbackup -n -d" "$dir/r" "'$bin/brimread' ../c/capture.avi" \
        "dvbackup -n -d <../c/data.dv >../c/back.bin" "$out_r"
    paired "brim read against dvbackup -n -d" "$dir/r" "'$bin/brim' read -q -C ../c/r ../c/capture.avi" \
        "dvbackup -n -d <../c/data.dv >../c/back.bin" "$out_r"
    # cp of each program's output: of its DV file, and of the restored data.
    paired "brimwrite against cp of its output" "$dir/w" "'$bin/brimwrite' data.bin" \
        "cp ../c/capture.avi ../c/copy.avi" "rm -f DV*.avi Brimwritelog.txt ../c/copy.avi"
    paired "brim write against cp of its output" "$dir/w" "'$bin/brim' write -q -o ../c/b data.bin" \
        "cp ../c/capture.avi ../c/copy.avi" "rm -f ../c/b/* ../c/copy.avi"
    paired "brimread against cp of its output" "$dir/r" "'$bin/brimread' ../c/capture.avi" \
        "cp ../w/data.bin ../c/copy.bin" "$out_r"
    paired "brim read against cp of its output" "$dir/r" "'$bin/brim' read -q -C ../c/r ../c/capture.avi" \
        "cp ../w/data.bin ../c/copy.bin" "$out_r"
    rm -rf "$dir"
}
declare -A secs
# timed NAME command...: runs the command with its output in $work/NAME.out, then sync.
timed() {
    local name=$1 t0 t1
    shift
    t0=$(now)
    "$@" >"$work/$name.out" 2>&1 || { echo "compare_tools: step $name failed:" >&2; tail -5 "$work/$name.out" >&2; exit 1; }
    sync
    t1=$(now)
    secs[$name]=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
}
# brimwrite and brimread end with status 1 after a complete run.
brim() { "$@"; [ $? -eq 1 ]; }
in_dir() { local d=$1; shift; (cd "$d" && "$@"); }

if [ "$paired_only" = 1 ]; then
    echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
    [ -d /dev/shm ] && paired_medium tmpfs "/dev/shm/brimcompare.$$"
    paired_medium disk "$work/paired"
    exit 0
fi

# --- timed steps
timed cp cp "$work/src/data.bin" "$work/par/data.bin"
timed brimwrite in_dir "$work/src" brim "$bin/brimwrite" data.bin
timed brimread in_dir "$work/restore" brim "$bin/brimread" "$work/src/DV000001.avi"
timed dvbackup_enc sh -c "dvbackup -n <'$work/src/data.bin' >'$work/dvb/data.dv'"
timed dvbackup_dec sh -c "dvbackup -n -d <'$work/dvb/data.dv' >'$work/dvb/back.bin'"
# par2 takes whole percents; 12.5% is one recovery block for every 8 source blocks,
# as 8 parity frames serve 64 data frames.
source_blocks=$(( (bytes + plane - 1) / plane ))
recovery_blocks=$(( (source_blocks + 7) / 8 ))
timed par2_create par2 create -q -q -t1 -s"$plane" -c"$recovery_blocks" -n1 "$work/par/data.par2" "$work/par/data.bin"
# Lose one block in the middle of the file, as a lost frame would.
lost_block=$(( bytes / plane / 2 ))
dd if=/dev/zero of="$work/par/data.bin" bs="$plane" seek="$lost_block" count=1 conv=notrunc status=none
timed par2_repair par2 repair -q -q -t1 "$work/par/data.par2"

cmp -s "$work/src/data.bin" "$work/restore/data.bin" || { echo "compare_tools: brimread did not restore the data" >&2; exit 1; }
cmp -s "$work/src/data.bin" "$work/dvb/back.bin" || { echo "compare_tools: dvbackup did not restore the data" >&2; exit 1; }
cmp -s "$work/src/data.bin" "$work/par/data.bin" || { echo "compare_tools: par2 did not repair the data" >&2; exit 1; }

# --- frames and sizes
brim_frames=$(awk '/^AVI File/ { n += $4 } END { print n }' "$work/brimwrite.out")
dvb_frames=$(( $(stat -c %s "$work/dvb/data.dv") / dv_frame ))
par_bytes=$(cat "$work"/par/data.vol*.par2 "$work/par/data.par2" | wc -c)

# --- one dropped frame in the middle of each DV stream
drop_ours=$(( brim_frames / 2 ))
"$bin/capsim" -o "$work/cap/SCENE0001.avi" -drop "$drop_ours" "$work"/src/DV*.avi >"$work/capsim.out"
in_dir "$work/restore-drop" "$bin/brimread" "$work/cap/SCENE0001.avi" >"$work/brimread-drop.out" 2>&1 || true
if cmp -s "$work/src/data.bin" "$work/restore-drop/data.bin"; then
    ours_drop="identical (the frame is rebuilt from its block's parity)"
else
    ours_drop="NOT identical: $(grep -E '^(DAMAGED|Verified)' "$work/brimread-drop.out" | tr '\n' ' ')"
fi
drop_dvb=$(( dvb_frames / 2 ))
{ head -c $(( drop_dvb * dv_frame )) "$work/dvb/data.dv"; tail -c +$(( (drop_dvb + 1) * dv_frame + 1 )) "$work/dvb/data.dv"; } \
    >"$work/dvb/drop.dv"
set +e
dvbackup -n -d <"$work/dvb/drop.dv" >"$work/dvb/back-drop.bin" 2>"$work/dvbackup-drop.err"
dvb_status=$?
set -e
if cmp -s "$work/src/data.bin" "$work/dvb/back-drop.bin"; then
    dvb_drop="identical"
else
    got=$(stat -c %s "$work/dvb/back-drop.bin")
    first=$(cmp "$work/src/data.bin" "$work/dvb/back-drop.bin" 2>/dev/null | awk '{ print $5 }' | tr -d , || true)
    if [ -s "$work/dvbackup-drop.err" ]; then said="says: $(head -c 200 "$work/dvbackup-drop.err" | tr '\n' ' ')"; else said="no message"; fi
    dvb_drop="NOT identical (exit status $dvb_status, $said): $got of $bytes bytes, $((bytes - got)) missing from byte ${first:-?} on, everything after the gap shifted"
fi

# --- report
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
echo "Machine: $(nproc) cores, ${cpu:-unknown CPU}, $mem RAM; input $megabytes MiB of random data"
echo
awk -v bytes="$bytes" \
    -v cp="${secs[cp]}" -v bw="${secs[brimwrite]}" -v br="${secs[brimread]}" \
    -v de="${secs[dvbackup_enc]}" -v dd="${secs[dvbackup_dec]}" \
    -v pc="${secs[par2_create]}" -v pr="${secs[par2_repair]}" 'BEGIN {
    mb = bytes / 1e6
    printf "| step | seconds | MB/s of input | speed vs cp |\n|---|---:|---:|---:|\n"
    row("cp of the data", cp); row("brimwrite (encode, parity, AVI)", bw); row("brimread (decode, correct, verify)", br)
    row("dvbackup encode", de); row("dvbackup decode", dd)
    row("par2 create, 12.5%, 1 thread", pc); row("par2 repair of 1 lost block, 1 thread", pr)
    printf "\nbrimwrite / dvbackup encode speed: %.2f; brimread / dvbackup decode speed: %.2f\n", de / bw, dd / br
    printf "par2 create time / brimwrite time: %.2f (brimwrite includes its parity and the AVI files)\n", pc / bw
}
function row(name, s) { printf "| %s | %.2f | %.1f | %.2f |\n", name, s, mb / s, cp / s }'
echo
awk -v bytes="$bytes" -v bf="$brim_frames" -v df="$dvb_frames" -v pb="$par_bytes" -v hour="$ntsc_frames_per_hour" 'BEGIN {
    printf "| format | frames | data bytes per frame | per 60-min tape (NTSC SP) |\n"
    printf "|---|---:|---:|---:|\n"
    printf "| brimwrite AVI | %d | %.0f | %.2f GB |\n", bf, bytes / bf, bytes / bf * hour / 1e9
    printf "| dvbackup raw DV | %d | %.0f | %.2f GB |\n", df, bytes / df, bytes / df * hour / 1e9
    printf "\npar2 recovery data: %d bytes (%.1f%% of the input)\n", pb, 100 * pb / bytes
}'
echo
echo "One frame dropped from the middle of each stream:"
echo "  ours (frame $drop_ours of $brim_frames): $ours_drop"
echo "  dvbackup (frame $drop_dvb of $dvb_frames): $dvb_drop"
