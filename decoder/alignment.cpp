#include "alignment.h"

#include <cstring>

#include "classifier.h"
#include "restore_path.h"

namespace {

constexpr int PARITY_GROUP = ECC_NMK + 1;   // the data frame at block position 63 and the 8 parity frames
constexpr int LAST_DATA_POSITION = ECC_K - 1;
constexpr int64_t NOT_SEEN = -2;


int64_t remaining_of(const SeenFrame* seen, int count, int32_t file, int32_t index)
{
    for (int i = 0; i < count; ++i)
        if (seen[i].file_index == file && seen[i].frame_index == index)
            return seen[i].remaining;
    return NOT_SEEN;
}

int64_t modulo_block(int64_t x) { return ((x % ECC_N) + ECC_N) % ECC_N; }

// The frame index at block position 63 of the parity group whose frames of
// `file` carry `remaining`, or -1 while the frames seen do not fix it.
int32_t group_start(const SeenFrame* seen, int count, int32_t file, int64_t remaining)
{
    int32_t low = 0;
    int32_t high = -1;
    int members = 0;
    for (int i = 0; i < count; ++i) {
        if (seen[i].file_index != file || seen[i].remaining != remaining)
            continue;
        if (members == 0 || seen[i].frame_index < low)
            low = seen[i].frame_index;
        if (members == 0 || seen[i].frame_index > high)
            high = seen[i].frame_index;
        ++members;
    }
    if (members < 2 || high - low >= PARITY_GROUP)
        return -1;
    if (high - low == PARITY_GROUP - 1 || low == 0)
        return low;
    const int64_t before = remaining_of(seen, count, file, low - 1);
    if (before != NOT_SEEN && before != remaining)
        return low;
    const int64_t after = remaining_of(seen, count, file, high + 1);
    if (after != NOT_SEEN && after != remaining)
        return high - (PARITY_GROUP - 1);
    return -1;
}

// A file whose frame 0 position the frames seen fix (modulo a block): 1 with
// *file and *start set.
int find_anchor(const SeenFrame* seen, int count, int32_t file_count, int32_t* file, int64_t* start)
{
    for (int i = 0; i < count; ++i) {
        const SeenFrame& s = seen[i];
        *file = s.file_index;
        if (s.file_index == 1) {
            *start = 0;
            return 1;
        }
        if (s.file_index == file_count) {
            *start = ECC_N - 1 - s.last_frame_index;
            return 1;
        }
        if (s.remaining <= 0)
            continue;
        const int32_t at63 = group_start(seen, count, s.file_index, s.remaining);
        if (at63 >= 0) {
            *start = LAST_DATA_POSITION - at63;
            return 1;
        }
    }
    return 0;
}

// Adds a distinct frame of the recording to the look ahead and works out the
// alignment it proves (`seen` holds ALIGNMENT_DISTINCT_FRAMES). Returns true once
// it is anchored.
bool add_seen(const FrameRecord& r, SeenFrame* seen, int* count, int32_t* file_count, Alignment* out)
{
    if (*count == 0)
        *file_count = r.file_count;
    if (r.file_count != *file_count || *count >= ALIGNMENT_DISTINCT_FRAMES)
        return false;
    if (*count > 0 && seen[*count - 1].file_index == r.file_index && seen[*count - 1].frame_index == r.frame_index)
        return false;
    seen[(*count)++] = SeenFrame{r.file_index, r.frame_index, r.last_frame_index, r.bytes_remaining};
    const Alignment found = alignment_from(seen, *count, *file_count);
    out->file_index = found.file_index;
    out->start = found.start;
    out->anchored = found.anchored;
    return out->anchored != 0;
}

}  // namespace

Alignment alignment_from(const SeenFrame* seen, int count, int32_t file_count)
{
    Alignment a{};
    if (count == 0)
        return a;
    a.file_index = seen[0].file_index;
    int32_t file = 0;
    int64_t start = 0;
    if (!find_anchor(seen, count, file_count, &file, &start) || file < a.file_index)
        return a;
    // Back from the anchored file to the first one: each file between takes its
    // last index + 1 positions (one, for a file none of whose frames was seen).
    for (int32_t f = a.file_index; f < file; ++f) {
        int32_t last = 0;
        for (int i = 0; i < count; ++i) {
            if (seen[i].file_index == f) {
                last = seen[i].last_frame_index;
                break;
            }
        }
        start -= static_cast<int64_t>(last) + 1;
    }
    a.start = modulo_block(start);
    a.anchored = true;
    return a;
}

void find_alignment(const char* first_name, FrameReader* reader, uint8_t* spare, uint8_t* plane, Alignment* out)
{
    char name[NAME_BUFFER_SIZE];
    std::strncpy(name, first_name, sizeof name - 1);
    name[sizeof name - 1] = '\0';
    SeenFrame seen[ALIGNMENT_DISTINCT_FRAMES];
    int count = 0;
    int32_t file_count = 0;
    *out = Alignment{};
    // The recording is the one of the first two recognised frames that agree on
    // a tag: one damaged header does not decide it.
    FrameRecord first{};
    const VideoSystem* first_system = nullptr;
    bool have_first = false;
    bool tag_chosen = false;
    const uint8_t* frame = nullptr;
    for (int frames = 0; frames < ALIGNMENT_MAX_FRAMES && count < ALIGNMENT_DISTINCT_FRAMES; ++frames) {
        if (!ReadDVFrame(&frame, spare, reader, name, nullptr))
            break;
        FrameRecord r{};
        const VideoSystem& system = system_of_frame(frame);
        unpack_frame(system, frame, plane, &r);
        if (!frame_recognised(&r))
            continue;
        const bool same_system = first_system == &system;
        if (!tag_chosen) {
            if (!have_first || r.recording_tag != first.recording_tag || r.file_count != first.file_count ||
                !same_system) {
                first = r;
                first_system = &system;
                have_first = true;
                continue;
            }
            tag_chosen = true;
            if (add_seen(first, seen, &count, &file_count, out))
                break;
        }
        if (r.recording_tag == first.recording_tag && r.file_count == first.file_count && same_system &&
            add_seen(r, seen, &count, &file_count, out))
            break;
    }
    if (!tag_chosen && have_first)
        add_seen(first, seen, &count, &file_count, out);
    out->tag_known = have_first;
    out->recording_tag = first.recording_tag;
    out->file_count = first.file_count;
    out->system = first_system;
    frame_reader_rewind(reader);
}
