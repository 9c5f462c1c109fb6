#include "classifier.h"

namespace {

// A frame with a non-zero index: repeat, gap or next frame of the file.
void classify_later_frame(const VideoSystem& v, FrameRecord* cur, const FrameRecord* prev)
{
    const int64_t plane = v.plane_size;
    const int64_t header = cur->bytes_remaining;
    const int is_last = cur->frame_index == cur->last_frame_index;
    cur->frame0_run = 0;
    cur->Zerobytes = 0;
    if (cur->frame_index == prev->frame_index) {
        cur->frame_code = FRAME_REPEAT;
        cur->RealBytes = 0;
        cur->bytes_remaining = is_last ? 0 : header - plane;
    } else if (cur->frame_index > prev->frame_index + 1) {
        int64_t lost = static_cast<int64_t>(cur->frame_index) - prev->frame_index - 1;
        cur->frame_code = static_cast<uint32_t>(lost);
        cur->Zerobytes = lost * plane;
        cur->RealBytes = is_last ? header : plane;
        cur->bytes_remaining = is_last ? 0 : header - plane;
    } else {
        cur->frame_code = FRAME_NEXT;
        cur->RealBytes = header >= plane ? plane : header;
        cur->bytes_remaining = header >= plane ? header - plane : 0;
    }
}

// The first copy of a file's frame 0 after other frames: the previous file ends
// here, complete or with frames missing at its end.
void classify_first_copy(FrameRecord* cur, const FrameRecord* prev)
{
    cur->frame0_run = 0;
    cur->RealBytes = 0;
    if (prev->bytes_remaining > 0) {
        cur->frame_code = static_cast<uint32_t>(prev->last_frame_index - prev->frame_index);
        cur->Zerobytes = prev->bytes_remaining;
    } else {
        cur->frame_code = REDUNDANT_FRAME0;
        cur->Zerobytes = 0;
        cur->bytes_remaining = prev->bytes_remaining;
    }
}

// Accepted copy: the file starts here. A file whose data ends inside its first
// plane counts only the bytes its header says remain, even when frames (padding,
// parity) follow that plane.
void accept_frame0(const VideoSystem& v, FrameRecord* cur)
{
    const int64_t header = cur->bytes_remaining;
    cur->frame_code = FRAME0_ACCEPTED;
    cur->frame0_run = FRAME0_RUN_ACCEPTED;
    if (cur->last_frame_index == 0 || header < v.first_plane_data) {
        cur->RealBytes = header;
        cur->bytes_remaining = 0;
    } else {
        cur->RealBytes = v.first_plane_data;
        cur->bytes_remaining = header - v.first_plane_data;
    }
}

// Another copy of the same file's frame 0 right after one.
void classify_next_copy(const VideoSystem& v, FrameRecord* cur, const FrameRecord* prev)
{
    cur->Zerobytes = 0;
    cur->RealBytes = 0;
    if (cur->sum_computed == prev->sum_computed && prev->frame0_run < FRAME0_RUN_ACCEPT) {
        cur->frame0_run = prev->frame0_run + 1;
        if (cur->frame0_run == FRAME0_RUN_ACCEPT) {
            accept_frame0(v, cur);
        } else {
            cur->frame_code = REDUNDANT_FRAME0;
            cur->bytes_remaining = prev->bytes_remaining;
        }
    } else if (prev->frame0_run >= FRAME0_RUN_ACCEPTED) {
        cur->frame_code = REDUNDANT_FRAME0;
        cur->frame0_run = prev->frame0_run;
        cur->bytes_remaining = prev->bytes_remaining;
    } else {
        // A copy that disagrees with its predecessor: counting starts again from it.
        cur->frame_code = RESET_FRAME0;
        cur->frame0_run = 0;
    }
}

}  // namespace

bool is_drop_count(uint32_t code) { return code < FRAME_NEXT || code > RESET_FRAME0; }

bool frame_recognised(const FrameRecord* record)
{
    return record->magic_ok == 1 && record->file_index >= 1 && record->file_index <= record->file_count &&
           record->frame_index >= 0 && record->frame_index <= record->last_frame_index &&
           record->last_frame_index <= MAX_GENUINE_FRAME_INDEX;
}

int classify_frame(const VideoSystem& v, FrameRecord* current, const FrameRecord* previous)
{
    if (current->frame_index != 0)
        classify_later_frame(v, current, previous);
    else if (previous->frame_index != 0 || current->file_index != previous->file_index)
        classify_first_copy(current, previous);
    else
        classify_next_copy(v, current, previous);
    return 1;
}

int decoded_count(const FrameRecord* record)
{
    switch (record->frame_code) {
    case FRAME_NEXT:
    case FRAME0_ACCEPTED:
        return 1;
    case FRAME_REPEAT:
    case REDUNDANT_FRAME0:
    case RESET_FRAME0:
        return 0;
    default:
        return static_cast<int>(record->frame_code) + (record->frame_index == 0 ? 0 : 1);
    }
}
