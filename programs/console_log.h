// The programs' sink: renders the engine's events on the console and in the
// run's log file, as brimwrite and brimread have always shown them.
#pragma once

#include <cstdio>

#include "events.h"

struct Decoder;

class ConsoleLogSink final : public EventSink {
public:
    // `log` may be null (before the log is opened, or for a run without one).
    explicit ConsoleLogSink(FILE* log = nullptr) : log_(log) {}
    void set_log(FILE* log) { log_ = log; }
    FILE* log() const { return log_; }

    // Detail goes to the log only, Progress and Failure to the console only, the
    // rest to the console and then the log.
    void message(Severity severity, const char* text) override;
    // Marks go to the console and the log.
    void frame_mark(const char* mark) override;
    // The console shows the end of each capture file with the number of planes
    // the decoder set with show_queue_of holds (0 without one).
    void capture_end(const char* name) override;
    void show_queue_of(const Decoder* decoder) { decoder_ = decoder; }
    // Verdicts are shown in the verification report, not one by one.
    void file_verdict(const RestoredFile&) override {}
    void statistics(const DecodeStats& stats, int64_t seconds) override;
    void verification(const VerifyTotals& totals) override;

private:
    FILE* log_;
    const Decoder* decoder_ = nullptr;
};
