// Writer of raw DV: the frames alone (120,000 or 144,000 bytes each, by system), as numbered files
// DV000001.dv, DV000002.dv, ... split where the plan splits its AVI files, or as
// one stream on standard output for a sending tool.
#pragma once

#include <cstdint>
#include <cstdio>

#include "encode_plan.h"
#include "events.h"
#include "frame_layout.h"

constexpr int RAW_NAME_SIZE = 32;   // "DV" + at least six digits + ".dv" + NUL

// Writes the name of raw DV file `number` ("DV%06d.dv") into `name` (RAW_NAME_SIZE bytes).
void raw_file_name(int32_t number, char* name);

// Appends the DV frame of the chunk in `frame_buffer` (repeat0 times when
// info->frame_index is 0), with the plan's cursors moved as write_avi_frame moves
// them: the next file opens when none is (standard output for RAW_STREAM), the
// current one closes (a stream is flushed) once it holds its planned frames.
// False after telling `sink` the file and the system's reason when a file cannot
// be created or written (*out is then null).
[[nodiscard]] bool write_raw_frame(const uint8_t* frame_buffer, const FrameInfo* info, EncodePlan* plan, FILE** out,
                                   EventSink* sink);
