// Brimread's run state: one of each for the whole run, shared by the driver, the
// placement of frames and the block writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "content_hash.h"
#include "ecc.h"
#include "ecc_erasure.h"
#include "file_record.h"
#include "frame_layout.h"
#include "restore_path.h"
#include "restored_names.h"

// No file is known to own a position (before the first file of a capture that
// begins inside a recording, after the last one, or in a recording unknown here).
constexpr int64_t NO_TRACK = -1;

// One file of the recording as the placed frames describe it. Tracks are
// numbered in file order; the ring keeps those that the block being filled and
// the file being written can still refer to.
struct FileTrack {
    int64_t id;
    int32_t file_index;
    int32_t file_count;
    int64_t start;          // global position of its frame 0
    int32_t last;           // its last frame index
    int64_t size;           // its size in bytes, -1 while no header has told it
    int assumed;            // never seen: a file lost whole between two seen ones, taken as one frame
    int before_capture;     // its frame 0 lies before the first frame of the capture
    int inconsistent;       // its headers contradict where its frames lie
    int received;           // frames of it received and placed (more than one confirms its indices)
};
constexpr int TRACK_RING = 2 * ECC_N + 16;

// One queued block position.
// The run's log, in the current directory.
constexpr const char* LOG_FILE_NAME = "Brimreadlog.txt";

struct QueueEntry {
    FrameRecord record;     // the frame queued here; for a filler, the frame whose arrival showed the loss
    int filler;             // the plane stands in for a lost frame
    int64_t track;          // id of the file owning the position, or NO_TRACK
    int32_t frame_index;    // the position's frame index within that file
    int64_t remaining;      // bytes_remaining as the received frame's header holds it; -1 for a filler
    int bad;                // the whole plane is known bad: a filler, or a wrong checksum without marks
    int marked;             // some of its payload blocks are known bad (marked concealed)
    int path_suspect;       // the path field of a frame 0 here may be damaged
};

// What became of a restored file.
enum OutputState {
    OUTPUT_WRITING = 0,     // created; bytes go to it
    OUTPUT_REFUSED,         // its stored path was refused; nothing is written
    OUTPUT_OPEN_FAILED,     // it could not be created; nothing is written
    OUTPUT_CUT,             // its first frame lies before the capture; nothing is written
    OUTPUT_FIRST_LOST,      // its first frame was lost or damaged beyond repair; nothing is written
    OUTPUT_MISSING,         // none of its frames is in the capture
    OUTPUT_NAME_TAKEN,      // a file restored earlier in this run has its output name; nothing is written
};

// Bookkeeping of one file that was due to be written, for the verification report.
struct RestoredFile {
    int tracked;                  // 1 while such a file is current
    int64_t track;                // its track id
    int state;                    // OutputState
    int path_verdict;             // PathVerdict of its stored path
    char name[NAME_BUFFER_SIZE];  // output path, the stored path when refused, or "file #n" when unknown
    int64_t announced;            // its size, -1 when no header told it
    int64_t written;              // bytes written to it
    int32_t planes_failed;        // planes not known to be the ones the encoder wrote
    int inconsistent;             // its headers contradict where its frames lie
    int size_inferred;            // no header told its size: its last plane's length was inferred
    int32_t file_index;           // its number in the recording
    int32_t last_file_index;      // OUTPUT_MISSING: the last of consecutive files missing alike
    int32_t file_count;
    RecordState record_state;     // the file record of its first plane
    FileRecord record;            // when VALID
    Digest128 digest;             // hash of the bytes written
    int parity_disagrees;         // a block holding its data has a syndrome the correction left unexplained
    int unverified;               // a block holding its data had no parity left to check its planes
    char taken_by[NAME_BUFFER_SIZE];   // OUTPUT_NAME_TAKEN: the output name it shares ("" when not checked)
    int recursed;                 // restored with its stored directories ("-recurse")
    int hash_skipped;             // a hole too long to hash: its digest is not of its bytes
};

// Files listed by name in the verification report; further damaged files are counted.
constexpr int MAX_LISTED_DAMAGED = 400;

struct VerifyTotals {
    int64_t files;                // files that were due to be written
    int64_t intact;
    int listed;
    int64_t unlisted;
    int64_t foreign_frames;       // frames of another recording, not used
    RestoredFile damaged[MAX_LISTED_DAMAGED];
};

// Buffers of the block correction, allocated once by the driver.
struct CorrectionBuffers {
    ECCErasures* erasures;        // known-bad places of the block being filled
    uint8_t* snapshot;            // ECC_K planes: received bytes of trusted planes a correction may change
    uint8_t* previous_plane;      // the last data plane written, for the length of a short plane
};

struct BrimreadRun {
    ECCDecoder decoder;
    QueueEntry* block;                    // ECC_N entries, allocated once by the driver
    CorrectionBuffers correction;
    FileTrack tracks[TRACK_RING];
    int correct;                          // pass the block code's corrections on ("-nocorrect" clears it)
    int recurse;                          // restore stored directory paths ("-recurse")
    char start_name[NAME_BUFFER_SIZE];    // "-startfile" name
    int output_started;                   // 0 until the start name is reached
    FILE* output;                         // restored file open for writing, or null
    FILE* log;                            // "Brimreadlog.txt", or null
    const char* capture_name;             // the run's first capture file, or null
    char current_name[NAME_BUFFER_SIZE];  // output name of the current file (also when skipped)
    int64_t writer_track;                 // track of the file the writer is in, or NO_TRACK
    int64_t previous_plane_at;            // position of the plane kept in correction.previous_plane, or -1
    RestoredFile file;
    VerifyTotals verify;
    ContentHash written;                  // hash of the bytes written to the current file
    RestoredNames names;                  // output names restored in this run
    int output_failed;                    // a restored file could not be created or written
    int sync_outputs;                     // restored files go to disk as they close (-inplace)
    int keep_captures;                    // a file with data in the capture was not written: delete no capture
    int64_t hole;                         // zero bytes of the current file still to skip over
    int64_t lost_in_row;                  // blocks lost whole since the last decoded one
    int64_t lost_unshown;                 // of them, those whose marks were not shown
};

extern BrimreadRun g_run;

// Planes queued into the current ECC block, 0..71 between calls.
extern int32_t g_ecc_n;

// Puts the run state into its start-up values: correction on, output started, no
// recursion, no files, no tracks. Keeps `block`, the correction buffers and the
// decoder's buffers as they are.
void run_state_reset();

// Allocates the block entries, the correction buffers, the hash state and the
// table of restored names (once). Returns 1, or 0 when memory is short.
int run_state_allocate();

// The track with id `id` (not NO_TRACK).
inline FileTrack* track_of(int64_t id) { return &g_run.tracks[id % TRACK_RING]; }
