// Layout of one data frame: how a plane (102,524 bytes in a 525/60 frame,
// 123,044 in a 625/50 one) and its FrameHeader ride inside a DV frame, and the
// two operations that move them in and out.
#pragma once

#include <cstdint>

#include "ecc.h"
#include "ecc_erasure.h"

// A DV video system, as data: the layout code below reads the geometry of a
// frame from its system's table, so 525/60 and 625/50 differ only here.
struct VideoSystem {
    int id;                     // index in VIDEO_SYSTEMS
    const char* name;           // as reports and options give it
    int dif_sequences;          // DIF sequences per frame
    int blocks_per_sequence;    // DIF blocks per sequence
    int block_size;             // bytes per DIF block
    int header_block;           // block roles within each sequence (block numbers)
    int subcode_first;
    int subcode_blocks;
    int vaux_first;
    int vaux_blocks;
    int audio_first;            // one audio block, then audio_spacing - 1 video blocks
    int audio_spacing;
    int audio_blocks;
    int first_video_block;
    int frame_header_block;     // the video block of sequence 0 given over to the FrameHeader
    uint8_t dsf_byte;           // byte 3 of every header block (bit 7, DSF, set for 625/50)
    int width;                  // picture size, as the AVI headers give it
    int height;
    int rate;                   // frames per second: rate / scale
    int scale;
    int microseconds_per_frame;
    int64_t frames_per_hour;    // a 60-minute tape in SP
    // Derived from the above by complete_system.
    int frame_size;             // bytes of a DV frame
    int chunk_size;             // bytes of an AVI frame chunk (header and frame)
    int payload_blocks;         // blocks carrying plane bytes
    int plane_size;             // user bytes one frame carries
    int first_plane_data;       // file bytes in a file's first plane, behind the header area
};

// DSF: bit 7 of byte 3 of a DIF header block.
constexpr uint8_t DSF_BIT = 0x80;
// Plane: the user bytes one frame carries.
constexpr int PAYLOAD_BLOCK_BYTES = 76;    // bytes 4..79 of a payload block
constexpr int PAYLOAD_BLOCK_OFFSET = 4;    // first plane byte within a payload block
// Header area at the start of every file's first plane.
constexpr int HEADER_AREA_SIZE = 1064;
// Frame chunk: 8-byte AVI chunk header ("00dc", length) followed by the DV frame.
constexpr int CHUNK_HEADER_SIZE = 8;

// True if block `b` of a DIF sequence of system `v` is an audio block.
constexpr bool is_audio_block(const VideoSystem& v, int b)
{
    return b >= v.audio_first && (b - v.audio_first) % v.audio_spacing == 0 &&
           (b - v.audio_first) / v.audio_spacing < v.audio_blocks;
}

// True if block `b` of sequence `s` of system `v` carries plane bytes.
constexpr bool is_payload_block(const VideoSystem& v, int s, int b)
{
    return b >= v.first_video_block && !is_audio_block(v, b) && !(s == 0 && b == v.frame_header_block);
}

constexpr int payload_blocks_of(const VideoSystem& v)
{
    int n = 0;
    for (int s = 0; s < v.dif_sequences; ++s)
        for (int b = 0; b < v.blocks_per_sequence; ++b)
            n += is_payload_block(v, s, b) ? 1 : 0;
    return n;
}

// `v` with its derived sizes filled in.
constexpr VideoSystem complete_system(VideoSystem v)
{
    v.frame_size = v.dif_sequences * v.blocks_per_sequence * v.block_size;
    v.chunk_size = CHUNK_HEADER_SIZE + v.frame_size;
    v.payload_blocks = payload_blocks_of(v);
    v.plane_size = v.payload_blocks * PAYLOAD_BLOCK_BYTES;
    v.first_plane_data = v.plane_size - HEADER_AREA_SIZE;
    return v;
}

constexpr int SYSTEM_COUNT = 2;
inline constexpr VideoSystem SYSTEM_525_60 = complete_system(
    {0, "525/60", 10, 150, 80, 0, 1, 2, 3, 3, 6, 16, 9, 7, 7, 0x3F, 720, 480, 30000, 1001, 33367, 107892,
     0, 0, 0, 0, 0});
