// brim end to end: the real program on real files in a temporary directory,
// grouped by scenario: a tree round trip with times and permissions, plan
// against write, damaged, missing and foreign captures, existing files, a raw
// stream through a pipe, an interrupted restore, and a file system that fills up.
#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>

#include <iterator>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "test_support.h"

namespace {

RunResult brim(const fs::path& cwd, const std::string& args)
{
    return run_in(cwd, shell_quote(program("brim")) + " " + args);
}

// The frames of the tape files in `dir`: AVI files by their headers, raw DV by size.
int64_t frames_in(const fs::path& dir, const VideoSystem& v = NTSC)
{
    int64_t frames = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::vector<uint8_t> bytes = read_file(e.path());
        if (e.path().extension() == ".dv") {
            frames += static_cast<int64_t>(bytes.size()) / v.frame_size;
        } else {
            constexpr size_t TOTAL_FRAMES_AT = 48;
            frames += bytes[TOTAL_FRAMES_AT] | bytes[TOTAL_FRAMES_AT + 1] << 8 | bytes[TOTAL_FRAMES_AT + 2] << 16;
        }
    }
    return frames;
}

// The "frames N" figure of brim plan's report.
int64_t planned_frames(const std::string& report)
{
    const size_t at = report.find("frames       ");
    return at == std::string::npos ? -1 : std::stoll(report.substr(at + 13));
}

class Brim : public testing::Test {
protected:
    TempDir dir;
    fs::path src = dir.path / "src";

    // A tree with nested directories, a dot file, a link to a file, a non-ASCII
    // name, a file over several blocks, set times and permission bits.
    void make_tree()
    {
        fs::create_directories(src / "docs" / "deep");
        write_file(src / "big.bin", random_bytes(3 * 1000 * 1000, 1));
        write_file(src / ".hidden", random_bytes(10, 2));
        write_file(src / "docs" / "deep" / "note.txt", random_bytes(5000, 3));
        write_file(src / "docs" / fs::u8path("caf\xC3\xA9 \xE6\x97\xA5.txt"), random_bytes(70000, 4));
        fs::create_symlink("../big.bin", src / "docs" / "link");
        ASSERT_EQ(run_in(dir.path, "touch -d '2021-05-06 07:08:09.5' src/big.bin && chmod 640 src/big.bin").status, 0);
    }

    void expect_same_tree(const fs::path& restored)
    {
        for (const char* name : {"big.bin", ".hidden", "docs/deep/note.txt", "docs/link"})
            EXPECT_EQ(read_file(restored / name), read_file(src / name)) << name;
        EXPECT_EQ(read_file(restored / "docs" / fs::u8path("caf\xC3\xA9 \xE6\x97\xA5.txt")),
                  read_file(src / "docs" / fs::u8path("caf\xC3\xA9 \xE6\x97\xA5.txt")));
        struct stat a, b;
        ASSERT_EQ(stat((src / "big.bin").c_str(), &a), 0);
        ASSERT_EQ(stat((restored / "big.bin").c_str(), &b), 0);
        EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec);
        EXPECT_EQ(a.st_mtim.tv_nsec, b.st_mtim.tv_nsec);
        EXPECT_EQ(a.st_mode & 07777, b.st_mode & 07777);
    }

    // No file below `root` with the temporary suffix.
    void expect_no_partial(const fs::path& root)
    {
        for (const auto& e : fs::recursive_directory_iterator(root))
            EXPECT_EQ(e.path().filename().string().find(".brim-part"), std::string::npos) << e.path();
    }
};

