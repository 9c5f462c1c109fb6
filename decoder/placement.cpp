#include "placement.h"

#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "block_queue.h"
#include "block_writer.h"
#include "classifier.h"
#include "verify.h"
#include "tape_model.h"

namespace {

constexpr int64_t UNKNOWN_START = -1;


int sum_matches(const FrameRecord* r) { return r->sum_computed == r->sum_stored; }

FileTrack* current_track(Decoder& d) { return d.place.current == NO_TRACK ? nullptr : track_of(d.place, d.place.current); }

void make_track(Decoder& d, int32_t file_index, int32_t file_count, int64_t start, int32_t last, bool assumed)
{
    Placement& p = d.place;
    const int64_t id = p.tracks_made++;
    FileTrack* t = track_of(d.place, id);
    std::memset(t, 0, sizeof *t);
    t->id = id;
    t->file_index = file_index;
    t->file_count = file_count;
    t->start = start;
    t->last = last;
    t->size = -1;
    t->assumed = assumed;
    t->before_capture = start < p.first_position;
    if (p.first_file == 0) {
        p.first_file = file_index;
        p.first_count = file_count;
    }
    p.current = id;
    p.upcoming_start = file_index >= file_count ? UNKNOWN_START : start + last + 1;
    p.upcoming_file = file_index + 1;
    p.upcoming_count = file_count;
}

// The track owning global position `g` (positions are asked for in order),
// making the tracks of the files that begin on the way: the file of the frame
// being placed with its header's last index, the files lost whole before it as
// one-frame files. NO_TRACK where no file is known.
int64_t track_for(Decoder& d, int64_t g)
{
    Placement& p = d.place;
    for (;;) {
        const FileTrack* t = current_track(d);
        if (t && g >= t->start && g <= t->start + t->last)
            return t->id;
        if (p.upcoming_start == UNKNOWN_START || g < p.upcoming_start)
            return NO_TRACK;
        if (p.upcoming_file == p.target_file) {
            make_track(d, p.upcoming_file, p.upcoming_count, p.upcoming_start, p.target_last, false);
        } else if (p.upcoming_file < p.target_file) {
            make_track(d, p.upcoming_file, p.upcoming_count, p.upcoming_start, 0, true);
        } else {
            p.upcoming_start = UNKNOWN_START;
            return NO_TRACK;
        }
    }
}

QueueEntry filler_entry(Decoder& d, int64_t g, const FrameRecord* record)
{
    QueueEntry e{};
    e.record = *record;
    e.filler = true;
    e.bad = true;
    e.remaining = -1;
    e.track = track_for(d, g);
    e.frame_index = e.track == NO_TRACK ? 0 : static_cast<int32_t>(g - track_of(d.place, e.track)->start);
    return e;
}

// Queues fillers up to (not including) global position `g`; a block lost
// whole is written out without decoding.
DecodeStatus fill_to(Decoder& d, int64_t g, const FrameRecord* record)
{
    Placement& p = d.place;
    while (p.next < g) {
        if (queued_planes(d.queue) == 0 && g - p.next >= ECC_N) {
            for (int i = 0; i < ECC_N; ++i)
                p.buffers.lost_block[i] = filler_entry(d, p.next + i, record);
            p.next += ECC_N;
            DecodeStatus result = dump_lost_block(d, p.buffers.lost_block);
            if (result != DecodeStatus::Ok)
                return result;
            continue;
        }
        QueueEntry e = filler_entry(d, p.next, record);
        ++p.next;
        DecodeStatus result = add2queue(d, nullptr, &e, nullptr, 0);
        if (result != DecodeStatus::Ok)
            return result;
    }
    return DecodeStatus::Ok;
}

// A received frame of file `t`: its second, or an accepted frame 0, confirms the
// file's indices; the first file confirmed books the files of the recording
// wholly before the capture.
void confirm(Decoder& d, FileTrack* t, bool accepted_first)
{
    Placement& p = d.place;
    // An accepted frame 0 is four agreeing copies: confirmation enough, also for
    // a file of one frame, whose later files would otherwise go unreported.
    if (++t->received < 2 && !accepted_first)
        return;
    if (p.confirmed_file == 0 && p.first_count == t->file_count)
        report_missing_files(d, 1, p.first_file - 1, t->file_count);
    if (t->file_count != p.confirmed_count || t->file_index > p.confirmed_file) {
        p.confirmed_file = t->file_index;
        p.confirmed_count = t->file_count;
    }
}

// Queues a received plane at `next`.
DecodeStatus queue_received(Decoder& d, const uint8_t* plane, const FrameRecord* record, int64_t remaining, const uint16_t* concealed,
                   int concealed_count)
{
    Placement& p = d.place;
    QueueEntry e{};
    e.record = *record;
    e.remaining = remaining;
    e.track = track_for(d, p.next);
    e.frame_index = e.track == NO_TRACK ? 0 : static_cast<int32_t>(p.next - track_of(d.place, e.track)->start);
    const int wrong_sum = !sum_matches(record);
    e.bad = wrong_sum && concealed_count == 0;
    if (e.track != NO_TRACK)
        confirm(d, track_of(d.place, e.track), record->frame_code == FRAME0_ACCEPTED && !wrong_sum);
    ++p.next;
    return add2queue(d, plane, &e, wrong_sum ? concealed : nullptr, wrong_sum ? concealed_count : 0);
}

void keep_candidate(Decoder& d, const ReceivedFrame* f)
{
    Placement& p = d.place;
    if (p.have_candidate && (sum_matches(&p.candidate_record) || !sum_matches(f->record)))
        return;
    std::memcpy(p.buffers.candidate_plane, f->plane, recording_plane_size(d));
    p.candidate_record = *f->record;
    p.candidate_remaining = f->header_remaining;
    p.candidate_record.Zerobytes = 0;   // the bytes lost before it belong to the file before
    p.candidate_concealed_count = f->concealed_count;
    if (f->concealed_count > 0)
        std::memcpy(p.buffers.candidate_concealed, f->concealed, sizeof(uint16_t) * static_cast<size_t>(f->concealed_count));
    p.have_candidate = true;
}

// Fills the waiting frame 0 position with the best copy received, or a filler.
DecodeStatus resolve_pending(Decoder& d, const FrameRecord* record)
{
    Placement& p = d.place;
    p.pending = false;
    if (!p.have_candidate)
        return fill_to(d, p.next + 1, record);
    p.have_candidate = false;
    return queue_received(d, p.buffers.candidate_plane, &p.candidate_record, p.candidate_remaining, p.buffers.candidate_concealed,
                          p.candidate_concealed_count);
}

// A copy of the frame 0 waiting at `next`.
DecodeStatus take_frame0_copy(Decoder& d, const ReceivedFrame* f)
{
    Placement& p = d.place;
    if (f->record->frame_code != FRAME0_ACCEPTED) {
        keep_candidate(d, f);
        return DecodeStatus::Ok;
    }
    p.pending = false;
    if (p.have_candidate && sum_matches(&p.candidate_record) && !sum_matches(f->record)) {
        p.have_candidate = false;
        return queue_received(d, p.buffers.candidate_plane, &p.candidate_record, p.candidate_remaining,
                              p.buffers.candidate_concealed, p.candidate_concealed_count);
    }
    p.have_candidate = false;
    return queue_received(d, f->plane, f->record, f->header_remaining, f->concealed, f->concealed_count);
}

// Learns the file's size from a header, and checks it against what is known.
// Returns false when the header contradicts the file's size.
bool check_size(const VideoSystem& v, FileTrack* t, int64_t g, int64_t remaining, bool learn)
{
    const int64_t size = size_from_header(v, t->start, g, remaining);
    if (size < 0)
        return true;
    if (t->size >= 0)
        return size == t->size;
    if (!learn)
        return true;
    t->size = size;
    if (expected_last_index(v, t->start, size, t->file_index >= t->file_count) != t->last)
        t->inconsistent = true;
    return true;
}

// The global position of frame `f`, or -1 when it cannot be placed.
int64_t locate(Decoder& d, const ReceivedFrame* f)
{
    Placement& p = d.place;
    const FrameRecord* r = f->record;
    const FileTrack* t = current_track(d);
    if (t && r->file_index == t->file_index && r->file_count == t->file_count)
        return r->last_frame_index == t->last ? t->start + r->frame_index : -1;
    if (p.upcoming_start == UNKNOWN_START || r->file_index < p.upcoming_file || r->file_count != p.upcoming_count)
        return -1;
    return p.upcoming_start + (r->file_index - p.upcoming_file) + r->frame_index;
}

// The first frame of the run fixes where the recording lies, when the
// alignment does not name its file.
void begin(Decoder& d, const ReceivedFrame* f, const Alignment* known)
{
    Placement& p = d.place;
    const FrameRecord* r = f->record;
    p.upcoming_file = r->file_index;
    p.upcoming_count = r->file_count;
    p.upcoming_start = 0;
    if (known->file_index > 0 && known->file_index <= r->file_index)
        p.upcoming_start = known->start + (r->file_index - known->file_index);
    // Positions before the first file's start belong to files not known here.
    p.first_position = p.upcoming_start + r->frame_index;
    p.next = block_base(p.first_position);
    p.started = true;
}

// A file 1 accepted after the files of another recording: the block being
// filled is completed, and the new recording starts at the next block boundary.
DecodeStatus start_new_recording(Decoder& d, const FrameRecord* r)
{
    Placement& p = d.place;
    p.target_file = 0;
    FrameRecord end{};
    end.frame_code = FRAME_NEXT;
    DecodeStatus result = p.pending ? resolve_pending(d, &end) : DecodeStatus::Ok;
    if (result == DecodeStatus::Ok && queued_planes(d.queue) > 0)
        result = fill_to(d, block_base(p.next) + ECC_N, &end);
    // The files of the recording left after its last one seen, then a fresh
    // count; the blocks to come are of the new recording's system.
    report_unseen_files(d);
    if (result == DecodeStatus::Ok && !queue_set_system(d.queue, *d.intake.system)) {
        tell(d.sink, Severity::Failure, "%s", ecc_last_diagnostic());
        ecc_clear_diagnostic();
        result = DecodeStatus::Catastrophic;
    }
    p.first_file = 0;
    p.confirmed_file = 0;
    p.confirmed_count = 0;
    p.current = NO_TRACK;
    p.upcoming_start = p.next;
    p.upcoming_file = 1;
    p.upcoming_count = r->file_count;
    p.target_file = r->file_index;
    return result;
}

// Before anything else is queued: a plane unpacked into the queue's next
// buffer is moved out of the way.
void keep_plane(Decoder& d, ReceivedFrame* f)
{
    if (f->plane != queue_buffer(d))
        return;
    std::memcpy(d.place.buffers.kept_plane, f->plane, recording_plane_size(d));
    f->plane = d.place.buffers.kept_plane;
}

}  // namespace

