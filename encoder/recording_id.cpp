#include "recording_id.h"

#include <chrono>
#include <cstring>
#include <random>

namespace {

constexpr int RANDOM_WORDS = 8;

}  // namespace

void draw_recording_id(uint8_t* id)
{
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
