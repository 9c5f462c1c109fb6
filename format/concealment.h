// Concealment marks: a camcorder that could not read a video DIF block fills it
// from a neighbouring frame and says so in the block's STA nibble (the high
// nibble of byte 3; 0 means a valid block). A payload block marked so holds
// another frame's bytes, so its 76 plane bytes are known to be bad.
#pragma once

#include <cstdint>

#include "frame_layout.h"

constexpr int STA_BYTE = 3;          // byte 3 of a video DIF block: STA | QNO
constexpr uint8_t STA_MASK = 0xF0;

// Writes into `blocks` the numbers (0..v.payload_blocks-1, in plane order) of the
// payload blocks of `dv_frame` (a frame of system `v`) whose STA is not 0, and
// returns how many there are. `blocks` has room for v.payload_blocks entries.
int concealed_payload_blocks(const VideoSystem& v, const uint8_t* dv_frame, uint16_t* blocks);
