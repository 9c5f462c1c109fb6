// The AVI writer: header fields from the planned count, repeated first frames,
// the index, file boundaries and names, and failing creates and writes.
#include <gtest/gtest.h>

#include <cstring>

#include "avi_writer.h"
#include "console_log.h"
#include "plan.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

struct InDirectory {
    explicit InDirectory(const fs::path& dir) : previous(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(previous); }
    fs::path previous;
};

uint32_t u32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint32_t u16(const std::vector<uint8_t>& bytes, size_t at) { return bytes[at] | bytes[at + 1] << 8; }

std::string id(const std::vector<uint8_t>& bytes, size_t at)
{
    return std::string(reinterpret_cast<const char*>(&bytes[at]), 4);
}

EncodePlan plan_for(std::vector<int32_t> avi_frames, int32_t repeat0)
{
    EncodePlan plan;
    set_plan_defaults(&plan);
    plan.repeat0 = repeat0;
    plan.avi_count = static_cast<int32_t>(avi_frames.size());
    plan.avi_frames.assign(1, 0);
    plan.avi_frames.insert(plan.avi_frames.end(), avi_frames.begin(), avi_frames.end());
    return plan;
}

// A frame chunk whose bytes tell frames apart.
std::vector<uint8_t> chunk(uint8_t mark)
{
    std::vector<uint8_t> bytes(FRAME_CHUNK_SIZE, mark);
    std::memcpy(bytes.data(), "00dc", 4);
    bytes[4] = 0xC0;
    bytes[5] = 0xD4;
    bytes[6] = 0x01;
    bytes[7] = 0x00;
    return bytes;
}

FrameInfo frame_with_index(int32_t frame_index)
{
    FrameInfo info{};
    info.frame_index = frame_index;
    return info;
}

// Writes one frame; returns 1 when the writer succeeded, -1 when it failed, and its console output.
int write(const std::vector<uint8_t>& frame, int32_t frame_index, EncodePlan* plan, FILE** avi, std::string* console)
{
    const FrameInfo info = frame_with_index(frame_index);
    ConsoleLogSink sink;
    testing::internal::CaptureStdout();
    const bool written = write_avi_frame(frame.data(), &info, plan, avi, &sink);
    *console = testing::internal::GetCapturedStdout();
    return written ? 1 : -1;
}

size_t chunk_at(size_t frame) { return AVI_HEADER_SIZE + frame * FRAME_CHUNK_SIZE; }

void expect_index(const std::vector<uint8_t>& file, uint32_t frames)
{
    const size_t at = chunk_at(frames);
    ASSERT_EQ(file.size(), at + AVI_INDEX_HEADER_SIZE + frames * AVI_INDEX_ENTRY_SIZE);
    EXPECT_EQ(id(file, at), "idx1");
    EXPECT_EQ(u32(file, at + 4), frames * AVI_INDEX_ENTRY_SIZE);
    for (uint32_t i = 0; i < frames; i++) {
        const size_t entry = at + AVI_INDEX_HEADER_SIZE + i * AVI_INDEX_ENTRY_SIZE;
        EXPECT_EQ(id(file, entry), "00dc");
        EXPECT_EQ(u32(file, entry + 4), 0x10u);
        EXPECT_EQ(u32(file, entry + 8), 4 + i * FRAME_CHUNK_SIZE);
        EXPECT_EQ(u32(file, entry + 12), static_cast<uint32_t>(DV_FRAME_SIZE));
    }
}

}  // namespace

