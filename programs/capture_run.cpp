#include "capture_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alignment.h"
#include "native_path.h"

namespace {

// Deletes the capture files read to their end whose every frame used is
// corrected and written to disk, and every file with data in them closed (all of
// them with `all`), unless a restored file could not be created or written, or
// output has not started yet.
void delete_used_captures(CaptureRun* run, const Decoder& d, bool all)
{
    const int64_t done = decoder_done_through(d);
    while (run->pending_count > 0 && !d.writer.output_failed && !d.writer.keep_captures && d.writer.output_started) {
        const CaptureFile& c = run->pending[run->pending_first];
        if (!all && c.counts.reach > done)
            return;
        if (d.writer.output && !flush_to_disk(d.writer.output))
            return;
        // Frames of another recording are left for a run of their own.
        if (c.counts.foreign == 0)
            std::remove(c.name);
        run->pending_first = (run->pending_first + 1) % PENDING_DELETIONS;
        --run->pending_count;
    }
}

// The reader has left the capture file being read: it waits to be deleted if
// the recording took frames from it (a full queue keeps it); one holding only
// another recording's frames is named.
void leave_capture(CaptureRun* run, Decoder& d, EventSink* sink)
{
    CaptureFile c{};
    std::memcpy(c.name, run->current, sizeof c.name);
    c.counts = decoder_next_capture(d);
    if (c.counts.used == 0 && c.counts.foreign > 0)
        tell(sink, Severity::Warning, "\nmain() : %s holds frames of another recording only; they are not used\n",
             c.name);
    if (!run->delete_used || c.counts.used == 0 || run->pending_count == PENDING_DELETIONS)
        return;
    run->pending[(run->pending_first + run->pending_count) % PENDING_DELETIONS] = c;
    ++run->pending_count;
}

}  // namespace

bool threads_allowed()
{
    const char* threads = std::getenv("BRIM_THREADS");
    return !threads || std::strcmp(threads, "1") != 0;
}

bool capture_run_init(CaptureRun* run)
{
    return frame_reader_init(&run->reader);
}

void capture_run_shutdown(CaptureRun* run)
{
    frame_reader_shutdown(&run->reader);
}

void capture_run_start(CaptureRun* run, const char* first, Decoder& d, DecoderOptions options, EventSink* sink)
{
    std::snprintf(run->name, sizeof run->name, "%s", first);
    std::snprintf(run->first, sizeof run->first, "%s", first);
    std::snprintf(run->current, sizeof run->current, "%s", first);
    run->pending_first = 0;
    run->pending_count = 0;
    frame_reader_rewind(&run->reader);
    Alignment alignment{};
    if (std::strcmp(first, STDIN_NAME) != 0)
        find_alignment(run->name, &run->reader, run->spare_frame, run->plane, &alignment);
    options.capture_name = run->first;
    decoder_start(d, options, alignment, sink);
}

DecodeStatus capture_run_decode(CaptureRun* run, Decoder& d, EventSink* sink, const CaptureProgress* progress)
{
    const uint8_t* frame = nullptr;
    while (ReadDVFrame(&frame, run->spare_frame, &run->reader, run->name, sink)) {
        if (std::strcmp(run->current, run->name) != 0) {
            leave_capture(run, d, sink);
            std::memcpy(run->current, run->name, sizeof run->current);
        }
        const DecodeStatus status = decoder_push_frame(d, frame);
        if (status != DecodeStatus::Ok)
            return status;
        delete_used_captures(run, d, false);
        if (progress)
            progress->frame_done(progress->context, d, run->reader);
    }
    leave_capture(run, d, sink);
    const DecodeStatus status = decoder_finish(d);
    if (status == DecodeStatus::Ok)
        delete_used_captures(run, d, true);
    return status;
}
