// Erasure correction of one ECC block against the ordinary clean-block decode,
// in bytes of block plane data (72 planes) per second, with a memcpy of the
// same amount as reference.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ecc.h"
#include "ecc_erasure.h"
#include "../tests/test_geometry.h"

namespace {

using Plane = std::vector<uint8_t>;

constexpr int64_t BLOCK_BYTES = int64_t{ECC_N} * ECC_PLANE_BYTES;
constexpr int ERASED[] = {7, 40, 66};  // two data planes and a parity plane lost
constexpr int CONCEALED_PLANE = 21;
constexpr int CONCEALED_FIRST = 300;
constexpr int CONCEALED_COUNT = 100;

Plane random_plane(uint32_t seed)
{
    std::mt19937 rng(seed);
    Plane p(ECC_PLANE_BYTES);
    for (auto& b : p)
        b = static_cast<uint8_t>(rng());
    return p;
}

const std::vector<Plane>& encoded_block()
{
    static const std::vector<Plane> block = [] {
        std::vector<Plane> planes;
        ECCEncoder enc{};
        ecc_encoder_init(&enc, ECC_PLANE_BYTES);
        for (int i = 0; i < ECC_K; ++i) {
            planes.push_back(random_plane(static_cast<uint32_t>(i)));
            ecc_encoder_enc1(&enc, planes.back().data());
        }
        for (int k = 0; k < ECC_NMK; ++k) {
            uint8_t* parity = nullptr;
            ecc_encoder_getp1(&enc, &parity);
            planes.emplace_back(parity, parity + ECC_PLANE_BYTES);
        }
        ecc_encoder_shutdown(&enc);
        return planes;
    }();
    return block;
}

const Plane& filler() { static const Plane zero(ECC_PLANE_BYTES, 0); return zero; }

// A decoder holding the encoded block, with `spoiled` planes replaced by the
// filler a lost frame gets, and its syndromes accumulated.
struct LoadedDecoder {
    ECCDecoder d{};
    std::vector<int> spoiled;

    explicit LoadedDecoder(std::vector<int> spoil) : spoiled(std::move(spoil))
    {
        ecc_decoder_init(&d, ECC_PLANE_BYTES);
        for (int p = 0; p < ECC_N; ++p)
            std::memcpy(d.pReceivedPlanes[p], encoded_block()[p].data(), ECC_PLANE_BYTES);
        respoil();
        receive();
    }
    ~LoadedDecoder() { ecc_decoder_shutdown(&d); }

    // Hands out the last block's data planes (as the file writer does), then
    // accumulates the syndromes of the planes the buffers hold.
    void receive()
    {
        uint8_t* plane = nullptr;
        while (d.cCodeReceived == ECC_N && d.cDataOut < ECC_K)
            ecc_decoder_get_out_buffer(&d, &plane);
        for (int p = 0; p < ECC_N; ++p) {
            ecc_decoder_get_rcv_buffer(&d, &plane);
            ecc_decoder_syn1(&d, plane);
        }
    }