bool placement_allocate(Placement& p)
{
    PlacementBuffers& b = p.buffers;
    b.candidate_plane = static_cast<uint8_t*>(std::malloc(MAX_PLANE_SIZE));
    b.candidate_concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * MAX_PAYLOAD_BLOCKS));
    b.lost_block = static_cast<QueueEntry*>(std::calloc(ECC_N, sizeof(QueueEntry)));
    b.kept_plane = static_cast<uint8_t*>(std::malloc(MAX_PLANE_SIZE));
    b.held_plane = static_cast<uint8_t*>(std::malloc(MAX_PLANE_SIZE));
    b.held_concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * MAX_PAYLOAD_BLOCKS));
    return b.candidate_plane && b.candidate_concealed && b.lost_block && b.kept_plane && b.held_plane &&
           b.held_concealed;
}

void placement_release(Placement& p)
{
    const PlacementBuffers& b = p.buffers;
    for (void* buffer : {static_cast<void*>(b.candidate_plane), static_cast<void*>(b.candidate_concealed),
                         static_cast<void*>(b.lost_block), static_cast<void*>(b.kept_plane),
                         static_cast<void*>(b.held_plane), static_cast<void*>(b.held_concealed)})
        std::free(buffer);
    p.buffers = PlacementBuffers{};
}

