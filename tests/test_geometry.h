// The 525/60 geometry that most tests are written for, under the short names
// they use; tests of both systems take the sizes from the VideoSystem instead.
#pragma once

#include "ecc.h"
#include "frame_layout.h"

inline constexpr const VideoSystem& NTSC = SYSTEM_525_60;
inline constexpr const VideoSystem& PAL = SYSTEM_625_50;
constexpr int DIF_SEQUENCES = NTSC.dif_sequences;
constexpr int DV_FRAME_SIZE = NTSC.frame_size;
constexpr int FRAME_CHUNK_SIZE = NTSC.chunk_size;
constexpr int PAYLOAD_BLOCKS = NTSC.payload_blocks;
constexpr int PLANE_SIZE = NTSC.plane_size;
constexpr int FIRST_PLANE_DATA = NTSC.first_plane_data;
constexpr int ECC_PLANE_BYTES = NTSC.plane_size;
constexpr int ECC_PLANE_WORDS = ECC_PLANE_BYTES / ECC_WORD_BYTES;
constexpr int ECC_SEGMENTS = NTSC.payload_blocks;
inline const int* const PAYLOAD_BLOCK_FRAME_OFFSETS = payload_block_offsets(NTSC);
