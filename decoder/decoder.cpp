#include "decoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "block_queue.h"
#include "block_writer.h"
#include "classifier.h"
#include "concealment.h"
#include "placement.h"

namespace {

// Counts the classified current frame as its classification says, and hands it
// to the placement, which queues it (and fillers for what was lost before it)
// at the block positions its frame index gives.
DecodeStatus take_frame(Decoder& d, const VideoSystem& v, const uint8_t* frame, const uint8_t* plane,
                        int64_t header_remaining, bool new_recording)
{
    FrameIntake& in = d.intake;
    const FrameRecord* cur = &in.current;
    DecodeStats* stats = &in.stats;
    const uint32_t code = cur->frame_code;
    const bool damaged = cur->sum_computed != cur->sum_stored;
    if (code == FRAME_REPEAT) {
        ++stats->duplicated;
    } else if (code == RESET_FRAME0) {
        tell(d.sink, Severity::Progress, "\nmain() : RESET_FRAME0 @ g_ecc_n=%d",
             static_cast<int>(queued_planes(d.queue)));
    } else if (code == FRAME_NEXT || code == FRAME0_ACCEPTED) {
        if (damaged)
            ++stats->corrupted;
    } else if (is_drop_count(code)) {
        tell(d.sink, Severity::Detail, "\nmain() : Dropped_frame %d", static_cast<int>(code));
        stats->dropped += static_cast<int64_t>(code);
        if (code > stats->longest_drop)
            stats->longest_drop = code;
    }
    stats->bytes += cur->Zerobytes;
    stats->bytes += cur->RealBytes;
    stats->decoded += decoded_count(cur);

    ReceivedFrame received{plane, cur, header_remaining, in.concealed, 0, new_recording};
    if (damaged)
        received.concealed_count = concealed_payload_blocks(v, frame, in.concealed);
    const int64_t reach_before = placement_reach(d);
    const DecodeStatus status = place_frame(d, &received);
    // A frame that moved the placement on was used; a repeat behind it was not
    // (a copy of a frame 0 kept as the best one does not move it: the file that
    // gave it is then kept, which is safe).
    CaptureCounts& c = in.capture;
    const int64_t reach = placement_reach(d);
    if (reach > reach_before)
        ++c.used;
    if (reach > c.reach)
        c.reach = reach;
    return status;
}

// A recognised frame of another recording than the run's (another tag, or
// another video system): classified against that recording's own frames and
// not placed, unless it is the accepted first frame of a new recording's first
// file in the capture file being read, which the run then follows. Returns true
// when the frame is to be placed.
bool take_recording_of(Decoder& d, const VideoSystem& v, FrameRecord* current, const FrameRecord* previous)
{
    FrameIntake& in = d.intake;
    if (!in.system_known) {
        // The first recognised frame: nothing is queued yet, so the queue takes its system.
        in.system = &v;
        in.system_known = true;
        (void)queue_set_system(d.queue, v);
    }
    const bool same_system = in.system->id == v.id;
    if ((!in.tag_known || current->recording_tag == in.recording_tag) && same_system)
        return true;
    FrameRecord foreign = *current;
    classify_frame(v, &foreign, &in.foreign_previous);
    in.foreign_previous = foreign;
    const bool first_copy = foreign.file_index == 1 && foreign.frame_index == 0;
    in.foreign_first_copies = first_copy ? in.foreign_first_copies + 1 : 0;
    // A new recording is followed where it begins on the tape the capture file
    // has been showing, never from a successor file that holds none of the
    // run's frames: the digit rule may have led to another tape's capture.
    if (foreign.frame_code == FRAME0_ACCEPTED && foreign.file_index == 1 &&
        foreign.sum_computed == foreign.sum_stored && in.capture.used > 0) {
        in.recording_tag = foreign.recording_tag;
        in.system = &v;
        *current = foreign;
        // The copies before the accepted one belong to the recording now followed.
        const int64_t counted = in.foreign_first_copies - 1;
        in.capture.foreign -= counted;
        d.verify.foreign_frames -= counted;
        in.foreign_first_copies = 0;
        return true;
    }
    *current = *previous;
    ++in.capture.foreign;
    ++d.verify.foreign_frames;
    return false;
}

}  // namespace

