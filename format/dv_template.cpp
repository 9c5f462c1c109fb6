#include "dv_template.h"

#include <cstring>

#include "byte_order.h"

namespace {

constexpr uint8_t FILL = 0xFF;  // bits a pack leaves undefined are 1

// DIF block ID. Byte 0: section type, a reserved 1 bit and the frame sequence
// nibble (the packer renumbers VAUX, audio and video); header and subcode keep
// 0xF there. Byte 1: DIF sequence number, FSC 0 and three reserved 1 bits.
// Byte 2: number of the block within its section in that sequence.
constexpr uint8_t ID_HEADER = 0x1F;
constexpr uint8_t ID_SUBCODE = 0x3F;
constexpr uint8_t ID_VAUX = VAUX_ID_START;
constexpr uint8_t ID_AUDIO = AUDIO_ID_START;
constexpr uint8_t ID_VIDEO = VIDEO_ID_START;
constexpr int SEQUENCE_SHIFT = 4;
constexpr uint8_t ID1_RESERVED = 0x07;
constexpr int ID_SIZE = 3;

// Header block bytes 3..7: DSF (0 for 525/60, 1 for 625/50) with its zero bit
// and six reserved ones; then APT, AP1, AP2, AP3 all 0 (consumer DV) with the
// transmitting flags clear. Byte 4's top nibble is the per-frame toggle the
// packer rewrites.
constexpr uint8_t HEADER_DSF_525 = 0x3F;
constexpr uint8_t HEADER_DSF_625 = 0xBF;
constexpr uint8_t HEADER_AP_FIELD = 0x78;
constexpr int HEADER_FIELDS_AT = 3;

// Subcode: six sync blocks of 8 bytes (ID0, ID1, parity, 5-byte pack) from byte 3.
constexpr int SSYB_PER_BLOCK = 6;
constexpr int SSYB_SIZE = 8;
constexpr int SSYB_PACK_AT = 3;
constexpr uint8_t SSYB_FR_FIRST_HALF = 0x80;  // set in the first half of the frame's sequences
constexpr uint8_t SSYB_ID0_AP3_ZERO = 0x0F;   // sync blocks 0 and 6 carry AP3 = 0
constexpr uint8_t SSYB_ID0_NO_TAGS = 0x7F;    // others: index, skip and photo tags all off
constexpr uint8_t SSYB_ID1_RESERVED = 0xF0;   // low nibble: sync block number 0..11

// Packs are 5 bytes: an ID byte and four data bytes.
constexpr int PACK_SIZE = 5;
constexpr uint8_t PACK_TIME_CODE[PACK_SIZE] = {0x13, 0x00, 0x00, 0x00, 0x00};  // 00:00:00:00
constexpr uint8_t PACK_VIDEO_CONTROL[PACK_SIZE] = {0x61, 0x3F, 0xC8, 0xFC, 0xFF};  // 4:3, frame mode, interlaced

// What differs between the systems' templates: the header's DSF byte, the video
// source pack's 50/60 flag, and the audio source and control packs.
struct SystemPacks {
    uint8_t header_dsf;
    uint8_t video_source[PACK_SIZE];
    uint8_t audio_source[PACK_SIZE];   // byte 2 numbers the channel pair (see pair_in_second_half)
    uint8_t audio_control[PACK_SIZE];
    bool pair_in_second_half;          // the second half of the sequences carries channel pair 1
};

// 525/60: colour, 60 fields, system 0. Audio 48 kHz, 16-bit, 2 channels,
// 1,580 + 20 = 1,600 samples per frame, emphasis off; the lock-mode bit clear is
// what players read as plain consumer DV. Speed field 0x20 (control byte 3 =
// 0xA0): the value that lets every decoder accept the audio of an APT 0 frame.
constexpr SystemPacks PACKS_525_60 = {HEADER_DSF_525,
                                      {0x60, 0xFF, 0xFF, 0xC0, 0xFF},
                                      {0x50, 0x54, 0x00, 0xC0, 0x80},
                                      {0x51, 0x33, 0xCF, 0xA0, 0xFF},
                                      false};
// 625/50: the 50/60 flags set; 1,896 + 24 = 1,920 samples per frame, the
// lock-mode bit clear as above; the source control of a 625/50 recorder.
constexpr SystemPacks PACKS_625_50 = {HEADER_DSF_625,
                                      {0x60, 0xFF, 0xFF, 0xE0, 0xFF},
                                      {0x50, 0x58, 0x00, 0xE0, 0x80},
                                      {0x51, 0x1C, 0xCF, 0xA0, 0xFF},
                                      true};
constexpr int AUDIO_PAIR_AT = 2;

constexpr const SystemPacks* SYSTEM_PACKS[SYSTEM_COUNT] = {&PACKS_525_60, &PACKS_625_50};
static_assert(PACKS_525_60.header_dsf == SYSTEM_525_60.dsf_byte && PACKS_625_50.header_dsf == SYSTEM_625_50.dsf_byte,
              "the header blocks carry the system's DSF byte");

const SystemPacks& packs_of(const VideoSystem& v) { return *SYSTEM_PACKS[v.id]; }

// How check_template_frame names a fault of each system's frame.
struct TemplateFaults {
    const char* length;
    const char* system;
};
constexpr TemplateFaults TEMPLATE_FAULTS[SYSTEM_COUNT] = {
    {"chunk length is not 120000", "DV frame is not 525/60 (NTSC)"},
    {"chunk length is not 144000", "DV frame is not 625/50 (PAL)"},
};

// VAUX: fifteen packs per block from byte 3, 45 per sequence. Recorders place
// source and source control at slots 39, 40 in even sequences, 0, 1 in odd ones.
constexpr int VAUX_PACKS_AT = 3;
constexpr int VAUX_PACKS_PER_BLOCK = 15;
constexpr int VAUX_SLOT_EVEN = 39;
constexpr int VAUX_SLOT_ODD = 0;

// Audio: one pack at byte 3, then 36 big-endian 16-bit samples; 0 is silence.
constexpr int AUDIO_PACK_AT = 3;
constexpr int AUDIO_SAMPLES_AT = 8;
constexpr int AUDIO_SOURCE_BLOCK_EVEN = 3;
constexpr int AUDIO_SOURCE_BLOCK_ODD = 0;

// Video: STA 0 (valid), QNO 15, then one macroblock of four luma and two chroma
// DCT blocks, each a DC coefficient, 8x8 mode, a class and end of block, the
// unused bits 1. Luma DC -224 gives Y = 16, chroma DC 0 gives 128.
constexpr uint8_t VIDEO_STA_QNO = 0x0F;
constexpr int VIDEO_MACROBLOCK_AT = 4;
constexpr int LUMA_BLOCKS = 4;
constexpr int LUMA_BLOCK_SIZE = 14;
constexpr int CHROMA_BLOCKS = 2;
constexpr int CHROMA_BLOCK_SIZE = 10;
constexpr uint8_t LUMA_BLACK[2] = {0x90, 0x06};
constexpr uint8_t CHROMA_NEUTRAL[2] = {0x00, 0x16};
static_assert(VIDEO_MACROBLOCK_AT + LUMA_BLOCKS * LUMA_BLOCK_SIZE + CHROMA_BLOCKS * CHROMA_BLOCK_SIZE == DIF_BLOCK_SIZE,
              "a macroblock fills the rest of the video block");

constexpr int CHUNK_LENGTH_AT = 4;
constexpr int CHUNK_LENGTH_BYTES = 4;
constexpr int CHUNK_ID_CHECKED = 2;  // the reader requires only "00"

void write_id(uint8_t* block, uint8_t section, int sequence, int number)
{
    block[0] = section;
    block[1] = static_cast<uint8_t>((sequence << SEQUENCE_SHIFT) | ID1_RESERVED);
    block[2] = static_cast<uint8_t>(number);
}

void write_header_block(uint8_t* block, int s, const SystemPacks& packs)
{
    write_id(block, ID_HEADER, s, 0);
    block[HEADER_FIELDS_AT] = packs.header_dsf;
    block[HEADER_FIELDS_AT + 1] = DIF_TOGGLE_A;
    for (int i = 2; i <= 4; ++i)
        block[HEADER_FIELDS_AT + i] = HEADER_AP_FIELD;
}

void write_subcode_block(const VideoSystem& v, uint8_t* block, int s, int j)
{
    write_id(block, ID_SUBCODE, s, j);
    const uint8_t fr = s < v.dif_sequences / 2 ? SSYB_FR_FIRST_HALF : 0;
    for (int k = 0; k < SSYB_PER_BLOCK; ++k) {
        uint8_t* ssyb = block + ID_SIZE + k * SSYB_SIZE;
        ssyb[0] = static_cast<uint8_t>(fr | (k == 0 ? SSYB_ID0_AP3_ZERO : SSYB_ID0_NO_TAGS));
        ssyb[1] = static_cast<uint8_t>(SSYB_ID1_RESERVED | (j * SSYB_PER_BLOCK + k));
        std::memcpy(ssyb + SSYB_PACK_AT, PACK_TIME_CODE, PACK_SIZE);
    }
}

void write_vaux_block(uint8_t* block, int s, int j, const SystemPacks& system)
{
    write_id(block, ID_VAUX, s, j);
    const int first_slot = s % 2 == 0 ? VAUX_SLOT_EVEN : VAUX_SLOT_ODD;
    const uint8_t* packs[2] = {system.video_source, PACK_VIDEO_CONTROL};
    for (int p = 0; p < 2; ++p) {
        int slot = first_slot + p - j * VAUX_PACKS_PER_BLOCK;
        if (slot >= 0 && slot < VAUX_PACKS_PER_BLOCK)
            std::memcpy(block + VAUX_PACKS_AT + slot * PACK_SIZE, packs[p], PACK_SIZE);
    }
}

void write_audio_block(const VideoSystem& v, uint8_t* block, int s, int k, const SystemPacks& packs)
{
    write_id(block, ID_AUDIO, s, k);
    const int source_block = s % 2 == 0 ? AUDIO_SOURCE_BLOCK_EVEN : AUDIO_SOURCE_BLOCK_ODD;
    if (k == source_block) {
        std::memcpy(block + AUDIO_PACK_AT, packs.audio_source, PACK_SIZE);
        if (packs.pair_in_second_half && s >= v.dif_sequences / 2)
            block[AUDIO_PACK_AT + AUDIO_PAIR_AT] = 1;
    } else if (k == source_block + 1) {
        std::memcpy(block + AUDIO_PACK_AT, packs.audio_control, PACK_SIZE);
    }
    std::memset(block + AUDIO_SAMPLES_AT, 0, DIF_BLOCK_SIZE - AUDIO_SAMPLES_AT);
}

void write_video_block(uint8_t* block, int s, int n)
{
    write_id(block, ID_VIDEO, s, n);
    block[ID_SIZE] = VIDEO_STA_QNO;
    uint8_t* p = block + VIDEO_MACROBLOCK_AT;
    for (int i = 0; i < LUMA_BLOCKS; ++i, p += LUMA_BLOCK_SIZE)
        std::memcpy(p, LUMA_BLACK, sizeof LUMA_BLACK);
    for (int i = 0; i < CHROMA_BLOCKS; ++i, p += CHROMA_BLOCK_SIZE)
        std::memcpy(p, CHROMA_NEUTRAL, sizeof CHROMA_NEUTRAL);
}

void write_sequence(const VideoSystem& v, uint8_t* seq, int s)
{
    const SystemPacks& packs = packs_of(v);
    write_header_block(seq + v.header_block * v.block_size, s, packs);
    for (int j = 0; j < v.subcode_blocks; ++j)
        write_subcode_block(v, seq + (v.subcode_first + j) * v.block_size, s, j);
    for (int j = 0; j < v.vaux_blocks; ++j)
        write_vaux_block(seq + (v.vaux_first + j) * v.block_size, s, j, packs);
    int audio = 0;
    int video = 0;
    for (int b = v.audio_first; b < v.blocks_per_sequence; ++b) {
        uint8_t* block = seq + b * v.block_size;
        if (is_audio_block(v, b))
            write_audio_block(v, block, s, audio++, packs);
        else
            write_video_block(block, s, video++);
    }
}

}  // namespace

