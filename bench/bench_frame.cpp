// Packing and unpacking one frame (checksum included), in bytes of plane data
// per second, next to a plain memcpy of the same number of bytes, for each video
// system (the argument: 0 for 525/60, 1 for 625/50). Goal: each at least a
// third of the memcpy rate.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "dv_template.h"
#include "frame_layout.h"

namespace {

const VideoSystem& system_of(const benchmark::State& state) { return *VIDEO_SYSTEMS[state.range(0)]; }

std::vector<uint8_t> random_plane(const VideoSystem& v)
{
    std::vector<uint8_t> plane(static_cast<size_t>(v.plane_size));
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
    const VideoSystem& v = system_of(state);
    std::vector<uint8_t> src = random_plane(v);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * v.plane_size);
}
BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1);

void BM_PackFrame(benchmark::State& state)
{
    const VideoSystem& v = system_of(state);
    std::vector<uint8_t> plane = random_plane(v);
    std::vector<uint8_t> chunk(static_cast<size_t>(v.chunk_size));
    build_template_frame(v, chunk.data());
    FrameInfo info = start_info();
    for (auto _ : state) {
        pack_frame(v, plane.data(), &info, 30, chunk.data());
        benchmark::DoNotOptimize(chunk.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * v.plane_size);
}
BENCHMARK(BM_PackFrame)->Arg(0)->Arg(1);

void BM_UnpackFrame(benchmark::State& state)
{
    const VideoSystem& v = system_of(state);
    std::vector<uint8_t> plane = random_plane(v);
    std::vector<uint8_t> chunk(static_cast<size_t>(v.chunk_size));
    build_template_frame(v, chunk.data());
    FrameInfo info = start_info();
    pack_frame(v, plane.data(), &info, 30, chunk.data());
    std::vector<uint8_t> out(plane.size());
    FrameRecord record{};
    for (auto _ : state) {
        unpack_frame(v, chunk.data() + CHUNK_HEADER_SIZE, out.data(), &record);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(record.sum_computed);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * v.plane_size);
}
BENCHMARK(BM_UnpackFrame)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