Decoder* decoder_create()
{
    Decoder* d = new (std::nothrow) Decoder();
    if (!d)
        return nullptr;
    const bool ok =
        (d->intake.concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * MAX_PAYLOAD_BLOCKS))) &&
                    queue_allocate(d->queue) && placement_allocate(d->place) && writer_allocate(d->writer);
    if (!ok) {
        decoder_destroy(d);
        return nullptr;
    }
    return d;
}

void decoder_destroy(Decoder* d)
{
    if (!d)
        return;
    writer_release(d->writer);
    placement_release(d->place);
    queue_release(d->queue);
    std::free(d->intake.concealed);
    delete d;
}

void decoder_start(Decoder& d, const DecoderOptions& options, const Alignment& alignment, EventSink* sink)
{
    d.options = options;
    d.sink = sink;
    uint16_t* concealed = d.intake.concealed;
    d.intake = FrameIntake{};
    d.intake.concealed = concealed;
    d.intake.current.frame_index = -1;
    d.intake.tag_known = alignment.tag_known;
    d.intake.recording_tag = alignment.recording_tag;
    d.intake.system_known = alignment.system != nullptr;
    d.intake.system = alignment.system ? alignment.system : &SYSTEM_525_60;
    d.intake.foreign_previous.frame_index = -1;
    d.intake.source = NO_CAPTURE;
    std::memset(&d.verify, 0, sizeof d.verify);
    placement_reset(d.place, alignment);
    queue_reset(d.queue);
    // An empty queue takes any system: the block code's refusal cannot happen here.
    (void)queue_set_system(d.queue, *d.intake.system);
    writer_reset(d.writer, options);
    writer_start_behind(d);
}

DecodeStatus decoder_push_frame(Decoder& d, const uint8_t* dv_frame)
{
    FrameIntake& in = d.intake;
    in.previous = in.current;
    // Most frames go to the next block position: unpacked straight into the
    // block code's buffer for it, the plane is not copied again.
    uint8_t* plane = queue_buffer(d);
    const VideoSystem& system = system_of_frame(dv_frame);
    unpack_frame(system, dv_frame, plane, &in.current);
    in.current.source = in.source;
    if (!frame_recognised(&in.current)) {
        // The next frame is compared with the last recognised one again.
        in.current = in.previous;
        ++in.stats.unrecognizable;
        tell_mark(d.sink, "X");
        return DecodeStatus::Ok;
    }
    const int64_t header_remaining = in.current.bytes_remaining;
    const uint16_t tag_before = in.recording_tag;
    const VideoSystem* system_before = in.system_known ? in.system : &system;
    if (!take_recording_of(d, system, &in.current, &in.previous))
        return DecodeStatus::Ok;
    const bool new_recording = in.recording_tag != tag_before || in.system != system_before;
    if (!new_recording)
        classify_frame(system, &in.current, &in.previous);
    return take_frame(d, system, dv_frame, plane, header_remaining, new_recording);
}

void decoder_set_source(Decoder& d, int source) { d.intake.source = static_cast<int8_t>(source); }

CaptureCounts decoder_next_capture(Decoder& d)
{
    const CaptureCounts done = d.intake.capture;
    d.intake.capture = CaptureCounts{};
    return done;
}

DecodeStatus decoder_finish(Decoder& d)
{
    if (queued_planes(d.queue) != 0)
        tell(d.sink, Severity::Progress, "\nmain() : g_ecc_n == %d (should be 0), uh oh...",
             static_cast<int>(queued_planes(d.queue)));
    if (d.intake.stats.decoded == 0)
        return DecodeStatus::Ok;
    DecodeStatus status = finish_placement(d);
    if (status != DecodeStatus::Ok)
        return status;
    status = finish_output(d);
    if (status != DecodeStatus::Ok)
        return status;
    report_unseen_files(d);
    return DecodeStatus::Ok;
}

void decoder_stop(Decoder& d) { writer_stop(d.writer); }

int64_t decoder_done_through(const Decoder& d)
{
    const int64_t written = placement_written_through(d);
    const int64_t open_file = writer_file_start(d);
    return written < open_file ? written : open_file;
}
