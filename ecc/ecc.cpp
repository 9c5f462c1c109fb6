// The code's tables and the whole-plane kernels that both halves use.
#include "ecc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ecc_planes.h"

// Spreads a row byte into its 8 table columns (column k = bit k).
#define ECC_ROW(b) \
    { (b) & 1, ((b) >> 1) & 1, ((b) >> 2) & 1, ((b) >> 3) & 1, \
      ((b) >> 4) & 1, ((b) >> 5) & 1, ((b) >> 6) & 1, ((b) >> 7) & 1 }

// Data rows: the 56 weight-3 patterns plus 8 weight-5 ones (data planes 4, 12,
// ..., 60), so that every column holds 26 data planes; parity rows: identity.
constexpr uint8_t ECC_PARITY_TABLE[ECC_N][ECC_NMK] = {
    ECC_ROW(0x25), ECC_ROW(0x23), ECC_ROW(0x43), ECC_ROW(0x45),
    ECC_ROW(0x79), ECC_ROW(0x83), ECC_ROW(0x85), ECC_ROW(0x89),
    ECC_ROW(0x4A), ECC_ROW(0x46), ECC_ROW(0x86), ECC_ROW(0x8A),
    ECC_ROW(0xF2), ECC_ROW(0x07), ECC_ROW(0x0B), ECC_ROW(0x13),
    ECC_ROW(0x94), ECC_ROW(0x8C), ECC_ROW(0x0D), ECC_ROW(0x15),
    ECC_ROW(0xE5), ECC_ROW(0x0E), ECC_ROW(0x16), ECC_ROW(0x26),
    ECC_ROW(0x29), ECC_ROW(0x19), ECC_ROW(0x1A), ECC_ROW(0x2A),
    ECC_ROW(0xCB), ECC_ROW(0x1C), ECC_ROW(0x2C), ECC_ROW(0x4C),
    ECC_ROW(0x52), ECC_ROW(0x32), ECC_ROW(0x34), ECC_ROW(0x54),
    ECC_ROW(0x97), ECC_ROW(0x38), ECC_ROW(0x58), ECC_ROW(0x98),
    ECC_ROW(0xA4), ECC_ROW(0x64), ECC_ROW(0x68), ECC_ROW(0xA8),
    ECC_ROW(0x2F), ECC_ROW(0x70), ECC_ROW(0xB0), ECC_ROW(0x31),
    ECC_ROW(0x49), ECC_ROW(0xC8), ECC_ROW(0xD0), ECC_ROW(0x51),
    ECC_ROW(0x5E), ECC_ROW(0xE0), ECC_ROW(0x61), ECC_ROW(0x62),
    ECC_ROW(0x92), ECC_ROW(0x91), ECC_ROW(0xA1), ECC_ROW(0xA2),
    ECC_ROW(0xBC), ECC_ROW(0xC1), ECC_ROW(0xC2), ECC_ROW(0xC4),
    ECC_ROW(0x01), ECC_ROW(0x02), ECC_ROW(0x04), ECC_ROW(0x08),
    ECC_ROW(0x10), ECC_ROW(0x20), ECC_ROW(0x40), ECC_ROW(0x80),
};

#undef ECC_ROW

