// The encoding run: every plane of the input becomes a DV frame in the AVI
// files, with 8 parity frames after every 64 data frames and a last ECC block
// completed with zero planes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ecc.h"
#include "encode_plan.h"
#include "frame_layout.h"
#include "plane_source.h"

// Everything brimwrite keeps for the whole run; allocated once, in static storage.
struct EncoderRun {
    EncodePlan plan;
    FrameInfo info;
    uint8_t frame[FRAME_CHUNK_SIZE];  // the template frame chunk, packed in place
    uint8_t plane[ECC_PLANE_ALLOC];   // the current data or padding plane
    uint8_t recording_id[RECORDING_ID_SIZE];
    uint8_t scan[SCAN_BUFFER_SIZE];   // the input slot's buffer
    InputSlot input;
    FILE* avi;                        // the open AVI file, or null
    ECCEncoder ecc;
    FILE* log;
    int32_t ecc_pctr;                 // data planes in the current ECC block
    uint32_t ecc_blocks;              // ECC blocks written
};

// Sets the fixed start values of the frame record: magic and the ID cycles.
void init_frame_info(FrameInfo* info);

// Encodes every plane of the planned input into the AVI files and prints the
// closing lines. Returns 1 after a completed run, -1 when an AVI file could not
// be created or written (the writer has printed why; nothing more is written).
int encode_run(EncoderRun* run);

// Completes the last ECC block, which holds `ecc_k` data planes: 64 - ecc_k zero
// planes, then its 8 parity planes, all as frames of the last input file.
// Does nothing more than its opening line unless ecc_k is 1..63. Returns 1, or -1
// when an AVI file could not be written.
int flush_eccblock(uint8_t* frame, uint8_t* plane, FrameInfo* info, EncodePlan* plan, FILE** avi,
                   ECCEncoder* ecc, int ecc_k);
