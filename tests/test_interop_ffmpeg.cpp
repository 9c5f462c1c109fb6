// ffmpeg as an independent DV implementation: it must read brimwrite's AVI
// files as DV video of their system (NTSC, or PAL with -pal), and whatever it writes from them (its own AVI files,
// raw DV streams that it assembles frame by frame, joined or split recordings),
// with or without a faulty capture in between, must restore byte for byte.
// Every test is skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame_layout.h"
#include "test_support.h"

namespace {

constexpr int REPEAT0 = 10;          // fewer copies of each first frame keep the recordings small
constexpr int ALPHA_SIZE = 350000;   // 4 planes
constexpr int BETA_SIZE = 150000;    // 2 planes
constexpr int NOTES_LINES = 1500;
constexpr int EXIT_COMPLETED = 1;    // brimwrite's and brimread's status after a full run

// The recording's frames, in the order that brimwrite writes them (files sorted
// by stored name: alpha.bin, notes.txt, sub\beta.dat): alpha.bin's 10 copies of
// its first frame are frames 0..9 and its further planes frames 10..12.
constexpr int ALPHA_PLANE1 = REPEAT0;
constexpr int ALPHA_PLANE2 = REPEAT0 + 1;
constexpr int ALPHA_PLANE3 = REPEAT0 + 2;
constexpr int PLANNED_FRAMES = 99;   // 3 x 10 copies, 4 further planes, 57 padding, 8 parity

const char* const FFMPEG = "ffmpeg -nostdin -hide_banner -loglevel fatal -y ";

std::string text_lines(int count)
{
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "line " + std::to_string(i) + " of the notes, with a tab\there\n";
    return text;
}

// One encoded recording in a fresh directory: the inputs, the template and
// brimwrite's AVI files, then whatever each test makes of them.
class InteropTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_program("ffmpeg") || !have_program("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed as the independent DV implementation";
        copy_template(dir.path);
        inputs = {
            {"alpha.bin", random_bytes(ALPHA_SIZE, 61)},
            {"notes.txt", {}},
            {"sub/beta.dat", random_bytes(BETA_SIZE, 62)},
        };
        const std::string notes = text_lines(NOTES_LINES);
        inputs[1].second.assign(notes.begin(), notes.end());
        for (const auto& input : inputs)
            write_file(dir.path / input.first, input.second);
    }

    // Encodes the inputs; extra options go before the patterns.
    void encode(const std::string& options = "")
    {
        const RunResult r = run_in(dir.path, shell_quote(program("brimwrite")) + " -repeat0 " +
                                                 std::to_string(REPEAT0) + " " + options +
                                                 " alpha.bin notes.txt 'sub/*'");
        ASSERT_EQ(r.status, EXIT_COMPLETED) << r.output;
    }

    void ffmpeg(const std::string& arguments)
    {
        const RunResult r = run_in(dir.path, FFMPEG + arguments);
        ASSERT_EQ(r.status, 0) << "ffmpeg " << arguments << "\n" << r.output;
    }

    void capsim(const std::string& arguments)
    {
        const RunResult r = run_in(dir.path, shell_quote(program("capsim")) + " " + arguments);
        ASSERT_EQ(r.status, 0) << r.output;
    }

    // Restores from `first_file` into a fresh directory and compares every input.
    void expect_restored(const std::string& first_file)
    {
        const fs::path out = dir.path / ("restored-" + std::to_string(++restores));
        fs::create_directory(out);
        const RunResult r =
            run_in(out, shell_quote(program("brimread")) + " -recurse " + shell_quote((dir.path / first_file).string()));
        EXPECT_EQ(r.status, EXIT_COMPLETED) << r.output;
        for (const auto& input : inputs) {
            const fs::path restored = out / input.first;
            ASSERT_TRUE(fs::exists(restored)) << input.first << " not restored from " << first_file << "\n"
                                               << r.output;
            EXPECT_TRUE(read_file(restored) == input.second) << input.first << " differs, from " << first_file;
        }
    }

    uint64_t size_of(const std::string& name) { return fs::file_size(dir.path / name); }

    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
    int restores = 0;
};

