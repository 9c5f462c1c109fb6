// The template frame chunk that every data frame is packed into: an AVI "00dc"
// chunk header followed by one consumer NTSC DV frame (525/60, 4:1:1) showing a
// black picture with silent 48 kHz stereo audio.
#pragma once

#include <cstdint>

#include "frame_layout.h"

// Writes the FRAME_CHUNK_SIZE-byte template chunk into `chunk`. The DV frame's
// header byte 4 holds DIF_TOGGLE_A, the value the first packed frame carries.
void build_template_frame(uint8_t* chunk);

// The same for video system `v`: CHUNK_HEADER_SIZE + frame_size_of(v) bytes (a
// 625/50 frame: 12 sequences, black 720x576, 1,920 silent stereo samples).
void build_template_frame_for(const VideoSystem& v, uint8_t* chunk);
constexpr int PAL_FRAME_CHUNK_SIZE = CHUNK_HEADER_SIZE + frame_size_of(SYSTEM_625_50);   // 144,008

// Checks the bytes of `chunk` (FRAME_CHUNK_SIZE bytes) that the frame reader
// relies on: chunk id starting "00", length 120,000, DV bytes 1..3 and 5..7.
// Returns 1 if they are right, else 0 with `*problem` (if `problem` is not null)
// pointing to a short static description of the first fault found.
int check_template_frame(const uint8_t* chunk, const char** problem);