TEST_F(Brim, ATreeRoundTripsWithItsTimesAndPermissions)
{
    make_tree();
    int run = 0;
    for (const char* options : {"", "--raw --frames-per-file 50", "--pal", "--pal --raw --frames-per-file 50"}) {
        SCOPED_TRACE(options);
        const std::string raw = std::strstr(options, "--raw") ? "-raw" : "";
        const VideoSystem& system = std::strstr(options, "--pal") ? PAL : NTSC;
        const std::string n = std::to_string(++run);
        const fs::path out = dir.path / ("out" + raw + n);
        const RunResult plan = brim(dir.path, std::string("plan -C src -o ") + out.string() + " " + options + " .");
        ASSERT_EQ(plan.status, 0) << plan.output;
        const RunResult write = brim(dir.path, std::string("write -C src -o ") + out.string() + " " + options + " .");
        ASSERT_EQ(write.status, 0) << write.output;
        EXPECT_EQ(planned_frames(plan.output), frames_in(out, system)) << plan.output;
        const std::string first = (out / (raw.empty() ? "DV000001.avi" : "DV000001.dv")).string();
        const fs::path restored = dir.path / ("restored" + raw + n);
        const RunResult read = brim(dir.path, "read -C " + restored.string() + " " + first);
        ASSERT_EQ(read.status, 0) << read.output;
        EXPECT_NE(read.output.find("5 of 5 files intact"), std::string::npos) << read.output;
        expect_same_tree(restored);
        expect_no_partial(restored);
        EXPECT_EQ(brim(dir.path, "list " + first).status, 0);
    }
}

TEST_F(Brim, ProblemsAreNamedWithTheirFileAndStatus)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    write_file(dir.path / "noise.avi", random_bytes(400000, 5));
    struct Case {
        const char* args;
        int status;
        const char* said;
    } cases[] = {
        {"read nothere.avi", 2, "brim: nothere.avi: no such file"},
        {"read -C r noise.avi", 2, "noise.avi: no frames of a brim recording found"},
        {"list noise.avi", 2, "no DV frames found"},
        {"write --bogus src", 2, "brim: write: unknown option '--bogus'"},
        {"write -o", 2, "brim: write: option '-o' needs a value"},
        {"list -C d out/DV000001.avi", 2, "brim: list: option '-C' does not apply"},
        {"write --log src/big.bin -o out3 src", 2, "the log would write over a file being stored"},
        {"read --log out/DV000001.avi -C r out/DV000001.avi", 2, "the log would write over a capture file"},
        {"frobnicate", 2, "brim: unknown command 'frobnicate'"},
        {"plan --frames-per-file 35714 src", 2, "--frames-per-file 35714: an AVI file of 525/60 frames holds at most 35713"},
        {"write --pal --frames-per-file 29751 -o out4 src", 2, "an AVI file of 625/50 frames holds at most 29750"},
        {"read --pal out/DV000001.avi", 2, "brim: read: option '--pal' does not apply"},
        {"write -o out src", 2, "holds tape files of another run (DV000001.avi)"},
        {"write -o out2 src nothere", 1, "brim: nothere: left out: "},
        {"read --help", 0, "usage: brim read"},
    };
    for (const Case& c : cases) {
        const RunResult r = brim(dir.path, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << c.args << "\n" << r.output;
    }
    // Nothing named in a refused run was touched.
    EXPECT_EQ(read_file(src / "big.bin"), random_bytes(3 * 1000 * 1000, 1));
    EXPECT_EQ(brim(dir.path, "list out/DV000001.avi").status, 0);
}

TEST_F(Brim, ADamagedCaptureGivesStatusOneAndNamesTheFiles)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    // Twelve frames lost in big.bin's first block (after the 30 copies of the
    // first frames of .hidden and big.bin): more than its parity rebuilds.
    fs::create_directory(dir.path / "cap");
    ASSERT_EQ(run_in(dir.path, shell_quote(program("capsim")) + " -drop 65-76 -o cap/SCENE0001.avi out/DV000001.avi")
                  .status,
              0);
    const RunResult r = brim(dir.path, "read -C r cap/SCENE0001.avi");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("src/big.bin: damaged"), std::string::npos) << r.output;
    const RunResult json = brim(dir.path, "list --json cap/SCENE0001.avi");
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.output.find("\"name\": \"src/big.bin\", \"size\": 3000000, \"status\": \"damaged\""),
              std::string::npos)
        << json.output;
    EXPECT_NE(json.output.find("\"totals\": {\"files\": 5, \"intact\": 4"), std::string::npos) << json.output;
}

