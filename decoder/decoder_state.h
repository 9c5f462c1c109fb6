// The decoder's state: the records of a decoding run and the Decoder that owns
// them. Each part has one writer: the intake (decoder.cpp) the frame records,
// the placement the tracks, the block queue the ECC block, the file writer the
// restored file, the report its totals.
#pragma once

#include <cstdint>
#include <cstdio>

#include "content_hash.h"
#include "ecc.h"
#include "events.h"
#include "ecc_erasure.h"
#include "file_record.h"
#include "frame_layout.h"
#include "restore_path.h"
#include "restored_names.h"
#include "statistics.h"
#include "write_behind.h"

// No file is known to own a position (before the first file of a capture that
// begins inside a recording, after the last one, or in a recording unknown here).
constexpr int64_t NO_TRACK = -1;

// One file of the recording as the placed frames describe it. Tracks are
// numbered in file order; the ring keeps those that the block being filled and
// the file being written can still refer to.
struct FileTrack {
    int64_t id;
    int32_t file_index;
    int32_t file_count;
    int64_t start;          // global position of its frame 0
    int32_t last;           // its last frame index
    int64_t size;           // its size in bytes, -1 while no header has told it
    bool assumed;           // never seen: a file lost whole between two seen ones, taken as one frame
    bool before_capture;    // its frame 0 lies before the first frame of the capture
    bool inconsistent;      // its headers contradict where its frames lie
    int received;           // frames of it received and placed (more than one confirms its indices)
};
constexpr int TRACK_RING = 2 * ECC_N + 16;

// One queued block position.

struct QueueEntry {
    FrameRecord record;     // the frame queued here; for a filler, the frame whose arrival showed the loss
    bool filler;            // the plane stands in for a lost frame
    int64_t track;          // id of the file owning the position, or NO_TRACK
    int32_t frame_index;    // the position's frame index within that file
    int64_t remaining;      // bytes_remaining as the received frame's header holds it; -1 for a filler
    bool bad;               // the whole plane is known bad: a filler, or a wrong checksum without marks
    bool marked;            // some of its payload blocks are known bad (marked concealed)
    bool path_suspect;      // the path field of a frame 0 here may be damaged
};

// The state of one frame position of a finished block, as the tape health shows it.
enum class FrameState : uint8_t {
    INTACT,          // received whole
    REBUILT,         // received with a wrong checksum, rebuilt
    CONCEALED,       // received with payload blocks marked concealed, rebuilt
    LOST,            // not received, rebuilt
    BEYOND_REPAIR,   // a data plane that is not known to be the one written
};
constexpr int FRAME_STATES = 5;

// How close one ECC block came to loss. A block survives any three known-bad
// frames (often more): its margin is what it could still have taken.
constexpr int SAFE_BAD_FRAMES = 3;
constexpr int8_t NO_CAPTURE = -1;
struct BlockHealth {
    int64_t index;                 // its number in the run: its first position / ECC_N
    int64_t first_position;        // global position of its first frame
    const VideoSystem* system;
    int lost;                      // positions not received
    int damaged;                   // received with a wrong checksum
    int concealed;                 // of those, with payload blocks marked concealed
    int rebuilt;                   // known-bad data positions that came out as written
    uint32_t unsolved;             // codewords the correction left unsolved
    int margin;                    // SAFE_BAD_FRAMES minus the known-bad frames; 0 when not every plane came back
    FrameState state[ECC_N];
    int8_t source[ECC_N];          // the capture that gave each position (merges), NO_CAPTURE when none
    int32_t file_starts[ECC_N];    // the file whose first frame is at each position, 0 for none
};

