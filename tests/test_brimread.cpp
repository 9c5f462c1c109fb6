// brimread as a program: its command line, and whole runs on what brimwrite
// wrote (clean, split, interleaved with audio, with lost, repeated, unreadable
// and damaged frames) and on hostile captures, comparing the restored files
// byte for byte and checking the statistics, the log and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <cstring>
#include <string>
#include <vector>

#include "test_capture_builder.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using capture::TapeFile;
using capture::TapeFrame;

constexpr int AVI_HEADER = 224;
constexpr int AVI_INDEX_ENTRY = 16;

RunResult brimwrite(const fs::path& cwd, const std::string& args)
{
    copy_template(cwd);
    return run_in(cwd, shell_quote(program("brimwrite")) + " " + args);
}

RunResult brimread(const fs::path& cwd, const std::string& args)
{
    return run_in(cwd, shell_quote(program("brimread")) + (args.empty() ? "" : " " + args));
}

// The frame chunks of an AVI file as brimwrite writes it.
std::vector<Bytes> avi_chunks(const fs::path& avi)
{
    Bytes file = read_file(avi);
    size_t frames = (file.size() - AVI_HEADER - 8) / (FRAME_CHUNK_SIZE + AVI_INDEX_ENTRY);
    std::vector<Bytes> chunks;
    for (size_t i = 0; i < frames; ++i) {
        auto at = file.begin() + AVI_HEADER + static_cast<std::ptrdiff_t>(i * FRAME_CHUNK_SIZE);
        chunks.emplace_back(at, at + FRAME_CHUNK_SIZE);
    }
    return chunks;
}

// A capture of `chunks`, optionally with an audio chunk after every frame.
void write_capture(const fs::path& path, const std::vector<Bytes>& chunks, bool audio = false)
{
    Bytes out(AVI_HEADER, 0x11);
    const Bytes audio_chunk = [] {
        Bytes a = {'0', '1', 'w', 'b', 0x08, 0x19, 0x00, 0x00};
        Bytes samples = random_bytes(6408, 99);
        a.insert(a.end(), samples.begin(), samples.end());
        return a;
    }();
    for (const Bytes& c : chunks) {
        out.insert(out.end(), c.begin(), c.end());
        if (audio)
            out.insert(out.end(), audio_chunk.begin(), audio_chunk.end());
    }
    write_file(path, out);
}

int stat(const std::string& output, const std::string& label)
{
    size_t at = output.find(label);
    EXPECT_NE(at, std::string::npos) << label;
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + label.size());
}

std::string statistics_block(int decoded, int dropped, int longest, int duplicated, int corrupted, int unrecognizable)
{
    return "\n\n\nStatistics\n----------\nTotal Frames decoded(.): " + std::to_string(decoded) +
           "\nTotal Dropped Frames(-): " + std::to_string(dropped) +
           "\n(Longest # of Consecutive Frame Drops: " + std::to_string(longest) +
           ")\nTotal Duplicated Frames(+): " + std::to_string(duplicated) +
           "\nTotal Corrupted Frames(*): " + std::to_string(corrupted) +
           "\nTotal Unrecognizable Frames(X): " + std::to_string(unrecognizable) + "\n";
}

// A log as text, its line ends read as "\n" (Windows writes "\r\n").
std::string read_text(const fs::path& path)
{
    Bytes b = read_file(path);
    std::string text;
    for (size_t i = 0; i < b.size(); ++i)
        if (!(b[i] == '\r' && i + 1 < b.size() && b[i + 1] == '\n'))
            text += static_cast<char>(b[i]);
    return text;
}

// A source directory with files encoded by brimwrite, and an empty output directory.
struct Encoded {
    TempDir dir;
    fs::path src = dir.path / "src";
    fs::path out = dir.path / "out";
    std::vector<std::pair<std::string, Bytes>> files;

    Encoded() { fs::create_directories(src); fs::create_directories(out); }

    void add(const std::string& name, size_t size, uint32_t seed)
    {
        files.push_back({name, random_bytes(size, seed)});
        write_file(src / name, files.back().second);
    }

    RunResult encode(const std::string& args)
    {
        RunResult r = brimwrite(src, args);
        EXPECT_EQ(r.status, 1) << r.output;
        return r;
    }

