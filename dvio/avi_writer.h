// Writer of the numbered output AVI files DV000001.avi, DV000002.avi, ...: a
// 224-byte header computed from the planned frame count, the frame chunks, and
// an "idx1" index written as soon as the file holds its planned frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "encode_plan.h"
#include "events.h"
#include "frame_layout.h"

constexpr int AVI_HEADER_SIZE = 224;
constexpr int AVI_INDEX_ENTRY_SIZE = 16;
constexpr int AVI_INDEX_HEADER_SIZE = 8;     // "idx1" and its length
constexpr int AVI_NAME_SIZE = 32;            // "DV" + at least six digits + ".avi" + NUL
constexpr int AVI_STREAM_BUFFER_SIZE = 1 << 20;

// Largest planned frame count of system `v` whose file length still fits the
// 32-bit RIFF length.
constexpr int32_t avi_max_frames(const VideoSystem& v)
{
    return static_cast<int32_t>((UINT32_MAX - AVI_HEADER_SIZE) / (v.chunk_size + AVI_INDEX_ENTRY_SIZE));
}

// Largest frame count of system `v` whose file stays within 2 GiB - 1, where
// some DV tools stop reading an AVI 1.0 file.
constexpr int32_t avi_portable_frames(const VideoSystem& v)
{
    return static_cast<int32_t>((INT32_MAX - AVI_HEADER_SIZE - AVI_INDEX_HEADER_SIZE) /
                                (v.chunk_size + AVI_INDEX_ENTRY_SIZE));
}

// Writes the name of AVI file `number` ("DV%06d.avi") into `name` (AVI_NAME_SIZE bytes).
void avi_file_name(int32_t number, char* name);

// Fills `header` (AVI_HEADER_SIZE bytes) with the file header of an AVI file of
// system `v` (picture size, rate, frame size) planned to hold `frames` frame chunks.
void avi_build_header(const VideoSystem& v, int32_t frames, uint8_t* header);

// Appends the frame chunk in `frame_buffer` (of the plan's system; repeat0 times
// when info->frame_index is 0, none when repeat0 is 0 or less), opening the next AVI file when none is
// open and finishing each one by the plan. false when a file cannot be created or
// written: `sink` has been told the file and the system's reason, the file is
// closed and *avi is null.
[[nodiscard]] bool write_avi_frame(const uint8_t* frame_buffer, const FrameInfo* info, EncodePlan* plan, FILE** avi,
                                   EventSink* sink);

// Finishes the open AVI file with its index once it holds its planned frames,
// then moves on to the next file number. false, with the reason told to `sink`,
// when the index cannot be written or the file cannot be closed.
[[nodiscard]] bool CloseAVIfile(EncodePlan* plan, FILE** avi, EventSink* sink);
