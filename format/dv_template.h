// The template frame chunk that every data frame is packed into: an AVI "00dc"
// chunk header followed by one consumer DV frame of the tape's system (525/60
// 4:1:1, or 625/50 4:2:0) showing a black picture with silent 48 kHz stereo audio.
#pragma once

#include <cstdint>

#include "frame_layout.h"

// Writes the v.chunk_size-byte template chunk of system `v` into `chunk` (a
// 625/50 frame: 12 sequences, black 720x576, 1,920 silent stereo samples; a
// 525/60 one: 10 sequences, 720x480, 1,600). The DV frame's header byte 4 holds
// DIF_TOGGLE_A, the value the first packed frame carries.
void build_template_frame(const VideoSystem& v, uint8_t* chunk);

// Checks the bytes of `chunk` (v.chunk_size bytes) that the frame reader relies
// on: chunk id starting "00", length v.frame_size, DV bytes 1..3 (the system's
// DSF byte) and 5..7. Returns 1 if they are right, else 0 with `*problem` (if
// `problem` is not null) pointing to a short static description of the first
// fault found.
int check_template_frame(const VideoSystem& v, const uint8_t* chunk, const char** problem);
