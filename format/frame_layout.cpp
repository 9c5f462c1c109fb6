#include "frame_layout.h"

#include <array>
#include <cstring>

#include "byte_order.h"

// BRIM_PORTABLE_RUNS forces the plain C++ run helpers (for checking them on x86).
#if !defined(BRIM_PORTABLE_RUNS) && (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define BRIM_RUNS_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// FrameHeader fields within one 24-byte copy: the magic, then these.
constexpr int FH_MAGIC = 0;
constexpr int MAGIC_SIZE = 4;
constexpr ByteField FH_CHECKSUM{4, 3};
constexpr ByteField FH_BYTES_REMAINING{7, 5};
constexpr ByteField FH_FILE_INDEX{12, 2};
constexpr ByteField FH_FILE_COUNT{14, 2};
constexpr ByteField FH_FRAME_INDEX{16, 3};
constexpr ByteField FH_LAST_FRAME_INDEX{19, 3};
constexpr ByteField FH_RECORDING_TAG{22, 2};
static_assert(FH_RECORDING_TAG.offset + FH_RECORDING_TAG.bytes == FRAME_HEADER_SIZE, "the tag closes the header");
constexpr uint32_t SUM_MASK_24 = 0xFFFFFF;

template <int Count>
constexpr std::array<int, Count> build_payload_offsets(const VideoSystem& v)
{
    std::array<int, Count> offsets{};
    int n = 0;
    for (int s = 0; s < v.dif_sequences; ++s)
        for (int b = 0; b < v.blocks_per_sequence; ++b)
            if (is_payload_block(v, s, b))
                offsets[n++] = (s * v.blocks_per_sequence + b) * v.block_size;
    return offsets;
}

// Byte 0 of every audio block in all sequences, in frame order.
template <int Count>
constexpr std::array<int, Count> build_audio_offsets(const VideoSystem& v)
{
    std::array<int, Count> offsets{};
    int n = 0;
    for (int s = 0; s < v.dif_sequences; ++s)
        for (int k = 0; k < v.audio_blocks; ++k)
            offsets[n++] = (s * v.blocks_per_sequence + v.audio_first + k * v.audio_spacing) * v.block_size;
    return offsets;
}

// The offset tables of one system.
template <const VideoSystem& V>
struct SystemOffsets {
    static constexpr int AUDIO_COUNT = V.dif_sequences * V.audio_blocks;
    static constexpr std::array<int, V.payload_blocks> PAYLOAD = build_payload_offsets<V.payload_blocks>(V);
    static constexpr std::array<int, AUDIO_COUNT> AUDIO = build_audio_offsets<AUDIO_COUNT>(V);
    static_assert(PAYLOAD[0] == 8 * DIF_BLOCK_SIZE, "plane starts in block 8 of sequence 0");
    static_assert(PAYLOAD[V.payload_blocks - 1] == V.frame_size - DIF_BLOCK_SIZE,
                  "plane ends in the last block of the frame");
};
using Offsets525 = SystemOffsets<SYSTEM_525_60>;
using Offsets625 = SystemOffsets<SYSTEM_625_50>;

// Where a system's tables are.
struct OffsetTables {
    const int* payload;
    const int* audio;
    int audio_count;
};
constexpr OffsetTables OFFSET_TABLES[SYSTEM_COUNT] = {
    {Offsets525::PAYLOAD.data(), Offsets525::AUDIO.data(), Offsets525::AUDIO_COUNT},
    {Offsets625::PAYLOAD.data(), Offsets625::AUDIO.data(), Offsets625::AUDIO_COUNT},
};

// Copying a 76-byte run and adding its bytes to a running sum, the inner step of
// both directions. With SSE2 (every x86-64 compiler, and 32-bit builds that
// enable it) the run moves as five 16-byte loads and stores, the last one
// overlapping, and the sum comes from byte-absolute-difference against zero.
// Elsewhere the run is copied with memcpy and summed by pairing bytes into
// 16-bit lanes of 64-bit words. Both give the exact 32-bit sum: a plane sums to
// at most 123,044 * 255 < 2^32.
static_assert(PAYLOAD_BLOCK_BYTES == 76, "the run helpers are laid out for 76-byte runs");

#ifdef BRIM_RUNS_SSE2

using RunSum = __m128i;
constexpr int VEC = 16;
constexpr int RUN_LAST_VEC = PAYLOAD_BLOCK_BYTES - VEC;        // 60: overlaps the fourth vector
constexpr int RUN_OVERLAP = 4 * VEC - RUN_LAST_VEC;            // 4 bytes counted already