// What became of a restored file.
enum OutputState {
    OUTPUT_WRITING = 0,     // created; bytes go to it
    OUTPUT_REFUSED,         // its stored path was refused; nothing is written
    OUTPUT_OPEN_FAILED,     // it could not be created; nothing is written
    OUTPUT_CUT,             // its first frame lies before the capture; nothing is written
    OUTPUT_FIRST_LOST,      // its first frame was lost or damaged beyond repair; nothing is written
    OUTPUT_MISSING,         // none of its frames is in the capture
    OUTPUT_NAME_TAKEN,      // a file restored earlier in this run has its output name; nothing is written
    OUTPUT_EXISTS,          // a file of its name exists and is kept (keep_existing); nothing is written
};

// Bookkeeping of one file that was due to be written, for the verification report.
struct RestoredFile {
    bool tracked;                 // while such a file is current
    int64_t track;                // its track id
    OutputState state;
    PathVerdict path_verdict;     // of its stored path
    char name[NAME_BUFFER_SIZE];  // output path, the stored path when refused, or "file #n" when unknown
    int64_t announced;            // its size, -1 when no header told it
    int64_t written;              // bytes written to it
    int32_t planes_failed;        // planes not known to be the ones the encoder wrote
    bool inconsistent;            // its headers contradict where its frames lie
    bool size_inferred;           // no header told its size: its last plane's length was inferred
    int32_t file_index;           // its number in the recording
    int32_t last_file_index;      // OUTPUT_MISSING: the last of consecutive files missing alike
    int32_t file_count;
    RecordState record_state;     // the file record of its first plane
    FileRecord record;            // when VALID
    Digest128 digest;             // hash of the bytes written
    bool parity_disagrees;        // a block holding its data has a syndrome the correction left unexplained
    bool unverified;              // a block holding its data had no parity left to check its planes
    char taken_by[NAME_BUFFER_SIZE];   // OUTPUT_NAME_TAKEN: the output name it shares ("" when not checked)
    bool recursed;                // restored with its stored directories ("-recurse")
    bool hash_skipped;            // a hole too long to hash: its digest is not of its bytes
};

// Files listed by name in the verification report; further damaged files are counted.
constexpr int MAX_LISTED_DAMAGED = 400;

struct VerifyTotals {
    int64_t files;                // files that were due to be written
    int64_t intact;
    int listed;
    int64_t unlisted;
    int64_t foreign_frames;       // frames of another recording, not used
    RestoredFile damaged[MAX_LISTED_DAMAGED];
};

// Room for what a temporary name adds to the final one.
constexpr int TEMP_SUFFIX_ROOM = 32;

// One recognised, classified frame as the intake hands it to the placement.
struct ReceivedFrame {
    const uint8_t* plane;         // the plane_size bytes of the recording's system
    const FrameRecord* record;    // after classify_frame
    int64_t header_remaining;     // bytes_remaining as the header holds it
    const uint16_t* concealed;    // payload blocks marked concealed; used when the checksum does not match
    int concealed_count;
    bool new_recording;           // an accepted frame 0 of file 1 whose recording tag differs from the run's
};

// Where the recording lies relative to the capture: the global position of the
// frame 0 of file `file_index`. A capture from the start of a recording has
// file 1 at 0; one that starts inside a recording needs the pre-scan.
struct Alignment {
    int32_t file_index;   // 0: nothing known (the first frame's file is then taken to start at 0)
    int64_t start;
    bool anchored;        // found in the recording itself rather than assumed
    bool tag_known;       // a frame was seen: `recording_tag` and `file_count` are the recording's
    uint16_t recording_tag;   // the tag of the capture's first recording (two frames agreeing on it)
    int32_t file_count;       // its file count, from the same two frames
    const VideoSystem* system;    // the video system of the capture's first recognised frame (null: none)
};

