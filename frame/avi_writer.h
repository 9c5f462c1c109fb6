// Writer of the numbered output AVI files DV000001.avi, DV000002.avi, ...: a
// 224-byte header computed from the planned frame count, the frame chunks, and
// an "idx1" index written as soon as the file holds its planned frames.
#pragma once

#include <cstdint>
#include <cstdio>

#include "encode_plan.h"
#include "frame_layout.h"

constexpr int AVI_HEADER_SIZE = 224;
constexpr int AVI_INDEX_ENTRY_SIZE = 16;

// Appends the frame chunk in `frame_buffer` (repeat0 times when info->frame_index
// is 0), opening and closing AVI files by the plan. Returns 1, or -1 after
// printing a message naming the file when a file cannot be created or written.
int write_avi_frame(const uint8_t* frame_buffer, const FrameInfo* info, EncodePlan* plan, FILE** avi);

// Finishes the open AVI file with its index when it holds its planned frames.
// Returns 1, or -1 after printing a message when the index cannot be written.
int CloseAVIfile(EncodePlan* plan, FILE** avi);