TEST_F(Brim, AnExistingFileIsKeptUnlessOverwriteIsGiven)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    fs::create_directories(dir.path / "r" / "src");
    write_file(dir.path / "r" / "src" / ".hidden", {'m', 'i', 'n', 'e'});
    RunResult r = brim(dir.path, "read -C r out/DV000001.avi");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("src/.hidden: not written: a file of this name exists"), std::string::npos) << r.output;
    EXPECT_EQ(read_file(dir.path / "r" / "src" / ".hidden"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
    r = brim(dir.path, "read --overwrite -C r out/DV000001.avi");
    EXPECT_EQ(r.status, 0) << r.output;
    expect_same_tree(dir.path / "r" / "src");
}

TEST_F(Brim, ARawStreamThroughAPipeRestoresEverything)
{
    make_tree();
    const std::string b = shell_quote(program("brim"));
    const RunResult r = run_in(dir.path, b + " write -q -o - src | " + b + " read -C r -");
    EXPECT_EQ(r.status, 0) << r.output;
    expect_same_tree(dir.path / "r" / "src");
}

TEST_F(Brim, AnInterruptedRestoreLeavesNoPartialFile)
{
    fs::create_directories(src);
    write_file(src / "large.bin", random_bytes(20 * 1000 * 1000, 6));
    ASSERT_EQ(brim(dir.path, "write -q -o - src > stream.dv").status, 0);
    // The stream stops in the middle of the file and waits: the restore is
    // interrupted while the file is being written.
    const std::string script =
        "mkfifo pipe; (head -c 15000000 stream.dv; sleep 20) > pipe & feeder=$!; " +
        shell_quote(program("brim")) +
        " read -C r - < pipe & reader=$!; "
        "for i in $(seq 2000); do [ -e r/src/.large.bin.brim-part ] && break; sleep 0.01; done; "
        "ls -A r/src; kill -INT $reader; wait $reader; echo status=$?; kill $feeder";
    const RunResult r = run_in(dir.path, script);
    EXPECT_NE(r.output.find(".large.bin.brim-part"), std::string::npos) << r.output;   // it was being written
    EXPECT_NE(r.output.find("status=130"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.path / "r" / "src" / "large.bin"));
    expect_no_partial(dir.path / "r");
}

TEST_F(Brim, AFullFileSystemStopsTheRunNamingTheFile)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    // At most 1 MB per file (the shell's unit is 1 KiB blocks), the size limit's signal ignored.
    const std::string limited = "trap '' XFSZ; ulimit -f 1000; exec " + shell_quote(program("brim"));
    RunResult r = run_in(dir.path, limited + " read -C r out/DV000001.avi");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("big.bin"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("File too large"), std::string::npos) << r.output;
    expect_no_partial(dir.path / "r");
    r = run_in(dir.path, limited + " write -o out2 src");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("DV000001.avi"), std::string::npos) << r.output;
}

