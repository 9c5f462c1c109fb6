#include "encode_run.h"

#include <cstring>

#include "avi_writer.h"
#include "console_log.h"

namespace {

// Packs and writes the 8 parity planes of the completed block, each as the next
// frame of the current file; `announce` prints each parity frame's index.
int write_parity(uint8_t* frame, FrameInfo* info, EncodePlan* plan, FILE** avi, ECCEncoder* ecc, int announce)
{
    for (int k = 0; k < ECC_NMK; k++) {
        uint8_t* parity = nullptr;
        if (ecc_encoder_getp1(ecc, &parity) != 0)
            continue;  // the encoder has said why; the plan still counts every frame
        info->frame_index++;
        pack_frame(parity, info, plan->repeat0, frame);
        if (announce)
            printf("\nEncoding parity %d", info->frame_index);
        if (write_avi_frame(frame, info, plan, avi) < 0)
            return -1;
    }
    return 1;
}

}  // namespace

void init_frame_info(FrameInfo* info)
{
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->magic, FRAME_HEADER_MAGIC, sizeof info->magic);
    info->dif_toggle = DIF_TOGGLE_A;
    info->vaux_id = VAUX_ID_START;
    info->audio_id = AUDIO_ID_START;
    info->video_id = VIDEO_ID_START;
}

int flush_eccblock(uint8_t* frame, uint8_t* plane, FrameInfo* info, EncodePlan* plan, FILE** avi,
                   ECCEncoder* ecc, int ecc_k)
{
    printf("\nflush_eccblock( ecc_k=%d ) : starting (CAVIFcnt=%d)", ecc_k, plan->CAVIFcnt);
    if (ecc_k < 1 || ecc_k >= ECC_K)
        return 1;
    printf("\nflush_eccblock() : padding file to ECC_block boundary! (ecc_pctr=%d)", ecc_k);
    std::memset(plane, 0, PLANE_SIZE);
    info->bytes_remaining = 0;
    for (int k = ecc_k; k < ECC_K; k++) {
        info->frame_index++;
        pack_frame(plane, info, plan->repeat0, frame);
        ecc_encoder_enc1(ecc, plane);
        if (write_avi_frame(frame, info, plan, avi) < 0)
            return -1;
    }
    return write_parity(frame, info, plan, avi, ecc, 1);
}

int encode_run(EncoderRun* run)
{
    EncodePlan* plan = &run->plan;
    FrameInfo* info = &run->info;
    plan->avi_current = 1;
    plan->file_current = 1;
    plan->CAVIFcnt = 0;
    run->ecc_pctr = 0;
    run->ecc_blocks = 0;

    while (next_plane(run->plane, info, plan, &run->input)) {
        if (info->frame_index == 0)
            say(run->log, "\n(@ f#%d) Encoding %s", plan->CAVIFcnt, plan->file_name[info->file_index].c_str());
        else
            say(run->log, ".");
        pack_frame(run->plane, info, plan->repeat0, run->frame);
        ecc_encoder_enc1(&run->ecc, run->plane);
        if (write_avi_frame(run->frame, info, plan, &run->avi) < 0)
            return -1;
        run->ecc_pctr++;
        if (run->ecc_pctr == ECC_K) {
            if (write_parity(run->frame, info, plan, &run->avi, &run->ecc, 0) < 0)
                return -1;
            run->ecc_pctr = 0;
            run->ecc_blocks++;
        }
        if (run->ecc_pctr > ECC_K)
            say(run->log, "main() : CATASTROPHIC ERROR, ecc_pctr(%d) > %d", run->ecc_pctr, ECC_K);
    }

    if (run->ecc_pctr > 0 && run->ecc_pctr < ECC_K) {
        if (flush_eccblock(run->frame, run->plane, info, plan, &run->avi, &run->ecc, run->ecc_pctr) < 0)
            return -1;
        run->ecc_blocks++;
    }
    if (run->avi) {
        // The plan counts every frame written, so the last frame closes the last file.
        say(run->log, "\nmain() : FATAL, AVIfile[%d] still open at frame#%d!", plan->avi_current, plan->CAVIFcnt);
        fclose(run->avi);
        run->avi = nullptr;
    }

    printf("\n\nDone!\n\n");
    printf("\nECC_encoder wrote %u blocks! (1block = %d AVIframes)", run->ecc_blocks, ECC_N);
    fprintf(run->log, "\n\nDone!\n\n");
    fprintf(run->log, "\nECC_encoder wrote %u blocks! (1block = %d AVIframes)", run->ecc_blocks, ECC_N);
    return 1;
}