    void expect_restored(const fs::path& where) const
    {
        for (const auto& f : files)
            EXPECT_EQ(read_file(where / f.first), f.second) << f.first;
    }
};

// ---------------------------------------------------------------- command line

TEST(BrimreadCommandLine, NoArgumentsPrintsTheUsage)
{
    TempDir dir;
    RunResult r = brimread(dir.path, "");
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output,
              "Brimread v2.0 BETA - By Tolvane\n"
              "  (Hamming-code ECC by Verrant)\n"
              "Usage: Brimread [-throttle #msec] [-startfile filename] [-inplace] [-recurse] <First .avi file>\n\n"
              "  -throttle: NOT SUPPORTED\n"
              "  -startfile: Specifies which file to start decoding at. If the -recurse\n"
              "              parameter is also specified, the complete path of the file\n"
              "              must be specified also.\n"
              "  -inplace: Deletes the input .avi files as they are used up (to save drive\n"
              "            space)\n"
              "  -nocorrect: disable ECC-error correction (ignore parity information)\n"
              "  -recurse: Recreate files with complete filepaths. Without this parameter,\n"
              "            files are extracted to the current directory.\n\n"
              "Example: Brimread SCENE0001.avi\n"
              "Example: Brimread -startfile data.ts.0005 SCENE0002.avi\n"
              "Example: Brimread -recurse -startfile \\directory1\\file1 SCENE0003.avi\n"
              "Example: Brimread -throttle 30 DV0003.avi\n"
              "Example: Brimread -inplace scene0001.avi\n"
              "Example: Brimread -recurse scene0001.avi\n"
              "NOTE: PAL Camcorders are not supported at this time.\n");
    EXPECT_FALSE(fs::exists(dir.path / "Brimreadlog.txt"));
}

TEST(BrimreadCommandLine, NoInputFound)
{
    TempDir dir;
    for (const char* args : {"-startfile name", "missing.avi", "-nocorrect missing.avi", "-inplace -recurse"}) {
        RunResult r = brimread(dir.path, args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.output, "No Input Files Found!\n") << args;
        EXPECT_TRUE(fs::exists(dir.path / "Brimreadlog.txt"));
    }
    write_file(dir.path / "empty.avi", {});
    EXPECT_EQ(brimread(dir.path, "empty.avi").status, 0);
    write_file(dir.path / "noise.avi", random_bytes(2000000, 5));
    RunResult noise = brimread(dir.path, "noise.avi");
    EXPECT_EQ(noise.status, 0);
    EXPECT_NE(noise.output.find("No Input Files Found!\n"), std::string::npos);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Brimreadlog.txt", "empty.avi", "noise.avi"}));
}

TEST(BrimreadCommandLine, MissingValuesAndOverlongNames)
{
    TempDir dir;
    for (const char* args : {"-startfile", "-throttle", "-recurse -throttle"}) {
        RunResult r = brimread(dir.path, args);
        EXPECT_EQ(r.status, -1) << args;
        EXPECT_NE(r.output.find("needs a value"), std::string::npos) << r.output;
    }
    const std::string long_name(300, 'n');
    RunResult r = brimread(dir.path, "-startfile " + long_name + " x.avi");
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.output.find("name too long"), std::string::npos);
    EXPECT_EQ(brimread(dir.path, long_name).status, -1);
    EXPECT_FALSE(fs::exists(dir.path / "Brimreadlog.txt"));
}

// ---------------------------------------------------------------- clean runs

TEST(BrimreadRun, CleanRunRestoresEveryFileAndCountsEveryDistinctFrame)
{
    // Plane boundaries (1 byte, exactly one first plane, one byte more, full
    // planes) and an ECC block that the last file completes exactly.
    Encoded e;
    e.add("one.bin", 1, 1);
    e.add("first.bin", FIRST_PLANE_DATA, 2);
    e.add("second.bin", FIRST_PLANE_DATA + 1, 3);
    e.add("mid.bin", 400000, 4);
    e.add("zbig.bin", FIRST_PLANE_DATA + 55 * static_cast<size_t>(PLANE_SIZE), 5);
    e.encode("-repeat0 5 *.bin");
    RunResult r = brimread(e.out, "../src/DV000001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    e.expect_restored(e.out);

    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 0, 0, 0) +
                            "NOTE : THESE STATISTICS APPLY TO THE RAW AVIFILE BEFORE ECC_CORRECTION!\n\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.substr(0, r.output.find("Statistics")).find('X'), std::string::npos);
    EXPECT_NE(r.output.find("\nVerified: 5 of 5 files intact\n"), std::string::npos);
    std::string log = read_text(e.out / "Brimreadlog.txt");
    EXPECT_EQ(log.find("NOTE"), std::string::npos);
    EXPECT_NE(log.find(statistics_block(72, 0, 0, 0, 0, 0) + "\n"), std::string::npos) << log;
}

