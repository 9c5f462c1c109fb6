// Brimread's closing report as the console and the log show it: the statistics
// of the captured frames, then the verification of every restored file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "decoder.h"

// Prints the statistics to the console and to `log` (the log does not get the
// note that they describe the capture before correction).
void print_statistics(const DecodeStats* stats, int64_t elapsed_seconds, FILE* log);

// Prints the report (names of the files not known to be intact, with why, then
// the total) to the console and to `log` (may be null).
void print_verification(const VerifyTotals* totals, FILE* log);
