#include "plane_source.h"

#include <cerrno>
#include <cstring>

namespace {

// Reads `count` bytes of the open file into `at`. A file that cannot deliver them
// (it shrank or cannot be opened) gets zero bytes for the rest, reported once.
void read_planned(uint8_t* at, int64_t count, const EncodePlan* plan, InputSlot* slot)
{
    const size_t wanted = static_cast<size_t>(count);
    size_t got = slot->stream ? fread(at, 1, wanted, slot->stream) : 0;
    if (got == wanted)
        return;
    std::memset(at + got, 0, wanted - got);
    if (!slot->reported) {
        printf("\nnext_plane() : %s is shorter than when it was listed, padding it with zero bytes!\n",
               plan->file_path[plan->file_current].c_str());
        slot->reported = 1;
    }
}

void open_file(uint8_t* plane, FrameInfo* info, const EncodePlan* plan, InputSlot* slot)
{
    const int32_t i = plan->file_current;
    slot->open = 1;
    slot->reported = 0;
    slot->stream = fopen(plan->file_path[i].c_str(), "rb");
    if (slot->stream) {
        // Reads are plane-sized; a stream buffer would only add a copy.
        setvbuf(slot->stream, nullptr, _IONBF, 0);
    } else {
        printf("\nnext_plane() : cannot open %s any more (%s), writing zero bytes in its place!\n",
               plan->file_path[i].c_str(), strerror(errno));
        slot->reported = 1;
    }
    info->file_index = i;
    info->file_count = plan->file_count;
    info->frame_index = -1;
    info->final_frame = plan->file_frames[i] - 1;

    std::memset(plane, 0, HEADER_AREA_SIZE);
    const std::string& name = plan->file_name[i];
    std::memcpy(plane, name.data(), name.size() < MAX_STORED_PATH ? name.size() : MAX_STORED_PATH);
}

}  // namespace

int next_plane(uint8_t* plane, FrameInfo* info, EncodePlan* plan, InputSlot* slot)
{
    int64_t capacity = PLANE_SIZE;
    uint8_t* data = plane;
    if (!slot->open) {
        if (plan->file_current > plan->file_count)
            return 0;
        open_file(plane, info, plan, slot);
        capacity = FIRST_PLANE_DATA;
        data = plane + HEADER_AREA_SIZE;
    }
    int64_t& remaining = plan->file_size[plan->file_current];
    const int64_t count = remaining < capacity ? remaining : capacity;
    read_planned(data, count, plan, slot);

    info->frame_index++;
    info->bytes_remaining = remaining;
    remaining -= count;
    if (remaining == 0) {
        if (slot->stream)
            fclose(slot->stream);
        slot->stream = nullptr;
        slot->open = 0;
        plan->file_current++;
    }
    return 1;
}
