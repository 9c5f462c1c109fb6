// Packing and unpacking one frame (checksum included), in bytes of plane data
// per second, next to a plain memcpy of the same number of bytes. Goal: each at
// least a third of the memcpy rate.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "dv_template.h"
#include "frame_layout.h"
#include "../tests/test_geometry.h"

namespace {

std::vector<uint8_t> random_plane()
{
    std::vector<uint8_t> plane(PLANE_SIZE);
    std::mt19937 rng(42);
    for (auto& b : plane)
        b = static_cast<uint8_t>(rng());
    return plane;
}

FrameInfo start_info()
{
    FrameInfo info{};
    std::memcpy(info.magic, "SPOE", 4);
    info.file_index = 1;
    info.file_count = 1;
    info.final_frame = 100;
    info.dif_toggle = DIF_TOGGLE_A;
    info.vaux_id = VAUX_ID_START;
    info.audio_id = AUDIO_ID_START;
    info.video_id = VIDEO_ID_START;
    return info;
}

void BM_Memcpy(benchmark::State& state)
{
    std::vector<uint8_t> src = random_plane();
    std::vector<uint8_t> dst(PLANE_SIZE);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), PLANE_SIZE);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * PLANE_SIZE);
}
BENCHMARK(BM_Memcpy);

void BM_PackFrame(benchmark::State& state)
{
    std::vector<uint8_t> plane = random_plane();
    std::vector<uint8_t> chunk(FRAME_CHUNK_SIZE);
    build_template_frame(NTSC, chunk.data());
    FrameInfo info = start_info();
    for (auto _ : state) {
        pack_frame(NTSC, plane.data(), &info, 30, chunk.data());
        benchmark::DoNotOptimize(chunk.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * PLANE_SIZE);
}
BENCHMARK(BM_PackFrame);

void BM_UnpackFrame(benchmark::State& state)
{
    std::vector<uint8_t> plane = random_plane();
    std::vector<uint8_t> chunk(FRAME_CHUNK_SIZE);
    build_template_frame(NTSC, chunk.data());
    FrameInfo info = start_info();
    pack_frame(NTSC, plane.data(), &info, 30, chunk.data());
    std::vector<uint8_t> out(PLANE_SIZE);
    FrameRecord record{};
    for (auto _ : state) {
        unpack_frame(NTSC, chunk.data() + CHUNK_HEADER_SIZE, out.data(), &record);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(record.sum_computed);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * PLANE_SIZE);
}
BENCHMARK(BM_UnpackFrame);

}  // namespace

BENCHMARK_MAIN();
