// Where every frame of a recording lies. The encoder writes a stream of
// distinct frames at global positions 0, 1, 2, ... (the repeated copies of a
// file's frame 0 count once); ECC block b holds positions 72b .. 72b + 71, of
// which block positions 64..71 are parity. A file occupies the positions from
// its frame 0 to its last frame, one per frame index; its data planes sit at its
// non-parity positions in order. So the file, the byte count and the file
// offset of every position follow from the file's first position and size, for
// received frames and lost ones alike.
#pragma once

#include <cstdint>

#include "ecc.h"
#include "frame_layout.h"

// Size bounds that the header fields set (all sizes below are of system `v`). The largest file the 40-bit
// bytes_remaining field describes, and from it the highest frame index a
// genuine header can hold: every plane, the parity frames of every block it
// completes, and the frames that close the last block.
constexpr int BYTES_REMAINING_BITS = 40;
constexpr int64_t MAX_TAPE_FILE_BYTES = (int64_t{1} << BYTES_REMAINING_BITS) - 1;
constexpr int FRAME_INDEX_BITS = 24;
constexpr int64_t MAX_FRAME_INDEX = (int64_t{1} << FRAME_INDEX_BITS) - 1;
// The smaller 525/60 plane gives the larger bound, which holds for both systems.
constexpr int64_t MAX_TAPE_FILE_PLANES =
    1 + (MAX_TAPE_FILE_BYTES - SYSTEM_525_60.first_plane_data + SYSTEM_525_60.plane_size - 1) /
            SYSTEM_525_60.plane_size;
static_assert(SYSTEM_525_60.plane_size < SYSTEM_625_50.plane_size, "525/60 has the smaller plane");
constexpr int32_t MAX_GENUINE_FRAME_INDEX =
    static_cast<int32_t>(MAX_TAPE_FILE_PLANES + ECC_NMK * ((MAX_TAPE_FILE_PLANES + ECC_K - 1) / ECC_K) + ECC_N);
static_assert(MAX_GENUINE_FRAME_INDEX <= MAX_FRAME_INDEX, "the bound lies within the 24-bit fields");

// Block position of global position `g` (g >= 0).
inline int block_position(int64_t g) { return static_cast<int>(g % ECC_N); }

// 1 if global position `g` holds a parity plane.
inline int is_parity_position(int64_t g) { return block_position(g) >= ECC_K; }

// First global position of the block holding `g`.
inline int64_t block_base(int64_t g) { return g - block_position(g); }

// Number of data positions in [start, g) (start <= g).
int64_t data_positions_between(int64_t start, int64_t g);

// Global position of data plane `d` (0 = the first plane) of a file whose frame 0
// lies at `start` (a data position).
int64_t data_plane_position(int64_t start, int64_t d);

// File offset and capacity of a file's data plane `d` on a tape of system `v`:
// plane 0 carries v.first_plane_data bytes behind the header area, every later
// one v.plane_size.
int64_t plane_file_offset(const VideoSystem& v, int64_t d);
int32_t plane_capacity(const VideoSystem& v, int64_t d);

// Data planes of a file of `size` bytes (size >= 1) on a tape of system `v`.
int64_t file_plane_count(const VideoSystem& v, int64_t size);

// The size a frame's header implies for its file, or -1 when it implies none:
// a frame at position `g` of the file starting at `start` whose header counts
// `remaining` > 0 bytes from its own data on. A parity frame repeats the count
// of the data frame at block position 63 before it.
int64_t size_from_header(const VideoSystem& v, int64_t start, int64_t g, int64_t remaining);

// The last frame index the encoder gives a file starting at `start` with `size`
// bytes: its planes, the parity frames of every block one of its planes
// completes, and for the recording's last file (`last_file`) the padding and
// parity that close its last block.
int64_t expected_last_index(const VideoSystem& v, int64_t start, int64_t size, int last_file);

// What one position of a file contributes to it: `count` bytes from plane byte
// `plane_start` at file offset `offset`. `count` is 0 for parity and padding
// positions; -1 when the file's size is unknown and the position holds a data
// plane (its count is then at most the plane's capacity).
struct PlaneSpan {
    int64_t offset;
    int32_t count;
    int32_t plane_start;
    int64_t data_index;   // the plane's number within the file, or -1 for parity
};

PlaneSpan plane_span(const VideoSystem& v, int64_t start, int64_t size, int64_t g);