TEST(BrimreadRun, StatisticsAndLogOfASingleFile)
{
    Encoded e;
    e.add("movie.mpg", 250000, 6);
    e.encode("movie.mpg");
    RunResult r = brimread(e.out, "../src/DV000001.avi");
    ASSERT_EQ(r.status, 1);
    e.expect_restored(e.out);

    std::string marks = "\nWriting to movie.mpg (72 Frames): 0";
    for (int i = 1; i < ECC_K; ++i)
        marks += i % 10 == 0 ? std::to_string(i) : ".";
    const std::string tail = "\n250000 Bytes decoded in 0.00 minutes\n(ATSC data is ~150Mbytes/minute, so\n"
                             "performance was 0.00 X ATSC real-time)\n\nVerification\n------------\n"
                             "Verified: 1 of 1 files intact\n";
    EXPECT_EQ(r.output, "\n\n\nReadDVFrame() : (Reading from ../src/DV000001.avi) \ndump_eccblock():" + marks +
                            "\nReadDVFrame(): end...(g_ecc_n=0)" + statistics_block(72, 0, 0, 0, 0, 0) +
                            "NOTE : THESE STATISTICS APPLY TO THE RAW AVIFILE BEFORE ECC_CORRECTION!\n" + tail);
    EXPECT_EQ(read_text(e.out / "Brimreadlog.txt"), "ReadDVFrame() : \n\n\n(Reading from ../src/DV000001.avi) " +
                                                        marks + statistics_block(72, 0, 0, 0, 0, 0) + tail);
}

TEST(BrimreadRun, SplitAviFilesWithInplaceAndThrottle)
{
    Encoded e;
    e.add("a.bin", 300000, 7);
    e.add("b.bin", 700000, 8);
    e.encode("-repeat0 4 -avisize 5 *.bin");
    ASSERT_TRUE(fs::exists(e.src / "DV000004.avi"));
    RunResult r = brimread(e.out, "-throttle 30 -inplace ../src/DV000001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find("(Reading from ../src/DV000004.avi)"), std::string::npos);
    EXPECT_FALSE(fs::exists(e.src / "DV000001.avi"));
    EXPECT_FALSE(fs::exists(e.src / "DV000004.avi"));
}

TEST(BrimreadRun, OptionsAfterTheFileNameAreIgnored)
{
    Encoded e;
    e.add("a.bin", 1000, 9);
    e.encode("a.bin");
    RunResult r = brimread(e.out, "../src/DV000001.avi -inplace");
    ASSERT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(e.src / "DV000001.avi"));
    e.expect_restored(e.out);
}

TEST(BrimreadRun, NocorrectPassesOverTheArgumentAfterIt)
{
    Encoded e;
    e.add("a.bin", 1000, 31);
    e.encode("a.bin");
    RunResult r = brimread(e.out, "-nocorrect ../src/DV000001.avi");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "No Input Files Found!\n");
    EXPECT_FALSE(fs::exists(e.out / "a.bin"));
}

TEST(BrimreadRun, DisagreeingCopyOfFrameZeroRestartsTheCount)
{
    Encoded e;
    e.add("a.bin", 250000, 32);
    e.encode("-repeat0 8 a.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    chunks[2][CHUNK_HEADER_SIZE + 8 * DIF_BLOCK_SIZE + PAYLOAD_BLOCK_OFFSET + 10] ^= 0x40;   // third copy damaged
    write_capture(e.dir.path / "CAP0001.avi", chunks);
    RunResult r = brimread(e.out, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    e.expect_restored(e.out);
    const std::string reset = "\nmain() : RESET_FRAME0 @ g_ecc_n=0";
    size_t first = r.output.find(reset);
    ASSERT_NE(first, std::string::npos) << r.output;
    EXPECT_NE(r.output.find(reset, first + 1), std::string::npos);   // copies 3 and 4
    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 0, 0, 0)), std::string::npos);
}