void placement_reset(Placement& p, const Alignment& alignment)
{
    const PlacementBuffers buffers = p.buffers;
    std::memset(&p, 0, sizeof p);
    p.buffers = buffers;
    p.current = NO_TRACK;
    p.upcoming_start = UNKNOWN_START;
    for (FileTrack& t : p.tracks)
        t.id = NO_TRACK;
    p.alignment = alignment;
}

// Holds frame `f` located at `g` (or, for another copy at the same place, keeps
// the better of the two: an accepted frame 0, else one whose checksum matches).
void hold(Decoder& d, const ReceivedFrame* f, int64_t g)
{
    Placement& p = d.place;
    if (p.held && g == p.held_at && p.held_record.frame_code == FRAME0_ACCEPTED)
        return;
    if (p.held && g == p.held_at && f->record->frame_code != FRAME0_ACCEPTED && sum_matches(&p.held_record) &&
        !sum_matches(f->record))
        return;
    p.held = true;
    p.held_at = g;
    p.held_record = *f->record;
    std::memcpy(p.buffers.held_plane, f->plane, recording_plane_size(d));
    if (f->concealed_count > 0)
        std::memcpy(p.buffers.held_concealed, f->concealed, sizeof(uint16_t) * static_cast<size_t>(f->concealed_count));
    p.held_frame = *f;
    p.held_frame.plane = p.buffers.held_plane;
    p.held_frame.record = &p.held_record;
    p.held_frame.concealed = p.buffers.held_concealed;
}