    // Puts the spoiled planes' filler back (a correction repairs them in place).
    void respoil()
    {
        for (int p : spoiled)
            std::memcpy(d.pReceivedPlanes[p], filler().data(), ECC_PLANE_BYTES);
    }
};

std::unique_ptr<ECCErasures> erasures_for(const std::vector<int>& planes, bool concealed)
{
    auto known = std::make_unique<ECCErasures>();
    std::memset(known.get(), 0, sizeof(ECCErasures));
    for (int p : planes)
        known->plane_bad[p] = 1;
    if (concealed)
        for (int g = CONCEALED_FIRST; g < CONCEALED_FIRST + CONCEALED_COUNT; ++g)
            known->segment_bad[CONCEALED_PLANE][g] = 1;
    return known;
}

void BM_MemcpyBlock(benchmark::State& state)
{
    std::vector<Plane> dst(ECC_N, Plane(ECC_PLANE_BYTES));
    const std::vector<Plane>& src = encoded_block();
    for (auto _ : state) {
        for (int p = 0; p < ECC_N; ++p)
            std::memcpy(dst[p].data(), src[p].data(), ECC_PLANE_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
}

// Syndrome accumulation and ordinary correction of a block that arrived intact.
void BM_CleanBlockDecode(benchmark::State& state)
{
    LoadedDecoder ld({});
    for (auto _ : state) {
        ld.receive();
        ecc_decoder_correct(&ld.d, 1);
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
}

// The same with three planes lost and rebuilt from the erasures.
void BM_ThreeErasedBlockDecode(benchmark::State& state)
{
    std::vector<int> erased(std::begin(ERASED), std::end(ERASED));
    LoadedDecoder ld(erased);
    auto known = erasures_for(erased, false);
    ECCErasureResult result{};
    for (auto _ : state) {
        ld.respoil();
        ld.receive();
        ecc_decoder_correct_erasures(&ld.d, known.get(), &result);
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
}

// Correction alone: the ordinary one on a clean block (a pass over the syndromes)...
void BM_CleanBlockCorrectOnly(benchmark::State& state)
{
    LoadedDecoder ld({});
    for (auto _ : state)
        ecc_decoder_correct(&ld.d, 1);
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
}

// ...the erasure one with nothing known on the same clean block...
void BM_CleanBlockErasureCorrectOnly(benchmark::State& state)
{
    LoadedDecoder ld({});
    auto known = erasures_for({}, false);
    ECCErasureResult result{};
    for (auto _ : state)
        ecc_decoder_correct_erasures(&ld.d, known.get(), &result);
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
}

// ...and the erasure one on a block with three lost planes (state restored
// outside the timing, since a correction folds itself into the syndromes).
void erasure_correct_only(benchmark::State& state, bool concealed)
{
    std::vector<int> erased(std::begin(ERASED), std::end(ERASED));
    if (concealed)
        erased.pop_back();
    LoadedDecoder ld(erased);
    ld.respoil();
    if (concealed)
        std::memset(ld.d.pReceivedPlanes[CONCEALED_PLANE] + CONCEALED_FIRST * ECC_SEGMENT_BYTES, 0,
                    CONCEALED_COUNT * ECC_SEGMENT_BYTES);
    ld.receive();
    std::vector<Plane> saved;
    for (int k = 0; k < ECC_NMK; ++k)
        saved.emplace_back(ld.d.pSyndromePlanes[k], ld.d.pSyndromePlanes[k] + ECC_PLANE_BYTES);
    auto known = erasures_for(erased, concealed);
    ECCErasureResult result{};
    for (auto _ : state) {
        state.PauseTiming();
        for (int k = 0; k < ECC_NMK; ++k)
            std::memcpy(ld.d.pSyndromePlanes[k], saved[k].data(), ECC_PLANE_BYTES);
        ld.respoil();
        if (concealed)
            std::memset(ld.d.pReceivedPlanes[CONCEALED_PLANE] + CONCEALED_FIRST * ECC_SEGMENT_BYTES, 0,
                        CONCEALED_COUNT * ECC_SEGMENT_BYTES);
        state.ResumeTiming();
        ecc_decoder_correct_erasures(&ld.d, known.get(), &result);
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_BYTES);
    state.counters["corrected"] = result.corrected_codewords;
    state.counters["unsolved"] = result.unsolved_codewords;
}

void BM_ThreeErasedCorrectOnly(benchmark::State& state) { erasure_correct_only(state, false); }
void BM_TwoErasedPlusConcealedCorrectOnly(benchmark::State& state) { erasure_correct_only(state, true); }

}  // namespace

BENCHMARK(BM_MemcpyBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CleanBlockDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreeErasedBlockDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CleanBlockCorrectOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CleanBlockErasureCorrectOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThreeErasedCorrectOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TwoErasedPlusConcealedCorrectOnly)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
