#!/usr/bin/env bash
# Windows check: cross-builds the programs and the tests for 64-bit Windows with
# mingw-w64 into build-win, builds the Linux programs into build-winhost, and runs
# under Wine:
#   1. the test programs, less the suites that need Linux tools (cases that pin
#      down POSIX rules, or need ffmpeg, skip themselves);
#   2. a round trip of several files in nested directories, with names outside
#      ASCII, checking the Windows rules (wildcards matched by the program without
#      regard to case, "-recurse" paths from the root without the drive letter,
#      restored paths below the current directory);
#   3. the Linux and the Windows build writing byte-identical AVI files from the
#      same inputs, and each restoring the other's;
#   4. three captures through capsim: a dropped frame, a damaged frame, and a
#      capture split into several AVI files with audio chunks;
#   5. a 625/50 (PAL) round trip: brimwrite -pal and brim write --pal under Wine,
#      the tapes restored by both builds.
# Missing Debian packages are installed with apt-get (as root). Prints "windows
# check passed" and exits 0 when everything holds; the work directory
# build-win/check is kept after a failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win_build=${BRIM_WIN_BUILD:-$root/build-win}     # the cross build
host_build=${BRIM_HOST_BUILD:-$root/build-winhost}  # a Linux build of the programs
work=$win_build/check
jobs=$(nproc 2>/dev/null || echo 2)

# --- tools -------------------------------------------------------------------