inline RunSum run_sum_start() { return _mm_setzero_si128(); }

inline void copy_run_and_add(uint8_t* dst, const uint8_t* src, RunSum* sum)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + VEC));
    __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * VEC));
    __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * VEC));
    __m128i v4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + RUN_LAST_VEC));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + VEC), v1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * VEC), v2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * VEC), v3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + RUN_LAST_VEC), v4);
    __m128i tail = _mm_srli_si128(v4, RUN_OVERLAP);
    __m128i s = _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(v0, zero), _mm_sad_epu8(v1, zero)),
                              _mm_add_epi64(_mm_sad_epu8(v2, zero), _mm_sad_epu8(v3, zero)));
    *sum = _mm_add_epi64(*sum, _mm_add_epi64(s, _mm_sad_epu8(tail, zero)));
}

inline uint32_t run_sum_total(RunSum sum)
{
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi64(sum, _mm_unpackhi_epi64(sum, sum))));
}

#else

using RunSum = uint32_t;
constexpr uint64_t LANE_MASK = 0x00FF00FF00FF00FFull;
constexpr uint64_t LANE_FOLD = 0x0001000100010001ull;
constexpr int LANE_FOLD_SHIFT = 48;
constexpr int WORDS_PER_RUN = PAYLOAD_BLOCK_BYTES / 8;  // 9, then one 32-bit tail
static_assert(PAYLOAD_BLOCK_BYTES * 255 < (1 << 16), "a run's sum fits one 16-bit lane");

inline RunSum run_sum_start() { return 0; }

// A run sums to less than 2^16, so one multiply folds the four lanes.
inline void copy_run_and_add(uint8_t* dst, const uint8_t* src, RunSum* sum)
{
    std::memcpy(dst, src, PAYLOAD_BLOCK_BYTES);
    uint64_t lanes = 0;
    for (int i = 0; i < WORDS_PER_RUN; ++i) {
        uint64_t w;
        std::memcpy(&w, src + 8 * i, sizeof w);
        lanes += (w & LANE_MASK) + ((w >> 8) & LANE_MASK);
    }
    uint32_t t;
    std::memcpy(&t, src + 8 * WORDS_PER_RUN, sizeof t);
    lanes += (t & LANE_MASK) + ((t >> 8) & LANE_MASK);
    *sum += static_cast<uint32_t>((lanes * LANE_FOLD) >> LANE_FOLD_SHIFT);
}

inline uint32_t run_sum_total(RunSum sum) { return sum; }

#endif

// Wide values are cut to their field widths; unsigned arithmetic keeps the
// last-frame difference defined for any inputs.
void encode_frame_header(const FrameInfo* info, int repeat0, uint8_t* out)
{
    std::memcpy(out + FH_MAGIC, info->magic, MAGIC_SIZE);
    put_field(out, FH_CHECKSUM, info->checksum);
    put_field(out, FH_BYTES_REMAINING, static_cast<uint64_t>(info->bytes_remaining));
    put_field(out, FH_FILE_INDEX, static_cast<uint32_t>(info->file_index));
    put_field(out, FH_FILE_COUNT, static_cast<uint32_t>(info->file_count));
    put_field(out, FH_FRAME_INDEX, static_cast<uint32_t>(info->frame_index));
    const uint32_t last = static_cast<uint32_t>(info->final_frame) - static_cast<uint32_t>(repeat0) + 1u;
    put_field(out, FH_LAST_FRAME_INDEX, last);
    put_field(out, FH_RECORDING_TAG, info->recording_tag == NO_RECORDING_TAG ? UNTAGGED_FIELD : info->recording_tag);
}

void decode_frame_header(const uint8_t* in, FrameRecord* record)
{
    record->sum_stored = static_cast<int32_t>(get_field(in, FH_CHECKSUM));
    record->bytes_remaining = static_cast<int64_t>(get_field(in, FH_BYTES_REMAINING));
    record->file_index = static_cast<int32_t>(get_field(in, FH_FILE_INDEX));
    record->file_count = static_cast<int32_t>(get_field(in, FH_FILE_COUNT));
    record->frame_index = static_cast<int32_t>(get_field(in, FH_FRAME_INDEX));
    record->last_frame_index = static_cast<int32_t>(get_field(in, FH_LAST_FRAME_INDEX));
    record->recording_tag = static_cast<uint16_t>(get_field(in, FH_RECORDING_TAG));
}

int copies_equal(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, FRAME_HEADER_SIZE) == 0;
}

