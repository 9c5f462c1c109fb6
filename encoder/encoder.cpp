#include "encoder.h"

#include <cstring>

#include "avi_writer.h"
#include "raw_writer.h"
#include "plan.h"
#include "recording_id.h"

namespace {

void init_frame_info(FrameInfo* info)
{
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->magic, FRAME_HEADER_MAGIC, sizeof info->magic);
    info->dif_toggle = DIF_TOGGLE_A;
    info->vaux_id = VAUX_ID_START;
    info->audio_id = AUDIO_ID_START;
    info->video_id = VIDEO_ID_START;
}

// The ECC library leaves the reason for a refusal to its caller.
bool ecc_refused(const Encoder* e)
{
    tell(e->sink, Severity::Error, "%s", ecc_last_diagnostic());
    return false;
}

static_assert(sizeof(FrameInfo) <= HANDOFF_NOTE_BYTES, "a slot's note holds the frame's record");

// Appends a packed frame in the plan's output format.
bool put_frame(Encoder* e, const uint8_t* chunk, const FrameInfo* info, EventSink* sink)
{
    if (e->plan.output == OutputFormat::AVI)
        return write_avi_frame(chunk, info, &e->plan, &e->avi, sink);
    return write_raw_frame(chunk, info, &e->plan, &e->avi, sink);
}

// The frame's copies move the cursor through the planned files as the writer will.
void advance_cursor(Encoder* e)
{
    const int copies = e->info.frame_index == 0 ? e->plan.repeat0 : 1;
    for (int c = 0; c < copies; ++c) {
        const size_t k = static_cast<size_t>(e->sent.file);
        const int32_t planned = k < e->plan.avi_frames.size() ? e->plan.avi_frames[k] : 0;
        if (++e->sent.frames >= planned) {
            ++e->sent.file;
            e->sent.frames = 0;
        }
    }
}

// Where the next frame is packed: the template frame, or with two threads the
// slot that goes to the writing thread (every slot holds the template too, so
// the frame is packed in place and never copied). Null when the writing thread
// has stopped: a write failed.
uint8_t* frame_to_pack(Encoder* e)
{
    if (!e->write_ahead)
        return e->frame;
    HandoffSlot* slot = handoff_fill(&e->handoff);
    return slot ? slot->bytes : nullptr;
}

// Hands the frame packed at frame_to_pack on: written here, or sent to the
// writing thread with the frame's record.
bool write_frame(Encoder* e)
{
    advance_cursor(e);
    if (!e->write_ahead)
        return put_frame(e, e->frame, &e->info, e->sink);
    HandoffSlot* slot = handoff_fill(&e->handoff);
    if (!slot)
        return false;
    std::memcpy(slot->note, &e->info, sizeof e->info);
    slot->carries = true;
    handoff_send(&e->handoff);
    return true;
}

// Packs `plane` as the next frame, with the current record, and hands it on.
bool pack_and_write(Encoder* e, const uint8_t* plane)
{
    uint8_t* frame = frame_to_pack(e);
    if (!frame)
        return false;
    pack_frame(*e->plan.system, plane, &e->info, e->plan.repeat0, frame);
    return write_frame(e);
}

// The writing thread: tells each slot's events, then writes its frame.
void write_sent(Encoder* e, EventSink* sink)
{
    while (HandoffSlot* slot = handoff_take(&e->handoff)) {
        handoff_replay(*slot, sink);
        if (slot->last)
            return;
        if (!slot->carries)
            continue;
        FrameInfo info;
        std::memcpy(&info, slot->note, sizeof info);
        if (!put_frame(e, slot->bytes, &info, sink)) {
            e->write_failed = true;
            handoff_stop(&e->handoff);
            return;
        }
    }
}

// Packs `plane` as the next frame of the current file and adds it to the ECC block.
bool write_data_frame(Encoder* e, const uint8_t* plane)
{
    if (ecc_encoder_enc1(&e->ecc, plane) != 0)
        return ecc_refused(e);
    return pack_and_write(e, plane);
}

// Packs and writes the 8 parity planes of the completed block, each as the next
// frame of the current file; `announce` shows each parity frame's index.
bool write_parity(Encoder* e, bool announce)
{
    for (int k = 0; k < ECC_NMK; k++) {
        uint8_t* parity = nullptr;
        if (ecc_encoder_getp1(&e->ecc, &parity) != 0)
            return ecc_refused(e);
        e->info.frame_index++;
        uint8_t* frame = frame_to_pack(e);
        if (!frame)
            return false;
        pack_frame(*e->plan.system, parity, &e->info, e->plan.repeat0, frame);
        if (announce)
            tell(e->sink, Severity::Progress, "\nEncoding parity %d", e->info.frame_index);
        if (!write_frame(e))
            return false;
    }
    return true;
}

