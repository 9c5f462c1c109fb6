#include "frame_pump.h"

#include <cstring>

namespace {

static_assert(CAPTURE_NAME_CAPACITY <= HANDOFF_NOTE_BYTES, "a slot's note holds the reader's name");

// The reading thread: sends every frame, then the end, unless stopped first.
void run(FramePump* p)
{
    RecordingSink recorder(&p->handoff);
    for (;;) {
        const uint8_t* frame = nullptr;
        const int got = ReadDVFrame(&frame, p->spare, p->reader, p->name, &recorder);
        HandoffSlot* slot = handoff_fill(&p->handoff);
        if (!slot)
            return;
        slot->carries = got != 0;
        slot->last = got == 0;
        if (got)
            std::memcpy(slot->bytes, frame, static_cast<size_t>(system_of_frame(frame).frame_size));
        std::memcpy(slot->note, p->name, CAPTURE_NAME_CAPACITY);
        handoff_send(&p->handoff);
        if (!got)
            return;
    }
}

}  // namespace

bool pump_init(FramePump* pump)
{
    pump->running = false;
    return handoff_init(&pump->handoff);
}

void pump_shutdown(FramePump* pump)
{
    pump_stop(pump);
    handoff_release(&pump->handoff);
}

bool pump_start(FramePump* pump, FrameReader* reader, uint8_t* spare, const char* name)
{
    pump_stop(pump);
    handoff_reset(&pump->handoff);
    pump->reader = reader;
    pump->spare = spare;
    pump->ended = false;
    std::snprintf(pump->name, sizeof pump->name, "%s", name);
    try {
        pump->thread = std::thread(run, pump);
    } catch (...) {
        return false;
    }
    pump->running = true;
    return true;
}

int pump_next(FramePump* pump, const uint8_t** frame, char* name, EventSink* sink)
{
    while (!pump->ended) {
        HandoffSlot* slot = handoff_take(&pump->handoff);
        if (!slot) {
            pump->ended = true;
            break;
        }
        handoff_replay(*slot, sink);
        if (slot->last) {
            std::memcpy(name, slot->note, CAPTURE_NAME_CAPACITY);
            pump->ended = true;
            break;
        }
        if (!slot->carries)
            continue;
        std::memcpy(name, slot->note, CAPTURE_NAME_CAPACITY);
        *frame = slot->bytes;
        return 1;
    }
    return 0;
}

void pump_stop(FramePump* pump)
{
    if (!pump->running)
        return;
    handoff_stop(&pump->handoff);
    pump->thread.join();
    pump->running = false;
}