namespace {

constexpr int SYNDROME_VALUES = 256;

constexpr uint8_t row_bits(int row)
{
    uint8_t bits = 0;
    for (int k = 0; k < ECC_NMK; ++k)
        bits = static_cast<uint8_t>(bits | (ECC_PARITY_TABLE[row][k] << k));
    return bits;
}

constexpr int bit_count(int value)
{
    int n = 0;
    for (; value != 0; value &= value - 1)
        ++n;
    return n;
}

// The position whose row equals the syndrome; a syndrome matching no row (an
// even number of failed checks, or an odd pattern no row has) is not correctable.
constexpr uint8_t location_of(int syndrome)
{
    if (syndrome == 0)
        return ECC_LOC_NO_ERROR;
    for (int row = 0; row < ECC_N; ++row) {
        if (row_bits(row) == syndrome)
            return static_cast<uint8_t>(row);
    }
    return ECC_LOC_UNCORRECTABLE;
}

// A single flipped bit is located and two never are mistaken for one only if the
// rows are distinct, non-zero and of odd weight; parity plane k checks itself alone.
constexpr bool parity_table_is_sound()
{
    for (int row = 0; row < ECC_N; ++row) {
        if (bit_count(row_bits(row)) % 2 == 0)
            return false;
        for (int other = 0; other < row; ++other) {
            if (row_bits(other) == row_bits(row))
                return false;
        }
    }
    for (int k = 0; k < ECC_NMK; ++k) {
        if (row_bits(ECC_K + k) != (1u << k))
            return false;
    }
    return true;
}

constexpr bool columns_are_balanced()
{
    constexpr int DATA_PLANES_PER_CHECK = 26;
    for (int k = 0; k < ECC_NMK; ++k) {
        int n = 0;
        for (int row = 0; row < ECC_K; ++row)
            n += ECC_PARITY_TABLE[row][k];
        if (n != DATA_PLANES_PER_CHECK)
            return false;
    }
    return true;
}

static_assert(parity_table_is_sound(), "parity rows must be distinct and of odd weight");
static_assert(columns_are_balanced(), "every parity plane sums 26 data planes");

// The hot loops name their planes with restrict-qualified pointers so that the
// compiler can vectorise them; the callers make sure the planes do not overlap.
#if defined(__GNUC__) || defined(_MSC_VER)
#define ECC_RESTRICT __restrict
#else
#define ECC_RESTRICT
#endif

inline void xor_unit(uint8_t* plane, int unit, uint64_t value)
{
    ecc_store_unit(plane, unit, ecc_load_unit(plane, unit) ^ value);
}

inline void xor_tail(uint8_t* dst, const uint8_t* src, int32_t bytes)
{
    for (int i = ecc_tail_start(bytes); i < bytes; ++i)
        dst[i] = static_cast<uint8_t>(dst[i] ^ src[i]);
}

// A data plane's row has weight 3 or 5, a parity plane's weight 1: each weight
// has a loop that reads the source once and adds it to all its planes. 64-bit
// units keep the loops fast where the compiler does not vectorise them.
void xor_into_1(uint8_t* ECC_RESTRICT a, const uint8_t* ECC_RESTRICT src, int32_t bytes)
{
    const int units = ecc_plane_units(bytes);
    for (int u = 0; u < units; ++u)
        xor_unit(a, u, ecc_load_unit(src, u));
    xor_tail(a, src, bytes);
}

void xor_into_3(uint8_t* ECC_RESTRICT a, uint8_t* ECC_RESTRICT b, uint8_t* ECC_RESTRICT c,
                const uint8_t* ECC_RESTRICT src, int32_t bytes)
{
    const int units = ecc_plane_units(bytes);
    for (int u = 0; u < units; ++u) {
        const uint64_t v = ecc_load_unit(src, u);
        xor_unit(a, u, v);
        xor_unit(b, u, v);
        xor_unit(c, u, v);
    }
    for (uint8_t* plane : {a, b, c})
        xor_tail(plane, src, bytes);
}

void xor_into_5(uint8_t* ECC_RESTRICT a, uint8_t* ECC_RESTRICT b, uint8_t* ECC_RESTRICT c,
                uint8_t* ECC_RESTRICT d, uint8_t* ECC_RESTRICT e, const uint8_t* ECC_RESTRICT src,
                int32_t bytes)
{
    const int units = ecc_plane_units(bytes);
    for (int u = 0; u < units; ++u) {
        const uint64_t v = ecc_load_unit(src, u);
        xor_unit(a, u, v);
        xor_unit(b, u, v);
        xor_unit(c, u, v);
        xor_unit(d, u, v);
        xor_unit(e, u, v);
    }
    for (uint8_t* plane : {a, b, c, d, e})
        xor_tail(plane, src, bytes);
}

// The plain order of operations, for planes that overlap: plane by plane, byte by byte.
void xor_in_order(uint8_t* const* targets, int count, const uint8_t* src, int32_t bytes)
{
    for (int t = 0; t < count; ++t) {
        uint8_t* dst = targets[t];
        for (int i = 0; i < bytes; ++i)
            dst[i] = static_cast<uint8_t>(dst[i] ^ src[i]);
    }
}

bool overlap(const uint8_t* a, const uint8_t* b, int32_t bytes)
{
    const uintptr_t x = reinterpret_cast<uintptr_t>(a);
    const uintptr_t y = reinterpret_cast<uintptr_t>(b);
    return x < y + static_cast<uintptr_t>(bytes) && y < x + static_cast<uintptr_t>(bytes);
}

bool any_overlap(uint8_t* const* targets, int count, const uint8_t* src, int32_t bytes)
{
    for (int t = 0; t < count; ++t) {
        if (overlap(targets[t], src, bytes))
            return true;
        for (int u = 0; u < t; ++u) {
            if (overlap(targets[t], targets[u], bytes))
                return true;
        }
    }
    return false;
}

}  // namespace

#define ECC_LOC4(s) location_of(s), location_of((s) + 1), location_of((s) + 2), location_of((s) + 3)
#define ECC_LOC16(s) ECC_LOC4(s), ECC_LOC4((s) + 4), ECC_LOC4((s) + 8), ECC_LOC4((s) + 12)
#define ECC_LOC64(s) ECC_LOC16(s), ECC_LOC16((s) + 16), ECC_LOC16((s) + 32), ECC_LOC16((s) + 48)

constexpr uint8_t ECC_LOCATION_TABLE[SYNDROME_VALUES] = {
    ECC_LOC64(0), ECC_LOC64(64), ECC_LOC64(128), ECC_LOC64(192),
};

#undef ECC_LOC64
#undef ECC_LOC16
#undef ECC_LOC4

#define ECC_ROWBITS8(r) row_bits(r), row_bits((r) + 1), row_bits((r) + 2), row_bits((r) + 3), \
    row_bits((r) + 4), row_bits((r) + 5), row_bits((r) + 6), row_bits((r) + 7)

