// The decoder's counters of the captured frames (the program prints them at the end).
#pragma once

#include <cstdint>

struct DecodeStats {
    int64_t decoded;          // block positions filled (frames received and frames lost inside a file)
    int64_t dropped;
    uint32_t longest_drop;
    int64_t duplicated;
    int64_t corrupted;        // received with a checksum that does not match
    int64_t unrecognizable;
    int64_t bytes;            // Zerobytes + RealBytes of every classified frame
};

// Elapsed whole minutes of a run of `seconds`, and the speed factor: bytes per
// minute against 150,000,000 bytes per minute (0 for a run under a minute).
float elapsed_minutes(int64_t seconds);
float speed_factor(int64_t bytes, float minutes);
