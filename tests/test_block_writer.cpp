// The placement of frames, the block queue and the file writer: progress marks,
// restored bytes at their file offsets, correction of lost frames, "-startfile"
// and "-recurse", stored paths that are refused, the bound on a file's size,
// files that cannot be created or written, and the verification of what was
// restored. Also the stored-path rules themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "block_correct.h"
#include "block_writer.h"
#include "classifier.h"
#include "console_log.h"
#include "decoder.h"
#include "placement.h"
#include "restore_path.h"
#include "test_capture_builder.h"
#include "test_support.h"
#include "verify.h"
#include "write_behind.h"
#include "test_geometry.h"

namespace {

using capture::TapeFile;
using capture::TapeFrame;

struct ScopedCwd {
    fs::path old;
    explicit ScopedCwd(const fs::path& dir) : old(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old); }
};

std::string read_text(FILE* f)
{
    std::string text;
    std::fflush(f);
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    return text;
}

std::vector<uint8_t> file_data(size_t size, uint32_t seed) { return random_bytes(size, seed); }

// `path` written with "/" as the separator, in the platform's separators.
std::string native(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = static_cast<char>(fs::path::preferred_separator);
    return path;
}

// Size of a file whose frames run from index 0 to `last` with `short_tail` bytes
// in its last plane.
size_t size_for_planes(int planes, size_t short_tail)
{
    return FIRST_PLANE_DATA + static_cast<size_t>(planes - 2) * PLANE_SIZE + short_tail;
}

// The suite runs twice: with the files written on the decoder's thread, and
// (BRIM_TEST_WRITE_BEHIND set) behind it on a thread of their own.
DecoderOptions writing_behind()
{
    DecoderOptions options;
    options.write_behind = std::getenv("BRIM_TEST_WRITE_BEHIND") != nullptr;
    return options;
}

// Drives a Decoder as brimread does: every frame packed into a DV frame and
// pushed, then the run finished; the console and the log as the programs' sink
// renders them.
class BlockWriter : public testing::Test {
protected:
    TempDir dir;
    fs::path work = dir.path / "work";
    DecoderOptions options = writing_behind();   // set by a test before its first frame
    Decoder* d = nullptr;
    FILE* log_file = nullptr;
    ConsoleLogSink sink;
    capture::Packer packer;
    std::vector<uint8_t> frame = std::vector<uint8_t>(DV_FRAME_SIZE);
    bool started = false;

    void SetUp() override
    {
        fs::create_directory(work);
        fs::current_path(work);
        d = decoder_create();
        ASSERT_NE(d, nullptr);
        log_file = std::tmpfile();
        sink.set_log(log_file);
        sink.show_queue_of(d);
    }

    void TearDown() override
    {
        decoder_stop(*d);
        decoder_destroy(d);
        std::fclose(log_file);
        fs::current_path(old_cwd);
    }

    void start()
    {
        if (started)
            return;
        Alignment from_the_start{};
        from_the_start.file_index = 1;
        from_the_start.anchored = 1;
        decoder_start(*d, options, from_the_start, &sink);
        started = true;
    }

    // Pushes one received frame. `original` is the plane the encoder wrote when
    // the received one differs: the header then holds the original's checksum.
    DecodeStatus feed(const TapeFrame& f, const std::vector<uint8_t>* original = nullptr)
    {
        start();
        TapeFrame written = f;
        if (original)
            written.plane = *original;
        const std::vector<uint8_t>& chunk = packer.pack(written);
        std::memcpy(frame.data(), chunk.data() + CHUNK_HEADER_SIZE, DV_FRAME_SIZE);
        for (int i = 0; original && i < PAYLOAD_BLOCKS; ++i)
            std::memcpy(frame.data() + PAYLOAD_BLOCK_FRAME_OFFSETS[i] + PAYLOAD_BLOCK_OFFSET,
                        f.plane.data() + static_cast<size_t>(i) * PAYLOAD_BLOCK_BYTES, PAYLOAD_BLOCK_BYTES);
        return decoder_push_frame(*d, frame.data());
    }

    DecodeStatus finish()
    {
        start();
        return decoder_finish(*d);
    }

    // Feeds every frame, frame 0 of each file four times (the fourth is accepted).
    void feed_all(const std::vector<TapeFrame>& frames, std::vector<int> skip = {})
    {
        for (size_t i = 0; i < frames.size(); ++i) {
            bool skipped = false;
            for (int s : skip)
                skipped = skipped || static_cast<size_t>(s) == i;
            if (skipped)
                continue;
            for (int c = 0; c < (frames[i].frame_index == 0 ? 4 : 1); ++c)
                ASSERT_EQ(feed(frames[i]), DecodeStatus::Ok);
        }
    }