// Completes the last ECC block, which holds ecc_pctr (1..63) data planes:
// 64 - ecc_pctr zero planes, then its 8 parity planes, all as frames of the last
// input file.
bool flush_eccblock(Encoder* e)
{
    const int ecc_k = e->ecc_pctr;
    tell(e->sink, Severity::Progress, "\nflush_eccblock( ecc_k=%d ) : starting (CAVIFcnt=%d)", ecc_k,
         e->sent.frames);
    tell(e->sink, Severity::Progress, "\nflush_eccblock() : padding file to ECC_block boundary! (ecc_pctr=%d)",
         ecc_k);
    std::memset(e->plane, 0, static_cast<size_t>(e->plan.system->plane_size));
    e->info.bytes_remaining = 0;
    for (int k = ecc_k; k < ECC_K; k++) {
        e->info.frame_index++;
        if (!write_data_frame(e, e->plane))
            return false;
    }
    return write_parity(e, true);
}

}  // namespace

Encoder::~Encoder()
{
    if (avi && avi != stdout)
        fclose(avi);
    if (input.stream)
        fclose(input.stream);
    content_hash_release(&input.read);
    if (handoff_ready)
        handoff_release(&handoff);
    if (ecc_encoder_shutdown(&ecc) != 0)
        tell(sink, Severity::Error, "%s", ecc_last_diagnostic());
}

bool encoder_init(Encoder* e, EventSink* sink)
{
    e->sink = sink;
    set_plan_defaults(&e->plan);
    init_frame_info(&e->info);
    if (ecc_encoder_init(&e->ecc, e->plan.system->plane_size) == 0)
        return true;
    tell(sink, Severity::Error, "main() : ecc_encoder_init() failed, cannot allocate the parity planes!\n");
    return false;
}

bool encoder_start(Encoder* e)
{
    draw_recording_id(e->recording_id);
    e->info.recording_tag = recording_tag(e->recording_id);
    if (ecc_encoder_resize(&e->ecc, e->plan.system->plane_size) != 0)
        return ecc_refused(e);
    return input_slot_init(&e->input, e->recording_id, e->scan, e->sink);
}

namespace {

// Every plane of the input as frames, the last block completed. False when the
// ECC encoder refused a plane or a frame could not be written.
bool encode_planes(Encoder* e)
{
    EncodePlan* plan = &e->plan;
    while (next_plane(e->plane, &e->info, plan, &e->input)) {
        if (e->info.frame_index == 0)
            tell(e->sink, Severity::Info, "\n(@ f#%d) Encoding %s", e->sent.frames,
                 plan->file_name[e->info.file_index].c_str());
        else
            tell_mark(e->sink, ".");
        if (!write_data_frame(e, e->plane))
            return false;
        if (++e->ecc_pctr == ECC_K) {
            if (!write_parity(e, false))
                return false;
            e->ecc_pctr = 0;
            e->ecc_blocks++;
        }
    }
    if (e->ecc_pctr > 0) {
        if (!flush_eccblock(e))
            return false;
        e->ecc_blocks++;
    }
    return true;
}

}  // namespace

bool encode_run(Encoder* e)
{
    EncodePlan* plan = &e->plan;
    plan->avi_current = 1;
    plan->file_current = 1;
    plan->CAVIFcnt = 0;
    e->ecc_pctr = 0;
    e->ecc_blocks = 0;
    e->sent = OutputCursor{1, 0};
    e->write_failed = false;

    // Two threads: this one reads, hashes and packs; the writer writes, and
    // tells the events recorded before each frame, as one thread would have.
    EventSink* sink = e->sink;
    RecordingSink recorder(&e->handoff);
    if (e->write_ahead) {
        e->write_ahead = e->handoff_ready || (e->handoff_ready = handoff_init(&e->handoff));
        if (e->write_ahead) {
            handoff_reset(&e->handoff);
            for (HandoffSlot& slot : e->handoff.slots)
                std::memcpy(slot.bytes, e->frame, static_cast<size_t>(plan->system->chunk_size));
            try {
                e->writer = std::thread(write_sent, e, sink);
            } catch (...) {
                e->write_ahead = false;
            }
        }
        if (e->write_ahead) {
            e->sink = &recorder;
            e->input.sink = &recorder;
        }
    }
    // With threads allowed, the hash taken before each large file is read by two.
    e->input.shared_scan = e->write_ahead;
    bool encoded = encode_planes(e);
    if (e->write_ahead) {
        HandoffSlot* last = handoff_fill(&e->handoff);
        if (last) {
            last->last = true;
            handoff_send(&e->handoff);
        }
        e->writer.join();
        e->sink = sink;
        e->input.sink = sink;
        encoded = encoded && !e->write_failed;
    }
    if (!encoded)
        return false;

    if (e->avi) {
        // The plan counts every frame written, so the last frame closes the last
        // file; one still open lacks its index and is no usable output.
        tell(e->sink, Severity::Error, "\nmain() : FATAL, AVIfile[%d] still open at frame#%d!", plan->avi_current,
             plan->CAVIFcnt);
        if (e->avi != stdout)
            fclose(e->avi);
        e->avi = nullptr;
        return false;
    }
    tell(e->sink, Severity::Info, "\n\nDone!\n\n\nECC_encoder wrote %u blocks! (1block = %d AVIframes)", e->ecc_blocks,
         ECC_N);
    return true;
}
