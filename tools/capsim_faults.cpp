// Random numbers, frame lists and the damage that a tape and a camcorder do to
// one DV frame.
#include <cstring>

#include "capsim.h"
#include "frame_reader.h"

namespace {

constexpr uint64_t SPLITMIX_GAMMA = 0x9E3779B97F4A7C15ull;
constexpr uint64_t SPLITMIX_MUL1 = 0xBF58476D1CE4E5B9ull;
constexpr uint64_t SPLITMIX_MUL2 = 0x94D049BB133111EBull;
constexpr int DOUBLE_MANTISSA_BITS = 53;
constexpr int MAX_COUNT_DIGITS = 18;

constexpr int STA_SHIFT = 4;
constexpr uint8_t QNO_MASK = 0x0F;
constexpr int STA_QNO_BYTE = 3;  // byte 3 of a video DIF block: STA | QNO

uint8_t random_byte(Rng* rng) { return static_cast<uint8_t>(rng_next(rng) >> 56); }

// Fills `length` bytes with random bytes; when the result equals `old` (which
// has the same length) one byte is changed, so the damage always shows.
void fill_differing(uint8_t* bytes, const uint8_t* old, int length, Rng* rng)
{
    for (int i = 0; i < length; ++i)
        bytes[i] = random_byte(rng);
    if (std::memcmp(bytes, old, static_cast<size_t>(length)) == 0)
        bytes[0] = static_cast<uint8_t>(~old[0]);
}

// Calls visit(offset) for `count` distinct payload blocks of a frame of system
// `v` chosen uniformly (selection sampling: one pass, no table, blocks in frame order).
template <typename Visit>
void for_random_payload_blocks(const VideoSystem& v, int count, Rng* rng, Visit visit)
{
    const int* offsets = payload_block_offsets(v);
    int needed = count;
    for (int i = 0; i < v.payload_blocks && needed > 0; ++i) {
        if (rng_below(rng, static_cast<uint64_t>(v.payload_blocks - i)) < static_cast<uint64_t>(needed)) {
            visit(offsets[i]);
            --needed;
        }
    }
}

}  // namespace

void rng_seed(Rng* rng, uint64_t seed, uint64_t stream)
{
    rng->state = seed;
    // Mixing the stream number through the generator keeps streams of nearby
    // seeds and stream numbers apart.
    rng->state = rng_next(rng) ^ (stream * SPLITMIX_MUL2);
    rng_next(rng);
}

uint64_t rng_next(Rng* rng)
{
    uint64_t z = (rng->state += SPLITMIX_GAMMA);
    z = (z ^ (z >> 30)) * SPLITMIX_MUL1;
    z = (z ^ (z >> 27)) * SPLITMIX_MUL2;
    return z ^ (z >> 31);
}

uint64_t rng_below(Rng* rng, uint64_t n)
{
    // Rejection keeps the result exactly uniform.
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
    uint64_t x;
    do {
        x = rng_next(rng);
    } while (x >= limit);
    return x % n;
}

int rng_chance(Rng* rng, double p)
{
    const double unit = static_cast<double>(rng_next(rng) >> (64 - DOUBLE_MANTISSA_BITS)) /
                        static_cast<double>(1ull << DOUBLE_MANTISSA_BITS);
    return unit < p ? 1 : 0;
}

int parse_count(const char* text, int64_t* value)
{
    int64_t v = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (++digits > MAX_COUNT_DIGITS)
            return 0;
        v = v * 10 + (*text - '0');
    }
    if (digits == 0 || *text != '\0')
        return 0;
    *value = v;
    return 1;
}

int parse_frame_list(const char* text, FrameList* list)
{
    char item[2 * MAX_COUNT_DIGITS + 2];
    const char* p = text;
    for (;;) {
        const char* end = std::strchr(p, ',');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length == 0 || length >= sizeof item || list->count >= MAX_LIST_RANGES)
            return 0;
        std::memcpy(item, p, length);
        item[length] = '\0';
        int64_t first;
        int64_t last;
        char* dash = std::strchr(item, '-');
        if (dash) {
            *dash = '\0';
            if (!parse_count(item, &first) || !parse_count(dash + 1, &last) || last < first)
                return 0;
        } else {
            if (!parse_count(item, &first))
                return 0;
            last = first;
        }
        list->first[list->count] = first;
        list->last[list->count] = last;
        ++list->count;
        if (!end)
            return 1;
        p = end + 1;
    }
}

int list_contains(const FrameList* list, int64_t frame)
{
    for (int i = 0; i < list->count; ++i)
        if (frame >= list->first[i] && frame <= list->last[i])
            return 1;
    return 0;
}

void damage_payload_blocks(uint8_t* dv_frame, int count, Rng* rng)
{
    uint8_t old[PAYLOAD_BLOCK_BYTES];
    for_random_payload_blocks(system_of_frame(dv_frame), count, rng, [&](int offset) {
        uint8_t* payload = dv_frame + offset + PAYLOAD_BLOCK_OFFSET;
        std::memcpy(old, payload, sizeof old);
        fill_differing(payload, old, PAYLOAD_BLOCK_BYTES, rng);
    });
}

