// ECC block queue and file writer: queued planes fill ECC blocks; each full block
// is corrected and its 64 data planes are written into the restored files, each
// at the file offset its position stands for.
#pragma once

#include <cstdint>

#include "block_correct.h"
#include "run_state.h"

// Results of add2queue and dump_eccblock.
constexpr int QUEUE_OK = 0;
constexpr int QUEUE_CATASTROPHIC = 1;   // the decoder and the queue disagree; the run cannot go on
constexpr int QUEUE_WRITE_FAILED = 2;   // a restored file could not be written; reported already

// Copies `plane` (PLANE_SIZE bytes; null for a filler, queued as zero bytes;
// not copied when it is queue_buffer() already) into the decoder's next receive buffer and `entry` into the block record
// array; `concealed` lists `concealed_count` payload blocks known to be bad.
// Every 72nd call corrects the block and writes it out.
int add2queue(const uint8_t* plane, const QueueEntry* entry, const uint16_t* concealed, int concealed_count);

// The decoder's buffer for the next block position. A plane unpacked into it
// is queued there without a copy; queueing anything else first overwrites it.
uint8_t* queue_buffer();

// Fetches the 64 data planes of the corrected block from the decoder and writes
// them out guided by the block record array (`intact`: the verdict on each):
// a new file at each file's frame 0, progress marks, each plane's bytes; every
// file with data in the block takes the parity's verdict `check`. Returns
// QUEUE_OK, QUEUE_WRITE_FAILED, or QUEUE_CATASTROPHIC when the decoder has no
// complete block to hand out.
int dump_eccblock(const uint8_t* intact, const BlockCheck* check);

// Writes out a block none of whose positions was received (`entries`, ECC_N of
// them) without decoding it: its marks, and zero bytes where its data planes
// belong in the files being written. Call only when no plane is queued.
int dump_lost_block(const QueueEntry* entries);

// Closes the restored file that is open at the end of the run and books it for
// the verification report. Returns QUEUE_OK or QUEUE_WRITE_FAILED.
int finish_output();

// Where the file being written starts (global position), or INT64_MAX when none
// is: a capture file holding any of its frames is still needed until it is closed.
int64_t writer_file_start();

// Books for the verification report the files `first` .. `last` of a recording
// of `file_count` files, of which nothing was captured; consecutive missing files
// make one line of the report.
void report_missing_files(int32_t first, int32_t last, int32_t file_count);

// What a data position of a file whose size no header told holds of it.
enum PlaneRole {
    PLANE_FULL = 0,   // a plane before the file's last: full
    PLANE_LAST,       // the file's last plane: its length is inferred
    PLANE_NONE,       // beyond the file's data (padding)
};

// The bytes a block position adds to its file: how many, from which plane byte,
// at which file offset (see plane_span). When the file's size is unknown, `role`
// says what the position holds; the last plane's length is inferred from the
// bytes behind the file's data, which the encoder leaves as they were in the
// data plane before it (`previous`, null when not at hand), and `*inferred` is
// set. Count 0: nothing to write.
struct PositionBytes {
    int64_t offset;
    int32_t count;
    int32_t plane_start;
};
PositionBytes position_bytes(const FileTrack* track, int32_t frame_index, const uint8_t* plane,
                             const uint8_t* previous, int role, int* inferred);
