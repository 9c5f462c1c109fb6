#include "recording_id.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

constexpr int RANDOM_WORDS = 8;
constexpr const char* FIXED_ID_VARIABLE = "BRIM_RECORDING_ID";
constexpr int HEX_DIGITS_PER_BYTE = 2;
constexpr int HEX_BASE = 16;

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The ID from the environment (32 hexadecimal digits), for output that is the
// same from run to run. Returns 1, or 0 when it is not set or not 32 digits.
int fixed_recording_id(uint8_t* id)
{
    const char* text = std::getenv(FIXED_ID_VARIABLE);
    if (!text || std::strlen(text) != RECORDING_ID_SIZE * HEX_DIGITS_PER_BYTE)
        return 0;
    for (int i = 0; i < RECORDING_ID_SIZE; ++i) {
        const int high = hex_value(text[HEX_DIGITS_PER_BYTE * i]);
        const int low = hex_value(text[HEX_DIGITS_PER_BYTE * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        id[i] = static_cast<uint8_t>(high * HEX_BASE + low);
    }
    return 1;
}

}  // namespace

void draw_recording_id(uint8_t* id)
{
    if (fixed_recording_id(id))
        return;
    // The system's random source, mixed with both clocks and an address: even a
    // library whose random_device is deterministic gives every run its own ID.
    struct {
        uint32_t random[RANDOM_WORDS];
        int64_t wall;
        int64_t steady;
        uintptr_t where;
    } seed{};
    try {
        std::random_device device;
        for (uint32_t& word : seed.random)
            word = device();
    } catch (...) {
        // No random source: the clocks alone.
    }
    seed.wall = std::chrono::system_clock::now().time_since_epoch().count();
    seed.steady = std::chrono::steady_clock::now().time_since_epoch().count();
    seed.where = reinterpret_cast<uintptr_t>(&seed);
    const Digest128 digest = content_hash_of(&seed, sizeof seed);
    std::memcpy(id, &digest.low, sizeof digest.low);
    std::memcpy(id + sizeof digest.low, &digest.high, sizeof digest.high);
}
