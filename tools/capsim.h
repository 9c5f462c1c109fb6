// capsim, the capture simulator: plays brimwrite's AVI files through a simulated
// tape and capture program and writes what the capture would hand back, with
// faults chosen by option. Shared records of its four parts: random numbers and
// frame lists, damage to one DV frame, the input walker and the output writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "frame_layout.h"

// ---------------------------------------------------------------- random numbers

// A splitmix64 stream: the same numbers on every platform and compiler, so a
// seed reproduces a run anywhere. Each fault draws from its own stream, so
// adding one fault option does not move the choices of another.
struct Rng {
    uint64_t state;
};

// Starts `rng` as stream `stream` of `seed`.
void rng_seed(Rng* rng, uint64_t seed, uint64_t stream);

// The next 64 random bits.
uint64_t rng_next(Rng* rng);

// A number uniform in 0 .. n-1; n must be at least 1.
uint64_t rng_below(Rng* rng, uint64_t n);

// 1 with probability p (0 never, 1 always), else 0. Draws exactly once.
int rng_chance(Rng* rng, double p);

// ---------------------------------------------------------------- frame lists

constexpr int MAX_LIST_RANGES = 256;

// Frame numbers given on the command line as numbers and ranges ("5,100-102").
struct FrameList {
    int count;
    int64_t first[MAX_LIST_RANGES];
    int64_t last[MAX_LIST_RANGES];
};

// Adds the numbers and ranges of `text` to `list`. Returns 1, or 0 when the text
// is malformed, a range runs backwards or the list is full.
int parse_frame_list(const char* text, FrameList* list);

// 1 if `frame` is in `list`, else 0.
int list_contains(const FrameList* list, int64_t frame);

// Reads a decimal number of at most 18 digits, with nothing after it. Returns 1
// and the value, or 0.
int parse_count(const char* text, int64_t* value);

// ---------------------------------------------------------------- damage to a DV frame

constexpr int FRAME_HEADER_COPIES = 3;
constexpr uint8_t STA_COPIED_FROM_PREVIOUS = 0x2;  // STA code of a block concealed from the previous frame

// Every function below works on a DV frame of the system its header names
// (system_of_frame), read before anything is changed.

// Overwrites bytes 4..79 of `count` distinct payload blocks of `dv_frame`,
// chosen at random, with random bytes that differ from what was there. `count`
// is 1..MAX_PAYLOAD_BLOCKS; more than the frame has hits every one.
void damage_payload_blocks(uint8_t* dv_frame, int count, Rng* rng);

// Conceals `count` distinct random payload blocks as a camcorder does: bytes
// 3..79 come from the same block of `previous`; the DIF ID bytes stay. With
// `mark_sta` the high nibble of byte 3 (STA) becomes STA_COPIED_FROM_PREVIOUS and
// the low nibble (QNO) is kept.
void conceal_payload_blocks(uint8_t* dv_frame, const uint8_t* previous, int count, int mark_sta, Rng* rng);

// Swaps two differing payload bytes of `dv_frame`, chosen at random in two
// payload blocks: the plane changes but its byte sum does not, so the frame's
// checksum still matches. (A frame whose payload bytes are all equal is left alone.)
void swap_payload_bytes(uint8_t* dv_frame, Rng* rng);

// Overwrites the header block of DIF sequence 0 with random bytes, at least one of
// the bytes the frame search compares being wrong, so no search finds the frame.
void damage_dv_header(uint8_t* dv_frame, Rng* rng);

// Overwrites `copies` (1..3) distinct FrameHeader copies, chosen at random, with
// random bytes differing from every other copy. Sets hit[i] to 1 for each copy
// i (0..2) that was hit, else 0.
void damage_frame_header(uint8_t* dv_frame, int copies, Rng* rng, int* hit);

// ---------------------------------------------------------------- input

// Walks the input files in order and delivers their DV frames, of either video
// system. AVI files are walked chunk by chunk (the "movi" and "rec " lists
// entered, every other chunk skipped; a video chunk of either frame size is a
// frame); a file that starts with a DV header block is read as a raw DV stream,
// each frame as long as its header's system says. Reads one file at a time,
// straight into the caller's buffer.
struct InputWalker {
    char* const* names;
    int count;
    int current;     // index into names of the open file, or of the next one to open
    FILE* file;      // null between files
    int raw;         // 1 when the open file is a raw DV stream
    int64_t offset;  // position in the open file
};

