// The recording ID: 128 bits drawn once per brimwrite run, so that the frames and
// file records of one recording can be told from those of any other.
#pragma once

#include <cstdint>

#include "file_record.h"

// Draws a new ID into `id` (RECORDING_ID_SIZE bytes).
void draw_recording_id(uint8_t* id);
