// Counting of the encode plan: planes per file, parity frames, the closing ECC
// block and the division of the frames among AVI files, checked without disk.
#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "avi_writer.h"
#include "console_log.h"
#include "ecc.h"
#include "frame_layout.h"
#include "plan.h"
#include "tape_model.h"
#include "test_geometry.h"

namespace {

int64_t size_of_planes(int64_t planes) { return FIRST_PLANE_DATA + (planes - 1) * PLANE_SIZE; }

EncodePlan make_plan(int32_t repeat0 = DEFAULT_REPEAT0, int32_t avisize = DEFAULT_AVISIZE)
{
    EncodePlan plan;
    set_plan_defaults(&plan);
    plan.repeat0 = repeat0;
    plan.avisize = avisize;
    return plan;
}

std::vector<PlanInput> inputs_of(const std::vector<int64_t>& sizes)
{
    std::vector<PlanInput> inputs;
    for (size_t i = 0; i < sizes.size(); i++)
        inputs.push_back({"f" + std::to_string(i), "f" + std::to_string(i), sizes[i]});
    return inputs;
}

std::vector<int32_t> files_of(const EncodePlan& plan)
{
    return std::vector<int32_t>(plan.file_frames.begin() + 1, plan.file_frames.begin() + 1 + plan.file_count);
}

std::vector<int32_t> avis_of(const EncodePlan& plan)
{
    return std::vector<int32_t>(plan.avi_frames.begin() + 1, plan.avi_frames.begin() + 1 + plan.avi_count);
}

// Frames the run writes, file by file, counted frame by frame the way the
// encoding loop emits them.
std::vector<int64_t> simulate_run(const std::vector<int64_t>& sizes, int32_t repeat0)
{
    std::vector<int64_t> frames(sizes.size(), 0);
    int ecc_pctr = 0;
    for (size_t i = 0; i < sizes.size(); i++) {
        int64_t left = sizes[i];
        for (bool first = true; left > 0 || first; first = false) {
            left -= first ? FIRST_PLANE_DATA : PLANE_SIZE;
            frames[i] += first ? repeat0 : 1;
            if (++ecc_pctr == ECC_K) {
                frames[i] += ECC_NMK;
                ecc_pctr = 0;
            }
        }
    }
    if (ecc_pctr > 0)
        frames.back() += (ECC_K - ecc_pctr) + ECC_NMK;
    return frames;
}

}  // namespace

TEST(PlanCounting, PlanesPerFileFollowTheFirstPlaneAndFullPlaneSizes)
{
    EXPECT_EQ(file_plane_count(NTSC, 1), 1);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA), 1);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA + 1), 2);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA + PLANE_SIZE), 2);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA + PLANE_SIZE + 1), 3);
    EXPECT_EQ(file_plane_count(NTSC, 250000), 3);
    EXPECT_EQ(file_plane_count(NTSC, 3000000000LL), 1 + (3000000000LL - FIRST_PLANE_DATA + PLANE_SIZE - 1) / PLANE_SIZE);
}

TEST(PlanCounting, SingleFileOfTheOverview)
{
    EncodePlan plan = make_plan();
    EXPECT_EQ(build_plan(&plan, inputs_of({250000})), 3);
    EXPECT_EQ(plan.file_count, 1);
    EXPECT_EQ(files_of(plan), std::vector<int32_t>({101}));  // 30 + 2 + 69
    EXPECT_EQ(avis_of(plan), std::vector<int32_t>({101}));
    EXPECT_EQ(plan.file_size[1], 250000);
    EXPECT_EQ(plan.file_name[1], "f0");

    // One plane or two: the closing block makes up the difference.
    for (int64_t size : {int64_t{1}, int64_t{FIRST_PLANE_DATA}, int64_t{FIRST_PLANE_DATA + 1}}) {
        EncodePlan one = make_plan();
        build_plan(&one, inputs_of({size}));
        EXPECT_EQ(files_of(one), std::vector<int32_t>({101})) << size;
    }
}

TEST(PlanCounting, RepeatCountOfFirstFrame)
{
    for (int32_t repeat0 : {0, 1, 5, 30, 80}) {
        EncodePlan plan = make_plan(repeat0);
        EXPECT_EQ(build_plan(&plan, inputs_of({FIRST_PLANE_DATA})), 1);
        EXPECT_EQ(files_of(plan), std::vector<int32_t>({repeat0 + ECC_N - 1})) << repeat0;
        EXPECT_EQ(avis_of(plan), files_of(plan));
    }
}

