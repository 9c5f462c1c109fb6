// The engine's one way out. The engine folders (format, ecc, dvio, encoder,
// decoder) never print and never exit: whatever they have to tell reaches the
// program as an event on the EventSink it supplies, and the program renders it.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define BRIM_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BRIM_PRINTF_LIKE(fmt, args)
#endif

// Where a message belongs; the sink decides how each kind is shown.
enum class Severity : uint8_t {
    Detail,     // for the record only: the log, not the console
    Progress,   // for the person watching only: the console, not the log
    Info,       // progress and report lines for both
    Warning,    // something the user should look at
    Error,      // an operation failed
    Failure,    // an operation failed; the console shows it, the programs' logs never held it
};

struct BlockHealth;
struct DecodeStats;
struct RestoredFile;
struct VerifyTotals;

class EventSink {
public:
    virtual ~EventSink() = default;
    // One complete message, its line breaks included.
    virtual void message(Severity severity, const char* text) = 0;
    // One frame's mark on the progress line ("." a frame, "X" an unrecognised
    // one, "-" a lost one, "*" a damaged one, or a frame index).
    virtual void frame_mark(const char* mark) = 0;
    // The reader has read capture file `name` to its end.
    virtual void capture_end(const char* name) = 0;
    // A restored file closed with its verdict (brimread).
    virtual void file_verdict(const RestoredFile& file) = 0;
    // The figures of a whole decoding run, over `seconds` of wall time.
    virtual void statistics(const DecodeStats& stats, int64_t seconds) = 0;
    // The verification report: every file that was due, intact or not.
    virtual void verification(const VerifyTotals& totals) = 0;
    // An ECC block is done: how close it came to loss (sinks that do not show
    // tape health ignore it).
    virtual void block_health(const BlockHealth&) {}
};

// A sink that drops everything: for callers that want results only (fuzzers, tests).
class NullSink final : public EventSink {
public:
    void message(Severity, const char*) override {}
    void frame_mark(const char*) override {}
    void capture_end(const char*) override {}
    void file_verdict(const RestoredFile&) override {}
    void statistics(const DecodeStats&, int64_t) override {}
    void verification(const VerifyTotals&) override {}
};

// Formats a message (at most TELL_BUFFER_SIZE - 1 characters; longer ones are
// cut) and hands it to `sink`; a null sink drops it.
constexpr int TELL_BUFFER_SIZE = 16384;   // room for two paths of any length the system takes
void tell(EventSink* sink, Severity severity, const char* format, ...) BRIM_PRINTF_LIKE(3, 4);
// The same for a frame mark.
void tell_mark(EventSink* sink, const char* format, ...) BRIM_PRINTF_LIKE(2, 3);
