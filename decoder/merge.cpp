#include "merge.h"

#include <cstdlib>
#include <cstring>

#include "alignment.h"
#include "classifier.h"
#include "concealment.h"

namespace {

// A frame position of the recording, in tape order.
struct Position {
    int32_t file;
    int32_t frame;
};

bool before(const Position& a, const Position& b) { return a.file < b.file || (a.file == b.file && a.frame < b.frame); }
bool same(const Position& a, const Position& b) { return a.file == b.file && a.frame == b.frame; }
Position position_of(const FrameRecord& r) { return {r.file_index, r.frame_index}; }

// How good a copy is, lower is better: intact; then marked concealed, fewest
// marks first (erasures of single payload blocks); then a wrong checksum alone
// (the whole plane an erasure).
struct Quality {
    int rank;
    int marked;
};
constexpr int RANK_INTACT = 0;
constexpr int RANK_MARKED = 1;
constexpr int RANK_WRONG = 2;

Quality quality_of(const MergeCapture& c)
{
    const bool sum_ok = c.record.sum_computed == c.record.sum_stored;
    if (sum_ok && c.marked == 0)
        return {RANK_INTACT, 0};
    return c.marked > 0 ? Quality{RANK_MARKED, c.marked} : Quality{RANK_WRONG, 0};
}

bool better(const Quality& a, const Quality& b) { return a.rank < b.rank || (a.rank == b.rank && a.marked < b.marked); }

// Loads the capture's next frame of the recording that lies after the position
// merged last; frames without a usable header, of another recording, or
// behind the merge are passed over. False at the end of its input.
bool load_next(Merger& m, MergeCapture& c, EventSink* sink)
{
    c.holding = false;
    const uint8_t* frame = nullptr;
    while (!c.ended) {
        if (!ReadDVFrame(&frame, c.spare, &c.reader, c.name, sink)) {
            c.ended = true;
            break;
        }
        ++c.frames_read;
        const VideoSystem& system = system_of_frame(frame);
        FrameRecord r{};
        unpack_frame(system, frame, c.plane, &r);
        if (!frame_recognised(&r))
            continue;
        if (!m.recording_known) {
            m.recording_tag = r.recording_tag;
            m.file_count = r.file_count;
            m.recording_known = true;
        }
        if (r.recording_tag != m.recording_tag || r.file_count != m.file_count) {
            ++c.foreign;
            continue;
        }
        const Position last{m.last_file, m.last_frame};
        if (m.last_file > 0 && !before(last, position_of(r)))
            continue;
        std::memcpy(c.frame, frame, static_cast<size_t>(system.frame_size));
        c.record = r;
        c.marked = concealed_payload_blocks(system, frame, m.concealed);
        c.holding = true;
        return true;
    }
    return false;
}

// The earliest position any capture holds; false when none holds one.
bool earliest(const Merger& m, Position* out)
{
    bool any = false;
    for (int i = 0; i < m.count; ++i) {
        const MergeCapture& c = m.captures[i];
        if (!c.holding)
            continue;
        const Position p = position_of(c.record);
        if (!any || before(p, *out))
            *out = p;
        any = true;
    }
    return any;
}

// The alignment the run starts from: the look ahead that saw the earliest file
// of the recording (an anchored one before one that was assumed).
Alignment chosen_alignment(const Merger& m)
{
    const Alignment* chosen = nullptr;
    for (int i = 0; i < m.count; ++i) {
        const MergeCapture& c = m.captures[i];
        const Alignment& a = c.alignment;
        if (c.refused || a.file_index == 0)
            continue;
        if (!chosen || a.file_index < chosen->file_index ||
            (a.file_index == chosen->file_index && a.anchored && !chosen->anchored))
            chosen = &a;
    }
    return chosen ? *chosen : Alignment{};
}

}  // namespace

bool merger_init(Merger* m, int count)
{
    std::memset(m->captures, 0, sizeof m->captures);
    m->count = 0;
    m->allocated = count < MAX_MERGED_CAPTURES ? count : MAX_MERGED_CAPTURES;
    m->best = static_cast<uint8_t*>(std::malloc(MAX_DV_FRAME_SIZE));
    m->concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * MAX_PAYLOAD_BLOCKS));
    bool ok = m->best && m->concealed;
    for (int i = 0; i < m->allocated; ++i) {
        MergeCapture& c = m->captures[i];
        c.spare = static_cast<uint8_t*>(std::malloc(MAX_DV_FRAME_SIZE));
        c.frame = static_cast<uint8_t*>(std::malloc(MAX_DV_FRAME_SIZE));
        c.plane = static_cast<uint8_t*>(std::malloc(MAX_PLANE_SIZE));
        ok = ok && c.spare && c.frame && c.plane && frame_reader_init(&c.reader);
    }
    return ok;
}