TEST(PlanCounting, ParityFramesBelongToTheFileWhosePlaneCompletesTheBlock)
{
    // 30 + 30 + 10 planes: the 64th plane is the third file's fourth.
    EncodePlan plan = make_plan();
    EXPECT_EQ(build_plan(&plan, inputs_of({size_of_planes(30), size_of_planes(30), size_of_planes(10)})), 6);
    EXPECT_EQ(files_of(plan), std::vector<int32_t>({59, 59, 30 + 9 + 8 + 66}));

    // Exactly 64 planes in all: no closing block, the parity goes with the last plane.
    EncodePlan exact = make_plan();
    EXPECT_EQ(build_plan(&exact, inputs_of({size_of_planes(32), size_of_planes(32)})), 0);
    EXPECT_EQ(files_of(exact), std::vector<int32_t>({61, 61 + 8}));
    EncodePlan single = make_plan();
    EXPECT_EQ(build_plan(&single, inputs_of({size_of_planes(64)})), 0);
    EXPECT_EQ(files_of(single), std::vector<int32_t>({30 + 63 + 8}));

    // A file completing a block in its middle and the next block starting in it.
    EncodePlan middle = make_plan();
    EXPECT_EQ(build_plan(&middle, inputs_of({size_of_planes(10), size_of_planes(100)})), 46);
    EXPECT_EQ(files_of(middle), std::vector<int32_t>({39, 30 + 99 + 8 + (ECC_N - 46)}));
}

TEST(PlanCounting, AviBudgetSplitsFramesAcrossFiles)
{
    // The first file fills the first AVI file exactly and stays there; the second
    // overshoots the budget by an exact multiple, then the closing block follows.
    EncodePlan plan = make_plan(DEFAULT_REPEAT0, 59);
    EXPECT_EQ(build_plan(&plan, inputs_of({size_of_planes(30), size_of_planes(30)})), 60);
    EXPECT_EQ(files_of(plan), std::vector<int32_t>({59, 59 + 12}));
    EXPECT_EQ(avis_of(plan), std::vector<int32_t>({59, 59, 12}));

    // Without a closing block, such a total leaves an empty last AVI entry.
    EncodePlan empty_last = make_plan(DEFAULT_REPEAT0, 65);
    EXPECT_EQ(build_plan(&empty_last, inputs_of({size_of_planes(30), size_of_planes(34)})), 0);
    EXPECT_EQ(files_of(empty_last), std::vector<int32_t>({59, 30 + 33 + 8}));
    EXPECT_EQ(avis_of(empty_last), std::vector<int32_t>({65, 65, 0}));

    // ... which the next file fills.
    EncodePlan filled = make_plan(DEFAULT_REPEAT0, 65);
    build_plan(&filled, inputs_of({size_of_planes(30), size_of_planes(34), 1}));
    EXPECT_EQ(avis_of(filled), std::vector<int32_t>({65, 65, 30 + 71}));

    // The closing block is not subject to the budget: the last AVI file may exceed it by up to 71.
    EncodePlan over = make_plan(DEFAULT_REPEAT0, 100);
    build_plan(&over, inputs_of({1}));
    EXPECT_EQ(avis_of(over), std::vector<int32_t>({101}));

    // A budget of one frame gives every frame its own AVI file.
    EncodePlan tiny = make_plan(2, 1);
    build_plan(&tiny, inputs_of({size_of_planes(2)}));
    EXPECT_EQ(tiny.avi_count, 4);
    EXPECT_EQ(avis_of(tiny), std::vector<int32_t>({1, 1, 1, 0 + 70}));
}