TEST(BrimreadRun, CaptureWithAudioChunksAfterEveryFrame)
{
    Encoded e;
    e.add("a.bin", 150000, 10);
    e.add("b.bin", 20000, 11);
    e.encode("-repeat0 4 *.bin");
    write_capture(e.dir.path / "CAP0001.avi", avi_chunks(e.src / "DV000001.avi"), true);
    RunResult r = brimread(e.out, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 0, 0, 0)), std::string::npos);
}

TEST(BrimreadRun, RawDvCaptureSplitIntoNumberedFiles)
{
    Encoded e;
    e.add("a.bin", 400000, 33);
    e.add("b.bin", 30000, 34);
    e.encode("-repeat0 4 *.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    Bytes part[2];
    for (size_t i = 0; i < chunks.size(); ++i)
        part[i < 40 ? 0 : 1].insert(part[i < 40 ? 0 : 1].end(), chunks[i].begin() + CHUNK_HEADER_SIZE,
                                    chunks[i].end());
    write_file(e.dir.path / "capture-001.dv", part[0]);
    write_file(e.dir.path / "capture-002.dv", part[1]);
    RunResult r = brimread(e.out, "../capture-001.dv");
    ASSERT_EQ(r.status, 1) << r.output;
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 0, 0, 0)), std::string::npos) << r.output;
}

TEST(BrimreadRun, TwoRecordingsInOneCapture)
{
    // A tape holding two brimwrite runs one after the other: the second
    // recording's blocks start afresh with its file 1.
    std::vector<TapeFile> first = {{"r1a.bin", random_bytes(150000, 50)}, {"r1b.bin", random_bytes(9000, 51)}};
    std::vector<TapeFile> second = {{"r2a.bin", random_bytes(7000, 52)},
                                    {"r2b.bin", random_bytes(FIRST_PLANE_DATA + 70 * static_cast<size_t>(PLANE_SIZE), 53)},
                                    {"r2c.bin", random_bytes(300, 54)}};
    std::vector<TapeFrame> frames = capture::build_tape(first);
    std::vector<TapeFrame> more = capture::build_tape(second);
    more.erase(more.begin() + 30);   // and a lost frame in the second
    frames.insert(frames.end(), more.begin(), more.end());
    TempDir dir;
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(frames, 5));
    RunResult r = brimread(dir.path, "CAP0001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    for (const std::vector<TapeFile>* set : {&first, &second})
        for (const TapeFile& f : *set)
            EXPECT_EQ(read_file(dir.path / f.path), f.data) << f.path;
    EXPECT_NE(r.output.find("Verified: 5 of 5 files intact"), std::string::npos);
}