    std::string run_all(const std::vector<TapeFrame>& frames, std::vector<int> skip = {})
    {
        testing::internal::CaptureStdout();
        feed_all(frames, skip);
        EXPECT_EQ(finish(), DecodeStatus::Ok);
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    std::string log_text() { return read_text(log_file); }
    const VerifyTotals& verify() const { return d->verify; }

private:
    fs::path old_cwd = fs::current_path();
};

TEST_F(BlockWriter, CleanBlockMarksEveryFrameAndRestoresTheFiles)
{
    // 25 frames (indices 0..24), then a one-plane file and the closing padding.
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(25, 5000), 1)}, {"b.bin", file_data(5000, 2)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    ASSERT_EQ(frames.size(), 72u);
    std::string console = run_all(frames);

    const std::string marks =
        "\nWriting to a.bin (25 Frames): 0.........10.........20...24"
        "\nWriting to b.bin (47 Frames): 0.........10.........20.........30........";
    EXPECT_EQ(console, "\ndump_eccblock():" + marks);
    EXPECT_EQ(log_text(), marks);
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(read_file(work / "b.bin"), files[1].data);
    EXPECT_EQ(verify().files, 2);
    EXPECT_EQ(verify().intact, 2);
    EXPECT_EQ(queued_planes(d->queue), 0);
}

TEST_F(BlockWriter, LostFrameIsRebuiltAndMarkedByEachCopy)
{
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(30, 7000), 3)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    std::string console = run_all(frames, {3});   // frame 3 lost

    EXPECT_NE(console.find(": 0..-.\nZerobytes = 102524, RealBytes = 102524-.\nZerobytes = 102524, RealBytes = "
                           "102524.....10"),
              std::string::npos)
        << console;
    std::string log = log_text();
    EXPECT_NE(log.find(": 0..\ndump_eccblock() : Dropped_frame 1-.\ndump_eccblock() : Dropped_frame 1-......10"),
              std::string::npos)
        << log;
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(verify().intact, 1);
}

TEST_F(BlockWriter, WithoutCorrectionTheFillerStaysAndTheFileIsReportedDamaged)
{
    options.correct = false;
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(30, 7000), 4)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    run_all(frames, {3});
    std::vector<uint8_t> got = read_file(work / "a.bin");
    ASSERT_EQ(got.size(), files[0].data.size());
    EXPECT_NE(got, files[0].data);
    EXPECT_EQ(verify().files, 1);
    EXPECT_EQ(verify().intact, 0);
    EXPECT_EQ(verify().damaged[0].planes_failed, 1);
}

TEST_F(BlockWriter, DamagedFrameIsStarredAndCorrected)
{
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(12, 100), 5)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    const std::vector<uint8_t> original = frames[5].plane;
    frames[5].plane[1000] ^= 0x5A;   // damaged on tape; its header still holds the sum of the original
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < frames.size(); ++i)
        for (int c = 0; c < (frames[i].frame_index == 0 ? 4 : 1); ++c)
            ASSERT_EQ(feed(frames[i], i == 5 ? &original : nullptr), DecodeStatus::Ok);
    ASSERT_EQ(finish(), DecodeStatus::Ok);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find(": 0....*....10."), std::string::npos) << console;
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(verify().intact, 1);
}

TEST_F(BlockWriter, FramesLostAtTheEndOfAFileKeepTheBlockAligned)
{
    // File a's last two data frames are lost; b's frame 0 reports them.
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(10, 9000), 6)},
                                   {"b.bin", file_data(size_for_planes(3, 50), 7)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    std::string console = run_all(frames, {8, 9});
    EXPECT_NE(console.find(": 0.......--\nZerobytes = " + std::to_string(PLANE_SIZE + 9000) +
                           ", RealBytes = 0--\nZerobytes = " + std::to_string(PLANE_SIZE + 9000) +
                           ", RealBytes = 0\nWriting to b.bin"),
              std::string::npos)
        << console;
    // b's frames keep their block positions; the two lost frames are known
    // erasures, which the block rebuilds.
    EXPECT_EQ(read_file(work / "b.bin"), files[1].data);
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(verify().files, 2);
    EXPECT_EQ(verify().intact, 2);
}