inline constexpr VideoSystem SYSTEM_625_50 = complete_system(
    {1, "625/50", 12, 150, 80, 0, 1, 2, 3, 3, 6, 16, 9, 7, 7, 0xBF, 720, 576, 25, 1, 40000, 90000,
     0, 0, 0, 0, 0});
inline constexpr const VideoSystem* VIDEO_SYSTEMS[SYSTEM_COUNT] = {&SYSTEM_525_60, &SYSTEM_625_50};

static_assert(SYSTEM_525_60.frame_size == 120000 && SYSTEM_525_60.plane_size == 102524 &&
              SYSTEM_525_60.first_plane_data == 101460, "the 525/60 geometry");
static_assert(SYSTEM_625_50.frame_size == 144000 && SYSTEM_625_50.plane_size == 123044 &&
              SYSTEM_625_50.first_plane_data == 121980, "the 625/50 geometry");

// The system a DV frame (at least its first 4 bytes) is of, by its DSF bit.
inline const VideoSystem& system_of_frame(const uint8_t* dv_frame)
{
    return (dv_frame[3] & DSF_BIT) ? SYSTEM_625_50 : SYSTEM_525_60;
}

// Sizes of the largest system's frames and planes: what a buffer for either holds.
constexpr int MAX_DV_FRAME_SIZE = SYSTEM_625_50.frame_size;
constexpr int MAX_FRAME_CHUNK_SIZE = SYSTEM_625_50.chunk_size;
constexpr int MAX_PAYLOAD_BLOCKS = SYSTEM_625_50.payload_blocks;
constexpr int MAX_PLANE_SIZE = SYSTEM_625_50.plane_size;

// DV frame geometry common to both systems.
constexpr int DIF_BLOCK_SIZE = SYSTEM_525_60.block_size;
constexpr int DIF_BLOCKS_PER_SEQUENCE = SYSTEM_525_60.blocks_per_sequence;
static_assert(SYSTEM_625_50.block_size == DIF_BLOCK_SIZE &&
              SYSTEM_625_50.blocks_per_sequence == DIF_BLOCKS_PER_SEQUENCE, "both systems share the block layout");

// Fields of the header area.
constexpr int PATH_FIELD_SIZE = 228;       // path, NUL, zeros
constexpr int MAX_STORED_PATH = 227;       // longest path the field holds

// FrameHeader: 24 bytes stored three times in block 7 of sequence 0.
constexpr int FRAME_HEADER_SIZE = 24;
constexpr int FRAME_HEADER_BLOCK = SYSTEM_525_60.frame_header_block;
constexpr int FRAME_HEADER_FRAME_OFFSET = FRAME_HEADER_BLOCK * DIF_BLOCK_SIZE;  // 560
constexpr int FRAME_HEADER_COPY_OFFSETS[3] = {4, 28, 52};  // within the block

// Block roles within each DIF sequence (block numbers within the sequence), the
// same in both systems.
constexpr int HEADER_BLOCK = SYSTEM_525_60.header_block;
constexpr int SUBCODE_BLOCK_FIRST = SYSTEM_525_60.subcode_first;
constexpr int SUBCODE_BLOCKS = SYSTEM_525_60.subcode_blocks;
constexpr int VAUX_BLOCK_FIRST = SYSTEM_525_60.vaux_first;
constexpr int VAUX_BLOCKS = SYSTEM_525_60.vaux_blocks;
constexpr int AUDIO_BLOCK_FIRST = SYSTEM_525_60.audio_first;
constexpr int AUDIO_BLOCK_SPACING = SYSTEM_525_60.audio_spacing;
constexpr int AUDIO_BLOCKS_PER_SEQUENCE = SYSTEM_525_60.audio_blocks;
constexpr int FIRST_VIDEO_BLOCK = SYSTEM_525_60.first_video_block;
static_assert(SYSTEM_625_50.frame_header_block == FRAME_HEADER_BLOCK && SYSTEM_625_50.vaux_first == VAUX_BLOCK_FIRST &&
              SYSTEM_625_50.audio_first == AUDIO_BLOCK_FIRST && SYSTEM_625_50.audio_spacing == AUDIO_BLOCK_SPACING &&
              SYSTEM_625_50.audio_blocks == AUDIO_BLOCKS_PER_SEQUENCE &&
              SYSTEM_625_50.first_video_block == FIRST_VIDEO_BLOCK, "both systems share the block roles");
constexpr int DIF_TOGGLE_FRAME_OFFSET = 4;  // byte 4 of the header block of sequence 0