DecodeStatus place_at(Decoder& d, ReceivedFrame* f, int64_t g);

void placement_learn_size(Decoder& d, int64_t track, int64_t size)
{
    FileTrack* t = track_of(d.place, track);
    if (t->id != track)
        return;
    if (t->size >= 0 && t->size != size)
        t->inconsistent = true;
    t->size = size;
}

// Whether frame `f` at `g` is placed now: a frame far ahead is held; the frame
// after a held one confirms it (the held frame is then placed first) or not (it
// is dropped). Returns true when `f` is to be placed at *g (recomputed); false
// when it is held or dropped, or placing the held frame failed (*result says).
bool settle_jump(Decoder& d, ReceivedFrame* f, int64_t* g, DecodeStatus* result)
{
    Placement& p = d.place;
    *result = DecodeStatus::Ok;
    if (p.held) {
        if (*g == p.held_at) {
            hold(d, f, *g);
            return false;
        }
        const bool confirmed = *g > p.held_at && *g <= p.held_at + CONFIRM_JUMP;
        p.held = false;
        if (confirmed) {
            keep_plane(d, f);
            *result = place_at(d, &p.held_frame, p.held_at);
            if (*result != DecodeStatus::Ok)
                return false;
            p.target_file = f->record->file_index;
            p.target_last = f->record->last_frame_index;
            *g = locate(d, f);
            return *g >= 0;
        }
    }
    if (*g >= p.next + CONFIRM_JUMP) {
        hold(d, f, *g);
        return false;
    }
    return true;
}

