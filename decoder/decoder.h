// The decoder: a Decoder is driven by pushing the captured DV frames into it in
// capture order and finishing it; it places every frame by its header, corrects
// each ECC block, writes the restored files and keeps the verification report.
// Whatever it has to tell goes to the run's EventSink; it never prints or exits.
#pragma once

#include <cstdint>

#include "decoder_state.h"

// Results of the decoder's operations.
enum class [[nodiscard]] DecodeStatus : uint8_t {
    Ok,
    WriteFailed,    // a restored file could not be created or written; told to the sink
    Catastrophic,   // the block queue and the block code disagree: the run cannot go on
};

// Allocates a decoder and every buffer it uses, once: later runs reuse them.
// Null when memory is short.
Decoder* decoder_create();
void decoder_destroy(Decoder* d);

// Starts a run over the recording lying as `alignment` says (see
// find_alignment), with the program's options and sink.
void decoder_start(Decoder& d, const DecoderOptions& options, const Alignment& alignment, EventSink* sink);

// Takes the next captured DV frame (the frame_size bytes of the system its
// header names): unpacks it into the block queue, classifies it and places it;
// a full block is corrected and written out. Frames without a usable header and
// frames of another recording (another tag or video system) are counted and
// passed over; the system of the run's recording is the alignment's, else that
// of the first recognised frame, and changes only where a new recording begins.
DecodeStatus decoder_push_frame(Decoder& d, const uint8_t* dv_frame);

// The frames pushed from now on come from capture `source` of a merge (0 on;
// NO_CAPTURE when one capture is read): the tape health tells who gave what.
void decoder_set_source(Decoder& d, int source);

// The capture file being read has ended: returns what the run took from it and
// starts the counts of the next one.
CaptureCounts decoder_next_capture(Decoder& d);

// At the end of the input: places the frame 0 still waiting, completes the last
// block, closes the restored file and books the files never seen.
DecodeStatus decoder_finish(Decoder& d);

// After a failure: closes the restored file the run had open.
void decoder_stop(Decoder& d);

// Every position before this one is written to disk, and so is every restored
// file with data there: capture files holding only such positions are used up.
int64_t decoder_done_through(const Decoder& d);

// Frames decoded so far (the statistics' count); 0 means nothing was recognised.
inline int64_t decoder_frames_decoded(const Decoder& d) { return d.intake.stats.decoded; }
