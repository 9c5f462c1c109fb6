#include "handoff.h"

#include <cstdlib>
#include <cstring>

namespace {

enum EventKind : uint8_t { EVENT_MESSAGE = 1, EVENT_MARK = 2, EVENT_CAPTURE_END = 3 };
constexpr int EVENT_HEADER = 1 + 1 + 4;   // kind, severity, length

}  // namespace

bool handoff_init(Handoff* h)
{
    bool ok = true;
    for (HandoffSlot& s : h->slots) {
        s.bytes = static_cast<uint8_t*>(std::malloc(MAX_FRAME_CHUNK_SIZE));
        s.events = static_cast<uint8_t*>(std::malloc(HANDOFF_EVENT_BYTES));
        ok = ok && s.bytes && s.events;
    }
    handoff_reset(h);
    return ok;
}

void handoff_release(Handoff* h)
{
    for (HandoffSlot& s : h->slots) {
        std::free(s.bytes);
        std::free(s.events);
        s.bytes = s.events = nullptr;
    }
}

void handoff_reset(Handoff* h)
{
    h->taken_at = 0;
    h->filled_at = 0;
    h->filled = 0;
    h->receiver_holds = false;
    h->sender_holds = false;
    h->stopping = false;
}

HandoffSlot* handoff_fill(Handoff* h)
{
    std::unique_lock<std::mutex> hold(h->lock);
    if (h->sender_holds)
        return &h->slots[h->filled_at];
    // The slot the receiver holds is not reused until it comes back.
    h->freed.wait(hold, [h] { return h->stopping || h->filled + (h->receiver_holds ? 1 : 0) < HANDOFF_SLOTS; });
    if (h->stopping)
        return nullptr;
    h->sender_holds = true;
    HandoffSlot& slot = h->slots[h->filled_at];
    slot.event_bytes = 0;
    slot.carries = false;
    slot.last = false;
    return &slot;
}

void handoff_send(Handoff* h)
{
    {
        std::lock_guard<std::mutex> hold(h->lock);
        h->sender_holds = false;
        h->filled_at = (h->filled_at + 1) % HANDOFF_SLOTS;
        ++h->filled;
    }
    h->ready.notify_one();
}

HandoffSlot* handoff_take(Handoff* h)
{
    std::unique_lock<std::mutex> hold(h->lock);
    if (h->receiver_holds) {
        h->receiver_holds = false;
        h->freed.notify_one();
    }
    h->ready.wait(hold, [h] { return h->stopping || h->filled > 0; });
    if (h->filled == 0)
        return nullptr;
    HandoffSlot* slot = &h->slots[h->taken_at];
    h->taken_at = (h->taken_at + 1) % HANDOFF_SLOTS;
    --h->filled;
    h->receiver_holds = true;
    return slot;
}

void handoff_stop(Handoff* h)
{
    {
        std::lock_guard<std::mutex> hold(h->lock);
        h->stopping = true;
    }
    h->ready.notify_all();
    h->freed.notify_all();
}

void handoff_replay(const HandoffSlot& slot, EventSink* sink)
{
    int at = 0;
    while (at < slot.event_bytes) {
        const uint8_t* e = slot.events + at;
        int length;
        std::memcpy(&length, e + 2, sizeof length);
        const char* text = reinterpret_cast<const char*>(e + EVENT_HEADER);
        if (sink) {
            if (e[0] == EVENT_CAPTURE_END)
                sink->capture_end(text);
            else if (e[0] == EVENT_MARK)
                sink->frame_mark(text);
            else
                sink->message(static_cast<Severity>(e[1]), text);
        }
        at += EVENT_HEADER + length + 1;
    }
}

void RecordingSink::message(Severity severity, const char* text) { add(EVENT_MESSAGE, severity, text); }

void RecordingSink::frame_mark(const char* mark) { add(EVENT_MARK, Severity::Progress, mark); }

void RecordingSink::capture_end(const char* name) { add(EVENT_CAPTURE_END, Severity::Detail, name); }

// A slot full of events goes on without a frame, and the next one takes the text.
void RecordingSink::add(uint8_t kind, Severity severity, const char* text)
{
    HandoffSlot* slot = handoff_fill(handoff_);
    if (!slot)
        return;
    int length = static_cast<int>(std::strlen(text));
    const int most = HANDOFF_EVENT_BYTES - EVENT_HEADER - 1;
    if (length > most)
        length = most;
    if (slot->event_bytes + EVENT_HEADER + length + 1 > HANDOFF_EVENT_BYTES) {
        handoff_send(handoff_);
        slot = handoff_fill(handoff_);
        if (!slot)
            return;
    }
    uint8_t* at = slot->events + slot->event_bytes;
    at[0] = kind;
    at[1] = static_cast<uint8_t>(severity);
    std::memcpy(at + 2, &length, sizeof length);
    std::memcpy(at + EVENT_HEADER, text, static_cast<size_t>(length));
    at[EVENT_HEADER + length] = '\0';
    slot->event_bytes += EVENT_HEADER + length + 1;
}