TEST_F(BlockWriter, MoreLostThanTheBlockRebuildsDamagesOnlyTheFilesHit)
{
    // Ten frames of a lost: beyond the code (the checks may still determine
    // some of them). b, received whole in the same block, is still written; its
    // hash proves it intact; a is reported.
    std::vector<TapeFile> files = capture::with_records({{"a.bin", file_data(size_for_planes(20, 9000), 40)},
                                                         {"b.bin", file_data(size_for_planes(3, 50), 41)}});
    std::vector<TapeFrame> frames = capture::build_tape(files);
    run_all(frames, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    EXPECT_EQ(read_file(work / "b.bin"), files[1].data);
    EXPECT_EQ(fs::file_size(work / "a.bin"), files[0].data.size());
    EXPECT_EQ(verify().files, 2);
    EXPECT_EQ(verify().intact, 1);
    ASSERT_EQ(verify().listed, 1);
    EXPECT_STREQ(verify().damaged[0].name, "a.bin");
    EXPECT_GE(verify().damaged[0].planes_failed, 1);
    EXPECT_LE(verify().damaged[0].planes_failed, 10);
}

TEST_F(BlockWriter, WithoutRecordsAFrameTheParityCannotCheckIsNotVerified)
{
    // The same on a tape without records: the ten erasures leave no check for
    // b's planes beyond their checksums, so b is not called intact.
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(20, 9000), 40)},
                                   {"b.bin", file_data(size_for_planes(3, 50), 41)}};
    run_all(capture::build_tape(files), {2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    EXPECT_EQ(read_file(work / "b.bin"), files[1].data);
    EXPECT_EQ(verify().intact, 0);
    ASSERT_EQ(verify().listed, 2);
    EXPECT_STREQ(verify().damaged[1].name, "b.bin");
    EXPECT_EQ(verify().damaged[1].unverified, 1);
    EXPECT_EQ(verify().damaged[1].parity_disagrees, 0);
}

TEST_F(BlockWriter, InputEndingInsideABlockCompletesItWithFillers)
{
    // The input stops three frames before the end of the only block: the lost
    // frames (padding and parity) are erasures, and the block is written.
    std::vector<TapeFile> files = capture::with_records({{"a.bin", file_data(size_for_planes(20, 9000), 42)}});
    std::vector<TapeFrame> frames = capture::build_tape(files);
    frames.resize(frames.size() - 3);
    testing::internal::CaptureStdout();
    feed_all(frames);
    EXPECT_EQ(queued_planes(d->queue), ECC_N - 3);
    EXPECT_TRUE(placement_inside_block(*d));
    EXPECT_EQ(finish(), DecodeStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(queued_planes(d->queue), 0);
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(verify().intact, 1);
}

TEST_F(BlockWriter, FirstFrameAcceptedWithoutFourCopiesTakesTheBestCopy)
{
    // Frame 0 arrives twice, the first copy damaged: never accepted, so the
    // position gets the copy whose checksum matches when frame 1 comes.
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(5, 300), 43)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    TapeFrame damaged = frames[0];
    damaged.plane[HEADER_AREA_SIZE + 5] ^= 0x21;
    testing::internal::CaptureStdout();
    ASSERT_EQ(feed(damaged, &frames[0].plane), DecodeStatus::Ok);
    ASSERT_EQ(feed(frames[0]), DecodeStatus::Ok);
    for (size_t i = 1; i < frames.size(); ++i)
        ASSERT_EQ(feed(frames[i]), DecodeStatus::Ok);
    ASSERT_EQ(finish(), DecodeStatus::Ok);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("\nWriting to a.bin (72 Frames): 0...."), std::string::npos) << console;
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(verify().intact, 1);
}

TEST_F(BlockWriter, LostLastFramesAreRebuiltWhereTheCodeAllows)
{
    // One frame lost in each block: the last of a file (reported by the next
    // file's frame 0), and the one before a file's last (the gap ends at the
    // last frame, whose header counts only its own short tail).
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(10, 9000), 35)},
                                   {"c.bin", file_data(size_for_planes(60, 100), 36)},
                                   {"b.bin", file_data(size_for_planes(4, 43492), 37)},
                                   {"d.bin", file_data(size_for_planes(5, 700), 38)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    ASSERT_EQ(frames[9].file_index, 1);
    ASSERT_EQ(frames[9].frame_index, 9);    // a's last frame, first block
    ASSERT_EQ(frames[80].file_index, 3);
    ASSERT_EQ(frames[80].frame_index, 2);   // b's frame 2 of 0..3, second block
    std::string console = run_all(frames, {9, 80});
    for (const TapeFile& f : files)
        EXPECT_EQ(read_file(work / f.path), f.data) << f.path;
    EXPECT_EQ(verify().intact, 4) << console;
}

TEST_F(BlockWriter, StartfileSkipsEarlierFilesIgnoringCase)
{
    std::strcpy(options.start_name, "C.BIN");
    std::vector<TapeFile> files = {{"a.bin", file_data(3000, 8)}, {"b.bin", file_data(4000, 9)},
                                   {"c.bin", file_data(5000, 10)}, {"d.bin", file_data(6000, 11)}};
    std::string console = run_all(capture::build_tape(files));
    EXPECT_NE(console.find("\nWriting to a.bin (1 Frames): 0"), std::string::npos);
    EXPECT_NE(console.find("\nWriting to b.bin (1 Frames): 0"), std::string::npos);
    EXPECT_FALSE(fs::exists(work / "a.bin"));
    EXPECT_FALSE(fs::exists(work / "b.bin"));
    EXPECT_EQ(read_file(work / "c.bin"), files[2].data);
    EXPECT_EQ(read_file(work / "d.bin"), files[3].data);
    EXPECT_EQ(verify().files, 2);
}

