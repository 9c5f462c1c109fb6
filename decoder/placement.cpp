#include "placement.h"

#include <cstdlib>
#include <cstring>

#include "block_writer.h"
#include "classifier.h"
#include "tape_model.h"

namespace {

constexpr int64_t UNKNOWN_START = -1;

struct Placement {
    int started;                 // `next` is set
    int64_t next;                // next global position to queue
    int64_t first_position;      // position of the first frame placed
    int64_t current;             // id of the latest track, or NO_TRACK
    int64_t tracks_made;         // id of the next track
    int64_t upcoming_start;      // where the file after `current` starts, or UNKNOWN_START
    int32_t upcoming_file;
    int32_t upcoming_count;
    // The frame being placed, for the track of its file when the fill reaches it.
    int32_t target_file;         // 0 at the end of the input: no later file is known
    int32_t target_last;
    // A file's frame 0 at `next` whose copies are still coming.
    int pending;
    int have_candidate;
    uint8_t* candidate_plane;    // PLANE_SIZE bytes
    FrameRecord candidate_record;
    int64_t candidate_remaining;
    uint16_t* candidate_concealed;   // PAYLOAD_BLOCKS entries
    int candidate_concealed_count;
    QueueEntry* lost_block;      // ECC_N entries for a block lost whole
    uint8_t* kept_plane;         // PLANE_SIZE bytes: a frame's plane moved out of the queue's way
    // The recording's file count and the files seen, as confirmed by a second
    // frame of a file: a lone frame's header creates no report lines.
    int32_t first_file;          // file index of the run's first track, 0 before it
    int32_t first_count;
    int32_t confirmed_file;      // the latest file confirmed, 0 before one is
    int32_t confirmed_count;
    // A frame far ahead of `next`, waiting for the next frame to confirm it.
    int held;
    int64_t held_at;
    ReceivedFrame held_frame;    // its pointers lead to the fields below
    FrameRecord held_record;
    uint8_t* held_plane;         // PLANE_SIZE bytes
    uint16_t* held_concealed;    // PAYLOAD_BLOCKS entries
};

Placement g_place;

int sum_matches(const FrameRecord* r) { return r->sum_computed == r->sum_stored; }

FileTrack* current_track() { return g_place.current == NO_TRACK ? nullptr : track_of(g_place.current); }

void make_track(int32_t file_index, int32_t file_count, int64_t start, int32_t last, int assumed)
{
    Placement& p = g_place;
    const int64_t id = p.tracks_made++;
    FileTrack* t = track_of(id);
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
int64_t track_for(int64_t g)
{
    Placement& p = g_place;
    for (;;) {
        const FileTrack* t = current_track();
        if (t && g >= t->start && g <= t->start + t->last)
            return t->id;
        if (p.upcoming_start == UNKNOWN_START || g < p.upcoming_start)
            return NO_TRACK;
        if (p.upcoming_file == p.target_file) {
            make_track(p.upcoming_file, p.upcoming_count, p.upcoming_start, p.target_last, 0);
        } else if (p.upcoming_file < p.target_file) {
            make_track(p.upcoming_file, p.upcoming_count, p.upcoming_start, 0, 1);
        } else {
            p.upcoming_start = UNKNOWN_START;
            return NO_TRACK;
        }
    }
}

QueueEntry filler_entry(int64_t g, const FrameRecord* record)
{
    QueueEntry e{};
    e.record = *record;
    e.filler = 1;
    e.bad = 1;
    e.remaining = -1;
    e.track = track_for(g);
    e.frame_index = e.track == NO_TRACK ? 0 : static_cast<int32_t>(g - track_of(e.track)->start);
    return e;
}

// Queues fillers up to (not including) global position `g`; a block lost
// whole is written out without decoding.
int fill_to(int64_t g, const FrameRecord* record)
{
    Placement& p = g_place;
    while (p.next < g) {
        if (g_ecc_n == 0 && g - p.next >= ECC_N) {
            for (int i = 0; i < ECC_N; ++i)
                p.lost_block[i] = filler_entry(p.next + i, record);
            p.next += ECC_N;
            int result = dump_lost_block(p.lost_block);
            if (result != QUEUE_OK)
                return result;
            continue;
        }
        QueueEntry e = filler_entry(p.next, record);
        ++p.next;
        int result = add2queue(nullptr, &e, nullptr, 0);
        if (result != QUEUE_OK)
            return result;
    }
    return QUEUE_OK;
}

// A received frame of file `t`: its second confirms the file's indices; the first
// file confirmed books the files of the recording wholly before the capture.
void confirm(FileTrack* t)
{
    Placement& p = g_place;
    if (++t->received < 2)
        return;
    if (p.confirmed_file == 0 && p.first_count == t->file_count)
        report_missing_files(1, p.first_file - 1, t->file_count);
    if (t->file_count != p.confirmed_count || t->file_index > p.confirmed_file) {
        p.confirmed_file = t->file_index;
        p.confirmed_count = t->file_count;
    }
}

// Queues a received plane at `next`.
int queue_received(const uint8_t* plane, const FrameRecord* record, int64_t remaining, const uint16_t* concealed,
                   int concealed_count)
{
    Placement& p = g_place;
    QueueEntry e{};
    e.record = *record;
    e.remaining = remaining;
    e.track = track_for(p.next);
    e.frame_index = e.track == NO_TRACK ? 0 : static_cast<int32_t>(p.next - track_of(e.track)->start);
    const int wrong_sum = !sum_matches(record);
    e.bad = wrong_sum && concealed_count == 0;
    if (e.track != NO_TRACK)
        confirm(track_of(e.track));
    ++p.next;
    return add2queue(plane, &e, wrong_sum ? concealed : nullptr, wrong_sum ? concealed_count : 0);
}

void keep_candidate(const ReceivedFrame* f)
{
    Placement& p = g_place;
    if (p.have_candidate && (sum_matches(&p.candidate_record) || !sum_matches(f->record)))
        return;
    std::memcpy(p.candidate_plane, f->plane, PLANE_SIZE);
    p.candidate_record = *f->record;
    p.candidate_remaining = f->header_remaining;
    p.candidate_record.Zerobytes = 0;   // the bytes lost before it belong to the file before
    p.candidate_concealed_count = f->concealed_count;
    if (f->concealed_count > 0)
        std::memcpy(p.candidate_concealed, f->concealed, sizeof(uint16_t) * static_cast<size_t>(f->concealed_count));
    p.have_candidate = 1;
}

// Fills the waiting frame 0 position with the best copy received, or a filler.
int resolve_pending(const FrameRecord* record)
{
    Placement& p = g_place;
    p.pending = 0;
    if (!p.have_candidate)
        return fill_to(p.next + 1, record);
    p.have_candidate = 0;
    return queue_received(p.candidate_plane, &p.candidate_record, p.candidate_remaining, p.candidate_concealed,
                          p.candidate_concealed_count);
}

// A copy of the frame 0 waiting at `next`.
int take_frame0_copy(const ReceivedFrame* f)
{
    Placement& p = g_place;
    if (f->record->frame_code != FRAME0_ACCEPTED) {
        keep_candidate(f);
        return QUEUE_OK;
    }
    p.pending = 0;
    if (p.have_candidate && sum_matches(&p.candidate_record) && !sum_matches(f->record)) {
        p.have_candidate = 0;
        return queue_received(p.candidate_plane, &p.candidate_record, p.candidate_remaining,
                              p.candidate_concealed, p.candidate_concealed_count);
    }
    p.have_candidate = 0;
    return queue_received(f->plane, f->record, f->header_remaining, f->concealed, f->concealed_count);
}

// Learns the file's size from a header, and checks it against what is known.
// Returns 0 when the header contradicts the file's size.
int check_size(FileTrack* t, int64_t g, int64_t remaining, int learn)
{
    const int64_t size = size_from_header(t->start, g, remaining);
    if (size < 0)
        return 1;
    if (t->size >= 0)
        return size == t->size;
    if (!learn)
        return 1;
    t->size = size;
    if (expected_last_index(t->start, size, t->file_index >= t->file_count) != t->last)
        t->inconsistent = 1;
    return 1;
}

// The global position of frame `f`, or -1 when it cannot be placed.
int64_t locate(const ReceivedFrame* f)
{
    Placement& p = g_place;
    const FrameRecord* r = f->record;
    const FileTrack* t = current_track();
    if (t && r->file_index == t->file_index && r->file_count == t->file_count)
        return r->last_frame_index == t->last ? t->start + r->frame_index : -1;
    if (p.upcoming_start == UNKNOWN_START || r->file_index < p.upcoming_file || r->file_count != p.upcoming_count)
        return -1;
    return p.upcoming_start + (r->file_index - p.upcoming_file) + r->frame_index;
}

// The first frame of the run fixes where the recording lies, when the
// alignment does not name its file.
void begin(const ReceivedFrame* f, const Alignment* known)
{
    Placement& p = g_place;
    const FrameRecord* r = f->record;
    p.upcoming_file = r->file_index;
    p.upcoming_count = r->file_count;
    p.upcoming_start = 0;
    if (known->file_index > 0 && known->file_index <= r->file_index)
        p.upcoming_start = known->start + (r->file_index - known->file_index);
    // Positions before the first file's start belong to files not known here.
    p.first_position = p.upcoming_start + r->frame_index;
    p.next = block_base(p.first_position);
    p.started = 1;
}

Alignment g_alignment;

// A file 1 accepted after the files of another recording: the block being
// filled is completed, and the new recording starts at the next block boundary.
int start_new_recording(const FrameRecord* r)
{
    Placement& p = g_place;
    p.target_file = 0;
    FrameRecord end{};
    end.frame_code = FRAME_NEXT;
    int result = p.pending ? resolve_pending(&end) : QUEUE_OK;
    if (result == QUEUE_OK && g_ecc_n > 0)
        result = fill_to(block_base(p.next) + ECC_N, &end);
    // The files of the recording left after its last one seen, then a fresh count.
    report_unseen_files();
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
void keep_plane(ReceivedFrame* f)
{
    if (f->plane != queue_buffer())
        return;
    std::memcpy(g_place.kept_plane, f->plane, PLANE_SIZE);
    f->plane = g_place.kept_plane;
}

}  // namespace

int placement_allocate()
{
    Placement& p = g_place;
    if (!p.candidate_plane)
        p.candidate_plane = static_cast<uint8_t*>(std::malloc(PLANE_SIZE));
    if (!p.candidate_concealed)
        p.candidate_concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * PAYLOAD_BLOCKS));
    if (!p.lost_block)
        p.lost_block = static_cast<QueueEntry*>(std::calloc(ECC_N, sizeof(QueueEntry)));
    if (!p.kept_plane)
        p.kept_plane = static_cast<uint8_t*>(std::malloc(PLANE_SIZE));
    if (!p.held_plane)
        p.held_plane = static_cast<uint8_t*>(std::malloc(PLANE_SIZE));
    if (!p.held_concealed)
        p.held_concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * PAYLOAD_BLOCKS));
    return p.candidate_plane && p.candidate_concealed && p.lost_block && p.kept_plane && p.held_plane &&
           p.held_concealed;
}

