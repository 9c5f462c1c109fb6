// The programs' side of restoring: capture files read one after another along
// the successor names, every frame pushed into a Decoder, and the capture
// files used up deleted once what they gave is on disk (when asked).
#pragma once

#include <cstdint>

#include "decoder.h"
#include "frame_reader.h"

// Capture files waiting to be deleted; a longer queue keeps the rest.
constexpr int PENDING_DELETIONS = 128;

// A capture file the run has read, with what the run took from it.
struct CaptureFile {
    char name[NAME_BUFFER_SIZE];
    CaptureCounts counts;
};

// Called after every frame pushed, for a progress display.
struct CaptureProgress {
    void (*frame_done)(void* context, const Decoder& d, const FrameReader& reader);
    void* context;
};

// The reader and the bookkeeping of one run over a capture. Large: allocate once.
struct CaptureRun {
    char name[NAME_BUFFER_SIZE];        // the capture file due; stepped in place by the reader
    char first[NAME_BUFFER_SIZE];       // the first capture file, as given
    char current[NAME_BUFFER_SIZE];     // the capture file being read
    bool delete_used;                   // delete capture files whose frames are all written to disk
    CaptureFile pending[PENDING_DELETIONS];
    int pending_first;
    int pending_count;
    FrameReader reader;
    uint8_t spare_frame[MAX_DV_FRAME_SIZE]; // a frame cut short at the end of its file
    uint8_t plane[MAX_PLANE_SIZE];          // the look ahead's planes
};

// Allocates the reader's buffers; false when memory is short. Frames are read
// ahead on a second thread unless BRIM_THREADS=1 is in the environment.
[[nodiscard]] bool capture_run_init(CaptureRun* run);

// False when BRIM_THREADS=1 asks the programs to do everything on one thread.
bool threads_allowed();
void capture_run_shutdown(CaptureRun* run);

// Starts a run at capture file `first` (STDIN_NAME for standard input): finds
// where the recording lies (a look ahead that a pipe cannot give: there the
// capture is taken to begin at the recording's start) and starts `d` with
// `options` and `sink`.
void capture_run_start(CaptureRun* run, const char* first, Decoder& d, DecoderOptions options, EventSink* sink);

// Pushes every frame of the capture into `d` and finishes it; deletes used
// capture files as it goes when `delete_used`. A capture file that held frames
// of another recording only is named to `sink`.
DecodeStatus capture_run_decode(CaptureRun* run, Decoder& d, EventSink* sink, const CaptureProgress* progress);