// What the program asks of a run.
struct DecoderOptions {
    bool correct = true;                  // pass the block code's corrections on ("-nocorrect" clears it)
    bool recurse = false;                 // restore stored directory paths ("-recurse")
    bool sync_outputs = false;            // restored files go to disk as they close (-inplace)
    char start_name[NAME_BUFFER_SIZE] = {};   // "-startfile" name; empty: from the first file
    const char* capture_name = nullptr;   // the run's first capture file: no output may take its name
    const char* log_name = nullptr;       // the run's log file, which no output may replace (null: none)
    bool keep_existing = false;           // an existing file is kept and the restored one reported not written
    bool temporary_names = false;         // write beside the final name, renamed when complete
    bool restore_metadata = false;        // modification time and permission bits from the file record
    bool dry_run = false;                 // read and verify every file, write none
    bool keep_captures_unless_intact = false;   // a file not restored intact (or skipped) keeps every capture
    bool write_behind = false;            // restored files are written on a thread of their own
};

// What is known about each payload block (segment) of the block being corrected.
struct SegmentFacts {
    uint8_t erased_count[ECC_MAX_SEGMENTS];   // known-bad positions at this segment (capped at 2)
    uint8_t erased_at[ECC_MAX_SEGMENTS];      // the one known-bad position when there is exactly one
    uint8_t guarded[ECC_MAX_SEGMENTS];        // a correction may change trusted planes here
    int guarded_count;
};

// The ECC block being filled: the block code's decoder with its planes, the
// entry of every queued position, and what the correction knows and keeps.
struct BlockQueue {
    const VideoSystem* system;    // of the block being filled: the size of its planes
    BlockHealth health;           // of the block last finished
    ECCDecoder ecc;
    QueueEntry* entries;          // ECC_N
    ECCErasures* erasures;        // known-bad places of the block being filled
    uint8_t* snapshot;            // ECC_K planes of MAX_PLANE_SIZE: received bytes of trusted planes a
                                  // correction may change
    SegmentFacts* segments;
    int64_t lost_in_row;          // blocks lost whole since the last decoded one
    int64_t lost_unshown;         // of them, those whose marks were not shown
    int64_t other_set_mark;       // writing behind: the writes from the other set of data planes end here
};

// The placement's buffers, allocated once and kept from run to run.
struct PlacementBuffers {
    uint8_t* candidate_plane;     // MAX_PLANE_SIZE bytes: the best copy of a frame 0 so far
    uint16_t* candidate_concealed;    // MAX_PAYLOAD_BLOCKS entries
    QueueEntry* lost_block;       // ECC_N entries for a block lost whole
    uint8_t* kept_plane;          // MAX_PLANE_SIZE bytes: a frame's plane moved out of the queue's way
    uint8_t* held_plane;          // MAX_PLANE_SIZE bytes: the plane of a frame held far ahead
    uint16_t* held_concealed;     // MAX_PAYLOAD_BLOCKS entries
};

// Positions before the placement: where the next frame goes, the file tracks,
// the frame 0 whose copies are still coming, a frame held far ahead.
struct Placement {
    PlacementBuffers buffers;
    Alignment alignment;
    FileTrack tracks[TRACK_RING]; // written by the placement only
    bool started;                 // `next` is set
    int64_t next;                 // next global position to queue
    int64_t first_position;       // position of the first frame placed
    int64_t current;              // id of the latest track, or NO_TRACK
    int64_t tracks_made;          // id of the next track
    int64_t upcoming_start;       // where the file after `current` starts, or UNKNOWN_START
    int32_t upcoming_file;
    int32_t upcoming_count;
    // The frame being placed, for the track of its file when the fill reaches it.
    int32_t target_file;          // 0 at the end of the input: no later file is known
    int32_t target_last;
    // A file's frame 0 at `next` whose copies are still coming.
    bool pending;
    bool have_candidate;
    FrameRecord candidate_record;
    int64_t candidate_remaining;
    int candidate_concealed_count;
    // The recording's file count and the files seen, as confirmed by a second
    // frame of a file: a lone frame's header creates no report lines.
    int32_t first_file;           // file index of the run's first track, 0 before it
    int32_t first_count;
    int32_t confirmed_file;       // the latest file confirmed, 0 before one is
    int32_t confirmed_count;
    // A frame far ahead of `next`, waiting for the next frame to confirm it.
    bool held;
    int64_t held_at;
    ReceivedFrame held_frame;     // its pointers lead to held_record and the held buffers
    FrameRecord held_record;
};