TEST_F(BlockWriter, RecurseRecreatesDirectoriesBelowTheCurrentOne)
{
    options.recurse = true;
    std::strcpy(options.start_name, "\\A\\b\\F.TXT");   // the full stored path, any case
    std::vector<TapeFile> files = {{"\\skip\\me.txt", file_data(100, 12)},
                                   {"\\a\\b\\f.txt", file_data(200, 13)},
                                   {"plain.txt", file_data(300, 14)}};
    std::string console = run_all(capture::build_tape(files));
    EXPECT_NE(console.find(native("\nmkdir_recursive( 'skip/' ) : 'mkdir \"skip\"'")), std::string::npos);
    EXPECT_NE(console.find(native("\nmkdir_recursive( 'a/b/' ) : 'mkdir \"a\"'\nmkdir_recursive( 'a/b/' ) : 'mkdir "
                                  "\"a/b\"'\nWriting to a/b/f.txt (1 Frames): 0")),
              std::string::npos)
        << console;
    EXPECT_TRUE(fs::is_directory(work / "skip"));   // created although the file is skipped
    EXPECT_FALSE(fs::exists(work / "skip" / "me.txt"));
    EXPECT_EQ(read_file(work / "a" / "b" / "f.txt"), files[1].data);
    EXPECT_EQ(read_file(work / "plain.txt"), files[2].data);
}

TEST_F(BlockWriter, WithoutRecurseOnlyTheBaseNameIsUsed)
{
    std::vector<TapeFile> files = {{"\\x\\same.txt", file_data(100, 15)}, {"\\y\\same.txt", file_data(200, 16)},
                                   {"..\\..\\up.txt", file_data(300, 17)}};
    std::string console = run_all(capture::build_tape(files));
    EXPECT_EQ(console.find("mkdir"), std::string::npos);
    // The later one does not replace the earlier: it is reported as not written.
    EXPECT_EQ(read_file(work / "same.txt"), files[0].data);
    ASSERT_GE(verify().listed, 1);
    EXPECT_EQ(verify().damaged[0].state, OUTPUT_NAME_TAKEN);
    EXPECT_STREQ(verify().damaged[0].name, "\\y\\same.txt");
    EXPECT_STREQ(verify().damaged[0].taken_by, "same.txt");
    EXPECT_EQ(read_file(work / "up.txt"), files[2].data);
    EXPECT_FALSE(fs::exists(dir.path / "up.txt"));
}

TEST_F(BlockWriter, UnsafeStoredPathsAreRefusedAndTheRunGoesOn)
{
    options.recurse = true;
    std::vector<TapeFile> files = {{"..\\..\\evil.txt", file_data(100, 18)},
                                   {"\\a\\..\\..\\evil2.txt", file_data(100, 19)},
                                   {"a/../../evil3.txt", file_data(100, 20)},
                                   {"\\\\server\\share.txt", file_data(100, 21)},
                                   {"dir\\", file_data(100, 22)},
                                   {"", file_data(100, 23)},
                                   {std::string(PATH_FIELD_SIZE, 'A'), file_data(100, 24)},
                                   {"x\\..", file_data(100, 25)},
                                   {"good.txt", file_data(100, 26)}};
    std::string console = run_all(capture::build_tape(files));
    EXPECT_NE(console.find("\ndump_eccblock() : refusing stored path '..\\..\\evil.txt' (the path leads outside "
                           "the current directory); nothing is written for it\n\nWriting to ..\\..\\evil.txt (1 "
                           "Frames): 0"),
              std::string::npos)
        << console;
    EXPECT_NE(log_text().find("refusing stored path 'a/../../evil3.txt' (a name holds a character that file names "
                              "here cannot hold)"),
              std::string::npos);
    EXPECT_EQ(read_file(work / "good.txt"), files.back().data);
    // Nothing beside the working directory, and in it only the good file and
    // the directories of the refused paths' safe prefixes (none were made).
    std::vector<std::string> outside, inside;
    for (const auto& e : fs::directory_iterator(dir.path))
        outside.push_back(e.path().filename().string());
    for (const auto& e : fs::recursive_directory_iterator(work))
        inside.push_back(e.path().lexically_relative(work).string());
    EXPECT_EQ(outside, std::vector<std::string>{"work"});
    EXPECT_EQ(inside, std::vector<std::string>{"good.txt"});
    EXPECT_EQ(verify().files, 9);
    EXPECT_EQ(verify().intact, 1);
    EXPECT_EQ(verify().damaged[0].state, OUTPUT_REFUSED);
}

