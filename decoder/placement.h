// Placement of received frames in the block queue. Every frame's global
// position follows from its file and frame index (see tape_model.h): a file
// starts right after the previous file's last frame, so block positions come
// from the frame indices, not from byte counts. Positions that no received frame
// fills are queued as fillers (known-bad planes for the block code to rebuild),
// so the blocks stay aligned with the encoder's whatever was lost.
//
// A file's frame 0 arrives as many copies: its position is filled with the
// accepted copy, or, when the file's next frame comes first, with the best copy
// received (one whose checksum matches if any), or a filler when none came.
#pragma once

#include <cstdint>

#include "run_state.h"

// One recognised, classified frame as the driver hands it on.
struct ReceivedFrame {
    const uint8_t* plane;         // PLANE_SIZE bytes
    const FrameRecord* record;    // after classify_frame
    int64_t header_remaining;     // bytes_remaining as the header holds it
    const uint16_t* concealed;    // payload blocks marked concealed; used when the checksum does not match
    int concealed_count;
    int new_recording;            // an accepted frame 0 of file 1 whose recording tag differs from the run's
};

// Where the recording lies relative to the capture: the global position of the
// frame 0 of file `file_index`. A capture from the start of a recording has
// file 1 at 0; one that starts inside a recording needs the pre-scan.
struct Alignment {
    int32_t file_index;   // 0: nothing known (the first frame's file is then taken to start at 0)
    int64_t start;
    int anchored;         // found in the recording itself rather than assumed
    int tag_known;        // a frame was seen: `recording_tag` and `file_count` are the recording's
    uint16_t recording_tag;   // the tag of the capture's first recording (two frames agreeing on it)
    int32_t file_count;       // its file count, from the same two frames
};

// A frame placed this far or farther beyond the next position waits until the
// next frame confirms where it lies: one header cannot claim a gap of any size.
constexpr int64_t CONFIRM_JUMP = ECC_N;

// Allocates the buffers of the placement (once). Returns 1, or 0 when memory is short.
int placement_allocate();

// Starts the placement of a run over the recording lying as `alignment` says.
void placement_reset(const Alignment* alignment);

// Places one frame: queues fillers for the positions lost before it, then the
// frame itself, unless it repeats a position already queued, contradicts what
// is known of its file or belongs to no recording that can be followed. A frame
// CONFIRM_JUMP or more positions ahead is held (copied) until the next frame
// lies shortly after it; otherwise it is dropped. Returns a QUEUE_ result.
int place_frame(const ReceivedFrame* frame);

// 1 while the input would end inside a block: planes are queued, or a frame 0
// waits for more copies.
int placement_inside_block();

// At the end of the input: queues the frame 0 still waiting, and completes the
// block being filled with fillers for the frames still due, which writes it.
// Returns a QUEUE_ result.
int finish_placement();

// Books for the report the files of the recording after the last one seen.
void report_unseen_files();

// Every position before this one is corrected and written out (0 before the
// first frame is placed).
int64_t placement_written_through();

// Everything placed so far lies before this position: queued, or waiting as a
// copy of a frame 0.
int64_t placement_reach();
