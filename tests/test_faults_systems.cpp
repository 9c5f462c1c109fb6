// Fault matrix, both video systems: the core scenarios of the other fault files
// run on the fixed recording written as 525/60 and as 625/50 frames, plus
// captures that mix the systems and ffmpeg remuxes of a 625/50 capture.
#include <functional>

#include "test_faults_support.h"

namespace {

using faults::at;
using faults::Recording;

// One scenario: capsim's arguments for the recording, the capture's name, and
// the damaged files the report names (none: every file restored intact).
struct Scenario {
    const char* name;
    std::function<std::string(const Recording&)> capsim_args;
    const char* capture;
    std::vector<std::string> damaged;
};

std::string drop(const Recording& r, const std::vector<int>& positions) { return "-drop " + faults::chunks(positions, r); }

int first_chunk(const Recording& r, int g) { return r.chunks_of.at(static_cast<size_t>(g)).front(); }

const std::vector<Scenario>& scenarios()
{
    static const std::vector<Scenario> list = {
        {"LostFramePerBlock", [](const Recording& r) { return drop(r, {at(0, 10), at(1, 30), at(2, 1)}); },
         "cap0001.avi", {}},
        {"Duplicates",
         [](const Recording& r) { return "-rdup 0.3 -seed 4 " + drop(r, {at(0, 20), at(1, 63), at(2, 1)}); },
         "cap0001.avi", {}},
        {"DamagedPayload",
         [](const Recording& r) { return "-damage " + faults::one_chunk({at(0, 12), at(1, 40), at(2, 2)}, r); },
         "cap0001.avi", {}},
        {"ConcealedAndMarked",
         [](const Recording& r) {
             return "-sta -conceal " + faults::one_chunk({at(0, 8), at(0, 30), at(0, 60), at(1, 1), at(1, 20),
                                                           at(1, 63), at(2, 0), at(2, 1), at(2, 4)},
                                                          r);
         },
         "cap0001.avi", {}},
        {"SplitWithAudioChunks",
         [](const Recording& r) { return "-split 7m " + drop(r, {at(0, 44), at(1, 12), at(2, 0)}); },
         "cap0001.avi", {}},
        {"RawDv", [](const Recording& r) { return "-raw -split 11m " + drop(r, {at(0, 5), at(1, 71), at(2, 4)}); },
         "cap0001.dv", {}},
        {"StartingInsideTheRecording",
         [](const Recording& r) { return "-first " + std::to_string(first_chunk(r, at(0, 2))); }, "cap0001.avi",
         {"files #1 to #2 of 8"}},
        {"ThreeErasuresPerBlock",
         [](const Recording& r) {
             return drop(r, {at(0, 20), at(0, 21), at(0, 22), at(1, 61), at(1, 62), at(1, 63), at(2, 1), at(2, 2),
                             at(2, 3)});
         },
         "cap0001.avi", {}},
    };
    return list;
}

struct SystemCase {
    const VideoSystem* system;
    size_t scenario;
};

class FaultsSystems : public testing::TestWithParam<SystemCase> {};

TEST_P(FaultsSystems, CoreScenario)
{
    const Recording& rec = faults::recording(*GetParam().system);
    const Scenario& s = scenarios().at(GetParam().scenario);
    const faults::Outcome o = faults::run_case(s.capsim_args(rec), "", s.capture, rec);
    if (s.damaged.empty())
        faults::expect_all_restored(o);
    else
        faults::expect_damaged(o, s.damaged, 8);
}

std::vector<SystemCase> all_cases()
{
    std::vector<SystemCase> cases;
    for (const VideoSystem* v : VIDEO_SYSTEMS)
        for (size_t i = 0; i < scenarios().size(); ++i)
            cases.push_back({v, i});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Both, FaultsSystems, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<SystemCase>& p) {
                             return std::string(p.param.system->id == PAL.id ? "pal_" : "ntsc_") +
                                    scenarios()[p.param.scenario].name;
                         });

