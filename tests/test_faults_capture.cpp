// Fault matrix, the shape of the capture: split captures with audio chunks, raw
// DV streams, captures that begin or end inside the recording (the decoder
// finds the block alignment from the frames themselves), and a capture that
// stops in the middle of a frame.
#include "test_faults_support.h"

namespace {

using faults::at;
using faults::chunks;
using faults::expect_all_restored;
using faults::expect_damaged;
using faults::run_case;

int first_chunk(int g) { return faults::recording().chunks_of.at(static_cast<size_t>(g)).front(); }
int last_chunk(int g) { return faults::recording().chunks_of.at(static_cast<size_t>(g)).back(); }

TEST(FaultsCapture, SplitCaptureWithAudioChunks)
{
    faults::Outcome o = run_case("-split 7m -drop " + chunks({at(0, 44), at(1, 12), at(2, 0)}));
    EXPECT_NE(o.brimread.output.find("(Reading from ../cap0004.avi)"), std::string::npos);
    expect_all_restored(o);
    // Garbage between frames as well.
    expect_all_restored(run_case("-split 9m -rgarbage 0.2 -seed 7 -drop " + chunks({at(1, 63)})));
}

TEST(FaultsCapture, RawDvCapture)
{
    expect_all_restored(run_case("-raw -split 11m -drop " + chunks({at(0, 5), at(1, 71), at(2, 4)}), "",
                                 "cap0001.dv"));
}

TEST(FaultsCapture, CaptureBeginningInsideTheRecording)
{
    // Inside a5's data in block 0: a5 is cut and reported, the files after it
    // come back whole, the files before the capture are not the capture's.
    faults::Outcome o = run_case("-first " + std::to_string(first_chunk(at(0, 30))));
    expect_damaged(o, {"files #1 to #4 of 8", "file #5 of 8"}, 8);
    EXPECT_NE(o.brimread.output.find("DAMAGED: files #1 to #4 of 8 (not written: none of their frames is in the "
                                     "capture)"),
              std::string::npos);
    EXPECT_NE(o.brimread.output.find("DAMAGED: file #5 of 8 (not written: its first frame lies before the capture)"),
              std::string::npos);
    EXPECT_FALSE(o.exists["a5.bin"]);
    // In a6's parity frames, and with a loss in the next block.
    o = run_case("-first " + std::to_string(first_chunk(at(1, 66))) + " -drop " + chunks({at(2, 1)}));
    expect_damaged(o, {"files #1 to #5 of 8", "file #6 of 8"}, 8);
    // Two positions into block 0: the lost frames are erasures the block
    // rebuilds, a3 on come back whole.
    o = run_case("-first " + std::to_string(first_chunk(at(0, 2))));
    expect_damaged(o, {"files #1 to #2 of 8"}, 8);
    // Among the copies of a file's frame 0: that file is whole.
    o = run_case("-first " + std::to_string(first_chunk(at(1, 63)) + 2));
    expect_damaged(o, {"files #1 to #5 of 8"}, 8);
}

TEST(FaultsCapture, LaterSplitFileAsTheFirstCapture)
{
    // brimread started on the second file of a split capture, as when a tape
    // is decoded from a later capture file on.
    faults::Outcome whole = run_case("-split 10m");
    expect_all_restored(whole);
    const std::string wrote = "wrote cap0001.avi frames ";
    const size_t at_wrote = whole.capsim.output.find(wrote);
    ASSERT_NE(at_wrote, std::string::npos);
    const int first_in_second = std::atoi(whole.capsim.output.c_str() + at_wrote + wrote.size());
    int g = 0;
    while (last_chunk(g) < first_in_second)
        ++g;
    const faults::Recording& r = faults::recording();
    const int file = r.file_of[static_cast<size_t>(g)];
    ASSERT_GT(r.frame_of[static_cast<size_t>(g)], 0) << "the split should fall inside a file";

    TempDir work;
    const fs::path out = work.path / "out";
    fs::create_directories(out);
    RunResult cap = run_in(work.path, shell_quote(program("capsim")) + " -o cap0001.avi -split 10m " +
                                          shell_quote(r.avi().string()));
    ASSERT_EQ(cap.status, 0);
    RunResult dec = run_in(out, shell_quote(program("brimread")) + " ../cap0002.avi");
    ASSERT_EQ(dec.status, 1) << dec.output;
    const std::vector<faults::InputFile>& files = faults::input_files();
    for (size_t i = static_cast<size_t>(file); i < files.size(); ++i)
        EXPECT_EQ(read_file(out / files[i].name), r.contents[i]) << files[i].name;
    EXPECT_FALSE(fs::exists(out / files[static_cast<size_t>(file - 1)].name));
    const std::string due = std::to_string(files.size());
    const std::string before = file == 2 ? "file #1 of 8 (not written: none of its frames"
                                         : "files #1 to #" + std::to_string(file - 1) +
                                               " of 8 (not written: none of their frames";
    EXPECT_NE(dec.output.find("\nDAMAGED: " + before + " is in the capture)\nDAMAGED: file #" + std::to_string(file) +
                              " of 8 (not written: its first frame lies before the capture)\nVerified: " +
                              std::to_string(files.size() - static_cast<size_t>(file)) + " of " + due),
              std::string::npos)
        << dec.output.substr(dec.output.find("Verification"));

    // With -startfile naming a later file, only that one and those after it.
    fs::remove_all(out);
    fs::create_directories(out);
    dec = run_in(out, shell_quote(program("brimread")) + " -startfile A7.BIN ../cap0002.avi");
    ASSERT_EQ(dec.status, 1);
    EXPECT_EQ(read_file(out / "a7.bin"), r.contents[6]);
    EXPECT_EQ(read_file(out / "a8.bin"), r.contents[7]);
    EXPECT_FALSE(fs::exists(out / "a6.bin"));
    EXPECT_NE(dec.output.find("\nVerified: 2 of 2 files intact"), std::string::npos);
}

TEST(FaultsCapture, CaptureEndingInsideTheRecording)
{
    // After a7's frame 1: its last frame is lost with the rest of the block,
    // which is more than the code rebuilds; a8 is not in the capture at all.
    faults::Outcome o = run_case("-last " + std::to_string(last_chunk(at(2, 1))));
    expect_damaged(o, {"a7.bin", "file #8 of 8"}, 8);
    EXPECT_NE(o.brimread.output.find("\nmain() : g_ecc_n == 2 (should be 0), uh oh..."), std::string::npos);
    EXPECT_NE(o.brimread.output.find("DAMAGED: file #8 of 8 (not written: none of its frames is in the capture)"),
              std::string::npos);
    // Beginning and ending inside it.
    o = run_case("-first " + std::to_string(first_chunk(at(0, 40))) + " -last " +
                 std::to_string(last_chunk(at(2, 1))));
    expect_damaged(o, {"files #1 to #4 of 8", "file #5 of 8", "a7.bin", "file #8 of 8"}, 8);
    EXPECT_TRUE(o.same["a6.bin"]);
}

TEST(FaultsCapture, CaptureStoppingInsideAFrame)
{
    // The last frame captured (a parity frame) is cut short and the six after it
    // are missing: seven erasures, which the block rebuilds.
    expect_all_restored(run_case("-last " + std::to_string(last_chunk(at(2, 65))) + " -cut 60000"));
    // Cut inside a8's last data frame: the rest of the block is missing, which
    // the code cannot rebuild; what was received intact is still written.
    faults::Outcome o = run_case("-last " + std::to_string(last_chunk(at(2, 4))) + " -cut 30000");
    expect_damaged(o, {"a8.bin"}, 8);
    EXPECT_TRUE(o.exists["a8.bin"]);
}

}  // namespace