void placement_reset(const Alignment* alignment)
{
    Placement& p = g_place;
    uint8_t* plane = p.candidate_plane;
    uint16_t* concealed = p.candidate_concealed;
    QueueEntry* lost = p.lost_block;
    uint8_t* kept = p.kept_plane;
    uint8_t* held = p.held_plane;
    uint16_t* held_concealed = p.held_concealed;
    std::memset(&p, 0, sizeof p);
    p.candidate_plane = plane;
    p.candidate_concealed = concealed;
    p.lost_block = lost;
    p.kept_plane = kept;
    p.held_plane = held;
    p.held_concealed = held_concealed;
    p.current = NO_TRACK;
    p.upcoming_start = UNKNOWN_START;
    g_alignment = *alignment;
}

// Holds frame `f` located at `g` (or, for another copy at the same place, keeps
// the better of the two: an accepted frame 0, else one whose checksum matches).
void hold(const ReceivedFrame* f, int64_t g)
{
    Placement& p = g_place;
    if (p.held && g == p.held_at && p.held_record.frame_code == FRAME0_ACCEPTED)
        return;
    if (p.held && g == p.held_at && f->record->frame_code != FRAME0_ACCEPTED && sum_matches(&p.held_record) &&
        !sum_matches(f->record))
        return;
    p.held = 1;
    p.held_at = g;
    p.held_record = *f->record;
    std::memcpy(p.held_plane, f->plane, PLANE_SIZE);
    if (f->concealed_count > 0)
        std::memcpy(p.held_concealed, f->concealed, sizeof(uint16_t) * static_cast<size_t>(f->concealed_count));
    p.held_frame = *f;
    p.held_frame.plane = p.held_plane;
    p.held_frame.record = &p.held_record;
    p.held_frame.concealed = p.held_concealed;
}

