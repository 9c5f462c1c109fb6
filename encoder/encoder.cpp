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

// Appends the packed frame in the plan's output format.
bool write_frame(Encoder* e)
{
    if (e->plan.output == OutputFormat::AVI)
        return write_avi_frame(e->frame, &e->info, &e->plan, &e->avi, e->sink);
    return write_raw_frame(e->frame, &e->info, &e->plan, &e->avi, e->sink);
}

// Packs `plane` as the next frame of the current file and adds it to the ECC block.
bool write_data_frame(Encoder* e, const uint8_t* plane)
{
    pack_frame(*e->plan.system, plane, &e->info, e->plan.repeat0, e->frame);
    if (ecc_encoder_enc1(&e->ecc, plane) != 0)
        return ecc_refused(e);
    return write_frame(e);
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
        pack_frame(*e->plan.system, parity, &e->info, e->plan.repeat0, e->frame);
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
         e->plan.CAVIFcnt);
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

bool encode_run(Encoder* e)
{
    EncodePlan* plan = &e->plan;
    plan->avi_current = 1;
    plan->file_current = 1;
    plan->CAVIFcnt = 0;
    e->ecc_pctr = 0;
    e->ecc_blocks = 0;

    while (next_plane(e->plane, &e->info, plan, &e->input)) {
        if (e->info.frame_index == 0)
            tell(e->sink, Severity::Info, "\n(@ f#%d) Encoding %s", plan->CAVIFcnt,
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
