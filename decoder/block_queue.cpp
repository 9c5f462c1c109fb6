#include "block_queue.h"

#include <cstdlib>
#include <cstring>

#include "block_writer.h"

namespace {

// Blocks lost whole in a row whose marks are shown; the rest are counted.
constexpr int64_t LOST_BLOCKS_SHOWN = 2;
// Payload blocks holding the path field of a file's first plane.
constexpr int PATH_PAYLOAD_BLOCKS = (PATH_FIELD_SIZE + PAYLOAD_BLOCK_BYTES - 1) / PAYLOAD_BLOCK_BYTES;

// The block code's refusal, if it gave one, then the queue's own verdict.
DecodeStatus catastrophe(Decoder& d)
{
    if (ecc_last_diagnostic()[0] != '\0')
        tell(d.sink, Severity::Failure, "%s", ecc_last_diagnostic());
    ecc_clear_diagnostic();
    tell(d.sink, Severity::Failure, "\nadd2queue() : CATASTROPHIC ERROR!");
    return DecodeStatus::Catastrophic;
}

// What the finished block of `entries` tells of the tape, to the sink: its
// known-bad frames by kind, the states of its positions, and its margin.
void tell_health(Decoder& d, const QueueEntry* entries, const uint8_t* intact, uint32_t unsolved)
{
    BlockHealth& h = d.queue.health;
    h = BlockHealth{};
    h.first_position = d.place.next - ECC_N;   // the placement has moved past the block's last position
    h.index = h.first_position / ECC_N;
    h.system = d.queue.system;
    h.unsolved = unsolved;
    bool whole = true;
    for (int p = 0; p < ECC_N; ++p) {
        const QueueEntry& e = entries[p];
        const bool wrong_sum = !e.filler && e.record.sum_computed != e.record.sum_stored;
        FrameState state = FrameState::INTACT;
        if (e.filler) {
            ++h.lost;
            state = FrameState::LOST;
        } else if (wrong_sum) {
            ++h.damaged;
            state = FrameState::REBUILT;
            if (e.marked) {
                ++h.concealed;
                state = FrameState::CONCEALED;
            }
        }
        if (p < ECC_K && !intact[p]) {
            state = FrameState::BEYOND_REPAIR;
            whole = false;
        } else if (p < ECC_K && state != FrameState::INTACT) {
            ++h.rebuilt;
        }
        h.state[p] = state;
        h.source[p] = e.filler ? NO_CAPTURE : e.record.source;
        if (e.track != NO_TRACK && e.frame_index == 0)
            h.file_starts[p] = track_of(d.place, e.track)->file_index;
    }
    const int bad = h.lost + h.damaged;
    h.margin = whole && bad < SAFE_BAD_FRAMES ? SAFE_BAD_FRAMES - bad : 0;
    d.sink->block_health(h);
}

}  // namespace

bool queue_allocate(BlockQueue& q)
{
    q.entries = static_cast<QueueEntry*>(std::calloc(ECC_N, sizeof(QueueEntry)));
    q.erasures = static_cast<ECCErasures*>(std::calloc(1, sizeof(ECCErasures)));
    q.snapshot = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(ECC_K) * MAX_PLANE_SIZE));
    q.segments = static_cast<SegmentFacts*>(std::calloc(1, sizeof(SegmentFacts)));
    q.system = &SYSTEM_525_60;
    return ecc_decoder_init(&q.ecc, q.system->plane_size) == 0 && q.entries && q.erasures && q.snapshot &&
           q.segments;
}

bool queue_set_system(BlockQueue& q, const VideoSystem& v)
{
    if (ecc_decoder_resize(&q.ecc, v.plane_size) != 0)
        return false;
    q.system = &v;
    return true;
}

void queue_release(BlockQueue& q)
{
    // Shutting down a decoder whose planes are released already only says so.
    (void)ecc_decoder_shutdown(&q.ecc);
    std::free(q.entries);
    std::free(q.erasures);
    std::free(q.snapshot);
    std::free(q.segments);
}

void queue_reset(BlockQueue& q)
{
    // A run may have stopped inside a block: the next one starts a fresh block.
    q.ecc.cCodeReceived = 0;
    q.ecc.cDataOut = 0;
    q.ecc.cUncorrectable = 0;
    // Every byte a block of either system may use: the next run's system is not known yet.
    (void)ecc_clear_parityplanes(q.ecc.pSyndromePlanes, ECC_MAX_PLANE_BYTES);
    std::memset(q.erasures, 0, sizeof *q.erasures);
    q.lost_in_row = 0;
    q.lost_unshown = 0;
}

