// Handing frames from one thread to another in order, each with the events
// told while it was made, so that the receiving thread tells them to its sink
// exactly where a single thread would have: the one place where the encoder's
// two threads meet. Memory is fixed: HANDOFF_SLOTS slots of one frame chunk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "events.h"
#include "frame_layout.h"

constexpr int HANDOFF_SLOTS = 16;
// Room for the events of one slot: a few messages of at most TELL_BUFFER_SIZE.
constexpr int HANDOFF_EVENT_BYTES = 4 * TELL_BUFFER_SIZE;
constexpr int HANDOFF_NOTE_BYTES = 256;

struct HandoffSlot {
    uint8_t* bytes;                 // MAX_FRAME_CHUNK_SIZE: a frame, or a frame chunk
    bool carries;                   // `bytes` hold one (else the slot carries events only)
    bool last;                      // nothing follows (the end, or a stop)
    uint8_t note[HANDOFF_NOTE_BYTES];   // what the two sides agree to pass beside the bytes
    uint8_t* events;                // HANDOFF_EVENT_BYTES of recorded events
    int event_bytes;
};

struct Handoff {
    HandoffSlot slots[HANDOFF_SLOTS];
    int taken_at;                   // next slot the receiver takes
    int filled_at;                  // next slot the sender fills
    int filled;                     // slots ready for the receiver
    bool receiver_holds;            // the receiver holds the slot before taken_at
    bool sender_holds;              // the sender holds slot filled_at
    bool stopping;                  // either side gave up: the other stops waiting
    std::mutex lock;
    std::condition_variable ready;
    std::condition_variable freed;
};

// Allocates the slots once; false when memory is short.
[[nodiscard]] bool handoff_init(Handoff* h);
void handoff_release(Handoff* h);
// Empties the ring for a new run.
void handoff_reset(Handoff* h);

// Sender: the slot to fill next (its events emptied), waiting for one to be
// free; null once the receiver has stopped.
HandoffSlot* handoff_fill(Handoff* h);
// Sender: the slot from handoff_fill goes to the receiver.
void handoff_send(Handoff* h);

// Receiver: gives back the slot it held, then waits for the next one; null once
// the sender has stopped without sending a last slot.
HandoffSlot* handoff_take(Handoff* h);

// Either side: stops the exchange; the other side's waits end.
void handoff_stop(Handoff* h);

// Tells the events recorded in `slot` to `sink`, in order.
void handoff_replay(const HandoffSlot& slot, EventSink* sink);

// A sink that records what it is told into the slot the sender fills next
// (taking it with handoff_fill when it holds none; a slot whose room is used
// up goes on with its events only).
class RecordingSink final : public EventSink {
public:
    explicit RecordingSink(Handoff* h) : handoff_(h) {}
    void message(Severity severity, const char* text) override;
    void frame_mark(const char* mark) override;
    void capture_end(const char* name) override;
    void file_verdict(const RestoredFile&) override {}
    void statistics(const DecodeStats&, int64_t) override {}
    void verification(const VerifyTotals&) override {}

private:
    void add(uint8_t kind, Severity severity, const char* text);
    Handoff* handoff_;
};