TEST_F(BlockWriter, FileNeverGrowsBeyondItsAnnouncedSize)
{
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(6, 500), 27)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    const int64_t announced = 1000;
    for (TapeFrame& f : frames)
        if (f.frame_index == 0)
            f.bytes_remaining = announced;   // later frames still claim their full planes
        else
            f.bytes_remaining += 50 * PLANE_SIZE;
    // A gap in the middle: the lost frames' headers would claim more still.
    run_all(frames, {3, 4});
    EXPECT_EQ(fs::file_size(work / "a.bin"), static_cast<uintmax_t>(announced));
}

TEST_F(BlockWriter, FileThatCannotBeCreatedIsSkippedAndTheRunGoesOn)
{
    fs::create_directory(work / "b.bin");   // a directory where the file should go
    std::vector<TapeFile> files = {{"a.bin", file_data(100, 28)}, {"b.bin", file_data(200, 29)},
                                   {"c.bin", file_data(300, 30)}};
    std::string console = run_all(capture::build_tape(files));
    EXPECT_NE(console.find("Error opening output file 'b.bin'!\n\nWriting to b.bin (1 Frames): 0"), std::string::npos)
        << console;
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    EXPECT_EQ(read_file(work / "c.bin"), files[2].data);
    EXPECT_EQ(verify().files, 3);
    EXPECT_EQ(verify().intact, 2);
    EXPECT_EQ(verify().damaged[0].state, OUTPUT_OPEN_FAILED);
}

TEST_F(BlockWriter, WriteFailureIsReported)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    fs::create_symlink("/dev/full", work / "a.bin");
    std::vector<TapeFile> files = {{"a.bin", file_data(size_for_planes(3, 100), 31)}};
    testing::internal::CaptureStdout();
    DecodeStatus result = DecodeStatus::Ok;
    for (const TapeFrame& f : capture::build_tape(files))
        for (int c = 0; c < (f.frame_index == 0 ? 4 : 1) && result == DecodeStatus::Ok; ++c)
            result = feed(f);
    if (result == DecodeStatus::Ok)
        result = finish();
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, DecodeStatus::WriteFailed);
    EXPECT_NE(console.find("\ndump_eccblock() : cannot write 'a.bin': "), std::string::npos) << console;
}

// Collects what a decoder tells, as a program other than brimread would.
class RecordingSink final : public EventSink {
public:
    std::string messages;
    std::string marks;
    std::vector<std::string> verdicts;
    int statistics_seen = 0;

    void message(Severity, const char* text) override { messages += text; }
    void frame_mark(const char* mark) override { marks += mark; }
    void capture_end(const char*) override {}
    void file_verdict(const RestoredFile& file) override
    {
        verdicts.push_back(std::string(file.name) + (file_intact(&file) ? " intact" : " damaged"));
    }
    void statistics(const DecodeStats&, int64_t) override { ++statistics_seen; }
    void verification(const VerifyTotals&) override {}
};

TEST_F(BlockWriter, TheDecoderTellsItsSinkAndPrintsNothing)
{
    RecordingSink recording;
    Alignment from_the_start{};
    from_the_start.file_index = 1;
    from_the_start.anchored = true;
    decoder_start(*d, options, from_the_start, &recording);
    started = true;
    std::vector<TapeFile> files = capture::with_records({{"a.bin", file_data(size_for_planes(30, 7000), 50)},
                                                         {"b.bin", file_data(900, 51)}});
    testing::internal::CaptureStdout();
    feed_all(capture::build_tape(files), {3});
    EXPECT_EQ(finish(), DecodeStatus::Ok);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log_text(), "");
    EXPECT_NE(recording.messages.find("\nWriting to a.bin (30 Frames): 0"), std::string::npos) << recording.messages;
    EXPECT_NE(recording.marks.find("..-."), std::string::npos) << recording.marks;
    EXPECT_EQ(recording.verdicts, (std::vector<std::string>{"a.bin intact", "b.bin intact"}));
    EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
}

TEST_F(BlockWriter, ADecoderStartsEachRunAfresh)
{
    // A run that stops inside a block and with a file open, then a second run
    // over another tape with the same decoder: nothing of the first carries over.
    std::vector<TapeFile> first = {{"x.bin", file_data(size_for_planes(40, 100), 52)}};
    std::vector<TapeFrame> cut = capture::build_tape(first);
    cut.resize(20);
    testing::internal::CaptureStdout();
    feed_all(cut);
    decoder_stop(*d);
    started = false;
    std::vector<TapeFile> second = {{"y.bin", file_data(size_for_planes(5, 300), 53)}, {"z.bin", file_data(70, 54)}};
    feed_all(capture::build_tape(second));
    EXPECT_EQ(finish(), DecodeStatus::Ok);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(read_file(work / "y.bin"), second[0].data);
    EXPECT_EQ(read_file(work / "z.bin"), second[1].data);
    EXPECT_EQ(verify().files, 2);
    EXPECT_EQ(verify().intact, 2);
    EXPECT_EQ(queued_planes(d->queue), 0);
}

