// The content hash of a stored file: XXH3 with 128 bits, fed in pieces as the
// bytes pass, and a 64-bit check value for small records.
#pragma once

#include <cstddef>
#include <cstdint>

struct Digest128 {
    uint64_t low;
    uint64_t high;
};

inline bool operator==(const Digest128& a, const Digest128& b) { return a.low == b.low && a.high == b.high; }
inline bool operator!=(const Digest128& a, const Digest128& b) { return !(a == b); }

// One running hash; its state (xxHash's, opaque here) is allocated once by content_hash_init.
struct ContentHash {
    void* state;
};

// Allocates the state (once) and starts an empty hash. False when memory is short.
[[nodiscard]] bool content_hash_init(ContentHash* hash);

// Starts an empty hash again.
void content_hash_reset(ContentHash* hash);

// Adds `count` bytes at `data`.
void content_hash_update(ContentHash* hash, const void* data, size_t count);

// The digest of everything added since the last reset (the hash can go on).
Digest128 content_hash_digest(const ContentHash* hash);

// Releases the state.
void content_hash_release(ContentHash* hash);

// The 128-bit hash of `count` bytes in one call.
Digest128 content_hash_of(const void* data, size_t count);

// A 64-bit check value over `count` bytes (guards small records against damage).
uint64_t check_value_of(const void* data, size_t count);
