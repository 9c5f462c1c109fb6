#!/bin/bash
# Builds the fuzzers in build-fuzz/ (clang, ASan, UBSan, libFuzzer), makes the
# seed corpus and runs each harness for SECONDS seconds on its corpus
# build-fuzz/corpus-NAME. Exits non-zero if any harness found a crash, leak,
# timeout or memory blow-up; its reproducer is in build-fuzz/findings-NAME/.
# Usage: fuzz/run.sh SECONDS [NAME...]   (NAME: frame_reader unpack_classify decoder)
# FUZZ_BUILD_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail

duration=${1:?usage: fuzz/run.sh SECONDS [NAME...]}
shift
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(frame_reader unpack_classify decoder)

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
# Seeds are captures of up to ten 525/60 or eight 625/50 frames (with audio
# chunks, ~1.27 MB; ~1.4 MB for a mixed capture).
max_len=1500000
# A unit takes well under a second; a short timeout also bounds what a runaway
# decoder run can write before it is stopped.
timeout_seconds=10
rss_limit_mb=2048

grep -q 'add_subdirectory(fuzz)' "$root/CMakeLists.txt" ||
    { echo "run.sh: the root CMakeLists.txt does not add fuzz/ (if(BRIM_FUZZ) add_subdirectory(fuzz) endif())" >&2; exit 2; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DBRIM_FUZZ=ON -DBRIM_BUILD_TESTS=OFF \
        -DBRIM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j"${FUZZ_BUILD_JOBS:-2}" --target fuzz_all

status=0
for name in "${names[@]}"; do
    corpus=$build/corpus-$name
    findings=$build/findings-$name
    log=$build/fuzz-$name.log
    tmp=$build/tmp-$name   # the harness's scratch files; left behind by a crash
    mkdir -p "$corpus" "$findings" "$tmp"
    for seed in "$build/fuzz/seeds/$name"/*; do
        [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus/"
    done
    echo "fuzz_$name: ${duration}s, log in $log"
    if ! TMPDIR=$tmp "$build/bin/fuzz_$name" "$corpus" -max_total_time="$duration" -max_len=$max_len \
        -rss_limit_mb=$rss_limit_mb -timeout=$timeout_seconds -artifact_prefix="$findings/" \
        -print_final_stats=1 > "$log" 2>&1; then
        echo "fuzz_$name FOUND A FAULT: see $log and $findings/" >&2
        status=1
    fi
    rm -rf "$tmp"
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
done
exit $status