need=()
for pkg in cmake g++ g++-mingw-w64-x86-64-posix wine64 googletest; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "windows check: missing packages ${need[*]}; install them as root" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null
fi

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
# Names outside ASCII pass between the shell, Wine and the programs as UTF-8.
export LC_ALL=C.UTF-8
export WINEPREFIX=${WINEPREFIX:-$win_build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko set-up in a fresh prefix
if [ ! -d "$WINEPREFIX" ]; then
    echo "== Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi
# One Wine server for the whole check: a server that shuts down between two
# programs can drop the next one's connection ("recvmsg: Connection reset").
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
"$wineserver" -p >/dev/null 2>&1 || true
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT

# --- builds ------------------------------------------------------------------

echo "== cross build ($win_build)"
cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBRIM_BUILD_BENCH=OFF >/dev/null
cmake --build "$win_build" -j"$jobs"
echo "== Linux build ($host_build)"
if [ ! -f "$host_build/CMakeCache.txt" ]; then  # an existing build keeps its own settings
    cmake -S "$root" -B "$host_build" -DCMAKE_BUILD_TYPE=Release -DBRIM_BUILD_TESTS=OFF \
        -DBRIM_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$host_build" -j"$jobs" --target brim brimwrite brimread mkdvframe capsim

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

win() {   # win PROGRAM ARGS...: the Windows build of PROGRAM, under Wine, in the current directory
    local program=$1
    shift
    "$wine" "$win_build/bin/$program.exe" "$@"
}
lin() {   # lin PROGRAM ARGS...: the Linux build of PROGRAM
    local program=$1
    shift
    "$host_build/bin/$program" "$@"
}
# Runs a command with its output (carriage returns removed) in FILE; prints the exit status.
run_to() {
    local file=$1
    shift
    local status=0
    "$@" >"$file.raw" 2>&1 || status=$?
    tr -d '\r' <"$file.raw" >"$file"
    rm -f "$file.raw"
    echo "$status"
}
expect_status() {   # expect_status WHAT GOT WANT
    [ "$2" = "$3" ] || fail "$1: exit status $2, expected $3"
}
# Compares every file of the list with the original below $work/src.
expect_restored() {   # expect_restored WHAT DIR RELATIVE-PATH...
    local what=$1 dir=$2 bad=0
    shift 2
    for f in "$@"; do
        if ! cmp -s "$work/src/$f" "$dir/$f"; then
            fail "$what: $dir/$f differs from the original or is missing"
            bad=1
        fi
    done
    [ $bad -ne 0 ] || ok "$what: $# files restored byte for byte"
}
# The statistics lines of a brimread run, without the run-dependent time.
statistics() {
    grep -E '^(Total |\(Longest )' "$1" || true
}

# --- test programs -----------------------------------------------------------

# Suites that need Linux tools which the Windows programs cannot start (cmake
# --install, man), a POSIX shell around the program (brim's pipes, signals
# and ulimit; not built for Windows), or libdv (not cross-built: the suite is
# left out of the Windows build).
linux_suites=(test_install test_brim test_faults_merge test_faults_health test_interop_libdv)

echo "== test programs under Wine"
rm -rf "$work"
mkdir -p "$work"
for source in "$root"/tests/test_*.cpp; do
    name=$(basename "$source" .cpp)
    [ "$name" != test_support ] || continue   # the helpers that every suite links
    [[ " ${linux_suites[*]} " != *" $name "* ]] || continue
    for attempt in 1 2 3; do
        status=$(cd "$work" && run_to "$work/$name.txt" "$wine" "$win_build/bin/$name.exe" --gtest_brief=1)
        # Wine's own server going away says nothing of the suite: run it again.
        [ "$status" != 0 ] && grep -q '^wine client error' "$work/$name.txt" || break
        echo "   ($name: Wine's server went away, attempt $attempt; running it again)"
    done
    if [ "$status" = 0 ]; then
        ok "$name ($(grep -E '^\[  (PASSED|SKIPPED) ' "$work/$name.txt" | sed 's/^\[ *\([A-Z]*\) *\] /\1 /' | paste -sd' '))"
    else
        cat "$work/$name.txt" >&2
        fail "$name: exit status $status"
    fi
done

# --- inputs ------------------------------------------------------------------

random_file() {   # random_file PATH SIZE
    mkdir -p "$(dirname "$1")"
    head -c "$2" /dev/urandom >"$1"
}
src=$work/src
random_file "$src/alpha.bin" 101460          # one plane exactly
random_file "$src/beta.dat" 101461           # one byte into a second plane
random_file "$src/docs/gamma.txt" 300000
random_file "$src/docs/deep/delta.bin" 2000000
random_file "$src/naïve_日本語.bin" 50000
random_file "$src/répertoire/ε.bin" 7000
random_file "$src/.hidden.bin" 4000          # a hidden file: wildcards pass it over
files=(alpha.bin beta.dat docs/deep/delta.bin docs/gamma.txt naïve_日本語.bin répertoire/ε.bin)
patterns=('*' 'docs/*' 'docs/deep/*' 'répertoire/*')
win_patterns=('*' 'docs\*' 'docs\deep\*' 'répertoire\*')   # the same with Windows separators
avisize=100   # three AVI files

# File records hold modification times, permission bits and the recording ID:
# the same for both builds (Windows keeps whole seconds and owner bits copied
# to group and others), so that the two write the same bytes.
find "$src" -type f -exec touch -d @1600000000 {} + -exec chmod 0666 {} +
export BRIM_RECORDING_ID=00112233445566778899aabbccddeeff
mkdir -p "$work/win" "$work/lin"
cp -a "$src/." "$work/win/"
cp -a "$src/." "$work/lin/"
cp "$win_build/bin/DVFRAME_NTSC" "$work/win/"
cp "$host_build/bin/DVFRAME_NTSC" "$work/lin/"
for t in DVFRAME_NTSC DVFRAME_PAL; do
    cmp -s "$win_build/bin/$t" "$host_build/bin/$t" || fail "the two builds write different template frames ($t)"
done

# --- encoding: the same AVI files from both builds ---------------------------

echo "== encoding"
status=$(cd "$work/win" && run_to "$work/encode-win.txt" win brimwrite -avisize $avisize "${win_patterns[@]}")
expect_status "Windows brimwrite" "$status" 1
status=$(cd "$work/lin" && run_to "$work/encode-lin.txt" lin brimwrite -avisize $avisize "${patterns[@]}")
expect_status "Linux brimwrite" "$status" 1

grep '^Input File' "$work/encode-win.txt" >"$work/plan-win.txt" || true
grep '^Input File' "$work/encode-lin.txt" >"$work/plan-lin.txt" || true
expected_plan=$work/plan-expected.txt
i=0
for f in "${files[@]}"; do
    i=$((i + 1))
    echo "Input File[$i] ${f//\//\\}: $(stat -c %s "$src/$f") Bytes"
done >"$expected_plan"
if diff <(sed 's/ -> .*//' "$work/plan-win.txt") "$expected_plan" >/dev/null; then
    ok "Windows plan: ${#files[@]} files in order, stored with backslashes, hidden file left out"
else
    fail "Windows plan differs from the expected one:"
    diff <(sed 's/ -> .*//' "$work/plan-win.txt") "$expected_plan" >&2 || true
fi
cmp -s "$work/plan-win.txt" "$work/plan-lin.txt" || fail "the plan reports of the two builds differ"

avis=$(cd "$work/lin" && ls DV*.avi)
[ "$avis" = "$(cd "$work/win" && ls DV*.avi)" ] || fail "the two builds wrote different AVI file names"
[ "$(echo "$avis" | wc -l)" = 3 ] || fail "expected 3 AVI files, got: $avis"
same=1
for a in $avis; do
    cmp -s "$work/win/$a" "$work/lin/$a" || { fail "$a differs between the builds"; same=0; }
done
[ $same -ne 1 ] || ok "the builds wrote byte-identical AVI files ($(echo $avis))"

# --- decoding: each build restores both builds' tapes ------------------------

echo "== decoding"
decode() {   # decode WHAT SIDE(win|lin) TAPE-DIR OUT-DIR ARGS... (directories below $work)
    local what=$1 side=$2 tape=$3 out=$4 status
    shift 4
    mkdir -p "$work/$out"
    status=$(cd "$work/$out" && run_to "$work/$out.txt" "$side" brimread "$@" "../$tape/DV000001.avi")
    expect_status "$what" "$status" 1
}
decode "Windows brimread -recurse, Windows tape" win win out-win-win -recurse
expect_restored "Windows restores Windows tape" "$work/out-win-win" "${files[@]}"
decode "Windows brimread -recurse, Linux tape" win lin out-win-lin -recurse
expect_restored "Windows restores Linux tape" "$work/out-win-lin" "${files[@]}"
decode "Linux brimread -recurse, Windows tape" lin win out-lin-win -recurse
expect_restored "Linux restores Windows tape" "$work/out-lin-win" "${files[@]}"

# Without -recurse every file comes back under its own name in the current directory.
decode "Windows brimread without -recurse" win win out-flat
flat_ok=1
for f in "${files[@]}"; do
    cmp -s "$src/$f" "$work/out-flat/$(basename "$f")" || { fail "without -recurse: $(basename "$f") not restored"; flat_ok=0; }
done
[ -z "$(find "$work/out-flat" -mindepth 1 -type d)" ] || { fail "without -recurse directories were created"; flat_ok=0; }
[ $flat_ok -ne 1 ] || ok "without -recurse: every file restored into the current directory"

# --- Windows rules: wildcards without case, -recurse from the root -----------

echo "== Windows listing rules"
mkdir -p "$work/rec"
cp -a "$src/." "$work/rec/"
cp "$win_build/bin/DVFRAME_NTSC" "$work/rec/"
status=$(cd "$work/rec" && run_to "$work/encode-rec.txt" win brimwrite -recurse '*.BIN')
expect_status "Windows brimwrite -recurse" "$status" 1
# Wine shows the Linux root as drive Z:, so a stored path is the Linux path with backslashes.
rec_files=(alpha.bin docs/deep/delta.bin naïve_日本語.bin répertoire/ε.bin)
i=0
for f in "${rec_files[@]}"; do
    i=$((i + 1))
    stored="$work/rec/$f"
    echo "Input File[$i] ${stored//\//\\}: $(stat -c %s "$src/$f") Bytes"
done | sort >"$work/rec-expected.txt"
grep '^Input File' "$work/encode-rec.txt" | sed 's/ -> .*//' | sed 's/^Input File\[[0-9]*\]/Input File[N]/' | sort \
    >"$work/rec-listed.txt" || true
sed 's/^Input File\[[0-9]*\]/Input File[N]/' "$work/rec-expected.txt" | sort >"$work/rec-expected-n.txt"
if cmp -s "$work/rec-listed.txt" "$work/rec-expected-n.txt"; then
    ok "-recurse '*.BIN' matched the .bin files in every directory, stored from the root without the drive"
else
    fail "-recurse listing differs from the expected one:"
    diff "$work/rec-listed.txt" "$work/rec-expected-n.txt" >&2 || true
fi
mkdir -p "$work/out-rec"
status=$(cd "$work/out-rec" && run_to "$work/out-rec.txt" win brimread -recurse ../rec/DV000001.avi)
expect_status "Windows brimread -recurse of absolute stored paths" "$status" 1
rec_ok=1
for f in "${rec_files[@]}"; do
    # \work\...\rec\f comes back as work/.../rec/f below the current directory
    cmp -s "$src/$f" "$work/out-rec/${work#/}/rec/$f" || { fail "-recurse restore: ${work#/}/rec/$f missing below out-rec"; rec_ok=0; }
done
[ $rec_ok -ne 1 ] || ok "paths stored from the root were restored below the current directory"

# --- captures through capsim -------------------------------------------------

echo "== captures"
tape_avis=()
for a in $avis; do tape_avis+=("../win/$a"); done
# Frame chunks of the tape: alpha.bin 0-29, beta.dat 30-60, docs/deep/delta.bin 61-109
# (its data frames 1-19 at 91-109), docs/gamma.txt 110-141, then the rest.
capture() {   # capture NAME EXPECTED-STATISTIC CAPSIM-OPTIONS...
    local name=$1 expected=$2 status
    shift 2
    for side in win lin; do
        mkdir -p "$work/cap-$name-$side"
        status=$(cd "$work/cap-$name-$side" && run_to "$work/cap-$name-$side.txt" "$side" capsim "$@" "${tape_avis[@]}")
        expect_status "$side capsim $name" "$status" 0
    done
    if diff -r "$work/cap-$name-win" "$work/cap-$name-lin" >/dev/null &&
        cmp -s "$work/cap-$name-win.txt" "$work/cap-$name-lin.txt"; then
        ok "capture $name: both builds of capsim wrote the same capture"
    else
        fail "capture $name: the builds of capsim disagree"
    fi
    for side in win lin; do
        mkdir -p "$work/out-$name-$side"
        status=$(cd "$work/out-$name-$side" && run_to "$work/out-$name-$side.txt" "$side" brimread -recurse \
            "../cap-$name-win/SCENE0001.avi")
        expect_status "$side brimread of capture $name" "$status" 1
        expect_restored "$side restores capture $name" "$work/out-$name-$side" "${files[@]}"
    done
    statistics "$work/out-$name-win.txt" >"$work/stat-$name-win.txt"
    statistics "$work/out-$name-lin.txt" >"$work/stat-$name-lin.txt"
    cmp -s "$work/stat-$name-win.txt" "$work/stat-$name-lin.txt" || fail "capture $name: the statistics of the builds differ"
    if grep -qxF "$expected" "$work/stat-$name-win.txt"; then
        ok "capture $name: \"$expected\""
    else
        fail "capture $name: no \"$expected\" in the statistics"
    fi
}
capture dropped "Total Dropped Frames(-): 1" -drop 100
capture damaged "Total Corrupted Frames(*): 1" -damage 105
capture split "Total Dropped Frames(-): 0" -split 8m
split_files=$(cd "$work/cap-split-win" && ls SCENE*.avi | wc -l)
[ "$split_files" -ge 3 ] || fail "capture split: expected at least 3 capture files, got $split_files"
grep -q '01wb' "$work/cap-split-win/SCENE0002.avi" || fail "capture split: no audio chunks in SCENE0002.avi"

# --- brim: a tree through the Windows build and back, both ways -------------

echo "== brim"
brim_files=(alpha.bin beta.dat docs/deep/delta.bin docs/gamma.txt naïve_日本語.bin répertoire/ε.bin .hidden.bin)
status=$(cd "$work" && run_to "$work/brim-write.txt" win brim write -q -o brim-out src)
expect_status "Windows brim write" "$status" 0
status=$(cd "$work" && run_to "$work/brim-read-win.txt" win brim read -q -C brim-win brim-out/DV000001.avi)
expect_status "Windows brim read" "$status" 0
expect_restored "Windows brim restores its own tape" "$work/brim-win/src" "${brim_files[@]}"
status=$(cd "$work" && run_to "$work/brim-read-lin.txt" lin brim read -q -C brim-lin brim-out/DV000001.avi)
expect_status "Linux brim read of the Windows tape" "$status" 0
expect_restored "Linux brim restores the Windows tape" "$work/brim-lin/src" "${brim_files[@]}"

# --- 625/50: the same through PAL frames -------------------------------------

echo "== 625/50"
frame_system() {   # frame_system AVI: the system of its first frame, from the DSF bit of the DIF header
    local at
    at=$(grep -obUa -m1 00dc "$1" | head -1 | cut -d: -f1) || true
    [ -n "$at" ] || { echo none; return; }
    [ $(($(od -An -tu1 -j$((at + 11)) -N1 "$1") & 0x80)) -ne 0 ] && echo 625/50 || echo 525/60
}
random_file "$src/pal/one-plane.bin" 123044    # one 625/50 plane exactly
random_file "$src/pal/two-planes.bin" 123045   # one byte into a second plane
random_file "$src/pal/été.dat" 1500000
random_file "$src/pal/tiny.txt" 1
find "$src/pal" -type f -exec touch -d @1600000000 {} + -exec chmod 0666 {} +
pal_files=(pal/one-plane.bin pal/tiny.txt pal/two-planes.bin pal/été.dat)
mkdir -p "$work/pal-win" "$work/pal-lin"
cp -a "$src/pal" "$work/pal-win/"
cp -a "$src/pal" "$work/pal-lin/"
cp "$win_build/bin/DVFRAME_PAL" "$work/pal-win/"
cp "$host_build/bin/DVFRAME_PAL" "$work/pal-lin/"
status=$(cd "$work/pal-win" && run_to "$work/encode-pal-win.txt" win brimwrite -pal -avisize $avisize 'pal\*')
expect_status "Windows brimwrite -pal" "$status" 1
status=$(cd "$work/pal-lin" && run_to "$work/encode-pal-lin.txt" lin brimwrite -pal -avisize $avisize 'pal/*')
expect_status "Linux brimwrite -pal" "$status" 1
pal_avis=$(cd "$work/pal-win" && ls DV*.avi)
[ "$(frame_system "$work/pal-win/DV000001.avi")" = 625/50 ] || fail "Windows brimwrite -pal: no 625/50 frames"
[ "$pal_avis" = "$(cd "$work/pal-lin" && ls DV*.avi)" ] || fail "-pal: the two builds wrote different AVI file names"
same=1
for a in $pal_avis; do
    cmp -s "$work/pal-win/$a" "$work/pal-lin/$a" || { fail "-pal: $a differs between the builds"; same=0; }
done
[ $same -ne 1 ] || ok "-pal: the builds wrote byte-identical 625/50 AVI files ($(echo $pal_avis))"
decode "Windows brimread -recurse, 625/50 tape" win pal-win out-pal-win -recurse
expect_restored "Windows restores the 625/50 tape" "$work/out-pal-win" "${pal_files[@]}"
decode "Linux brimread -recurse, 625/50 tape" lin pal-win out-pal-lin -recurse
expect_restored "Linux restores the Windows 625/50 tape" "$work/out-pal-lin" "${pal_files[@]}"

status=$(cd "$work" && run_to "$work/brim-pal-write.txt" win brim write --pal -q -o brim-pal-out src/pal)
expect_status "Windows brim write --pal" "$status" 0
[ "$(frame_system "$work/brim-pal-out/DV000001.avi")" = 625/50 ] || fail "Windows brim write --pal: no 625/50 frames"
status=$(cd "$work" && run_to "$work/brim-pal-read-win.txt" win brim read -q -C brim-pal-win brim-pal-out/DV000001.avi)
expect_status "Windows brim read, 625/50" "$status" 0
expect_restored "Windows brim restores its own 625/50 tape" "$work/brim-pal-win/src" "${pal_files[@]}"
status=$(cd "$work" && run_to "$work/brim-pal-read-lin.txt" lin brim read -q -C brim-pal-lin brim-pal-out/DV000001.avi)
expect_status "Linux brim read of the Windows 625/50 tape" "$status" 0
expect_restored "Linux brim restores the Windows 625/50 tape" "$work/brim-pal-lin/src" "${pal_files[@]}"

if [ $failures -ne 0 ]; then
    echo "windows check FAILED: $failures problem(s); see $work" >&2
    exit 1
fi
rm -rf "$work"
echo "windows check passed"
