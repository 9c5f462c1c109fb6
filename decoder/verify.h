// Verification of the restored files: whether each was written in full from
// planes known to be the ones the encoder wrote, booked for the report that the
// program prints after the statistics.
#pragma once

#include "decoder.h"

// 1 if `file` is known to hold exactly the bytes stored: where its file record
// holds a hash, its bytes hash to it; on tapes without records, it was written in
// full, its size told by its headers, every plane written known right, and the
// parity of every block holding its data agreed and could check its planes.
bool file_intact(const RestoredFile* file);

// Adds the finished `file` to the totals.
void verify_file_done(VerifyTotals* totals, const RestoredFile* file);

// Adds the missing files file->file_index .. file->last_file_index to the totals,
// joined to the last line listed when that one names the files just before them.
void verify_missing_done(VerifyTotals* totals, const RestoredFile* file);

// Books for the verification report the files `first` .. `last` of a recording
// of `file_count` files, of which nothing was captured; consecutive missing files
// make one line of the report. Nothing before the -startfile name is booked.
void report_missing_files(Decoder& d, int32_t first, int32_t last, int32_t file_count);