int place_at(ReceivedFrame* f, int64_t g);

// Whether frame `f` at `g` is placed now: a frame far ahead is held; the frame
// after a held one confirms it (the held frame is then placed first) or not (it
// is dropped). Returns 1 when `f` is to be placed at *g (recomputed), 0 when it
// is held, or a negative QUEUE_ result as -result - 1 in *result.
int settle_jump(ReceivedFrame* f, int64_t* g, int* result)
{
    Placement& p = g_place;
    *result = QUEUE_OK;
    if (p.held) {
        if (*g == p.held_at) {
            hold(f, *g);
            return 0;
        }
        const int confirmed = *g > p.held_at && *g <= p.held_at + CONFIRM_JUMP;
        p.held = 0;
        if (confirmed) {
            keep_plane(f);
            *result = place_at(&p.held_frame, p.held_at);
            if (*result != QUEUE_OK)
                return 0;
            p.target_file = f->record->file_index;
            p.target_last = f->record->last_frame_index;
            *g = locate(f);
            return *g >= 0;
        }
    }
    if (*g >= p.next + CONFIRM_JUMP) {
        hold(f, *g);
        return 0;
    }
    return 1;
}

int place_frame(const ReceivedFrame* frame)
{
    Placement& p = g_place;
    ReceivedFrame moved = *frame;
    ReceivedFrame* f = &moved;
    const FrameRecord* r = f->record;
    // The recording's first frame must have the file count two frames agreed on.
    if (!p.started && g_alignment.tag_known && r->file_count != g_alignment.file_count)
        return QUEUE_OK;
    // Even a "repeat" is placed by its indices: the classifier compares frame
    // indices only, so the next file's frame k after the previous file's frame
    // k looks like one. A true repeat lies behind `next` and is passed over.
    if (!p.started)
        begin(f, &g_alignment);
    p.target_file = r->file_index;
    p.target_last = r->last_frame_index;

    int64_t g = locate(f);
    if ((g < 0 || f->new_recording) && r->frame_code == FRAME0_ACCEPTED && r->file_index == 1) {
        p.held = 0;
        keep_plane(f);
        int result = start_new_recording(r);
        if (result != QUEUE_OK)
            return result;
        g = locate(f);
    }
    if (g < 0)
        return QUEUE_OK;
    int result = QUEUE_OK;
    if (!settle_jump(f, &g, &result))
        return result;
    return place_at(f, g);
}