// The restored file being written, and the names and bytes of the run's outputs.
struct FileWriter {
    bool writing;                         // the current file is being restored (open, or verified in a dry run)
    FILE* output;                         // restored file open for writing, or null
    char final_name[NAME_BUFFER_SIZE];    // where the open file goes when complete (temporary names)
    char temp_name[NAME_BUFFER_SIZE + TEMP_SUFFIX_ROOM];   // the name it is written under, "" when none
    char current_name[NAME_BUFFER_SIZE];  // output name of the current file (also when skipped)
    int64_t writer_track;                 // track of the file the writer is in, or NO_TRACK
    int64_t previous_plane_at;            // position of the plane kept in previous_plane, or -1
    uint8_t* previous_plane;              // the last data plane written, for the length of a short plane
    RestoredFile file;                    // the report's record of the current file
    ContentHash written;                  // hash of the bytes written to the current file
    RestoredNames names;                  // output names restored in this run
    bool output_started;                  // false until the start name is reached
    bool output_failed;                   // a restored file could not be created or written
    bool keep_captures;                   // a file with data in the capture was not written: delete no capture
    int64_t hole;                         // zero bytes of the current file still to skip over
    WriteBehind* behind;                  // the writing thread (allocated once)
    bool behind_active;                   // this run's writes go through it
    bool behind_failure_told;             // its failure was reported
};

// What the run took from the capture file being read.
struct CaptureCounts {
    int64_t used;        // frames of the recording placed from it
    int64_t foreign;     // frames of another recording in it
    int64_t reach;       // every position holding what it gave lies before this one
};

// The frames as they come in: the last ones recognised, the recording followed.
struct FrameIntake {
    FrameRecord current;
    FrameRecord previous;
    uint16_t recording_tag;               // the tag of the recording being restored
    bool tag_known;
    int8_t source;                        // the capture the frames pushed now come from (merges)
    const VideoSystem* system;            // the video system of the recording being restored
    bool system_known;                    // a frame (or the alignment) has told it
    FrameRecord foreign_previous;         // the last frame of another recording, for its own classification
    int64_t foreign_first_copies;         // copies of another recording's first frame in a row, counted foreign
    uint16_t* concealed;                  // MAX_PAYLOAD_BLOCKS: payload blocks of the current frame marked concealed
    CaptureCounts capture;
    DecodeStats stats;
};

// A decoding run: everything the decoder knows, owned here and nowhere else.
struct Decoder {
    DecoderOptions options;
    EventSink* sink;                      // where the run's events go (never null while running)
    FrameIntake intake;
    Placement place;
    BlockQueue queue;
    FileWriter writer;
    VerifyTotals verify;
};

// Planes queued into the block being filled, 0..71 between calls.
inline int32_t queued_planes(const BlockQueue& q) { return q.ecc.cCodeReceived % ECC_N; }
// Segments (payload blocks) of the planes of the block being filled.
inline int queue_segments(const BlockQueue& q) { return q.system->payload_blocks; }
// The system of the block being filled: what its positions hold, in bytes.
inline const VideoSystem& block_system(const Decoder& d) { return *d.queue.system; }
// Bytes of the planes of the recording followed: those of the frames placed.
inline size_t recording_plane_size(const Decoder& d) { return static_cast<size_t>(d.intake.system->plane_size); }

inline FileTrack* track_of(Placement& p, int64_t id) { return &p.tracks[id % TRACK_RING]; }
inline const FileTrack* track_of(const Placement& p, int64_t id) { return &p.tracks[id % TRACK_RING]; }
