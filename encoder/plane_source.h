// The plane source: turns the input files of the plan, one after the other, into
// planes, and fills in the per-frame facts about each plane in FrameInfo.
#pragma once

#include <cstdint>
#include <cstdio>

#include "content_hash.h"
#include "encode_plan.h"
#include "events.h"
#include "file_record.h"
#include "frame_layout.h"

// Bytes read per step of the hash taken before a file is encoded.
constexpr int SCAN_CHUNK = 1 << 19;
// A file of this many chunks or more is read for its hash by two threads, every
// other chunk each: the copying from the page cache is most of the work.
constexpr int SCAN_SHARED_CHUNKS = 4;
// The slot's scan buffer: a chunk for the reading thread, two for the helper.
constexpr int SCAN_BUFFER_SIZE = 3 * SCAN_CHUNK;

// The encoder's slot for the one input file being read.
struct InputSlot {
    FILE* stream;      // null between files, and while a file that cannot be opened is replaced by zeros
    bool open;         // while the planes of file_current are being produced
    bool reported;     // once a shortfall of the open file has been reported
    EventSink* sink;   // where the warnings about changed files go
    const uint8_t* recording_id;   // RECORDING_ID_SIZE bytes, for every file record
    Digest128 listed;  // hash of the open file's bytes read before its encoding
    ContentHash read;  // hash of the bytes read while it is encoded
    uint8_t* scan;     // SCAN_BUFFER_SIZE bytes, for the hash before encoding
    bool shared_scan;  // large files are hashed by two threads (set by the caller; false: one thread)
};

// Prepares `slot` for a run of the recording `recording_id` (kept, not copied):
// `scan` is a buffer of SCAN_BUFFER_SIZE bytes. false, told to `sink`, when memory is short.
[[nodiscard]] bool input_slot_init(InputSlot* slot, const uint8_t* recording_id, uint8_t* scan, EventSink* sink);

// Produces the next plane of the input into `plane` (the plan's system's
// plane_size bytes): a file's first plane is the header area with its stored
// path and its file record (the hash of its bytes read once through before it
// is encoded), then its first first_plane_data bytes; every further plane its
// next plane_size bytes. Bytes
// behind a file's end keep what the buffer held. Sets file_index, file_count,
// frame_index, final_frame and bytes_remaining of `info`, counts the file's
// file_size down and moves to the next file once it reaches 0. Never reads past a
// file's planned size; a file that became shorter is padded with zero bytes to its
// planned planes, and one that cannot be opened any more is written as zero planes,
// each with a warning naming it; so is a file whose bytes changed between the two
// readings (its record then holds the hash of neither, and it will be reported
// damaged when restored). true with a plane, false at the end of the input
// (nothing changed).
[[nodiscard]] bool next_plane(uint8_t* plane, FrameInfo* info, EncodePlan* plan, InputSlot* slot);