TEST_F(Brim, WhatCannotBeStoredIsLeftOutByNameWithItsReason)
{
    fs::create_directories(src / "dir");
    write_file(src / "kept.txt", random_bytes(100, 7));
    write_file(src / "empty", {});
    write_file(src / (std::string(230, 'n')), random_bytes(10, 8));
    ASSERT_EQ(run_in(src, "mkfifo fifo && ln -s dir dirlink && ln -s missing broken").status, 0);
    struct Expected {
        const char* name;
        const char* reason;
    } left_out[] = {
        {"src/empty", "an empty file cannot be stored"},
        {"src/fifo", "not a regular file"},
        {"src/dirlink", "a link to a directory is not followed"},
        {"src/broken", "a link to nothing"},
        {"src/nnnn", "longer than the 227 bytes"},
    };
    const RunResult r = brim(dir.path, "write -o out src ../x");
    EXPECT_EQ(r.status, 1) << r.output;
    for (const Expected& e : left_out) {
        const size_t at = r.output.find(std::string("brim: ") + e.name);
        ASSERT_NE(at, std::string::npos) << e.name << "\n" << r.output;
        EXPECT_NE(r.output.find(e.reason, at), std::string::npos) << e.name << "\n" << r.output;
    }
    EXPECT_NE(r.output.find("brim: ../x: left out: a path with '..'"), std::string::npos) << r.output;
    const RunResult list = brim(dir.path, "list out/DV000001.avi");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("1 of 1 files would restore intact"), std::string::npos) << list.output;
}

TEST_F(Brim, FlatRestoresKeepTheFirstOfTwoFilesWithOneName)
{
    fs::create_directories(src / "a");
    fs::create_directories(src / "b");
    write_file(src / "a" / "same.txt", random_bytes(100, 9));
    write_file(src / "b" / "same.txt", random_bytes(200, 10));
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    const RunResult r = brim(dir.path, "read --flat -C flat out/DV000001.avi");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(read_file(dir.path / "flat" / "same.txt"), read_file(src / "a" / "same.txt"));
    EXPECT_NE(r.output.find("a file restored before it in this run is named same.txt"), std::string::npos)
        << r.output;
}

TEST_F(Brim, CapturesAreDeletedOnlyOnceEverythingIsOnDisk)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    fs::create_directory(dir.path / "cap");
    const std::string capsim = shell_quote(program("capsim")) + " -split 8m -o cap/SCENE0001.avi out/DV000001.avi";
    ASSERT_EQ(run_in(dir.path, capsim).status, 0);
    // A file that is not written keeps every capture.
    fs::create_directories(dir.path / "r" / "src" / "big.bin");
    RunResult r = brim(dir.path, "read --delete-captures -C r cap/SCENE0001.avi");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("src/big.bin: not written: a file of this name exists"), std::string::npos)
        << r.output;
    EXPECT_TRUE(fs::exists(dir.path / "cap" / "SCENE0001.avi"));
    fs::remove_all(dir.path / "r");
    r = brim(dir.path, "read --delete-captures -C r cap/SCENE0001.avi");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::is_empty(dir.path / "cap"));
    expect_same_tree(dir.path / "r" / "src");
}

