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

#include "decoder.h"

// A frame placed this far or farther beyond the next position waits until the
// next frame confirms where it lies: one header cannot claim a gap of any size.
constexpr int64_t CONFIRM_JUMP = ECC_N;

// Allocates the buffers of the placement (once); false when memory is short.
// placement_release frees them.
[[nodiscard]] bool placement_allocate(Placement& p);
void placement_release(Placement& p);

// Starts the placement of a run over the recording lying as `alignment` says.
void placement_reset(Placement& p, const Alignment& alignment);

// Where the file after `track` learns its size from elsewhere (a checked file
// record): the track takes it, and a header that claimed another marks it
// inconsistent. The placement owns the tracks; the writer tells it this way.
void placement_learn_size(Decoder& d, int64_t track, int64_t size);

// Places one frame: queues fillers for the positions lost before it, then the
// frame itself, unless it repeats a position already queued, contradicts what
// is known of its file or belongs to no recording that can be followed. A frame
// CONFIRM_JUMP or more positions ahead is held (copied) until the next frame
// lies shortly after it; otherwise it is dropped.
DecodeStatus place_frame(Decoder& d, const ReceivedFrame* frame);

// True while the input would end inside a block: planes are queued, or a frame 0
// waits for more copies.
bool placement_inside_block(const Decoder& d);

// At the end of the input: queues the frame 0 still waiting, and completes the
// block being filled with fillers for the frames still due, which writes it.
DecodeStatus finish_placement(Decoder& d);

// Books for the report the files of the recording after the last one seen.
void report_unseen_files(Decoder& d);

// Every position before this one is corrected and written out (0 before the
// first frame is placed).
int64_t placement_written_through(const Decoder& d);

// Everything placed so far lies before this position: queued, or waiting as a
// copy of a frame 0.
int64_t placement_reach(const Decoder& d);