// Sets up `walker` over `count` file names (kept, not copied).
void input_init(InputWalker* walker, char* const* names, int count);

// Delivers the next DV frame into `dv_frame` (MAX_DV_FRAME_SIZE bytes). Returns 1 with
// a frame, 0 at the end of the last input, -1 after printing why an input cannot
// be read. A frame cut short by the end of its file is reported and skipped.
int input_next_frame(InputWalker* walker, uint8_t* dv_frame);

// Closes the open input, if any.
void input_close(InputWalker* walker);

// ---------------------------------------------------------------- output

constexpr int AUDIO_CHANNELS = 2;
constexpr int AUDIO_SAMPLE_BYTES = 2 * AUDIO_CHANNELS;   // 16-bit stereo
constexpr int AUDIO_SAMPLES_LONG = 1602;                  // 48 kHz at 29.97 frames/s: 1600 + 4 x 1602
constexpr int AUDIO_SAMPLES_SHORT = 1600;                 //   samples every 5 frames
constexpr int AUDIO_CYCLE_FRAMES = 5;
constexpr int AUDIO_SAMPLES_625_50 = 1920;                // 48 kHz at 25 frames/s
constexpr int AUDIO_SAMPLES_MAX = AUDIO_SAMPLES_625_50;
constexpr int AUDIO_CHUNK_MAX = AUDIO_SAMPLES_MAX * AUDIO_SAMPLE_BYTES;   // 7,680: the buffer for either system
constexpr int GARBAGE_BUFFER_SIZE = 1 << 16;

// Offsets of the AVI header fields that are known only when a file is finished.
struct AviPatchOffsets {
    int riff_length;
    int total_frames;
    int video_length;
    int audio_length;
    int movi_length;
    int movi_type;  // the "movi" list type, where index offsets count from
};

// The capture files being written: AVI files with a video and an audio stream,
// or a raw DV stream, split at a size limit under numbered names.
struct OutputWriter {
    int raw;                 // 1: bare DV frames, no AVI structure
    int64_t split_bytes;     // a new file starts before one would grow past this
    std::string name;        // current (or next) file name
    std::string first_name;  // name of the first file, to notice a counter that wrapped
    char* const* inputs;     // input names, never to be overwritten
    int input_count;
    FILE* file;              // null between files
    int files;               // files opened so far
    int64_t file_bytes;      // bytes in the open file
    int32_t file_frames;     // frame chunks in the open file
    int64_t file_samples;    // audio samples in the open file
    int64_t frames_total;    // frame chunks written over all files (drives the audio cadence)
    int64_t last_chunk_offset;  // file offset of the last frame chunk written
    int64_t last_chunk_size;    // its size (with its chunk header in AVI)
    int64_t last_frame_number;  // input number of the last frame written
    AviPatchOffsets patch;   // where the AVI header takes the counts of the finished file
    uint8_t* index;          // idx1 entries of the open file
    int32_t index_capacity;  // entries the index buffer holds
    int32_t index_entries;
    uint8_t* audio;          // one audio chunk's samples, AUDIO_CHUNK_MAX bytes
    uint8_t* garbage;        // GARBAGE_BUFFER_SIZE bytes, refilled for every use
};

// Prepares `writer`: the first file name, the format, the split size, and the
// buffers (allocated here, once). Returns 1, or 0 after printing why not.
int output_init(OutputWriter* writer, const char* first_name, int raw, int64_t split_bytes,
                char* const* inputs, int input_count);

// Writes, as a frame of system `v`, `garbage_bytes` random bytes (never containing "0", so that they cannot
// imitate a frame chunk) and then the frame (a "00dc" chunk and an audio chunk in
// AVI, the bare 120,000 or 144,000 bytes in raw DV; a new AVI file's header is
// of the system of its first frame), starting a new file first when the
// open one would grow past the split size. Returns 1, or 0 after printing why not.
int output_frame(OutputWriter* writer, const VideoSystem& v, const uint8_t* dv_frame, int64_t frame_number,
                 int64_t garbage_bytes, Rng* garbage_rng);

// Finishes the open file. With `cut_keep` >= 0 the last file then ends
// `cut_keep` bytes into its last frame chunk, as a capture that stopped in the
// middle of a frame leaves it (refused, with a message, when that chunk is shorter). Prints a "wrote" line per file and a "cut" line.
// Returns 1, or 0 after printing why not.
int output_finish(OutputWriter* writer, int64_t cut_keep);

// Releases the buffers and closes what is open (after a failure).
void output_release(OutputWriter* writer);
