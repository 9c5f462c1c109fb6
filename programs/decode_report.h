// Brimread's closing report as the console and the log show it: the statistics
// of the captured frames, then the verification of every restored file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "decoder.h"

// Room for the reason of a file's verdict.
constexpr int REASON_SIZE = 256;

// Why `f` is not known to be intact, as the report says it ("" when intact).
// `keep_apart` tells how to keep files of one name apart (the programs' options differ).
void describe_file(const RestoredFile* f, char* reason,
                   const char* keep_apart = "-recurse keeps their directories apart");

// Written in full and right as far as the checks can tell, but with some of its
// planes trusted on their checksums alone: "NOT VERIFIED" rather than "DAMAGED".
bool file_unverified(const RestoredFile* f);

// The name the report gives `f`: its output name, or "file #n of m" / "files #a
// to #b of m" for files that were never seen.
void report_name_of(const RestoredFile* f, char* out, size_t size);

// Prints the statistics to the console and to `log` (the log does not get the
// note that they describe the capture before correction).
void print_statistics(const DecodeStats* stats, int64_t elapsed_seconds, FILE* log);

// Prints the report (names of the files not known to be intact, with why, then
// the total) to the console and to `log` (may be null).
void print_verification(const VerifyTotals* totals, FILE* log);
