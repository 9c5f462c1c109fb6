// Frame classifier: decides what a recognised frame is (next, repeated, dropped,
// a copy of a file's frame 0) by comparing its record with the last recognised
// one, and does the byte bookkeeping of the file being restored.
#pragma once

#include <cstdint>

#include "ecc.h"
#include "frame_layout.h"
#include "tape_model.h"

// Classification codes; any other frame_code value is a count of dropped frames.
constexpr uint32_t FRAME_NEXT = 0x80000000u;
constexpr uint32_t FRAME_REPEAT = 0x80000001u;
constexpr uint32_t REDUNDANT_FRAME0 = 0x80000002u;
constexpr uint32_t FRAME0_ACCEPTED = 0x80000003u;
constexpr uint32_t RESET_FRAME0 = 0x80000004u;

// frame0_run: agreeing copies counted before acceptance; ACCEPTED once accepted.
constexpr int FRAME0_RUN_ACCEPT = 3;      // the 4th agreeing copy is the one used
constexpr int FRAME0_RUN_ACCEPTED = 4;


// True if `code` is a drop count rather than one of the five codes.
bool is_drop_count(uint32_t code);

// True if the record's header can be used: its magic matched, its file is one of
// the recording's files, and its frame indices are ones the encoder can write
// (the frame index within the file's own last index, which is within the
// largest file). Other frames are treated as not recognised, so that indices
// from damaged or hostile headers cannot force drop counts near the 24-bit limit.
bool frame_recognised(const FrameRecord* record);

// Completes `current` from its header fields and `previous` (the last recognised
// frame's record as this function left it), counting bytes in planes of system
// `v`: frame0_run, Zerobytes, RealBytes, frame_code and bytes_remaining. Returns 1.
int classify_frame(const VideoSystem& v, FrameRecord* current, const FrameRecord* previous);

// Frames a classified record adds to the "decoded" statistics: 1 for the next
// frame and an accepted frame 0, none for repeats and redundant copies, n + 1 for
// n frames lost inside a file, and n for n frames lost at the end of the previous
// file (the new file's frame 0 counts when it is accepted). Which block
// positions are queued is worked out from the frame indices (placement.h).
int decoded_count(const FrameRecord* record);