TEST(BrimreadRun, RecurseRestoresNestedDirectoriesBelowTheCurrentOne)
{
    Encoded e;
    e.add("top.txt", 3000, 12);
    fs::create_directories(e.src / "d1" / "d2");
    Bytes deep = random_bytes(5000, 13);
    write_file(e.src / "d1" / "d2" / "deep.txt", deep);
    Bytes mid = random_bytes(4000, 14);
    write_file(e.src / "d1" / "mid.txt", mid);
    e.encode("-recurse -repeat0 4 " + shell_quote("*.txt"));

    RunResult r = brimread(e.out, "-recurse ../src/DV000001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    // The path from the root (without a drive), restored below.
    const fs::path below = e.out / fs::canonical(e.src).relative_path();
    EXPECT_EQ(read_file(below / "top.txt"), e.files[0].second);
    EXPECT_EQ(read_file(below / "d1" / "d2" / "deep.txt"), deep);
    EXPECT_EQ(read_file(below / "d1" / "mid.txt"), mid);
    EXPECT_NE(r.output.find("mkdir_recursive( '"), std::string::npos);

    // Without -recurse the base names land in the current directory; with
    // -startfile only from the named file on.
    fs::path flat = e.dir.path / "flat";
    fs::create_directories(flat);
    r = brimread(flat, "-startfile MID.TXT ../src/DV000001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output.find("mkdir"), std::string::npos);
    EXPECT_EQ(read_file(flat / "mid.txt"), mid);
    // Sorted listing: .../d1/d2/deep.txt, .../d1/mid.txt, .../top.txt
    EXPECT_FALSE(fs::exists(flat / "deep.txt"));
    EXPECT_EQ(read_file(flat / "top.txt"), e.files[0].second);
}

// ---------------------------------------------------------------- faulty captures

TEST(BrimreadRun, SingleLostFrameIsRebuilt)
{
    Encoded e;
    e.add("a.bin", 2000000, 15);
    e.encode("-repeat0 4 a.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    const size_t lost = 3 + 10;   // frame 10 of the file
    chunks.erase(chunks.begin() + static_cast<std::ptrdiff_t>(lost));
    write_capture(e.dir.path / "CAP0001.avi", chunks);
    RunResult r = brimread(e.out, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find(statistics_block(72, 1, 1, 0, 0, 0)), std::string::npos) << r.output;
    EXPECT_NE(read_text(e.out / "Brimreadlog.txt").find("\nmain() : Dropped_frame 1"), std::string::npos);
    EXPECT_NE(r.output.find("Verified: 1 of 1 files intact"), std::string::npos);
}

TEST(BrimreadRun, GapOfThreeFramesIsCountedAndReported)
{
    Encoded e;
    e.add("a.bin", 2000000, 16);
    e.encode("-repeat0 4 a.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    chunks.erase(chunks.begin() + 13, chunks.begin() + 16);   // frames 10..12
    write_capture(e.dir.path / "CAP0001.avi", chunks);
    RunResult r = brimread(e.out, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(statistics_block(72, 3, 3, 0, 0, 0)), std::string::npos) << r.output;
    EXPECT_NE(read_text(e.out / "Brimreadlog.txt").find("\nmain() : Dropped_frame 3"), std::string::npos);
    // Three lost frames in one block are known erasures the code rebuilds.
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find("Verified: 1 of 1 files intact"), std::string::npos);
    // Bytes: every classified frame once, the gap as three full planes.
    std::string bytes_line = "\n" + std::to_string(2000000) + " Bytes decoded in ";
    EXPECT_NE(r.output.find(bytes_line), std::string::npos) << r.output;
}

TEST(BrimreadRun, RepeatedUnreadableAndDamagedFrames)
{
    Encoded e;
    e.add("a.bin", 1500000, 17);
    e.encode("-repeat0 4 a.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    // A damaged plane byte in frame 7 (the code repairs it), a repeat of frame 5,
    // and an unreadable frame (all three header copies gone) after frame 9.
    chunks[3 + 7][CHUNK_HEADER_SIZE + 8 * DIF_BLOCK_SIZE + 30] ^= 0xFF;
    Bytes unreadable = chunks[3 + 9];
    std::memset(unreadable.data() + CHUNK_HEADER_SIZE + FRAME_HEADER_FRAME_OFFSET + 4, 0, 72);
    chunks.insert(chunks.begin() + 3 + 10, unreadable);
    chunks.insert(chunks.begin() + 3 + 6, chunks[3 + 5]);
    write_capture(e.dir.path / "CAP0001.avi", chunks);
    RunResult r = brimread(e.out, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    e.expect_restored(e.out);
    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 1, 1, 1)), std::string::npos) << r.output;
    EXPECT_NE(r.output.find('X'), std::string::npos);
    EXPECT_NE(read_text(e.out / "Brimreadlog.txt").find('X'), std::string::npos);
    EXPECT_NE(r.output.find("Verified: 1 of 1 files intact"), std::string::npos);

    // Without correction the damaged byte stays, and the report says so.
    fs::path raw = e.dir.path / "raw";
    fs::create_directories(raw);
    RunResult n = brimread(raw, "-nocorrect x ../CAP0001.avi");
    ASSERT_EQ(n.status, 1);
    EXPECT_NE(read_file(raw / "a.bin"), e.files[0].second);
    EXPECT_NE(n.output.find("DAMAGED: a.bin (1 frames could not be restored; its content does not match its "
                            "stored hash)"),
              std::string::npos)
        << n.output;
}

TEST(BrimreadRun, InputEndingInsideABlock)
{
    // Two blocks; the capture stops 10 frames into the second, which holds all
    // of b: the block is completed with fillers and written. Too much is missing
    // for the code, but b's plane was received intact.
    std::vector<TapeFile> files = {{"a.bin", random_bytes(FIRST_PLANE_DATA + 63 * static_cast<size_t>(PLANE_SIZE), 18)},
                                   {"b.bin", random_bytes(9000, 19)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    frames.resize(ECC_N + 10);
    TempDir dir;
    Bytes cap = capture::pack_capture(frames, 4);
    write_file(dir.path / "CAP0001.avi", cap);
    RunResult r = brimread(dir.path, "CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("\nmain() : g_ecc_n == 10 (should be 0), uh oh..."), std::string::npos) << r.output;
    EXPECT_EQ(read_file(dir.path / "a.bin"), files[0].data);
    EXPECT_EQ(read_file(dir.path / "b.bin"), files[1].data);
    // Nothing but b's checksum vouches for its plane on a tape without records.
    EXPECT_NE(r.output.find("\nNOT VERIFIED: b.bin (a block holding its data had no parity left to check its "
                            "frames)\nVerified: 1 of 2 files intact\n"),
              std::string::npos)
        << r.output;
    // With records b's hash does.
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(
                                             [&] {
                                                 std::vector<TapeFrame> f = capture::build_tape(
                                                     capture::with_records(files));
                                                 f.resize(ECC_N + 10);
                                                 return f;
                                             }(),
                                             4));
    r = brimread(dir.path, "CAP0001.avi");
    EXPECT_EQ(read_file(dir.path / "b.bin"), files[1].data);
    EXPECT_NE(r.output.find("\nVerified: 2 of 2 files intact\n"), std::string::npos) << r.output;

    // Stopping in the middle of a's frame 51: that plane is known bad, and with
    // the 20 frames missing after it the block cannot be rebuilt: a is written
    // from what arrived and reported, b was never captured.
    frames.resize(ECC_N - 20);
    cap = capture::pack_capture(frames, 4);
    cap.resize(cap.size() - 50000);
    write_file(dir.path / "CAP0001.avi", cap);
    fs::remove(dir.path / "a.bin");
    r = brimread(dir.path, "CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(fs::file_size(dir.path / "a.bin"), files[0].data.size());
    EXPECT_NE(r.output.find("\nDAMAGED: a.bin (13 frames could not be restored)\nDAMAGED: file #2 of 2 (not "
                            "written: none of its frames is in the capture)\nVerified: 0 of 2"),
              std::string::npos)
        << r.output;
}

TEST(BrimreadRun, WriteFailureEndsTheRunWithoutStatistics)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Encoded e;
    e.add("a.bin", 300000, 20);
    e.encode("-repeat0 4 a.bin");
    fs::create_symlink("/dev/full", e.out / "a.bin");
    RunResult r = brimread(e.out, "../src/DV000001.avi");
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.output.find("cannot write 'a.bin': No space left on device"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Statistics"), std::string::npos);
}

// ---------------------------------------------------------------- hostile captures

TEST(BrimreadHostile, StoredPathsNeverLeaveTheCurrentDirectory)
{
    TempDir dir;
    std::vector<TapeFile> files = {{"..\\..\\evil1.txt", random_bytes(100, 21)},
                                   {"\\abs\\olute.txt", random_bytes(200, 22)},
                                   {"sub/../../evil2.txt", random_bytes(300, 23)},
                                   {"a\\..\\..\\evil3.txt", random_bytes(400, 24)},
                                   {std::string(PATH_FIELD_SIZE, 'Z'), random_bytes(500, 25)},
                                   {"fine.txt", random_bytes(600, 26)}};
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(capture::build_tape(files), 4));

    fs::path tree = dir.path / "tree";
    fs::create_directories(tree);
    RunResult r = brimread(tree, "-recurse ../CAP0001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("refusing stored path '..\\..\\evil1.txt'"), std::string::npos) << r.output;
    EXPECT_EQ(read_file(tree / "abs" / "olute.txt"), files[1].data);
    EXPECT_EQ(read_file(tree / "fine.txt"), files[5].data);
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        EXPECT_EQ(entry.path().string().find("evil"), std::string::npos) << entry.path();
    EXPECT_NE(r.output.find("Verified: 2 of 6 files intact"), std::string::npos) << r.output;

    // Base names only: the directory parts do not matter, names with "/" and
    // a path without terminator are still refused.
    fs::path flat = dir.path / "flat";
    fs::create_directories(flat);
    r = brimread(flat, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(flat))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Brimreadlog.txt", "evil1.txt", "evil3.txt", "fine.txt", "olute.txt"}));

    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.path))
        beside.push_back(entry.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"CAP0001.avi", "flat", "tree"}));
}

TEST(BrimreadHostile, RestoredFilesDoNotReplaceCaptureFilesStillToBeRead)
{
    Encoded e;
    e.add("CAP0000.avi", 3000, 40);   // the name of a capture file already read: allowed
    e.add("CAP0002.avi", 4000, 41);   // the name of the capture file read next: refused
    e.add("ok.bin", 5000, 42);
    e.encode("-repeat0 4 CAP0000.avi CAP0002.avi ok.bin");
    std::vector<Bytes> chunks = avi_chunks(e.src / "DV000001.avi");
    const size_t half = chunks.size() / 2;
    write_capture(e.out / "CAP0001.avi", std::vector<Bytes>(chunks.begin(), chunks.begin() + half));
    write_capture(e.out / "CAP0002.avi", std::vector<Bytes>(chunks.begin() + half, chunks.end()));
    const Bytes second = read_file(e.out / "CAP0002.avi");
    RunResult r = brimread(e.out, "CAP0001.avi");
    ASSERT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("refusing stored path 'CAP0002.avi' (it names a capture file of this run)"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(read_file(e.out / "CAP0002.avi"), second);
    EXPECT_EQ(read_file(e.out / "CAP0000.avi"), e.files[0].second);
    EXPECT_EQ(read_file(e.out / "ok.bin"), e.files[2].second);
    EXPECT_NE(r.output.find("Verified: 2 of 3 files intact"), std::string::npos);
}

TEST(BrimreadHostile, RestoredFileNamedLikeTheLogIsRefused)
{
    Encoded e;
    e.add("Brimreadlog.txt", 300000, 43);
    e.add("ok.bin", 5000, 44);
    e.encode("-repeat0 4 Brimreadlog.txt ok.bin");
    RunResult r = brimread(e.out, shell_quote((e.src / "DV000001.avi").string()));
    ASSERT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("refusing stored path 'Brimreadlog.txt' (it names the log of this run)"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(read_file(e.out / "ok.bin"), e.files[1].second);
    EXPECT_NE(r.output.find("Verified: 1 of 2 files intact"), std::string::npos) << r.output;
}

TEST(BrimreadHostile, ImpossibleFrameIndicesAreNotRecognised)
{
    std::vector<TapeFile> files = {{"a.bin", random_bytes(500000, 27)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    TapeFrame hostile = frames[3];
    hostile.frame_index = (1 << 24) - 3;
    hostile.last_frame_index = (1 << 24) - 1;
    TapeFrame beyond = frames[4];
    beyond.frame_index = 500;   // beyond its own last frame
    frames.insert(frames.begin() + 3, hostile);
    frames.insert(frames.begin() + 5, beyond);
    TempDir dir;
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(frames, 4));
    RunResult r = brimread(dir.path, "CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir.path / "a.bin"), files[0].data);
    EXPECT_NE(r.output.find(statistics_block(72, 0, 0, 0, 0, 2)), std::string::npos) << r.output;
}

TEST(BrimreadHostile, LargeDropAndOversizedClaimsStayBounded)
{
    // A capture that starts 3,000 frames into a file, then a file whose first
    // frame announces 1,000 bytes while its later frames claim 40 planes.
    std::vector<TapeFile> files = {{"a.bin", random_bytes(300000, 28)}};
    std::vector<TapeFrame> frames = capture::build_tape(files);
    for (TapeFrame& f : frames) {
        f.file_index = 2;
        f.file_count = 2;
        if (f.frame_index == 0)
            f.bytes_remaining = 1000;
        else
            f.bytes_remaining = 40 * static_cast<int64_t>(PLANE_SIZE);
    }
    std::vector<TapeFrame> lead;
    for (int i = 0; i < 4; ++i) {
        TapeFrame f = frames[1];
        f.file_index = 1;
        f.bytes_remaining = 0;
        f.frame_index = 3000 + i;
        f.last_frame_index = 3100;
        lead.push_back(f);
    }
    lead.insert(lead.end(), frames.begin(), frames.end());
    TempDir dir;
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(lead, 4));
    fs::path work = dir.path / "work";
    fs::create_directories(work);
    RunResult r = brimread(work, "-nocorrect x ../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    EXPECT_EQ(stat(r.output, "Total Dropped Frames(-): "), 3000);
    EXPECT_EQ(fs::file_size(work / "a.bin"), 1000u);
    EXPECT_LT(r.output.size(), 3000u * 200u);   // marks grow linearly with the gap
    // The frames whose counts contradict the announced size are not believed,
    // and a file whose headers disagree is not reported intact.
    EXPECT_NE(r.output.find("\nDAMAGED: file #1 of 2 (not written: its first frame lies before the capture)\n"
                            "DAMAGED: a.bin ("),
              std::string::npos)
        << r.output.substr(r.output.find("Verification"));

    // With correction: still bounded, nothing outside the working directory.
    fs::remove_all(work);
    fs::create_directories(work);
    r = brimread(work, "../CAP0001.avi");
    ASSERT_EQ(r.status, 1);
    uintmax_t restored = 0;
    for (const auto& entry : fs::recursive_directory_iterator(work))
        if (entry.is_regular_file() && entry.path().filename() != "Brimreadlog.txt")
            restored += entry.file_size();
    EXPECT_LE(restored, 1000u);
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.path))
        beside.push_back(entry.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"CAP0001.avi", "work"}));
}

TEST(BrimreadHostile, RandomHeadersNeitherCrashNorEscape)
{
    const std::string paths[] = {"ok.txt", "..\\up.txt", "\\abs\\a.txt", "d\\..\\..\\x", "a/b", "",
                                 std::string(PATH_FIELD_SIZE, 'Q'), "\\\\srv\\s", "sub\\ok2.txt", "..", "."};
    std::mt19937 rng(77);
    std::vector<TapeFrame> frames;
    for (int i = 0; i < 120; ++i) {
        TapeFrame f;
        f.plane = random_bytes(PLANE_SIZE, rng());
        f.frame_index = rng() % 4 == 0 ? 0 : static_cast<int32_t>(rng() % 60);
        f.last_frame_index = f.frame_index + static_cast<int32_t>(rng() % 40);
        f.file_index = static_cast<int32_t>(1 + rng() % 3);
        f.file_count = 3;
        f.bytes_remaining = static_cast<int64_t>((static_cast<uint64_t>(rng()) << 8) ^ rng()) & ((int64_t{1} << 40) - 1);
        if (rng() % 2)
            f.bytes_remaining %= 3 * PLANE_SIZE;
        if (f.frame_index == 0) {
            const std::string& p = paths[rng() % (sizeof paths / sizeof paths[0])];
            std::memset(f.plane.data(), 0, HEADER_AREA_SIZE);
            std::memcpy(f.plane.data(), p.data(), std::min<size_t>(p.size(), PATH_FIELD_SIZE));
        }
        frames.push_back(f);
    }
    TempDir dir;
    fs::path work = dir.path / "work";
    fs::create_directories(work);
    write_file(dir.path / "CAP0001.avi", capture::pack_capture(frames, 5));
    for (const char* args : {"-recurse ../CAP0001.avi", "../CAP0001.avi", "-nocorrect x -recurse ../CAP0001.avi"}) {
        RunResult r = brimread(work, args);
        EXPECT_TRUE(r.status == 1 || r.status == 0) << args << " " << r.status;
    }
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.path))
        beside.push_back(entry.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"CAP0001.avi", "work"}));
    uintmax_t restored = 0;
    for (const auto& entry : fs::recursive_directory_iterator(work))
        if (entry.is_regular_file())
            restored += entry.file_size();
    EXPECT_LT(restored, 200u * 1000 * 1000);
}

}  // namespace
