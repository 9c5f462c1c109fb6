// Brimread's run state: one of each for the whole run, shared by the driver and
// the block writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ecc.h"
#include "frame_layout.h"
#include "restore_path.h"

// One queued block position: the record of the frame queued there, and whether
// the plane stands in for a lost frame (a filler) rather than being that frame.
struct QueueEntry {
    FrameRecord record;
    int filler;
};

// What became of the restored file that is current.
enum OutputState {
    OUTPUT_WRITING = 0,     // created; bytes go to it
    OUTPUT_REFUSED,         // its stored path was refused; nothing is written
    OUTPUT_OPEN_FAILED,     // it could not be created; nothing is written
    OUTPUT_NOT_REACHED,     // its first frame lies in a block the input ended inside
};

// Bookkeeping of one file that was due to be written, for the verification report.
struct RestoredFile {
    int tracked;                  // 1 while such a file is current
    int state;                    // OutputState
    int path_verdict;             // PathVerdict of its stored path
    char name[NAME_BUFFER_SIZE];  // output path, or the stored path when refused
    int64_t announced;            // size its accepted first frame announced
    int64_t written;              // bytes written to it
    int32_t planes_failed;        // planes not matching their checksum after correction
    int uncorrectable;            // one of its blocks met codewords the code could not correct
};

// Files listed by name in the verification report; further damaged files are counted.
constexpr int MAX_LISTED_DAMAGED = 400;

struct VerifyTotals {
    int files;                    // files that were due to be written
    int intact;
    int listed;
    int unlisted;
    RestoredFile damaged[MAX_LISTED_DAMAGED];
};

struct BrimreadRun {
    ECCDecoder decoder;
    QueueEntry* block;                    // ECC_N entries, allocated once by the driver
    int correct;                          // pass the block code's corrections on ("-nocorrect" clears it)
    int recurse;                          // restore stored directory paths ("-recurse")
    char start_name[NAME_BUFFER_SIZE];    // "-startfile" name
    int output_started;                   // 0 until the start name is reached
    FILE* output;                         // restored file open for writing, or null
    FILE* log;                            // "Brimreadlog.txt", or null
    char current_name[NAME_BUFFER_SIZE];  // output name of the current file (also when skipped)
    RestoredFile file;
    VerifyTotals verify;
};

extern BrimreadRun g_run;

// Planes queued into the current ECC block, 0..71 between calls.
extern int32_t g_ecc_n;

// Puts the run state into its start-up values: correction on, output started, no
// recursion, no files. Keeps `block` and the decoder's buffers as they are.
void run_state_reset();