constexpr uint8_t ECC_ROW_BITS[ECC_N] = {
    ECC_ROWBITS8(0),  ECC_ROWBITS8(8),  ECC_ROWBITS8(16), ECC_ROWBITS8(24), ECC_ROWBITS8(32),
    ECC_ROWBITS8(40), ECC_ROWBITS8(48), ECC_ROWBITS8(56), ECC_ROWBITS8(64),
};

#undef ECC_ROWBITS8

static_assert(ECC_LOCATION_TABLE[0] == ECC_LOC_NO_ERROR, "syndrome 0 means no error");
static_assert(ECC_ROW_BITS[0] == 0x25 && ECC_ROW_BITS[ECC_K - 1] == 0xC4, "row bytes follow the table");

namespace {
constexpr int ECC_DIAGNOSTIC_SIZE = 128;
thread_local char last_diagnostic[ECC_DIAGNOSTIC_SIZE];
}  // namespace

void ecc_report(const char* message)
{
    std::snprintf(last_diagnostic, sizeof last_diagnostic, "%s", message);
}

int32_t ecc_check_count(int32_t count, int32_t limit, const char* full, const char* over, const char* under)
{
    if (count == limit)
        return ecc_refuse(full);
    if (count > limit)
        return ecc_refuse(over);
    return count < 0 ? ecc_refuse(under) : 0;
}

int32_t ecc_hand_out(uint8_t* const* planes, int32_t* count, int32_t limit, bool ready, const HandOutMessages& m,
                     uint8_t** out)
{
    if (!ready)
        return ecc_refuse(m.early);
    const int32_t at = *count;
    if (ecc_check_count(at, limit, m.empty, m.over, m.under) != 0)
        return 1;
    // After a shutdown the counters survive but the planes do not.
    if (planes[at] == nullptr)
        return ecc_refuse(m.null);
    *out = planes[at];
    *count = at + 1;
    return 0;
}

int32_t ecc_xor_row_checked(uint8_t** planes, const uint8_t* src, int index, int rows, int32_t plane_bytes,
                            const RowMessages& m)
{
    if (planes == nullptr || src == nullptr)
        return ecc_refuse(m.null);
    if (index < 0 || index >= rows)
        return ecc_refuse(m.range);
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse(m.size);
    const uint8_t row = ECC_ROW_BITS[index];
    for (int k = 0; k < ECC_NMK; ++k) {
        if ((row & (1u << k)) && planes[k] == nullptr)
            return ecc_refuse(m.null);
    }
    ecc_plane_xor_row(planes, src, row, plane_bytes);
    return 0;
}

const char* ecc_last_diagnostic() { return last_diagnostic; }

void ecc_clear_diagnostic() { last_diagnostic[0] = '\0'; }

uint8_t* ecc_plane_alloc()
{
    return static_cast<uint8_t*>(std::calloc(ECC_PLANE_ALLOC, 1));
}

void ecc_plane_release(uint8_t** plane)
{
    if (*plane != nullptr) {
        std::free(*plane);
        *plane = nullptr;
    }
}

bool ecc_planes_present(uint8_t* const* planes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (planes[i] == nullptr)
            return false;
    }
    return true;
}

void ecc_plane_zero(uint8_t* plane, int32_t plane_bytes)
{
    std::memset(plane, 0, static_cast<size_t>(plane_bytes));
}

void ecc_plane_xor_row(uint8_t* const* planes, const uint8_t* src, uint8_t row_bits_mask, int32_t plane_bytes)
{
    uint8_t* targets[ECC_NMK];
    int count = 0;
    for (int k = 0; k < ECC_NMK; ++k) {
        if (row_bits_mask & (1u << k))
            targets[count++] = planes[k];
    }
    if (any_overlap(targets, count, src, plane_bytes)) {
        xor_in_order(targets, count, src, plane_bytes);
        return;
    }
    // Rows of the table have weight 1, 3 or 5; any other weight is taken in parts.
    uint8_t* const* t = targets;
    for (; count >= 5; count -= 5, t += 5)
        xor_into_5(t[0], t[1], t[2], t[3], t[4], src, plane_bytes);
    for (; count >= 3; count -= 3, t += 3)
        xor_into_3(t[0], t[1], t[2], src, plane_bytes);
    for (; count >= 1; count -= 1, t += 1)
        xor_into_1(t[0], src, plane_bytes);
}

int32_t ecc_clear_parityplanes(uint8_t** pParityPlanes, int32_t plane_bytes)
{
    // A missing plane is refused like a missing array: zeroing it would crash.
    if (pParityPlanes == nullptr || !ecc_planes_present(pParityPlanes, ECC_NMK))
        return ecc_refuse("ecc_clear_parityplanes() : pParityPlanes == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_clear_parityplanes() : plane size out of range!\n");
    for (int k = 0; k < ECC_NMK; ++k)
        ecc_plane_zero(pParityPlanes[k], plane_bytes);
    return 0;
}