TEST(AviHeader, EveryFieldOfTheFileHeader)
{
    std::vector<uint8_t> h(AVI_HEADER_SIZE, 0xEE);
    avi_build_header(NTSC, 3, h.data());
    EXPECT_EQ(id(h, 0), "RIFF");
    EXPECT_EQ(u32(h, 4), 120024u * 3 + 224);
    EXPECT_EQ(id(h, 8), "AVI ");
    EXPECT_EQ(id(h, 12), "LIST");
    EXPECT_EQ(u32(h, 16), 192u);
    EXPECT_EQ(id(h, 20), "hdrl");
    EXPECT_EQ(id(h, 24), "avih");
    EXPECT_EQ(u32(h, 28), 56u);
    EXPECT_EQ(u32(h, 32), 33367u);
    EXPECT_EQ(u32(h, 36), 0u);
    EXPECT_EQ(u32(h, 40), 0u);
    EXPECT_EQ(u32(h, 44), 0x110u);
    EXPECT_EQ(u32(h, 48), 3u);
    EXPECT_EQ(u32(h, 52), 0u);
    EXPECT_EQ(u32(h, 56), 1u);
    EXPECT_EQ(u32(h, 60), 120000u);
    EXPECT_EQ(u32(h, 64), 720u);
    EXPECT_EQ(u32(h, 68), 480u);
    for (size_t i = 72; i < 88; i++)
        EXPECT_EQ(h[i], 0) << i;
    EXPECT_EQ(id(h, 88), "LIST");
    EXPECT_EQ(u32(h, 92), 116u);
    EXPECT_EQ(id(h, 96), "strl");
    EXPECT_EQ(id(h, 100), "strh");
    EXPECT_EQ(u32(h, 104), 56u);
    EXPECT_EQ(id(h, 108), "vids");
    EXPECT_EQ(id(h, 112), "dvsd");
    EXPECT_EQ(u32(h, 116), 0u);
    EXPECT_EQ(u16(h, 120), 0u);
    EXPECT_EQ(u16(h, 122), 0u);
    EXPECT_EQ(u32(h, 124), 0u);
    EXPECT_EQ(u32(h, 128), 1001u);
    EXPECT_EQ(u32(h, 132), 30000u);
    EXPECT_EQ(u32(h, 136), 0u);
    EXPECT_EQ(u32(h, 140), 3u);
    EXPECT_EQ(u32(h, 144), 120000u);
    EXPECT_EQ(u32(h, 148), 10000u);
    EXPECT_EQ(u32(h, 152), 0u);
    EXPECT_EQ(u16(h, 156), 0u);
    EXPECT_EQ(u16(h, 158), 0u);
    EXPECT_EQ(u16(h, 160), 720u);
    EXPECT_EQ(u16(h, 162), 480u);
    EXPECT_EQ(id(h, 164), "strf");
    EXPECT_EQ(u32(h, 168), 40u);
    EXPECT_EQ(u32(h, 172), 40u);
    EXPECT_EQ(u32(h, 176), 720u);
    EXPECT_EQ(u32(h, 180), 480u);
    EXPECT_EQ(u16(h, 184), 1u);
    EXPECT_EQ(u16(h, 186), 24u);
    EXPECT_EQ(id(h, 188), "dvsd");
    EXPECT_EQ(u32(h, 192), 120000u);
    for (size_t i = 196; i < 212; i++)
        EXPECT_EQ(h[i], 0) << i;
    EXPECT_EQ(id(h, 212), "LIST");
    EXPECT_EQ(u32(h, 216), 120008u * 3 + 4);
    EXPECT_EQ(id(h, 220), "movi");

    // The default budget stays below 2^31; the largest count allowed still fits 32 bits.
    avi_build_header(NTSC, DEFAULT_AVISIZE, h.data());
    EXPECT_EQ(u32(h, 4) + 8, 1904661088u);
    EXPECT_LE(uint64_t{120024} * avi_max_frames(NTSC) + 224, uint64_t{UINT32_MAX});
    EXPECT_GT(uint64_t{120024} * (avi_max_frames(NTSC) + 1) + 224, uint64_t{UINT32_MAX});
}

TEST(AviWriter, FirstFrameRepeatsAndIndexCoversEveryChunk)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({32}, DEFAULT_REPEAT0);
    FILE* avi = nullptr;
    std::string console;
    const std::vector<uint8_t> first = chunk(0x11);
    const std::vector<uint8_t> second = chunk(0x22);

    EXPECT_EQ(write(first, 0, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "(Outputting to DV000001.avi)");
    EXPECT_EQ(plan.CAVIFcnt, 30);
    ASSERT_NE(avi, nullptr);
    EXPECT_EQ(write(second, 1, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "");
    EXPECT_EQ(write(second, 2, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "\nCloseAVIfile() : closing AVIfile[1] at frame#32!");
    EXPECT_EQ(avi, nullptr);
    EXPECT_EQ(plan.avi_current, 2);
    EXPECT_EQ(plan.CAVIFcnt, 0);

    const std::vector<uint8_t> file = read_file("DV000001.avi");
    ASSERT_EQ(file.size(), 232u + 120024u * 32);
    std::vector<uint8_t> header(AVI_HEADER_SIZE);
    avi_build_header(NTSC, 32, header.data());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
    for (size_t i = 0; i < 32; i++) {
        const std::vector<uint8_t>& expected = i < 30 ? first : second;
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + chunk_at(i))) << i;
    }
    expect_index(file, 32);
}

TEST(AviWriter, OneFrameFile)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({1}, DEFAULT_REPEAT0);
    FILE* avi = nullptr;
    std::string console;
    EXPECT_EQ(write(chunk(0x33), 5, &plan, &avi, &console), 1);
    const std::vector<uint8_t> file = read_file("DV000001.avi");
    ASSERT_EQ(file.size(), 120256u);
    EXPECT_EQ(u32(file, 4), 120248u);
    EXPECT_EQ(u32(file, 216), 120012u);
    EXPECT_EQ(u32(file, chunk_at(1) + 4), 16u);
    expect_index(file, 1);
}