// Places frame `f` at its position `g` (see place_frame).
int place_at(ReceivedFrame* f, int64_t g)
{
    Placement& p = g_place;
    const FrameRecord* r = f->record;
    p.target_file = r->file_index;
    p.target_last = r->last_frame_index;
    if (p.pending) {
        if (g == p.next)
            return take_frame0_copy(f);
        if (g < p.next)
            return QUEUE_OK;
        keep_plane(f);
        int result = resolve_pending(r);
        if (result != QUEUE_OK)
            return result;
    }
    if (g < p.next)
        return QUEUE_OK;
    FileTrack* t = current_track();
    if (t && r->file_index == t->file_index && !check_size(t, g, f->header_remaining, 0))
        return QUEUE_OK;   // a header that contradicts its file: no gap is believed from it

    if (g > p.next)
        keep_plane(f);
    int result = fill_to(g, r);
    if (result != QUEUE_OK)
        return result;
    const int64_t id = track_for(g);
    if (id == NO_TRACK)
        return QUEUE_OK;
    t = track_of(id);
    check_size(t, g, f->header_remaining, 1);
    if (r->frame_index == 0) {
        p.pending = 1;
        p.have_candidate = 0;
        return take_frame0_copy(f);
    }
    return queue_received(f->plane, r, f->header_remaining, f->concealed, f->concealed_count);
}

int64_t placement_written_through() { return g_place.started ? g_place.next - g_ecc_n : 0; }

int64_t placement_reach()
{
    const Placement& p = g_place;
    if (!p.started)
        return 0;
    const int64_t queued = p.next + p.pending;
    return p.held && p.held_at + 1 > queued ? p.held_at + 1 : queued;
}

int placement_inside_block() { return g_place.started && (g_ecc_n > 0 || g_place.pending); }

int finish_placement()
{
    Placement& p = g_place;
    if (!p.started)
        return QUEUE_OK;
    p.target_file = 0;
    FrameRecord end{};
    end.frame_code = FRAME_NEXT;
    if (p.pending) {
        int result = resolve_pending(&end);
        if (result != QUEUE_OK)
            return result;
    }
    if (g_ecc_n == 0)
        return QUEUE_OK;
    return fill_to(block_base(p.next) + ECC_N, &end);
}

void report_unseen_files()
{
    const Placement& p = g_place;
    const FileTrack* t = current_track();
    int32_t last_seen = p.confirmed_file;
    if (t && t->file_count == p.confirmed_count && t->file_index > last_seen)
        last_seen = t->file_index;
    if (p.confirmed_file > 0)
        report_missing_files(last_seen + 1, p.confirmed_count, p.confirmed_count);
}