TEST(PlanCounting, AviFilesOver2GiBAreNamedInTheReport)
{
    // 17,892 frames keep a file within 2 GiB - 1; the plan is the one place that
    // knows every file's count, the last one's closing block included.
    EXPECT_EQ(avi_portable_frames(NTSC), 17892);
    EncodePlan plan = make_plan(DEFAULT_REPEAT0, avi_portable_frames(NTSC) + 1);
    build_plan(&plan, inputs_of({size_of_planes(avi_portable_frames(NTSC)), size_of_planes(20)}));
    ASSERT_GT(avis_of(plan)[0], avi_portable_frames(NTSC));
    ConsoleLogSink console;
    testing::internal::CaptureStdout();
    report_plan(&plan, &console);
    const std::string report = testing::internal::GetCapturedStdout();
    EXPECT_NE(report.find("(Warning: DV000001.avi will be over 2 GiB; some DV tools read AVI 1.0 files only up to 2 "
                          "GiB: -avisize 17821 keeps every file below)\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("DV000002.avi will be over"), std::string::npos);
}

TEST(PlanCounting, MultiFileRunAcrossEccAndAviBoundaries)
{
    EncodePlan plan = make_plan(4, 23);
    EXPECT_EQ(build_plan(&plan, inputs_of({size_of_planes(20), size_of_planes(50), 1})), 7);
    EXPECT_EQ(files_of(plan), std::vector<int32_t>({23, 61, 69}));
    EXPECT_EQ(avis_of(plan), std::vector<int32_t>({23, 23, 23, 84}));
}

TEST(PlanCounting, TablesHoldAnyNumberOfFilesAndLargeSizes)
{
    std::vector<int64_t> sizes(500, 1000);
    sizes[250] = 3000000000LL;  // beyond 2 GiB: the size is kept whole
    EncodePlan plan = make_plan(1, 50);
    build_plan(&plan, inputs_of(sizes));
    EXPECT_EQ(plan.file_count, 500);
    EXPECT_EQ(plan.file_size[251], 3000000000LL);
    const std::vector<int64_t> expected = simulate_run(sizes, 1);
    for (size_t i = 0; i < sizes.size(); i++)
        ASSERT_EQ(plan.file_frames[i + 1], expected[i]) << i;
    EXPECT_GT(plan.avi_count, 399);
}

TEST(PlanCounting, PlanMatchesTheFramesOfTheRunForRandomInputs)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; round++) {
        const int32_t repeat0 = static_cast<int32_t>(rng() % 40);
        const int32_t avisize = 1 + static_cast<int32_t>(rng() % 300);
        std::vector<int64_t> sizes(1 + rng() % 12);
        for (int64_t& size : sizes)
            size = 1 + static_cast<int64_t>(rng() % (40 * PLANE_SIZE));
        EncodePlan plan = make_plan(repeat0, avisize);
        build_plan(&plan, inputs_of(sizes));

        const std::vector<int64_t> expected = simulate_run(sizes, repeat0);
        for (size_t i = 0; i < sizes.size(); i++)
            ASSERT_EQ(plan.file_frames[i + 1], expected[i]) << "round " << round << " file " << i;
        const int64_t total = std::accumulate(expected.begin(), expected.end(), int64_t{0});
        const std::vector<int32_t> avis = avis_of(plan);
        ASSERT_EQ(std::accumulate(avis.begin(), avis.end(), int64_t{0}), total) << round;
        for (size_t k = 0; k + 1 < avis.size(); k++)
            ASSERT_EQ(avis[k], avisize) << round;
        ASSERT_LE(avis.back(), avisize + ECC_N - 1) << round;
        ASSERT_LE(static_cast<size_t>(plan.avi_count) + 1, plan.avi_frames.size());
    }
}

TEST(PlanCounting, EmptyInputLeavesAnEmptyPlan)
{
    EncodePlan plan = make_plan();
    EXPECT_EQ(build_plan(&plan, {}), 0);
    EXPECT_EQ(plan.file_count, 0);
    EXPECT_EQ(plan.avi_count, 1);
    EXPECT_EQ(plan.avi_frames[1], 0);
}

TEST(PlanLimits, LargestFileFitsTheFrameIndexField)
{
    EXPECT_LE(file_frame_index_bound(NTSC, MAX_INPUT_SIZE), MAX_FRAME_INDEX);
    // The bound covers a file placed anywhere in the blocks, with its closing frames.
    for (int64_t planes : {1, 63, 64, 65, 1000}) {
        const int64_t size = size_of_planes(planes);
        for (int64_t before : {0, 1, 63}) {
            EncodePlan plan = make_plan(7);
            std::vector<int64_t> sizes;
            if (before)
                sizes.push_back(size_of_planes(before));
            sizes.push_back(size);
            build_plan(&plan, inputs_of(sizes));
            EXPECT_LE(plan.file_frames[plan.file_count], file_frames_bound(NTSC, size, 7)) << planes << " " << before;
        }
    }
}

TEST(PlanExclusions, ReservedNamesMatchTheTailOfTheStoredPathExactly)
{
    for (const char* name : {"SPOOFDIR", "SPOOFDI2", "SPOOFDI3", "DVFRAME_NTSC", "Brimwritelog.txt",
                             "MYSPOOFDIR", "\\home\\ana\\SPOOFDIR", "data\\Brimwritelog.txt"})
        EXPECT_EQ(is_reserved_name(name), 1) << name;
    for (const char* name : {"spoofdir", "SPOOFDIR.txt", "POOFDIR", "brimwritelog.txt", "DVFRAME_NTSC2", ""})
        EXPECT_EQ(is_reserved_name(name), 0) << name;
}