TEST(AviWriter, CopiesOfAFirstFrameContinueInTheNextFile)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({20, 12}, DEFAULT_REPEAT0);
    FILE* avi = nullptr;
    std::string console;
    EXPECT_EQ(write(chunk(0x44), 0, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "(Outputting to DV000001.avi)\nCloseAVIfile() : closing AVIfile[1] at frame#20!"
                       "(Outputting to DV000002.avi)");
    EXPECT_EQ(plan.CAVIFcnt, 10);
    EXPECT_EQ(write(chunk(0x55), 1, &plan, &avi, &console), 1);
    EXPECT_EQ(write(chunk(0x55), 2, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "\nCloseAVIfile() : closing AVIfile[2] at frame#12!");
    expect_index(read_file("DV000001.avi"), 20);
    const std::vector<uint8_t> second = read_file("DV000002.avi");
    expect_index(second, 12);
    EXPECT_EQ(u32(second, 48), 12u);
    EXPECT_EQ(second[chunk_at(9) + 100], 0x44);
    EXPECT_EQ(second[chunk_at(10) + 100], 0x55);
}

TEST(AviWriter, FileNamesGrowPastSixDigits)
{
    char name[AVI_NAME_SIZE];
    avi_file_name(1, name);
    EXPECT_STREQ(name, "DV000001.avi");
    avi_file_name(10, name);
    EXPECT_STREQ(name, "DV000010.avi");
    avi_file_name(1234567, name);
    EXPECT_STREQ(name, "DV1234567.avi");

    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, 1);
    plan.avi_current = 9;
    FILE* avi = nullptr;
    std::string console;
    write(chunk(1), 3, &plan, &avi, &console);
    write(chunk(2), 4, &plan, &avi, &console);
    EXPECT_TRUE(fs::exists("DV000009.avi"));
    EXPECT_TRUE(fs::exists("DV000010.avi"));
}

TEST(AviWriter, NoCopyOfAFirstFrameWithRepeatZero)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({1}, 0);
    FILE* avi = nullptr;
    std::string console;
    EXPECT_EQ(write(chunk(1), 0, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "");
    EXPECT_EQ(avi, nullptr);
    EXPECT_FALSE(fs::exists("DV000001.avi"));
}

TEST(AviWriter, FramesBeyondAZeroPlanAreReportedAndIndexed)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    EncodePlan plan = plan_for({0}, 1);
    FILE* avi = nullptr;
    std::string console;
    EXPECT_EQ(write(chunk(1), 1, &plan, &avi, &console), 1);
    EXPECT_EQ(console, "(Outputting to DV000001.avi)\nCloseAVIfile() : closing AVIfile[1] at frame#1!"
                       "\nCloseAVIfile() : UH OH, AVIfile[1] should only have 0 frames!");
    const std::vector<uint8_t> file = read_file("DV000001.avi");
    EXPECT_EQ(u32(file, 48), 0u);
    expect_index(file, 1);
    // A frame past the end of the plan opens a file planned for none.
    EXPECT_EQ(write(chunk(1), 2, &plan, &avi, &console), 1);
    EXPECT_NE(console.find("UH OH, AVIfile[2] should only have 0 frames!"), std::string::npos);
}

TEST(AviWriter, FailureToCreateOrWriteStopsWithTheReason)
{
    TempDir tmp;
    InDirectory in(tmp.path);
    fs::create_directory("DV000001.avi");
    EncodePlan plan = plan_for({5}, 1);
    FILE* avi = nullptr;
    std::string console;
    EXPECT_EQ(write(chunk(1), 0, &plan, &avi, &console), -1);
    // The reason is the system's own text.
#ifdef _WIN32
    EXPECT_EQ(console.rfind("\nwrite_avi_frame() : cannot create DV000001.avi: ", 0), 0u) << console;
#else
    EXPECT_EQ(console, "\nwrite_avi_frame() : cannot create DV000001.avi: Is a directory\n");
#endif
    EXPECT_EQ(avi, nullptr);

    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    fs::remove("DV000001.avi");
    fs::create_symlink("/dev/full", "DV000001.avi");
    EncodePlan full = plan_for({40}, 1);
    int result = 1;
    for (int frame = 1; frame <= 40 && result == 1; frame++)
        result = write(chunk(1), frame, &full, &avi, &console);
    EXPECT_EQ(result, -1);
    EXPECT_NE(console.find("cannot write DV000001.avi: No space left on device\n"), std::string::npos) << console;
    EXPECT_EQ(avi, nullptr);
}