// ffprobe's view of DV000001.avi: one DV video stream of the system's picture
// size and rate, with every planned frame.
void expect_dv_stream(const fs::path& dir, const char* height, const char* rate)
{
    const RunResult r = run_in(dir,
                               "ffprobe -v error -count_frames -select_streams v -show_entries "
                               "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of default=nw=1 "
                               "DV000001.avi");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("codec_name=dvvideo"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("width=720"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(std::string("height=") + height), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(std::string("r_frame_rate=") + rate), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("nb_read_frames=" + std::to_string(PLANNED_FRAMES)), std::string::npos) << r.output;
}

TEST_F(InteropTest, FfprobeReadsBrimwriteAviAsNtscDvVideo)
{
    encode();
    expect_dv_stream(dir.path, "480", "30000/1001");
}

// The same inputs as 625/50 frames: fewer planes (3 + 1 + 2 instead of 4 + 1 +
// 2), one more padding frame, so the same 99 frames.
TEST_F(InteropTest, FfprobeReadsBrimwritePalAviAs625_50DvVideo)
{
    copy_template(dir.path, PAL);
    encode("-pal");
    expect_dv_stream(dir.path, "576", "25/1");
}

TEST_F(InteropTest, PalRemuxedByFfmpegAsAviAndRawDvRestores)
{
    copy_template(dir.path, PAL);
    encode("-pal");
    ffmpeg("-i DV000001.avi -c copy -f avi REMUX0001.avi");
    expect_restored("REMUX0001.avi");
    ffmpeg("-i DV000001.avi -c copy -f dv tape.dv");
    ASSERT_EQ(size_of("tape.dv"), static_cast<uint64_t>(PLANNED_FRAMES) * PAL.frame_size);
    expect_restored("tape.dv");
}

TEST_F(InteropTest, AviRemuxedByFfmpegRestores)
{
    encode();
    ffmpeg("-i DV000001.avi -c copy -f avi REMUX0001.avi");
    expect_restored("REMUX0001.avi");
}

TEST_F(InteropTest, RawDvWrittenByFfmpegRestores)
{
    encode();
    // ffmpeg's DV muxer builds every frame anew (its own subcode and VAUX), so
    // only the payload and the header block come through from brimwrite.
    ffmpeg("-i DV000001.avi -c copy -f dv tape.dv");
    ASSERT_EQ(size_of("tape.dv"), static_cast<uint64_t>(PLANNED_FRAMES) * DV_FRAME_SIZE);
    expect_restored("tape.dv");
}

TEST_F(InteropTest, RawDvNameEndingInUpperCaseRestores)
{
    encode();
    ffmpeg("-i DV000001.avi -c copy -f dv TAPE.DV");
    expect_restored("TAPE.DV");
}

TEST_F(InteropTest, AviFilesJoinedByFfmpegRestore)
{
    // Several AVI files recorded back to back make one continuous capture.
    encode("-avisize 12");
    ASSERT_TRUE(fs::exists(dir.path / "DV000002.avi"));
    std::string list;
    for (int k = 1; fs::exists(dir.path / ("DV00000" + std::to_string(k) + ".avi")); ++k)
        list += "file 'DV00000" + std::to_string(k) + ".avi'\n";
    write_file(dir.path / "list.txt", std::vector<uint8_t>(list.begin(), list.end()));
    ffmpeg("-f concat -safe 0 -i list.txt -c copy joined.avi");
    expect_restored("joined.avi");
}

TEST_F(InteropTest, CaptureSplitByFfmpegSegmentsRestores)
{
    // ffmpeg's segment muxer splits a capture into numbered files, as capture
    // programs do at their size limit; the reader follows the numbers.
    encode();
    ffmpeg("-i DV000001.avi -c copy -f segment -segment_time 1 -segment_start_number 1 PART%04d.avi");
    ASSERT_TRUE(fs::exists(dir.path / "PART0003.avi"));
    expect_restored("PART0001.avi");
}

TEST_F(InteropTest, FaultyCaptureRemuxedByFfmpegRestores)
{
    // A capture with a lost and a repeated data frame, PCM audio chunks between
    // the frames and splits every 3 MB, each part then remuxed by ffmpeg with
    // both its streams (ffmpeg writes its own chunk order and index).
    encode();
    capsim("-o SCENE0001.avi -split 3m -drop " + std::to_string(ALPHA_PLANE2) + " -dup " +
           std::to_string(ALPHA_PLANE1) + " DV000001.avi");
    ASSERT_TRUE(fs::exists(dir.path / "SCENE0003.avi"));
    for (int k = 1; fs::exists(dir.path / ("SCENE000" + std::to_string(k) + ".avi")); ++k) {
        const std::string n = std::to_string(k);
        ffmpeg("-i SCENE000" + n + ".avi -map 0 -c copy REMUX000" + n + ".avi");
    }
    expect_restored("REMUX0001.avi");
}

TEST_F(InteropTest, FaultyRawDvCaptureOfFfmpegStreamRestores)
{
    // ffmpeg's raw DV stream played through a faulty tape: a damaged data frame,
    // garbage before a frame and a split, captured as raw DV.
    encode();
    ffmpeg("-i DV000001.avi -c copy -f dv tape.dv");
    capsim("-raw -o capture0001.dv -split 4m -damage " + std::to_string(ALPHA_PLANE3) + " -garbage " +
           std::to_string(ALPHA_PLANE1) + " tape.dv");
    ASSERT_TRUE(fs::exists(dir.path / "capture0002.dv"));
    expect_restored("capture0001.dv");
}

TEST_F(InteropTest, RawDvWithLostFrameRemuxedIntoAviByFfmpegRestores)
{
    // The other way round: a raw DV capture that lost a frame, wrapped by ffmpeg
    // into an AVI file as a capture program's export would be.
    encode();
    capsim("-raw -o lost0001.dv -drop " + std::to_string(ALPHA_PLANE1) + " DV000001.avi");
    ffmpeg("-f dv -i lost0001.dv -map 0 -c copy -f avi export.avi");
    expect_restored("export.avi");
}

}  // namespace
