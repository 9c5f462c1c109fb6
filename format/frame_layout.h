// Layout of one data frame: how a 102,524-byte plane and its FrameHeader ride
// inside an NTSC DV frame, and the two operations that move them in and out.
#pragma once

#include <cstdint>

#include "ecc.h"
#include "ecc_erasure.h"

// The geometry of a DV video system, as data: the layout code below reads it
// from the table, so a second system (625/50) is a second table.
struct VideoSystem {
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
};

constexpr VideoSystem SYSTEM_525_60 = {10, 150, 80, 0, 1, 2, 3, 3, 6, 16, 9, 7, 7};
constexpr VideoSystem SYSTEM_625_50 = {12, 150, 80, 0, 1, 2, 3, 3, 6, 16, 9, 7, 7};

// The system brimwrite writes and brimread reads.
inline constexpr const VideoSystem& TAPE_SYSTEM = SYSTEM_525_60;

constexpr int frame_size_of(const VideoSystem& v) { return v.dif_sequences * v.blocks_per_sequence * v.block_size; }

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

// DV frame geometry of the tape's system.
constexpr int DIF_BLOCK_SIZE = TAPE_SYSTEM.block_size;
constexpr int DIF_BLOCKS_PER_SEQUENCE = TAPE_SYSTEM.blocks_per_sequence;
constexpr int DIF_SEQUENCES = TAPE_SYSTEM.dif_sequences;
constexpr int DV_FRAME_SIZE = frame_size_of(TAPE_SYSTEM);  // 120,000

// Frame chunk: 8-byte AVI chunk header ("00dc", length) followed by the DV frame.
constexpr int CHUNK_HEADER_SIZE = 8;
constexpr int FRAME_CHUNK_SIZE = CHUNK_HEADER_SIZE + DV_FRAME_SIZE;  // 120,008

// Plane: the user bytes one frame carries.
constexpr int PAYLOAD_BLOCK_BYTES = 76;    // bytes 4..79 of a payload block
constexpr int PAYLOAD_BLOCK_OFFSET = 4;    // first plane byte within a payload block
constexpr int PAYLOAD_BLOCKS = payload_blocks_of(TAPE_SYSTEM);   // 1,349
constexpr int PLANE_SIZE = PAYLOAD_BLOCKS * PAYLOAD_BLOCK_BYTES;  // 102,524

// Header area at the start of every file's first plane.
constexpr int HEADER_AREA_SIZE = 1064;
constexpr int PATH_FIELD_SIZE = 228;       // path, NUL, zeros
constexpr int MAX_STORED_PATH = 227;       // longest path the field holds
constexpr int FIRST_PLANE_DATA = PLANE_SIZE - HEADER_AREA_SIZE;  // 101,460

// FrameHeader: 24 bytes stored three times in block 7 of sequence 0.
constexpr int FRAME_HEADER_SIZE = 24;
constexpr int FRAME_HEADER_BLOCK = TAPE_SYSTEM.frame_header_block;
constexpr int FRAME_HEADER_FRAME_OFFSET = FRAME_HEADER_BLOCK * DIF_BLOCK_SIZE;  // 560
constexpr int FRAME_HEADER_COPY_OFFSETS[3] = {4, 28, 52};  // within the block

// Block roles within each DIF sequence (block numbers within the sequence).
constexpr int HEADER_BLOCK = TAPE_SYSTEM.header_block;
constexpr int SUBCODE_BLOCK_FIRST = TAPE_SYSTEM.subcode_first;
constexpr int SUBCODE_BLOCKS = TAPE_SYSTEM.subcode_blocks;
constexpr int VAUX_BLOCK_FIRST = TAPE_SYSTEM.vaux_first;
constexpr int VAUX_BLOCKS = TAPE_SYSTEM.vaux_blocks;
constexpr int AUDIO_BLOCK_FIRST = TAPE_SYSTEM.audio_first;
constexpr int AUDIO_BLOCK_SPACING = TAPE_SYSTEM.audio_spacing;
constexpr int AUDIO_BLOCKS_PER_SEQUENCE = TAPE_SYSTEM.audio_blocks;
constexpr int FIRST_VIDEO_BLOCK = TAPE_SYSTEM.first_video_block;
constexpr int DIF_TOGGLE_FRAME_OFFSET = 4;  // byte 4 of the header block of sequence 0

// The block code works on planes of the layout's size: one codeword segment
// per payload block.
static_assert(ECC_PLANE_BYTES == PLANE_SIZE, "a block code plane is one frame's plane");
static_assert(ECC_SEGMENTS == PAYLOAD_BLOCKS && ECC_SEGMENT_BYTES == PAYLOAD_BLOCK_BYTES,
              "a block code segment is one payload block");

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
};

// DV frame offsets (0..119,999) of the 1,349 payload blocks, in plane order.
extern const int* const PAYLOAD_BLOCK_FRAME_OFFSETS;

// Packs `plane` (PLANE_SIZE bytes) with the header built from `info` into the
// template held in `frame_buffer` (FRAME_CHUNK_SIZE bytes), then advances the
// per-frame ID cycle of `info`. Returns 1.
int pack_frame(const uint8_t* plane, FrameInfo* info, int repeat0, uint8_t* frame_buffer);

// Extracts the plane of `dv_frame` (DV_FRAME_SIZE bytes) into `plane` and decodes
// the voted FrameHeader into the header fields of `record`. Returns 1.
int unpack_frame(const uint8_t* dv_frame, uint8_t* plane, FrameRecord* record);

// 1 if data[start + i] == pattern[i] for every i < count whose mask byte is 1; else 0.
int masked_match(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask, int count, int start);