void merger_shutdown(Merger* m)
{
    for (int i = 0; i < m->allocated; ++i) {
        MergeCapture& c = m->captures[i];
        frame_reader_shutdown(&c.reader);
        std::free(c.spare);
        std::free(c.frame);
        std::free(c.plane);
        c.spare = c.frame = c.plane = nullptr;
    }
    std::free(m->best);
    std::free(m->concealed);
    m->best = nullptr;
    m->concealed = nullptr;
}

int merger_start(Merger* m, const char* const* firsts, int count, Decoder& d, DecoderOptions options,
                 EventSink* sink)
{
    m->count = count < m->allocated ? count : m->allocated;
    m->recording_known = false;
    m->last_file = 0;
    m->last_frame = 0;
    m->positions = 0;
    m->not_intact = 0;
    const MergeCapture* reference = nullptr;
    for (int i = 0; i < m->count; ++i) {
        MergeCapture& c = m->captures[i];
        std::snprintf(c.first, sizeof c.first, "%s", firsts[i]);
        std::snprintf(c.name, sizeof c.name, "%s", firsts[i]);
        c.holding = c.ended = c.refused = false;
        c.frames_read = c.contributed = c.foreign = 0;
        c.alignment = Alignment{};
        frame_reader_rewind(&c.reader);
        // Standard input cannot be looked ahead in: it is taken as it comes.
        if (std::strcmp(c.first, STDIN_NAME) != 0)
            find_alignment(c.name, &c.reader, c.spare, c.plane, &c.alignment);
        if (!reference && c.alignment.tag_known)
            reference = &c;
    }
    int taken = 0;
    for (int i = 0; i < m->count; ++i) {
        MergeCapture& c = m->captures[i];
        const Alignment& a = c.alignment;
        if (reference && a.tag_known &&
            (a.recording_tag != reference->alignment.recording_tag || a.file_count != reference->alignment.file_count ||
             a.system != reference->alignment.system)) {
            c.refused = true;
            tell(sink, Severity::Warning, "\n%s: a capture of another recording than %s; it is left out\n", c.first,
                 reference->first);
            continue;
        }
        ++taken;
    }
    if (reference) {
        m->recording_tag = reference->alignment.recording_tag;
        m->file_count = reference->alignment.file_count;
        m->recording_known = true;
    }
    Alignment start = chosen_alignment(*m);
    if (reference) {
        start.tag_known = true;
        start.recording_tag = m->recording_tag;
        start.file_count = m->file_count;
        start.system = reference->alignment.system;
    }
    options.capture_name = m->captures[0].first;
    decoder_start(d, options, start, sink);
    return taken;
}

DecodeStatus merger_decode(Merger* m, Decoder& d, EventSink* sink, void (*frame_done)(void* context, const Decoder& d),
                           void* context)
{
    for (int i = 0; i < m->count; ++i) {
        MergeCapture& c = m->captures[i];
        c.ended = c.refused;
        if (!c.ended)
            load_next(*m, c, sink);
    }
    Position at{};
    while (earliest(*m, &at)) {
        // Every capture's copies of this position (a file's first frame comes
        // many times): the best one goes on, as often as the longest run had it.
        Quality best{};
        int best_capture = -1;
        int64_t copies = 0;
        for (int i = 0; i < m->count; ++i) {
            MergeCapture& c = m->captures[i];
            int64_t run = 0;
            while (c.holding && same(position_of(c.record), at)) {
                ++run;
                const Quality q = quality_of(c);
                if (best_capture < 0 || better(q, best)) {
                    best = q;
                    best_capture = i;
                    std::memcpy(m->best, c.frame, static_cast<size_t>(system_of_frame(c.frame).frame_size));
                }
                // Copies of a later frame index are never merged into this one.
                const Position keep{m->last_file, m->last_frame};
                m->last_file = at.file;
                m->last_frame = at.frame - 1;
                load_next(*m, c, sink);
                m->last_file = keep.file;
                m->last_frame = keep.frame;
            }
            if (run > copies)
                copies = run;
        }
        m->last_file = at.file;
        m->last_frame = at.frame;
        if (at.frame != 0)
            copies = 1;
        decoder_set_source(d, best_capture);
        for (int64_t k = 0; k < copies; ++k) {
            const DecodeStatus status = decoder_push_frame(d, m->best);
            if (status != DecodeStatus::Ok)
                return status;
        }
        ++m->captures[best_capture].contributed;
        ++m->positions;
        if (best.rank != RANK_INTACT)
            ++m->not_intact;
        if (frame_done)
            frame_done(context, d);
    }
    for (int i = 0; i < m->count; ++i) {
        const MergeCapture& c = m->captures[i];
        if (!c.refused && c.contributed == 0 && c.foreign > 0)
            tell(sink, Severity::Warning, "\n%s holds frames of another recording only; they are not used\n",
                 c.first);
    }
    return decoder_finish(d);
}
