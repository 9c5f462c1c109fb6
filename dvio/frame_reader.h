// Reader of captured files: finds every DV frame in a plain byte stream by a
// masked 16-byte signature (the frame chunk header and the first bytes of the DV
// header block), file after file along the successor-name rule. A file that
// begins as a RIFF file (AVI of any type, the DV stream of any number) is
// searched by the chunk signature, whose identifier is not examined; any other
// file (raw DV, QuickTime, Matroska, ...) is searched as a raw DV stream: there
// the signature is the 8 DV bytes alone and the frame starts where they do.
//
// Frames of both video systems are found: the signature of each system carries
// its DSF byte (and in a RIFF file its frame length), so a frame delivered is
// as long as the system its header names (system_of_frame). In a raw stream a
// frame whose DSF bit the header block behind its first ten sequences
// contradicts (sequence 10 of a 625/50 frame, or the next frame's sequence 0)
// is passed over like a damaged signature, and the search resumes one byte on.
//
// The search behaves as if the file were read 120,000 bytes at a time, each read
// starting 119,950 bytes after the previous one (a 50-byte overlap) unless a frame
// was found; the reader gets the same result from one large sequential read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "events.h"
#include "frame_layout.h"

constexpr int SYNC_LENGTH = 16;

// Per system (VideoSystem::id): chunk header (any identifier: "00dc", "01dc",
// "00__", "01__", "00db" ...; the length of the system's frame, 120,000 or
// 144,000) followed by DV bytes 0..7 of the first header block (byte 3 the
// system's DSF byte); mask 1 = must match, 0 = any value.
constexpr uint8_t SYNC_PATTERNS[SYSTEM_COUNT][SYNC_LENGTH] = {
    {'0', '0', 'd', 'c', 0xC0, 0xD4, 0x01, 0x00, 0x1F, 0x07, 0x00, 0x3F, 0x68, 0x78, 0x78, 0x78},
    {'0', '0', 'd', 'c', 0x80, 0x32, 0x02, 0x00, 0x1F, 0x07, 0x00, 0xBF, 0x68, 0x78, 0x78, 0x78},
};
constexpr uint8_t SYNC_MASK[SYNC_LENGTH] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1};
// Where the patterns hold the frame length and the DSF byte.
constexpr int SYNC_LENGTH_AT = 4;
constexpr int SYNC_DSF_AT = 11;

// The name that reads standard input (a pipe: read once, forward only, no successor).
constexpr const char* STDIN_NAME = "-";

// The first bytes of a RIFF file.
constexpr uint8_t RIFF_MAGIC[4] = {'R', 'I', 'F', 'F'};

// Capture files one run remembers by name, to end the input instead of reading
// one again (successor names that wrap around).
constexpr int SEEN_NAME_SLOTS = 1 << 16;
constexpr int SEEN_NAME_LIMIT = SEEN_NAME_SLOTS / 4 * 3;
// Later successor names looked for when the next capture file is missing.
constexpr int MISSING_PROBES = 100;
// Bytes of the callers' name buffers (a widened name is one digit longer).
constexpr int CAPTURE_NAME_CAPACITY = 256;

// Raw DV streams: the DV part of the signature (its last 8 bytes).
constexpr int RAW_SYNC_START = CHUNK_HEADER_SIZE;
constexpr int RAW_SYNC_LENGTH = SYNC_LENGTH - RAW_SYNC_START;

// One searching read covers this many bytes; a frame is looked for at its offsets
// 0 .. SEARCH_OFFSETS - 1 (RAW_SEARCH_OFFSETS - 1 in a raw stream), and the next
// read starts SEARCH_STEP bytes later.
constexpr int SEARCH_READ = SYSTEM_525_60.frame_size;
constexpr int SEARCH_OFFSETS = SEARCH_READ - SYNC_LENGTH;          // 119,984
constexpr int RAW_SEARCH_OFFSETS = SEARCH_READ - RAW_SYNC_LENGTH;  // 119,992
constexpr int SEARCH_OVERLAP = 50;
constexpr int SEARCH_STEP = SEARCH_READ - SEARCH_OVERLAP;   // 119,950

// Bytes read from the file per refill of the window: small enough that the
// frames read are still in the processor's cache when they are unpacked.
constexpr int READER_BLOCK = 1 << 19;

// The reader's own state: the open file and a window over it.
struct FrameReader {
    FILE* file;           // open input file, or null between files
    uint8_t* window;      // READER_BLOCK + room for one searching read and its frame
    int64_t window_pos;   // file offset of window[0]
    int64_t window_len;   // valid bytes in the window
    int64_t read_pos;     // file offset of the next searching read
    int at_eof;           // the window reaches the end of the file
    int raw;              // the open file is a raw DV stream
    int64_t found;        // frames found in the open file
    uint64_t* seen;       // SEEN_NAME_SLOTS hashes of the names opened in this run (0 = empty)
    int seen_count;
    int ended;            // the input is exhausted: no file is due any more
};

// Allocates the window and the table of names once; every field starts empty.
// False when the allocation fails.
[[nodiscard]] bool frame_reader_init(FrameReader* reader);

// Closes the open file (if any) and releases the window.
void frame_reader_shutdown(FrameReader* reader);

// Closes the open file (if any) so that the next ReadDVFrame starts afresh from
// the name it is given, with no name read yet; keeps the window.
void frame_reader_rewind(FrameReader* reader);

// Delivers the next DV frame: *frame points at the frame_size bytes of the
// system its header names (system_of_frame), which stay valid until the next
// call (inside the reader's window, or `spare`, MAX_DV_FRAME_SIZE bytes, for a
// frame cut short by the end of its file, whose tail keeps the bytes of its
// searching read and zeros past them).
// `name` is the current file name, changed in place to step to the successor
// (next_capture_name). Each file opened and read to its end, a file without a
// frame, a name already read in this run or a missing file while a later one
// exists (both end the input) are told to `sink` (null: a silent look ahead).
// Returns 1 with a frame, 0 when the file due next cannot be opened (end of input).
[[nodiscard]] int ReadDVFrame(const uint8_t** frame, uint8_t* spare, FrameReader* reader, char* name,
                              EventSink* sink);

// Offset of the first signature of either system in one searching read of
// SEARCH_READ bytes at `data` (the chunk signature, or with `raw` the DV
// signature), or -1 when it holds none.
int find_sync(const uint8_t* data, int raw);

// True if the `count` first bytes of a file, `bytes`, begin a RIFF file.
bool starts_as_riff(const uint8_t* bytes, size_t count);

// Steps `name` to the next capture file: where the last run of digits in its
// base name is all nines and the widened name exists ("out9" -> "out10",
// "SCENE9999" -> "SCENE10000"), that one; else successor_name. Returns 0 when the
// name has no successor.
int next_capture_name(char* name);

// Counts the decimal digits of `name` up by one, in place, as one counter across
// the whole name. Returns 1 if the name holds a digit (it has a successor), 0
// otherwise.
int successor_name(char* name);
