// Throughput of the plane Hamming code, each figure next to a plain memcpy of
// the same plane bytes: the goal is at least a third of the memcpy rate. The
// argument is the video system whose planes are coded (0: 525/60, 1: 625/50).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "ecc.h"
#include "frame_layout.h"

namespace {

using Plane = std::vector<uint8_t>;

int plane_bytes(const benchmark::State& state) { return VIDEO_SYSTEMS[state.range(0)]->plane_size; }

std::vector<Plane> random_planes(int count, uint32_t seed, int bytes)
{
    std::mt19937 rng(seed);
    std::vector<Plane> planes(count, Plane(static_cast<size_t>(bytes)));
    for (auto& plane : planes) {
        for (auto& b : plane)
            b = static_cast<uint8_t>(rng() >> 24);
    }
    return planes;
}

void copy_planes(benchmark::State& state, int count)
{
    const int bytes = plane_bytes(state);
    const std::vector<Plane> src = random_planes(count, 1, bytes);
    std::vector<Plane> dst(count, Plane(static_cast<size_t>(bytes)));
    for (auto _ : state) {
        for (int i = 0; i < count; ++i)
            std::memcpy(dst[i].data(), src[i].data(), static_cast<size_t>(bytes));
        benchmark::DoNotOptimize(dst.back().data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * count * int64_t{bytes});
}

void BM_MemcpyOf64Planes(benchmark::State& state)
{
    copy_planes(state, ECC_K);
}

void BM_MemcpyOf72Planes(benchmark::State& state)
{
    copy_planes(state, ECC_N);
}

// 64 data planes in, 8 parity planes fetched.
void BM_EccEncodeBlock(benchmark::State& state)
{
    const int bytes = plane_bytes(state);
    const std::vector<Plane> data = random_planes(ECC_K, 2, bytes);
    ECCEncoder enc{};
    ecc_encoder_init(&enc, bytes);
    for (auto _ : state) {
        for (int d = 0; d < ECC_K; ++d)
            ecc_encoder_enc1(&enc, data[d].data());
        uint8_t* parity = nullptr;
        for (int k = 0; k < ECC_NMK; ++k)
            ecc_encoder_getp1(&enc, &parity);
        benchmark::DoNotOptimize(parity);
    }
    state.SetBytesProcessed(state.iterations() * ECC_K * int64_t{bytes});
    ecc_encoder_shutdown(&enc);
}

// A full block already in the decoder's buffers goes through the receive path
// (buffer, syndromes), correction and output; `bad_position` < 0 means clean.
// A bad plane is written again each round, since correction repairs it in place.
void decode_block(benchmark::State& state, int bad_position)
{
    const int bytes = plane_bytes(state);
    const size_t size = static_cast<size_t>(bytes);
    std::vector<Plane> block = random_planes(ECC_K, 3, bytes);
    ECCEncoder enc{};
    ecc_encoder_init(&enc, bytes);
    for (int d = 0; d < ECC_K; ++d)
        ecc_encoder_enc1(&enc, block[d].data());
    for (int k = 0; k < ECC_NMK; ++k) {
        uint8_t* parity = nullptr;
        ecc_encoder_getp1(&enc, &parity);
        block.emplace_back(parity, parity + size);
    }
    ecc_encoder_shutdown(&enc);
    const Plane bad = random_planes(1, 4, bytes).front();

    ECCDecoder dec{};
    ecc_decoder_init(&dec, bytes);
    // One ordinary round leaves the block in the decoder's buffers, drained.
    for (int r = 0; r < ECC_N; ++r) {
        uint8_t* buffer = nullptr;
        ecc_decoder_get_rcv_buffer(&dec, &buffer);
        std::memcpy(buffer, block[r].data(), size);
        ecc_decoder_syn1(&dec, buffer);
    }
    ecc_decoder_correct(&dec, 1);
    for (int d = 0; d < ECC_K; ++d) {
        uint8_t* out = nullptr;
        ecc_decoder_get_out_buffer(&dec, &out);
    }
    for (auto _ : state) {
        if (bad_position >= 0)
            std::memcpy(dec.pReceivedPlanes[bad_position], bad.data(), size);
        for (int r = 0; r < ECC_N; ++r) {
            uint8_t* buffer = nullptr;
            ecc_decoder_get_rcv_buffer(&dec, &buffer);
            ecc_decoder_syn1(&dec, buffer);
        }
        ecc_decoder_correct(&dec, 1);
        uint8_t* out = nullptr;
        for (int d = 0; d < ECC_K; ++d)
            ecc_decoder_get_out_buffer(&dec, &out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * ECC_N * int64_t{bytes});
    if (bad_position >= 0 && std::memcmp(dec.pReceivedPlanes[bad_position], block[bad_position].data(), size) != 0)
        state.SkipWithError("bad plane was not repaired");
    ecc_decoder_shutdown(&dec);
}

void BM_EccDecodeCleanBlock(benchmark::State& state)
{
    decode_block(state, -1);
}

void BM_EccDecodeBlockWithOneBadPlane(benchmark::State& state)
{
    constexpr int BAD_POSITION = 12;  // a weight-5 row: the most syndrome planes touched
    decode_block(state, BAD_POSITION);
}

}  // namespace

BENCHMARK(BM_MemcpyOf64Planes)->Arg(0)->Arg(1);
BENCHMARK(BM_EccEncodeBlock)->Arg(0)->Arg(1);
BENCHMARK(BM_MemcpyOf72Planes)->Arg(0)->Arg(1);
BENCHMARK(BM_EccDecodeCleanBlock)->Arg(0)->Arg(1);
BENCHMARK(BM_EccDecodeBlockWithOneBadPlane)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
