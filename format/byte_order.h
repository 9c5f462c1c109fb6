// Little-endian fields of any width up to 8 bytes, as the tape and AVI formats store them.
#pragma once

#include <cstdint>

// Writes the low `bytes` bytes of `value` to `out`, least significant first.
inline void put_le(uint8_t* out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Reads `bytes` bytes at `in`, least significant first.
inline uint64_t get_le(const uint8_t* in, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

// A little-endian field of a stored record: where it lies and how many bytes wide.
struct ByteField {
    int offset;
    int bytes;
};

inline void put_field(uint8_t* record, ByteField field, uint64_t value)
{
    put_le(record + field.offset, value, field.bytes);
}

inline uint64_t get_field(const uint8_t* record, ByteField field) { return get_le(record + field.offset, field.bytes); }