// The writer's modes for a second program: each restores (or only verifies) the
// same two files and leaves exactly what it says.
struct WriterMode {
    const char* label;
    bool dry_run;
    bool temporary_names;
    bool restore_metadata;
    bool keep_existing;
};

class WriterModes : public BlockWriter, public testing::WithParamInterface<WriterMode> {};

TEST_P(WriterModes, LeaveWhatTheySay)
{
    const WriterMode m = GetParam();
    options.dry_run = m.dry_run;
    options.temporary_names = m.temporary_names;
    options.restore_metadata = m.restore_metadata;
    options.keep_existing = m.keep_existing;
    const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
    write_file(work / "b.bin", mine);   // an existing file of the second one's name
    std::vector<TapeFile> files = capture::with_records({{"a.bin", file_data(size_for_planes(4, 100), 60)},
                                                         {"b.bin", file_data(700, 61)}});
    run_all(capture::build_tape(files));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(work))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, m.dry_run ? std::vector<std::string>{"b.bin"} : (std::vector<std::string>{"a.bin", "b.bin"}));
    EXPECT_EQ(read_file(work / "b.bin"), m.dry_run || m.keep_existing ? mine : files[1].data);
    if (!m.dry_run) {
        EXPECT_EQ(read_file(work / "a.bin"), files[0].data);
    }
    EXPECT_EQ(verify().files, 2);
    EXPECT_EQ(verify().intact, m.keep_existing ? 1 : 2);
    if (m.keep_existing) {
        EXPECT_EQ(verify().damaged[0].state, OUTPUT_EXISTS);
    }
    if (m.restore_metadata) {
        // The test tapes' records hold time 0 (1970) and permission bits 0644.
        write_file(dir.path / "now", mine);
        EXPECT_LT(fs::last_write_time(work / "a.bin"), fs::last_write_time(dir.path / "now"));
#ifndef _WIN32
        EXPECT_EQ(fs::status(work / "a.bin").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
#endif
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WriterModes,
                         testing::Values(WriterMode{"verify_only", true, false, false, false},
                                         WriterMode{"temporary_names", false, true, false, false},
                                         WriterMode{"times_and_permissions", false, true, true, false},
                                         WriterMode{"keep_existing", false, true, false, true}),
                         [](const testing::TestParamInfo<WriterMode>& i) { return std::string(i.param.label); });

// Writes and holes, many more than the queue holds at once, come out in order
// at their offsets; the first failure stops the writing and is kept.
TEST(WriteBehind, WritesInOrderAroundTheRingAndKeepsTheFirstFailure)
{
    TempDir dir;
    auto w = std::make_unique<WriteBehind>();
    ASSERT_TRUE(write_behind_start(w.get()));
    const std::vector<uint8_t> bytes = random_bytes(4096, 70);
    std::vector<uint8_t> expected;
    FILE* out = std::fopen((dir.path / "out").string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    for (int i = 0; i < 3 * WRITE_BEHIND_OPS; ++i) {
        const int64_t count = 1 + (i * 37) % 4000;
        if (i % 5 == 4) {
            write_behind_queue(w.get(), out, nullptr, count);
            expected.insert(expected.end(), static_cast<size_t>(count), 0);
        } else {
            write_behind_queue(w.get(), out, bytes.data() + i % 96, count);
            expected.insert(expected.end(), bytes.begin() + i % 96, bytes.begin() + i % 96 + count);
        }
    }
    write_behind_queue(w.get(), out, bytes.data(), 1);   // a hole at the end needs a byte behind it
    expected.push_back(bytes[0]);
    EXPECT_EQ(write_behind_wait(w.get(), write_behind_mark(w.get())), 0);
    std::fclose(out);
    EXPECT_EQ(read_file(dir.path / "out"), expected);

    // A stream opened for reading refuses writes: the failure is kept, and what
    // was queued behind it is passed over.
    ASSERT_TRUE(write_behind_start(w.get()));
    FILE* refusing = std::fopen((dir.path / "out").string().c_str(), "rb");
    ASSERT_NE(refusing, nullptr);
    for (int i = 0; i < 10; ++i)
        write_behind_queue(w.get(), refusing, bytes.data(), 100);
    EXPECT_NE(write_behind_wait(w.get(), write_behind_mark(w.get())), 0);
    EXPECT_NE(write_behind_wait(w.get(), 0), 0) << "kept until the next run";
    std::fclose(refusing);
    ASSERT_TRUE(write_behind_start(w.get()));
    EXPECT_EQ(write_behind_wait(w.get(), write_behind_mark(w.get())), 0);
    write_behind_stop(w.get());
}

TEST(PositionBytes, FromTheFileSizeOrInferredFromTheBytesBehindTheData)
{
    FileTrack t{};
    t.start = 10;
    t.last = 3;
    t.size = FIRST_PLANE_DATA + 500;
    t.file_index = 1;
    t.file_count = 2;
    std::vector<uint8_t> plane(PLANE_SIZE, 7);
    std::vector<uint8_t> previous(PLANE_SIZE, 7);
    int inferred = 0;
    PositionBytes b = position_bytes(NTSC, &t, 0, plane.data(), nullptr, PLANE_FULL, &inferred);
    EXPECT_EQ(b.offset, 0);
    EXPECT_EQ(b.count, FIRST_PLANE_DATA);
    EXPECT_EQ(b.plane_start, HEADER_AREA_SIZE);
    b = position_bytes(NTSC, &t, 1, plane.data(), nullptr, PLANE_FULL, &inferred);
    EXPECT_EQ(b.offset, FIRST_PLANE_DATA);
    EXPECT_EQ(b.count, 500);
    EXPECT_EQ(position_bytes(NTSC, &t, 2, plane.data(), nullptr, PLANE_FULL, &inferred).count, 0);   // padding
    EXPECT_EQ(inferred, 0);

    // Size unknown: full planes before the last, the last one's data ending at
    // its last byte that differs from the data plane before it.
    t.size = -1;
    EXPECT_EQ(position_bytes(NTSC, &t, 0, plane.data(), previous.data(), PLANE_FULL, &inferred).count, FIRST_PLANE_DATA);
    EXPECT_EQ(inferred, 0);
    plane[HEADER_AREA_SIZE + 1233] = 8;
    b = position_bytes(NTSC, &t, 0, plane.data(), previous.data(), PLANE_LAST, &inferred);
    EXPECT_EQ(b.count, 1234);
    EXPECT_EQ(inferred, 1);
    EXPECT_EQ(position_bytes(NTSC, &t, 0, plane.data(), nullptr, PLANE_LAST, &inferred).count, FIRST_PLANE_DATA);
    EXPECT_EQ(position_bytes(NTSC, &t, 0, plane.data(), previous.data(), PLANE_NONE, &inferred).count, 0);
}

// ---------------------------------------------------------------- stored paths

RestorePath path_of(const std::string& text, int recurse)
{
    std::vector<uint8_t> plane(PLANE_SIZE, 0);
    std::memcpy(plane.data(), text.data(), std::min<size_t>(text.size(), PATH_FIELD_SIZE));
    RestorePath p;
    restore_path_from_plane(plane.data(), recurse, &p);
    return p;
}

TEST(RestorePathRules, RecurseKeepsTheTreeBelowTheCurrentDirectory)
{
    RestorePath p = path_of("\\dir\\sub\\file.txt", 1);
    EXPECT_EQ(p.verdict, PATH_OK);
    EXPECT_EQ(p.output, native("dir/sub/file.txt"));
    EXPECT_EQ(p.directory, native("dir/sub/"));
    EXPECT_STREQ(p.compare_name, "\\dir\\sub\\file.txt");
    p = path_of("dir\\file.txt", 1);
    EXPECT_EQ(p.output, native("dir/file.txt"));
    p = path_of("file.txt", 1);
    EXPECT_STREQ(p.output, "file.txt");
    EXPECT_STREQ(p.directory, "");
    p = path_of("\\.\\a.txt", 1);   // "." as a directory stays where it is
    EXPECT_EQ(p.verdict, PATH_OK);
}

TEST(RestorePathRules, BaseNameWithoutRecurse)
{
    RestorePath p = path_of("\\dir\\..\\file.txt", 0);
    EXPECT_EQ(p.verdict, PATH_OK);
    EXPECT_STREQ(p.output, "file.txt");
    EXPECT_STREQ(p.compare_name, "file.txt");
    EXPECT_STREQ(p.directory, "");
}

TEST(RestorePathRules, RefusedPaths)
{
    struct Case {
        std::string path;
        int recurse;
        int verdict;
    } cases[] = {
        {"..\\x", 1, PATH_PARENT},        {"\\a\\..\\..\\x", 1, PATH_PARENT},
        {"a\\..", 1, PATH_DOT_NAME},      {"x\\..", 0, PATH_DOT_NAME},
        {"x\\.", 0, PATH_DOT_NAME},       {".", 1, PATH_DOT_NAME},
        {"", 0, PATH_EMPTY_NAME},         {"", 1, PATH_EMPTY_NAME},
        {"dir\\", 0, PATH_EMPTY_NAME},    {"\\\\srv\\x", 1, PATH_EMPTY_NAME},
        {"a\\\\b", 1, PATH_EMPTY_NAME},   {"\\", 1, PATH_EMPTY_NAME},
        {"a/b", 0, PATH_BAD_CHARACTER},   {"/etc/x", 1, PATH_BAD_CHARACTER},
        {std::string(PATH_FIELD_SIZE, 'A'), 0, PATH_UNTERMINATED},
    };
    for (const Case& c : cases) {
        RestorePath p = path_of(c.path, c.recurse);
        EXPECT_EQ(p.verdict, c.verdict) << "'" << c.path << "' recurse " << c.recurse;
        EXPECT_STREQ(p.output, "");
    }
}

TEST(RestorePathRules, MkdirCreatesEachPrefixInOrder)
{
    TempDir dir;
    ScopedCwd cwd(dir.path);
    testing::internal::CaptureStdout();
    ConsoleLogSink sink;
    mkdir_recursive(native("one/two/three/").c_str(), &sink);
    mkdir_recursive(native("one/").c_str(), &sink);   // existing: nothing reported beyond its line
    mkdir_recursive("", &sink);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console, native("\nmkdir_recursive( 'one/two/three/' ) : 'mkdir \"one\"'"
                              "\nmkdir_recursive( 'one/two/three/' ) : 'mkdir \"one/two\"'"
                              "\nmkdir_recursive( 'one/two/three/' ) : 'mkdir \"one/two/three\"'"
                              "\nmkdir_recursive( 'one/' ) : 'mkdir \"one\"'"));
    EXPECT_TRUE(fs::is_directory(dir.path / "one" / "two" / "three"));
    EXPECT_EQ(names_equal_nocase("Data.TS.0005", "data.ts.0005"), 1);
    EXPECT_EQ(names_equal_nocase("data", "data1"), 0);
}

TEST(RestorePathRules, NamesThatThisPlatformWouldNotKeepAsGiven)
{
    // Device names (any case, any extension) and names that Windows trims.
    const char* const devices[] = {"nul", "AUX.txt", "dir\\Con", "com1.bin", "LPT9", "nul.tar.gz", "prn .x",
                                   "com\xC2\xB9", "conin$", "CONOUT$.txt"};
    const char* const endings[] = {"a.", "b ", "dir.\\x", "dir \\x"};
    const char* const ordinary[] = {"com10", "console.txt", "nullish", "xnul", "auxiliary\\lpt", "a.b", "...a"};
    for (const char* name : devices) {
        RestorePath p = path_of(name, 1);
#ifdef _WIN32
        EXPECT_EQ(p.verdict, PATH_DEVICE_NAME) << name;
        EXPECT_STREQ(p.output, "") << name;
#else
        EXPECT_EQ(p.verdict, PATH_OK) << name;   // ordinary names on POSIX systems
#endif
    }
    for (const char* name : endings) {
        RestorePath p = path_of(name, 1);
#ifdef _WIN32
        EXPECT_EQ(p.verdict, PATH_BAD_ENDING) << name;
#else
        EXPECT_EQ(p.verdict, PATH_OK) << name;
#endif
    }
    for (const char* name : ordinary)
        EXPECT_EQ(path_of(name, 1).verdict, PATH_OK) << name;
    EXPECT_EQ(path_of("\\.\\a.txt", 1).verdict, PATH_OK);   // "." as a directory is no trailing dot
    EXPECT_STREQ(path_verdict_text(PATH_DEVICE_NAME), "a name is that of a device here");
    EXPECT_STREQ(path_verdict_text(PATH_BAD_ENDING), "a name ends in a dot or a space, which file names here drop");
}

TEST_F(BlockWriter, NamesOutsideAsciiAndDeviceNames)
{
    options.recurse = true;
    std::vector<TapeFile> files = {{"r\xC3\xA9pertoire\\\xCE\xB5.bin", file_data(7000, 28)},
                                   {"na\xC3\xAFve_\xE6\x97\xA5.bin", file_data(500, 29)},
                                   {"nul", file_data(100, 30)},
                                   {"d\\aux.txt", file_data(100, 31)}};
    std::string console = run_all(capture::build_tape(files));
    // Stored names are UTF-8 and come back as the same names.
    EXPECT_EQ(read_file(work / fs::u8path("r\xC3\xA9pertoire/\xCE\xB5.bin")), files[0].data) << console;
    EXPECT_EQ(read_file(work / fs::u8path("na\xC3\xAFve_\xE6\x97\xA5.bin")), files[1].data);
#ifdef _WIN32
    // A device would swallow the data while the run reported it written.
    EXPECT_NE(console.find("\ndump_eccblock() : refusing stored path 'nul' (a name is that of a device here); "
                           "nothing is written for it\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("refusing stored path 'd\\aux.txt' (a name is that of a device here)"), std::string::npos);
    EXPECT_EQ(verify().intact, 2);
    ASSERT_EQ(verify().listed, 2);
    EXPECT_EQ(verify().damaged[0].state, OUTPUT_REFUSED);
    EXPECT_EQ(verify().damaged[0].path_verdict, PATH_DEVICE_NAME);
#else
    EXPECT_EQ(read_file(work / "nul"), files[2].data);
    EXPECT_EQ(read_file(work / "d" / "aux.txt"), files[3].data);
    EXPECT_EQ(verify().intact, 4);
#endif
}

}  // namespace
