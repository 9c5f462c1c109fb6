// A capture reader running ahead on a thread of its own: it finds the frames
// (ReadDVFrame) while the caller decodes the ones before, and hands them over
// in order, each with the events the reader told while finding it, so that the
// caller's sink sees them exactly where a reader on the caller's thread would
// have told them. Memory is fixed: HANDOFF_SLOTS frames.
#pragma once

#include <thread>

#include "frame_reader.h"
#include "handoff.h"

struct FramePump {
    Handoff handoff;
    FrameReader* reader;
    uint8_t* spare;
    char name[CAPTURE_NAME_CAPACITY];   // the reader's: stepped by it on its thread
    bool running;
    bool ended;                         // the caller has been told the end
    std::thread thread;
};

// Allocates the slots once; false when memory is short.
[[nodiscard]] bool pump_init(FramePump* pump);
void pump_shutdown(FramePump* pump);

// Starts reading with `reader` (and its `spare`) from capture `name` on a thread
// of its own. False when the thread cannot be started (the caller reads itself).
[[nodiscard]] bool pump_start(FramePump* pump, FrameReader* reader, uint8_t* spare, const char* name);

// The next frame in capture order, as ReadDVFrame gives it: tells `sink` the
// events the reader told before it, copies the reader's name after finding it
// into `name` (CAPTURE_NAME_CAPACITY bytes) and returns 1 with *frame valid
// until the next call, or 0 at the end of the input (and on every call after).
[[nodiscard]] int pump_next(FramePump* pump, const uint8_t** frame, char* name, EventSink* sink);

// Stops the reading thread (wherever it is) and waits for it.
void pump_stop(FramePump* pump);