DecodeStatus add2queue(Decoder& d, const uint8_t* plane, const QueueEntry* entry, const uint16_t* concealed,
                       int concealed_count)
{
    BlockQueue& q = d.queue;
    const int32_t n = queued_planes(q);
    uint8_t* buffer = nullptr;
    if (ecc_decoder_get_rcv_buffer(&q.ecc, &buffer) != 0 || buffer != q.ecc.pReceivedPlanes[n])
        return catastrophe(d);
    if (plane != buffer)
        std::memcpy(buffer, plane ? plane : ZERO_PLANE, static_cast<size_t>(q.system->plane_size));
    if (ecc_decoder_syn1(&q.ecc, buffer) != 0)
        return catastrophe(d);
    QueueEntry* slot = &q.entries[n];
    *slot = *entry;
    slot->marked = concealed_count > 0 && !slot->bad;
    slot->path_suspect = slot->bad;
    if (slot->marked) {
        mark_concealed(q, n, concealed, concealed_count);
        for (int i = 0; i < concealed_count; ++i)
            slot->path_suspect |= concealed[i] < PATH_PAYLOAD_BLOCKS;
    }
    if (n + 1 < ECC_N)
        return DecodeStatus::Ok;
    uint8_t intact[ECC_K];
    BlockCheck check{};
    if (!correct_block(q, q.entries, d.options.correct, intact, &check))
        return catastrophe(d);
    tell_health(d, q.entries, intact, q.ecc.cUncorrectable);
    return dump_eccblock(d, intact, &check);
}

uint8_t* queue_buffer(Decoder& d) { return d.queue.ecc.pReceivedPlanes[queued_planes(d.queue)]; }

void end_lost_run(Decoder& d)
{
    BlockQueue& q = d.queue;
    if (q.lost_unshown > 0)
        tell(d.sink, Severity::Info, "\ndump_eccblock() : %lld more blocks lost whole",
             static_cast<long long>(q.lost_unshown));
    q.lost_unshown = 0;
    q.lost_in_row = 0;
}

DecodeStatus dump_eccblock(Decoder& d, const uint8_t* intact, const BlockCheck* check)
{
    end_lost_run(d);
    tell(d.sink, Severity::Progress, "\ndump_eccblock():");
    uint8_t* planes[ECC_K];
    for (int i = 0; i < ECC_K; ++i) {
        if (ecc_decoder_get_out_buffer(&d.queue.ecc, &planes[i]) != 0)
            return catastrophe(d);
    }
    const DecodeStatus status = write_block(d, d.queue.entries, planes, intact, check, false);
    if (status != DecodeStatus::Ok || !d.writer.behind_active)
        return status;
    // The block's planes are being written behind: the next block is received
    // into the other set, once the writes from that one are done.
    BlockQueue& q = d.queue;
    const int64_t mark = write_behind_mark(d.writer.behind);
    if (writer_wait(d, q.other_set_mark) != DecodeStatus::Ok)
        return DecodeStatus::WriteFailed;
    if (ecc_decoder_switch_data_planes(&q.ecc) != 0)
        return catastrophe(d);
    q.other_set_mark = mark;
    return DecodeStatus::Ok;
}

DecodeStatus dump_lost_block(Decoder& d, const QueueEntry* entries)
{
    // A long run of lost blocks shows its first blocks only: a gap claimed by
    // headers must not flood the console and the log.
    BlockQueue& q = d.queue;
    const bool quiet = ++q.lost_in_row > LOST_BLOCKS_SHOWN;
    if (quiet)
        ++q.lost_unshown;
    else
        tell(d.sink, Severity::Progress, "\ndump_eccblock():");
    uint8_t* planes[ECC_K];
    uint8_t intact[ECC_K];
    for (int i = 0; i < ECC_K; ++i) {
        planes[i] = const_cast<uint8_t*>(ZERO_PLANE);
        intact[i] = 0;
    }
    const BlockCheck nothing_known{};
    tell_health(d, entries, intact, 0);
    return write_block(d, entries, planes, intact, &nothing_known, quiet);
}
