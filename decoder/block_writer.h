// The file writer: the 64 data planes of each corrected block go into the
// restored files, each at the file offset its position stands for. It opens a
// file at each file's frame 0 (under the path policy of restore_path.h), shows
// the progress marks, hashes what it writes and books every file for the report.
#pragma once

#include <cstdint>

#include "block_correct.h"
#include "decoder.h"

// Zero bytes for positions that hold nothing usable.
extern const uint8_t ZERO_PLANE[MAX_PLANE_SIZE];

// Allocates the writer's buffers, hash state and name table (once); false when
// memory is short. writer_release frees them (closing a file left open);
// writer_reset starts a run with no file open and no name restored.
[[nodiscard]] bool writer_allocate(FileWriter& w);
void writer_release(FileWriter& w);
void writer_reset(FileWriter& w, const DecoderOptions& options);

// Closes the restored file a run that stopped at a failure left open.
void writer_stop(FileWriter& w);

// Starts writing behind the decoder when the options ask for it and a thread
// and the block code's second set of data planes can be had; else the run
// writes on the decoder's thread. Called at the start of a run.
void writer_start_behind(Decoder& d);

// Writing behind: waits until the writes queued before `mark` are done; a
// failure among them is reported (once) and stops the run.
DecodeStatus writer_wait(Decoder& d, int64_t mark);

// Marks and writes the 64 data positions of a block (`entries`, `planes` holding
// each one's plane, `intact` the verdict on each); each file with data here
// takes the block's verdict `check`. With `quiet` no mark is shown.
DecodeStatus write_block(Decoder& d, const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact,
                         const BlockCheck* check, bool quiet);

// Closes the restored file that is open at the end of the run and books it for
// the verification report.
DecodeStatus finish_output(Decoder& d);

// Where the file being written starts (global position), or INT64_MAX when none
// is: a capture file holding any of its frames is still needed until it is closed.
int64_t writer_file_start(const Decoder& d);

// What a data position of a file whose size no header told holds of it.
enum PlaneRole {
    PLANE_FULL = 0,   // a plane before the file's last: full
    PLANE_LAST,       // the file's last plane: its length is inferred
    PLANE_NONE,       // beyond the file's data (padding)
};

// The bytes a block position adds to its file: how many, from which plane byte,
// at which file offset (see plane_span), in planes of system `v`. When the file's size is unknown, `role`
// says what the position holds; the last plane's length is inferred from the
// bytes behind the file's data, which the encoder leaves as they were in the
// data plane before it (`previous`, null when not at hand), and `*inferred` is
// set. Count 0: nothing to write.
struct PositionBytes {
    int64_t offset;
    int32_t count;
    int32_t plane_start;
};
PositionBytes position_bytes(const VideoSystem& v, const FileTrack* track, int32_t frame_index, const uint8_t* plane,
                             const uint8_t* previous, int role, int* inferred);