// Two of three: copy 1 when another copy agrees with it, else copy 2.
const uint8_t* vote_header(const uint8_t* copy1, const uint8_t* copy2, const uint8_t* copy3)
{
    if (copies_equal(copy1, copy2) || copies_equal(copy1, copy3))
        return copy1;
    return copy2;
}

void advance_ids(FrameInfo* info)
{
    info->dif_toggle = info->dif_toggle == DIF_TOGGLE_A ? DIF_TOGGLE_B : DIF_TOGGLE_A;
    ++info->vaux_id;
    ++info->audio_id;
    ++info->video_id;
    if (info->vaux_id > VAUX_ID_LAST) {
        info->vaux_id = VAUX_ID_WRAP;
        info->audio_id = AUDIO_ID_WRAP;
        info->video_id = VIDEO_ID_WRAP;
    }
}

}  // namespace

const int* payload_block_offsets(const VideoSystem& v) { return OFFSET_TABLES[v.id].payload; }

int pack_frame(const VideoSystem& v, const uint8_t* plane, FrameInfo* info, int repeat0, uint8_t* frame_buffer)
{
    const OffsetTables& tables = OFFSET_TABLES[v.id];
    uint8_t* dv = frame_buffer + CHUNK_HEADER_SIZE;
    const uint8_t video_id = info->video_id;

    // The sum is taken while the runs are copied; the header that needs it is
    // written afterwards into its own block, so the bytes come out the same.
    RunSum sum = run_sum_start();
    const uint8_t* src = plane;
    for (int i = 0; i < v.payload_blocks; ++i) {
        uint8_t* block = dv + tables.payload[i];
        block[0] = video_id;
        copy_run_and_add(block + PAYLOAD_BLOCK_OFFSET, src, &sum);
        src += PAYLOAD_BLOCK_BYTES;
    }
    info->checksum = run_sum_total(sum);

    dv[DIF_TOGGLE_FRAME_OFFSET] = info->dif_toggle;
    for (int b = 0; b < VAUX_BLOCKS; ++b)
        dv[(VAUX_BLOCK_FIRST + b) * DIF_BLOCK_SIZE] = info->vaux_id;
    for (int i = 0; i < tables.audio_count; ++i)
        dv[tables.audio[i]] = info->audio_id;

    uint8_t* header_block = dv + FRAME_HEADER_FRAME_OFFSET;
    header_block[0] = video_id;
    uint8_t header[FRAME_HEADER_SIZE];
    encode_frame_header(info, repeat0, header);
    for (int copy_offset : FRAME_HEADER_COPY_OFFSETS)
        std::memcpy(header_block + copy_offset, header, FRAME_HEADER_SIZE);

    advance_ids(info);
    return 1;
}

int unpack_frame(const VideoSystem& v, const uint8_t* dv_frame, uint8_t* plane, FrameRecord* record)
{
    const int* offsets = OFFSET_TABLES[v.id].payload;
    RunSum sum = run_sum_start();
    uint8_t* dst = plane;
    for (int i = 0; i < v.payload_blocks; ++i) {
        copy_run_and_add(dst, dv_frame + offsets[i] + PAYLOAD_BLOCK_OFFSET, &sum);
        dst += PAYLOAD_BLOCK_BYTES;
    }
    record->sum_computed = static_cast<int32_t>(run_sum_total(sum) & SUM_MASK_24);

    const uint8_t* header_block = dv_frame + FRAME_HEADER_FRAME_OFFSET;
    const uint8_t* chosen = vote_header(header_block + FRAME_HEADER_COPY_OFFSETS[0],
                                        header_block + FRAME_HEADER_COPY_OFFSETS[1],
                                        header_block + FRAME_HEADER_COPY_OFFSETS[2]);
    static const uint8_t ALL_ONES[MAGIC_SIZE] = {1, 1, 1, 1};
    record->magic_ok = masked_match(chosen, FRAME_HEADER_MAGIC, ALL_ONES, MAGIC_SIZE, FH_MAGIC);
    decode_frame_header(chosen, record);
    return 1;
}

int masked_match(const uint8_t* data, const uint8_t* pattern, const uint8_t* mask, int count, int start)
{
    // Every position is examined so the time does not depend on where a mismatch lies.
    unsigned mismatch = 0;
    for (int i = 0; i < count; ++i) {
        unsigned compared = mask[i] == 1 ? 0xFFu : 0u;
        mismatch |= (static_cast<unsigned>(data[start + i]) ^ pattern[i]) & compared;
    }
    return mismatch == 0 ? 1 : 0;
}