TEST_F(Brim, PlanTellsTapeTimeAndWarnsOfManySmallFiles)
{
    fs::create_directories(src);
    for (int i = 0; i < 20; ++i)
        write_file(src / ("f" + std::to_string(i)), random_bytes(50, static_cast<uint32_t>(20 + i)));
    const RunResult r = brim(dir.path, "plan src");
    EXPECT_EQ(r.status, 0) << r.output;
    // 20 data frames, 20 * 29 more copies of the first frames, 8 parity, 44 padding.
    EXPECT_NE(r.output.find("frames       652 (data 20, first-frame copies 580, parity 8, padding 44)"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("tape time    0:00:22 SP, 0:00:33 LP (0.6% of a 60-minute 525/60 tape in SP)"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("pack small files with tar first"), std::string::npos) << r.output;
    // 14,072 frames fill one AVI file of 525/60 frames; 625/50 files are
    // split sooner (13,224 frames), to stay below 2 GiB too.
    for (const char* system : {"", "--pal "}) {
        const RunResult copies = brim(dir.path, std::string("plan ") + system + "--first-frame-copies 1000 src/f1 src/f2 "
                                                "src/f3 src/f4 src/f5 src/f6 src/f7 src/f8 src/f9 src/f10 src/f11 "
                                                "src/f12 src/f13 src/f14");
        EXPECT_NE(copies.output.find(system[0] ? "output       2 AVI files" : "output       1 AVI file"),
                  std::string::npos)
            << copies.output;
    }
    // The same frames at 25 a second, on a tape of 90,000.
    const RunResult pal = brim(dir.path, "plan --pal src");
    EXPECT_EQ(pal.status, 0) << pal.output;
    EXPECT_NE(pal.output.find("tape time    0:00:26 SP, 0:00:39 LP (0.7% of a 60-minute 625/50 tape in SP)"),
              std::string::npos)
        << pal.output;
    EXPECT_FALSE(fs::exists(dir.path / "DV000001.avi"));
}

TEST_F(Brim, ACaptureCutShortNamesTheFilesItNeverReached)
{
    // Ten one-frame files: each is confirmed by its accepted first frame alone.
    fs::create_directories(src);
    for (int i = 0; i < 10; ++i)
        write_file(src / ("f" + std::to_string(i)), random_bytes(10000, static_cast<uint32_t>(40 + i)));
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    fs::create_directory(dir.path / "cap");
    ASSERT_EQ(run_in(dir.path, shell_quote(program("capsim")) + " -last 100 -o cap/SCENE0001.avi out/DV000001.avi")
                  .status,
              0);
    const RunResult r = brim(dir.path, "read -C r cap/SCENE0001.avi");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("files #5 to #10 of 10: not written: none of their frames is in the capture"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("4 of 10 files intact"), std::string::npos) << r.output;
}

TEST_F(Brim, OverwritingAnOutputInsideTheTreeNeverStoresOrLosesTheOldTape)
{
    fs::create_directories(src);
    write_file(src / "x", random_bytes(50000, 50));
    ASSERT_EQ(brim(src, "write -q -o . .").status, 0);
    const RunResult r = brim(src, "write --overwrite -o . .");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("DV000001.avi: left out: a tape file in the output directory"), std::string::npos)
        << r.output;
    const RunResult list = brim(src, "list DV000001.avi");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("1 of 1 files would restore intact"), std::string::npos) << list.output;
}

TEST_F(Brim, CapturesStayWhenAFileIsNotIntactOrTheInputIsAPipe)
{
    make_tree();
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    fs::create_directory(dir.path / "cap");
    const std::string capsim =
        shell_quote(program("capsim")) + " -split 3m -drop 65-76 -o cap/SCENE0001.avi out/DV000001.avi";
    ASSERT_EQ(run_in(dir.path, capsim).status, 0);
    const size_t captures = static_cast<size_t>(std::distance(fs::directory_iterator(dir.path / "cap"), {}));
    EXPECT_EQ(brim(dir.path, "read --delete-captures -C r cap/SCENE0001.avi").status, 1);
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(dir.path / "cap"), {})), captures);
    // Standard input has no capture file to delete: a file named "-" is no capture.
    fs::create_directories(dir.path / "p");
    write_file(dir.path / "p" / "-", {'k'});
    EXPECT_EQ(run_in(dir.path / "p", shell_quote(program("brim")) + " read --delete-captures - < ../out/DV000001.avi")
                  .status,
              0);
    EXPECT_TRUE(fs::exists(dir.path / "p" / "-"));
}

TEST_F(Brim, JsonNamesAreEscapedWhateverBytesTheTapeHolds)
{
    fs::create_directories(src);
    // A quote, a tab and a byte that is no UTF-8 (a backslash would not be stored).
    ASSERT_EQ(run_in(src, "printf 1 > \"$(printf 'q\"b\\tc\\377')\"").status, 0);
    ASSERT_EQ(brim(dir.path, "write -q -o out src").status, 0);
    const RunResult r = brim(dir.path, "list --json out/DV000001.avi");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"name\": \"src/q\\\"b\\u0009c\\u00ff\", \"size\": 1, \"status\": \"intact\""),
              std::string::npos)
        << r.output;
}

}  // namespace