void conceal_payload_blocks(uint8_t* dv_frame, const uint8_t* previous, int count, int mark_sta, Rng* rng)
{
    for_random_payload_blocks(system_of_frame(dv_frame), count, rng, [&](int offset) {
        uint8_t* block = dv_frame + offset;
        std::memcpy(block + STA_QNO_BYTE, previous + offset + STA_QNO_BYTE,
                    static_cast<size_t>(DIF_BLOCK_SIZE - STA_QNO_BYTE));
        if (mark_sta)
            block[STA_QNO_BYTE] = static_cast<uint8_t>((STA_COPIED_FROM_PREVIOUS << STA_SHIFT) |
                                                       (block[STA_QNO_BYTE] & QNO_MASK));
    });
}

void swap_payload_bytes(uint8_t* dv_frame, Rng* rng)
{
    constexpr int TRIES = 64;
    const VideoSystem& v = system_of_frame(dv_frame);
    const int* offsets = payload_block_offsets(v);
    for (int t = 0; t < TRIES; ++t) {
        const uint64_t a = rng_below(rng, static_cast<uint64_t>(v.plane_size));
        const uint64_t b = rng_below(rng, static_cast<uint64_t>(v.plane_size));
        uint8_t* x = dv_frame + offsets[a / PAYLOAD_BLOCK_BYTES] + PAYLOAD_BLOCK_OFFSET +
                     a % PAYLOAD_BLOCK_BYTES;
        uint8_t* y = dv_frame + offsets[b / PAYLOAD_BLOCK_BYTES] + PAYLOAD_BLOCK_OFFSET +
                     b % PAYLOAD_BLOCK_BYTES;
        if (*x == *y)
            continue;
        const uint8_t keep = *x;
        *x = *y;
        *y = keep;
        return;
    }
}

void damage_dv_header(uint8_t* dv_frame, Rng* rng)
{
    for (int i = 0; i < DIF_BLOCK_SIZE; ++i)
        dv_frame[i] = random_byte(rng);
    // The frame search compares the DV bytes behind the chunk header in the
    // patterns of both systems; byte 1 is compared and the same in both.
    const uint8_t* dv_mask = SYNC_MASK + CHUNK_HEADER_SIZE;
    const int compared = SYNC_LENGTH - CHUNK_HEADER_SIZE;
    constexpr int SHARED_BYTE = 1;
    static_assert(SYNC_MASK[CHUNK_HEADER_SIZE + SHARED_BYTE] == 1 &&
                      SYNC_PATTERNS[0][CHUNK_HEADER_SIZE + SHARED_BYTE] ==
                          SYNC_PATTERNS[1][CHUNK_HEADER_SIZE + SHARED_BYTE],
                  "a byte both signatures compare");
    for (const uint8_t* pattern : SYNC_PATTERNS) {
        const uint8_t* dv_pattern = pattern + CHUNK_HEADER_SIZE;
        // Every compared byte came out right by chance: spoil the shared one.
        if (masked_match(dv_frame, dv_pattern, dv_mask, compared, 0))
            dv_frame[SHARED_BYTE] = static_cast<uint8_t>(~dv_pattern[SHARED_BYTE]);
    }
}

void damage_frame_header(uint8_t* dv_frame, int copies, Rng* rng, int* hit)
{
    uint8_t* header_block = dv_frame + FRAME_HEADER_FRAME_OFFSET;
    int remaining = FRAME_HEADER_COPIES;
    int needed = copies;
    for (int c = 0; c < FRAME_HEADER_COPIES; ++c) {
        hit[c] = rng_below(rng, static_cast<uint64_t>(remaining)) < static_cast<uint64_t>(needed) ? 1 : 0;
        --remaining;
        needed -= hit[c];
    }
    for (int c = 0; c < FRAME_HEADER_COPIES; ++c) {
        if (!hit[c])
            continue;
        uint8_t* copy = header_block + FRAME_HEADER_COPY_OFFSETS[c];
        uint8_t old[FRAME_HEADER_SIZE];
        std::memcpy(old, copy, sizeof old);
        for (;;) {
            for (int i = 0; i < FRAME_HEADER_SIZE; ++i)
                copy[i] = random_byte(rng);
            // A damaged copy equal to another copy would win the vote it should lose.
            int equal = std::memcmp(copy, old, sizeof old) == 0;
            for (int o = 0; o < FRAME_HEADER_COPIES; ++o)
                if (o != c && std::memcmp(copy, header_block + FRAME_HEADER_COPY_OFFSETS[o],
                                          static_cast<size_t>(FRAME_HEADER_SIZE)) == 0)
                    equal = 1;
            if (!equal)
                break;
        }
    }
}
