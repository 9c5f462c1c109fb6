// Whole-plane kernels shared by the encoder and decoder halves of the plane
// Hamming code. Internal to the ecc library.
#pragma once

#include <cstdint>
#include <cstring>

#include "ecc.h"

// Plane bytes are handled in 64-bit units, and the 4 bytes after the last whole
// unit on their own. Units are combined only bit by bit, so the host's byte
// order never matters.
constexpr int ECC_UNIT_BYTES = 8;

// Whole units of a plane of `plane_bytes`, and where its tail starts.
constexpr int ecc_plane_units(int32_t plane_bytes) { return plane_bytes / ECC_UNIT_BYTES; }
constexpr int ecc_tail_start(int32_t plane_bytes) { return ecc_plane_units(plane_bytes) * ECC_UNIT_BYTES; }

// Unit `unit` of a plane.
inline uint64_t ecc_load_unit(const uint8_t* plane, int unit)
{
    uint64_t value;
    std::memcpy(&value, plane + unit * ECC_UNIT_BYTES, ECC_UNIT_BYTES);
    return value;
}

inline void ecc_store_unit(uint8_t* plane, int unit, uint64_t value)
{
    std::memcpy(plane + unit * ECC_UNIT_BYTES, &value, ECC_UNIT_BYTES);
}

// Row r of the parity table as one byte: bit k set when check k includes position r.
extern const uint8_t ECC_ROW_BITS[ECC_N];

// Keeps `message` as the thread's last diagnostic (see ecc_last_diagnostic).
void ecc_report(const char* message);

// Refuses with the message for a count that has reached `limit` (`full`), gone
// past it (`over`) or below 0 (`under`); 0 while the count leaves room.
int32_t ecc_check_count(int32_t count, int32_t limit, const char* full, const char* over, const char* under);

// The refusal lines of an operation that hands out the object's planes one by one.
struct HandOutMessages {
    const char* null;    // the object or the out pointer is null, or the plane due is gone
    const char* early;   // the block is not complete yet
    const char* empty;   // every plane has been handed out
    const char* over;    // the count has gone past the planes
    const char* under;   // the count is negative
};

// Hands out planes[*count] into *out and advances the count, once `ready`;
// refuses (1) with the matching line of `m` otherwise.
int32_t ecc_hand_out(uint8_t* const* planes, int32_t* count, int32_t limit, bool ready, const HandOutMessages& m,
                     uint8_t** out);

// The refusal lines of an operation that adds a plane into the planes of a row.
struct RowMessages {
    const char* null;    // the planes, the source or a plane of the row is null
    const char* range;   // the row index is out of range
    const char* size;    // the plane size is one the code does not work on
};

// Adds the `plane_bytes` bytes of `src` into the planes of row `index`
// (0..rows-1) of the parity table, refusing with the matching line of `m`.
int32_t ecc_xor_row_checked(uint8_t** planes, const uint8_t* src, int index, int rows, int32_t plane_bytes,
                            const RowMessages& m);

// Reports `message` and returns 1: the result of a refused call.
inline int32_t ecc_refuse(const char* message)
{
    ecc_report(message);
    return 1;
}

// A zero-filled plane of ECC_PLANE_ALLOC bytes, or null when memory is short.
uint8_t* ecc_plane_alloc();
// Releases *plane if it is not null and nulls the pointer.
void ecc_plane_release(uint8_t** plane);
// True when none of the `count` pointers is null.
bool ecc_planes_present(uint8_t* const* planes, int count);

// Zeroes the first `plane_bytes` bytes of `plane`.
void ecc_plane_zero(uint8_t* plane, int32_t plane_bytes);
// XORs the `plane_bytes` bytes of `src` into each plane k of `planes` whose bit
// is set in `row_bits`, reading `src` once.
void ecc_plane_xor_row(uint8_t* const* planes, const uint8_t* src, uint8_t row_bits, int32_t plane_bytes);
