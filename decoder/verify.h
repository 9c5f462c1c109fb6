// Verification of the restored files: whether each plane written came out right
// after correction, and the report printed after the statistics.
#pragma once

#include <cstdint>
#include <cstdio>

#include "run_state.h"

// What is known about one corrected ECC block as a whole.
struct BlockHealth {
    int bad_positions;        // fillers and planes received with a wrong checksum, of all 72
    uint32_t uncorrectable;   // codewords whose syndrome located no position
    int corrected;            // the block code's corrections were applied
};

// Sums up the block's 72 queued records and the decoder's result for it.
BlockHealth block_health(const QueueEntry* entries, const ECCDecoder* decoder, int corrected);

// Sum of the PLANE_SIZE bytes of `plane`, modulo 2^24 (as the frame header stores it).
int32_t plane_sum24(const uint8_t* plane);

// 1 if the plane handed out for `entry` is known to be the plane the encoder
// wrote. A received plane must match its stored checksum. A filler's checksum is
// unknown, so it counts as intact only when the block was corrected, no codeword
// was left uncorrectable and it was the block's only bad position.
int plane_intact(const QueueEntry* entry, const uint8_t* plane, const BlockHealth* health);

// Records that bytes of `plane` went into `file`.
void verify_plane(RestoredFile* file, const QueueEntry* entry, const uint8_t* plane, const BlockHealth* health);

// 1 if `file` was written in full and every check passed.
int file_intact(const RestoredFile* file);

// Adds the finished `file` to the totals.
void verify_file_done(VerifyTotals* totals, const RestoredFile* file);

// Prints the report (names of the files not known to be intact, then the total)
// to the console and to `log` (may be null).
void print_verification(const VerifyTotals* totals, FILE* log);