TEST(FaultsSystems, TheLayoutIsTheSameInBothSystems)
{
    const Recording& ntsc = faults::recording(NTSC);
    const Recording& pal = faults::recording(PAL);
    EXPECT_EQ(pal.file_of, ntsc.file_of);
    EXPECT_EQ(pal.frame_of, ntsc.frame_of);
    // The same frame chunks, each of a 625/50 frame, with the AVI header and index.
    const size_t chunks = static_cast<size_t>(ntsc.chunks_of.back().back()) + 1;
    EXPECT_EQ(static_cast<size_t>(pal.chunks_of.back().back()) + 1, chunks);
    EXPECT_EQ(fs::file_size(pal.avi()), 224 + chunks * static_cast<size_t>(PAL.chunk_size) + 8 + chunks * 16);
}

// Raw DV frames of one recording with `other_frames` frames of `other` (another
// system, from the middle of its file a5) placed among them after frame chunk `after`.
faults::Bytes mixed_stream(const Recording& main, const Recording& other, size_t after, size_t other_frames)
{
    faults::Bytes out;
    auto append_frames = [&out](const Recording& r, size_t from, size_t count) {
        const faults::Bytes avi = read_file(r.avi());
        const size_t chunk = static_cast<size_t>(r.system.chunk_size);
        for (size_t c = from; c < from + count; ++c) {
            const uint8_t* frame = avi.data() + 224 + c * chunk + CHUNK_HEADER_SIZE;
            out.insert(out.end(), frame, frame + r.system.frame_size);
        }
    };
    const size_t total = static_cast<size_t>(main.chunks_of.back().back()) + 1;
    append_frames(main, 0, after);
    append_frames(other, static_cast<size_t>(other.chunks_of.at(at(0, 20)).front()), other_frames);
    append_frames(main, after, total - after);
    return out;
}

// Frames of the other system inside a capture are another recording's: counted
// and passed over, whichever system the capture's own recording is.
TEST(FaultsSystems, FramesOfTheOtherSystemAreForeign)
{
    for (const VideoSystem* v : VIDEO_SYSTEMS) {
        const Recording& main = faults::recording(*v);
        const Recording& other = faults::recording(v->id == PAL.id ? NTSC : PAL);
        TempDir work;
        const size_t inserted = 40;
        write_file(work.path / "mixed.dv", mixed_stream(main, other, 100, inserted));
        const fs::path out = work.path / "out";
        fs::create_directories(out);
        RunResult r = run_in(out, shell_quote(program("brimread")) + " ../mixed.dv");
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("Verified: 8 of 8 files intact"), std::string::npos) << v->name << r.output;
        EXPECT_NE(r.output.find("Not used: " + std::to_string(inserted) + " frames of another recording"),
                  std::string::npos)
            << v->name << r.output;
        for (size_t i = 0; i < main.contents.size(); ++i)
            EXPECT_EQ(read_file(out / faults::input_files(*v)[i].name), main.contents[i]) << v->name << i;
    }
}

// A 625/50 capture remuxed by ffmpeg, as an AVI file and as a raw DV stream.
TEST(FaultsSystems, Ffmpeg625_50RemuxesRestore)
{
    if (!have_program("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const Recording& rec = faults::recording(PAL);
    for (const char* target : {"-c copy -f avi remux.avi", "-c copy -f dv remux.dv"}) {
        TempDir work;
        RunResult cap = run_in(work.path, shell_quote(program("capsim")) + " -o capture.avi " +
                                              shell_quote(rec.avi().string()));
        ASSERT_EQ(cap.status, 0) << cap.output;
        RunResult remux =
            run_in(work.path, std::string("ffmpeg -v error -i capture.avi -map 0:0 ") + target);
        ASSERT_EQ(remux.status, 0) << remux.output;
        const std::string name = std::string(target).substr(std::string(target).rfind(' ') + 1);
        const fs::path out = work.path / "out";
        fs::create_directories(out);
        RunResult r = run_in(out, shell_quote(program("brimread")) + " ../" + name);
        EXPECT_NE(r.output.find("Verified: 8 of 8 files intact"), std::string::npos) << target << r.output;
        for (size_t i = 0; i < rec.contents.size(); ++i)
            EXPECT_EQ(read_file(out / faults::input_files(PAL)[i].name), rec.contents[i]) << target << i;
    }
}

}  // namespace
