// Where the recording lies when a capture may begin inside it: a look ahead over
// the first frames finds a frame whose block position is certain, and from the
// files seen before it the position of the first file's frame 0.
#pragma once

#include <cstdint>

#include "frame_reader.h"
#include "decoder_state.h"

// Frames looked at: distinct frames, and frames of any kind.
constexpr int ALIGNMENT_DISTINCT_FRAMES = 4 * ECC_N;
constexpr int ALIGNMENT_MAX_FRAMES = 8192;

// Reads frames from `first_name` on with `reader` (silently; it is rewound
// afterwards), unpacking them into `plane` (MAX_PLANE_SIZE bytes; `spare` as
// ReadDVFrame needs), and fills `out` for the first recognised frame's file and
// with its recording's tag and video system (frames of another tag or system
// are passed over). A position is
// certain for file 1's frames (file 1 starts the recording), for the last
// file's (its last frame closes a block), and for a parity group (a frame whose
// bytes_remaining repeats that of the frame before it in its file is parity,
// and the data frame before the group has block position 63).
void find_alignment(const char* first_name, FrameReader* reader, uint8_t* spare, uint8_t* plane, Alignment* out);

// One distinct frame as the look ahead saw it.
struct SeenFrame {
    int32_t file_index;
    int32_t frame_index;
    int32_t last_frame_index;
    int64_t remaining;   // bytes_remaining as the header holds it
};

// The alignment that `seen` (count frames, in capture order, one recording)
// proves for the file of seen[0]; anchored 0 when it proves none.
Alignment alignment_from(const SeenFrame* seen, int count, int32_t file_count);