// The block code works on planes of either system's size: one codeword segment
// per payload block.
static_assert(ECC_SEGMENT_BYTES == PAYLOAD_BLOCK_BYTES, "a block code segment is one payload block");
static_assert(ECC_MAX_SEGMENTS == MAX_PAYLOAD_BLOCKS, "the block code holds the largest plane");
static_assert(ecc_plane_size_ok(SYSTEM_525_60.plane_size) && ecc_plane_size_ok(SYSTEM_625_50.plane_size),
              "the block code works on either system's planes");

// The FrameHeader's last two bytes tell the recording a frame belongs to; a
// FrameInfo without a tag writes them as 0xFF 0xFF, as tapes without tags hold them.
constexpr uint16_t NO_RECORDING_TAG = 0;
constexpr uint16_t UNTAGGED_FIELD = 0xFFFF;

constexpr uint8_t FRAME_CHUNK_ID[4] = {'0', '0', 'd', 'c'};
constexpr uint8_t FRAME_HEADER_MAGIC[4] = {'S', 'P', 'O', 'E'};

// Per-frame DIF ID cycles (start values and bounds).
constexpr uint8_t DIF_TOGGLE_A = 0x68;
constexpr uint8_t DIF_TOGGLE_B = 0x78;
constexpr uint8_t VAUX_ID_START = 0x56;
constexpr uint8_t AUDIO_ID_START = 0x76;
constexpr uint8_t VIDEO_ID_START = 0x96;
constexpr uint8_t VAUX_ID_LAST = 0x5B;
constexpr uint8_t VAUX_ID_WRAP = 0x50;
constexpr uint8_t AUDIO_ID_WRAP = 0x70;
constexpr uint8_t VIDEO_ID_WRAP = 0x90;

// Encoder's working record for the frame being packed.
struct FrameInfo {
    char magic[4];             // "SPOE"
    uint32_t checksum;         // full 32-bit byte sum of the plane, written by pack_frame
    int64_t bytes_remaining;   // bytes of the current file from this plane's data onward
    int32_t file_index;        // from 1
    int32_t file_count;
    int32_t frame_index;       // -1 when a file opens, +1 per plane / parity / padding frame
    int32_t final_frame;       // file_frames of the current file minus 1
    uint8_t dif_toggle;
    uint8_t vaux_id;
    uint8_t audio_id;
    uint8_t video_id;
    uint16_t recording_tag;    // NO_RECORDING_TAG: the header's last two bytes are 0xFF 0xFF
};

// Decoder's record of one frame: the decoded header, then the classifier's fields.
struct FrameRecord {
    int32_t magic_ok;
    int32_t sum_computed;      // plane byte sum modulo 2^24
    int32_t sum_stored;        // checksum field (24 bits)
    int64_t bytes_remaining;   // 40-bit field, zero-extended
    int32_t file_index;
    int32_t file_count;
    int32_t frame_index;       // 24-bit field
    int32_t last_frame_index;  // 24-bit field
    uint16_t recording_tag;    // the header's last two bytes (0xFFFF: a tape without tags)
    int32_t frame0_run;
    int64_t Zerobytes;         // 64 bits: a long dropout loses more than 2 GiB
    int64_t RealBytes;
    uint32_t frame_code;
    int8_t source;             // the capture it came from, when several are merged (set by the decoder)
};

// DV frame offsets of the payload blocks of system `v`, in plane order
// (v.payload_blocks entries).
const int* payload_block_offsets(const VideoSystem& v);

// Packs `plane` (v.plane_size bytes) with the header built from `info` into the
// template of system `v` held in `frame_buffer` (v.chunk_size bytes), then
// advances the per-frame ID cycle of `info`. Returns 1.
int pack_frame(const VideoSystem& v, const uint8_t* plane, FrameInfo* info, int repeat0, uint8_t* frame_buffer);

// Extracts the plane of `dv_frame` (v.frame_size bytes of system `v`) into
// `plane` and decodes the voted FrameHeader into the header fields of `record`.
// Returns 1.
int unpack_frame(const VideoSystem& v, const uint8_t* dv_frame, uint8_t* plane, FrameRecord* record);

// 1 if data[start + i] == pattern[i] for every i < count whose mask byte is 1; else 0.
int masked_match(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask, int count, int start);
