// The recording ID: 128 bits drawn once per brimwrite run, so that the frames and
// file records of one recording can be told from those of any other.
#pragma once

#include <cstdint>

#include "file_record.h"

// Draws a new ID into `id` (RECORDING_ID_SIZE bytes), or takes the one that
// BRIM_RECORDING_ID holds as 32 hexadecimal digits (for output that is the same
// from run to run: the same files, modification times and ID give the same AVI files).
void draw_recording_id(uint8_t* id);
