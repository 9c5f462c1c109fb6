// Several captures of one tape merged frame by frame. Each capture is read
// along its own successor names, side by side with the others in tape order
// (file index, then frame index, of the recording followed); for every frame
// position the best copy any capture holds goes to the Decoder, once: one whose
// checksum matches and that no concealment mark touches, else the one with the
// fewest marked payload blocks (erasures the block code narrows best), else
// whatever arrived. Memory is one frame and one plane per capture, whatever
// the captures' lengths. A capture of another recording is refused, told to
// the sink; frames of another recording inside a capture are passed over.
#pragma once

#include <cstdint>

#include "decoder.h"
#include "frame_reader.h"

constexpr int MAX_MERGED_CAPTURES = 8;

// One capture being merged, and what it gave.
struct MergeCapture {
    char first[NAME_BUFFER_SIZE];  // its first file, as given (STDIN_NAME for standard input)
    char name[NAME_BUFFER_SIZE];   // the file due; stepped in place by the reader
    FrameReader reader;
    uint8_t* spare;                // MAX_DV_FRAME_SIZE: a frame cut short at the end of its file
    uint8_t* frame;                // MAX_DV_FRAME_SIZE: its current frame
    uint8_t* plane;                // MAX_PLANE_SIZE: the current frame's plane, for its checksum
    FrameRecord record;            // the current frame's header (when `holding`)
    int marked;                    // payload blocks of the current frame marked concealed
    bool holding;                  // a current frame is held
    bool ended;                    // its input is exhausted
    bool refused;                  // a capture of another recording: not read
    Alignment alignment;           // from its look ahead (none for standard input)
    int64_t frames_read;           // frames its reader delivered
    int64_t contributed;           // positions whose copy came from it
    int64_t foreign;               // frames of another recording passed over
};

// The merge of one run. Large: allocate once.
struct Merger {
    MergeCapture captures[MAX_MERGED_CAPTURES];
    int count;                     // captures of the run
    int allocated;                 // captures whose buffers are allocated
    uint8_t* best;                 // MAX_DV_FRAME_SIZE: the best copy of the position being merged
    uint16_t* concealed;           // MAX_PAYLOAD_BLOCKS: scratch for the concealment marks
    uint16_t recording_tag;        // the recording followed
    int32_t file_count;
    bool recording_known;
    int32_t last_file;             // the position merged last (0: none yet)
    int32_t last_frame;
    int64_t positions;             // positions handed to the decoder
    int64_t not_intact;            // of them, those no capture held intact
};

// Allocates the buffers of `count` captures (at most MAX_MERGED_CAPTURES)
// once; false when memory is short.
[[nodiscard]] bool merger_init(Merger* m, int count);
void merger_shutdown(Merger* m);

// Starts a merge of the `count` captures `firsts` (at most the count given to
// merger_init; standard input may be one of them): finds where the recording lies in each,
// refuses (telling `sink`) the captures whose recording is not the one the
// first capture with a recognisable frame holds, and starts `d` with `options`.
// Returns the number of captures taken.
int merger_start(Merger* m, const char* const* firsts, int count, Decoder& d, DecoderOptions options,
                 EventSink* sink);

// Reads the captures side by side, hands the best copy of every position to
// `d` and finishes it. `frame_done` (may be null) is called after each
// position with `context`.
DecodeStatus merger_decode(Merger* m, Decoder& d, EventSink* sink, void (*frame_done)(void* context, const Decoder& d),
                           void* context);