void build_template_frame(const VideoSystem& v, uint8_t* chunk)
{
    const int frame_size = v.frame_size;
    std::memcpy(chunk, FRAME_CHUNK_ID, sizeof FRAME_CHUNK_ID);
    put_le(chunk + CHUNK_LENGTH_AT, static_cast<uint64_t>(frame_size), CHUNK_LENGTH_BYTES);
    uint8_t* dv = chunk + CHUNK_HEADER_SIZE;
    std::memset(dv, FILL, static_cast<size_t>(frame_size));
    for (int s = 0; s < v.dif_sequences; ++s)
        write_sequence(v, dv + s * v.blocks_per_sequence * v.block_size, s);
}

int check_template_frame(const VideoSystem& v, const uint8_t* chunk, const char** problem)
{
    const char* fault = nullptr;
    const uint8_t* dv = chunk + CHUNK_HEADER_SIZE;
    if (std::memcmp(chunk, FRAME_CHUNK_ID, CHUNK_ID_CHECKED) != 0)
        fault = "chunk identifier does not begin with \"00\"";
    else if (get_le(chunk + CHUNK_LENGTH_AT, CHUNK_LENGTH_BYTES) != static_cast<uint64_t>(v.frame_size))
        fault = TEMPLATE_FAULTS[v.id].length;
    else if (dv[1] != ID1_RESERVED || dv[2] != 0)
        fault = "DV frame does not begin with the header block of sequence 0";
    else if (dv[HEADER_FIELDS_AT] != v.dsf_byte)
        fault = TEMPLATE_FAULTS[v.id].system;
    else if (dv[HEADER_FIELDS_AT + 2] != HEADER_AP_FIELD || dv[HEADER_FIELDS_AT + 3] != HEADER_AP_FIELD ||
             dv[HEADER_FIELDS_AT + 4] != HEADER_AP_FIELD)
        fault = "DV header application IDs are not those of consumer DV";
    if (problem)
        *problem = fault;
    return fault ? 0 : 1;
}
