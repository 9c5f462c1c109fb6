// Verification of the restored files: whether each was written in full from
// planes known to be the ones the encoder wrote, and the report printed after
// the statistics.
#pragma once

#include <cstdio>

#include "run_state.h"

// 1 if `file` was written in full, its size told by its headers, and every plane
// written known right.
int file_intact(const RestoredFile* file);

// Adds the finished `file` to the totals.
void verify_file_done(VerifyTotals* totals, const RestoredFile* file);

// Prints the report (names of the files not known to be intact, then the total)
// to the console and to `log` (may be null).
void print_verification(const VerifyTotals* totals, FILE* log);
