// The encoder: every plane of the planned input becomes a DV frame in the AVI
// files, with 8 parity frames after every 64 data frames and a last ECC block
// completed with zero planes. It never prints: all it has to say goes to its sink.
#pragma once

#include <cstdint>
#include <cstdio>

#include <thread>

#include "ecc.h"
#include "encode_plan.h"
#include "events.h"
#include "frame_layout.h"
#include "handoff.h"
#include "plane_source.h"

// Where the frames sent so far end in the planned output files: the writer's
// cursor as it will be once it has written them.
struct OutputCursor {
    int32_t file;      // the output file (from 1)
    int32_t frames;    // frames in it
};

// Everything one run keeps. It holds the frame, plane and scan buffers, so
// allocate it once, on the heap.
struct Encoder {
    EncodePlan plan;
    FrameInfo info{};
    uint8_t frame[MAX_FRAME_CHUNK_SIZE]{};  // the plan's system's template frame chunk, packed in place
    uint8_t plane[ECC_PLANE_ALLOC]{};   // the current data or padding plane
    uint8_t recording_id[RECORDING_ID_SIZE]{};
    uint8_t scan[SCAN_BUFFER_SIZE]{};   // the input slot's buffer
    InputSlot input{};
    FILE* avi = nullptr;                // the open AVI file, or null
    ECCEncoder ecc{};
    EventSink* sink = nullptr;
    int32_t ecc_pctr = 0;               // data planes in the current ECC block
    uint32_t ecc_blocks = 0;            // ECC blocks written
    OutputCursor sent{};                // what the frames packed so far fill
    bool write_ahead = true;            // a second thread writes the packed frames (false: one thread)
    bool handoff_ready = false;         // `handoff` is allocated
    Handoff handoff{};                  // packed frames on their way to the writing thread
    std::thread writer;
    bool write_failed = false;          // the writing thread could not write (told to the sink)

    Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    // Closes what a failed run left open and releases the parity planes and the
    // hash state; the sink must still be usable.
    ~Encoder();
};

// Readies `encoder` to report to `sink`: the plan's defaults, the frame record's
// start values and the parity planes. false when the planes cannot be allocated.
[[nodiscard]] bool encoder_init(Encoder* encoder, EventSink* sink);

// Begins the recording of the planned input: draws its ID, readies the input
// slot and sizes the parity planes for the plan's system. false when memory is
// short (or the block code refuses the plane size: told to the sink).
[[nodiscard]] bool encoder_start(Encoder* encoder);

// Encodes every plane of the planned input into the AVI files and tells the
// closing lines. With `write_ahead` the frames are written on a second thread
// while the next planes are read, hashed and packed; the files and everything
// told are the same, in the same order. false when an AVI file could not be created or written, or the
// ECC encoder refused a plane: the reason has been told and nothing more is written.
[[nodiscard]] bool encode_run(Encoder* encoder);