DecodeStatus place_frame(Decoder& d, const ReceivedFrame* frame)
{
    Placement& p = d.place;
    ReceivedFrame moved = *frame;
    ReceivedFrame* f = &moved;
    const FrameRecord* r = f->record;
    // The recording's first frame must have the file count two frames agreed on.
    if (!p.started && d.place.alignment.tag_known && r->file_count != d.place.alignment.file_count)
        return DecodeStatus::Ok;
    // Even a "repeat" is placed by its indices: the classifier compares frame
    // indices only, so the next file's frame k after the previous file's frame
    // k looks like one. A true repeat lies behind `next` and is passed over.
    if (!p.started)
        begin(d, f, &d.place.alignment);
    p.target_file = r->file_index;
    p.target_last = r->last_frame_index;

    int64_t g = locate(d, f);
    if ((g < 0 || f->new_recording) && r->frame_code == FRAME0_ACCEPTED && r->file_index == 1) {
        p.held = false;
        keep_plane(d, f);
        DecodeStatus result = start_new_recording(d, r);
        if (result != DecodeStatus::Ok)
            return result;
        g = locate(d, f);
    }
    if (g < 0)
        return DecodeStatus::Ok;
    DecodeStatus result = DecodeStatus::Ok;
    if (!settle_jump(d, f, &g, &result))
        return result;
    return place_at(d, f, g);
}

// Places frame `f` at its position `g` (see place_frame).
DecodeStatus place_at(Decoder& d, ReceivedFrame* f, int64_t g)
{
    Placement& p = d.place;
    const FrameRecord* r = f->record;
    p.target_file = r->file_index;
    p.target_last = r->last_frame_index;
    if (p.pending) {
        if (g == p.next)
            return take_frame0_copy(d, f);
        if (g < p.next)
            return DecodeStatus::Ok;
        keep_plane(d, f);
        DecodeStatus result = resolve_pending(d, r);
        if (result != DecodeStatus::Ok)
            return result;
    }
    if (g < p.next)
        return DecodeStatus::Ok;
    FileTrack* t = current_track(d);
    if (t && r->file_index == t->file_index && !check_size(block_system(d), t, g, f->header_remaining, false))
        return DecodeStatus::Ok;   // a header that contradicts its file: no gap is believed from it

    if (g > p.next)
        keep_plane(d, f);
    DecodeStatus result = fill_to(d, g, r);
    if (result != DecodeStatus::Ok)
        return result;
    const int64_t id = track_for(d, g);
    if (id == NO_TRACK)
        return DecodeStatus::Ok;
    t = track_of(d.place, id);
    check_size(block_system(d), t, g, f->header_remaining, true);
    if (r->frame_index == 0) {
        p.pending = true;
        p.have_candidate = false;
        return take_frame0_copy(d, f);
    }
    return queue_received(d, f->plane, r, f->header_remaining, f->concealed, f->concealed_count);
}

int64_t placement_written_through(const Decoder& d) { return d.place.started ? d.place.next - queued_planes(d.queue) : 0; }

int64_t placement_reach(const Decoder& d)
{
    const Placement& p = d.place;
    if (!p.started)
        return 0;
    const int64_t queued = p.next + p.pending;
    return p.held && p.held_at + 1 > queued ? p.held_at + 1 : queued;
}

bool placement_inside_block(const Decoder& d) { return d.place.started && (queued_planes(d.queue) > 0 || d.place.pending); }

DecodeStatus finish_placement(Decoder& d)
{
    Placement& p = d.place;
    if (!p.started)
        return DecodeStatus::Ok;
    p.target_file = 0;
    FrameRecord end{};
    end.frame_code = FRAME_NEXT;
    if (p.pending) {
        DecodeStatus result = resolve_pending(d, &end);
        if (result != DecodeStatus::Ok)
            return result;
    }
    if (queued_planes(d.queue) == 0)
        return DecodeStatus::Ok;
    return fill_to(d, block_base(p.next) + ECC_N, &end);
}

void report_unseen_files(Decoder& d)
{
    const Placement& p = d.place;
    const FileTrack* t = current_track(d);
    int32_t last_seen = p.confirmed_file;
    if (t && t->file_count == p.confirmed_count && t->file_index > last_seen)
        last_seen = t->file_index;
    if (p.confirmed_file > 0)
        report_missing_files(d, last_seen + 1, p.confirmed_count, p.confirmed_count);
}
