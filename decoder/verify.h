// Verification of the restored files: whether each was written in full from
// planes known to be the ones the encoder wrote, and the report printed after
// the statistics.
#pragma once

#include <cstdio>

#include "run_state.h"

// 1 if `file` is known to hold exactly the bytes stored: where its file record
// holds a hash, its bytes hash to it; on tapes without records, it was written in
// full, its size told by its headers, every plane written known right, and the
// parity of every block holding its data agreed and could check its planes.
int file_intact(const RestoredFile* file);

// Adds the finished `file` to the totals.
void verify_file_done(VerifyTotals* totals, const RestoredFile* file);

// Adds the missing files file->file_index .. file->last_file_index to the totals,
// joined to the last line listed when that one names the files just before them.
void verify_missing_done(VerifyTotals* totals, const RestoredFile* file);

// Prints the report (names of the files not known to be intact, then the total)
// to the console and to `log` (may be null).
void print_verification(const VerifyTotals* totals, FILE* log);
