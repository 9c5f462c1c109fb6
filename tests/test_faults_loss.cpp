// Fault matrix, lost frames: captures of the fixed recording (test_faults_support.h)
// with frames dropped by capsim, decoded by brimread. Whenever every block lost
// at most one distinct frame (all copies of a frame 0 counting as one), and with
// the lost positions known as erasures whenever the code's checks can solve
// them, every file comes back byte for byte; beyond that the report names
// exactly the damaged files.
#include "test_faults_support.h"

namespace {

using faults::at;
using faults::chunks;
using faults::expect_all_restored;
using faults::expect_damaged;
using faults::run_case;

TEST(FaultsLoss, TheLayoutIsTheOneTheScenariosAssume)
{
    const faults::Recording& r = faults::recording();
    ASSERT_EQ(r.file_of.size(), static_cast<size_t>(faults::POSITIONS));
    EXPECT_EQ(r.file_of[at(0, 6)], 5);
    EXPECT_EQ(r.frame_of[at(0, 6)], 0);
    EXPECT_EQ(r.file_of[at(1, 62)], 5);
    EXPECT_EQ(r.file_of[at(1, 63)], 6);
    EXPECT_EQ(r.frame_of[at(1, 63)], 0);
    EXPECT_EQ(r.frame_of[at(1, 71)], 8);
    EXPECT_EQ(r.file_of[at(2, 0)], 7);
    EXPECT_EQ(r.file_of[at(2, 3)], 8);
    EXPECT_EQ(r.file_of[at(2, 71)], 8);
    EXPECT_EQ(r.chunks_of[at(0, 6)].size(), static_cast<size_t>(faults::REPEAT0));
    expect_all_restored(run_case(""));
}

TEST(FaultsLoss, OneLostDataFramePerBlockAtVariedPositions)
{
    expect_all_restored(run_case("-drop " + chunks({at(0, 10), at(1, 30), at(2, 1)})));
    expect_all_restored(run_case("-drop " + chunks({at(0, 63), at(1, 0), at(2, 3)})));
}

TEST(FaultsLoss, EveryCopyOfAFirstFrameLost)
{
    // The big file's, the one-plane file's followed by parity, and the first
    // file of a block.
    expect_all_restored(run_case("-drop " + chunks({at(0, 6), at(1, 63), at(2, 0)})));
    expect_all_restored(run_case("-drop " + chunks({at(0, 2), at(2, 3)})));
    // a4's: its frame 1 then follows a3's frame 1, which the classifier takes
    // for a repeat; the frame indices place it.
    expect_all_restored(run_case("-drop " + chunks({at(0, 4)})));
}

TEST(FaultsLoss, WholeOneFrameFileLost)
{
    // No header tells a2's size: its rebuilt first plane holds its file record,
    // which does, and its hash proves the file intact.
    expect_all_restored(run_case("-drop " + chunks({at(0, 1)})));
}

TEST(FaultsLoss, LostLastFramesAndTheFramesBeforeShortOnes)
{
    // a3's one-byte last frame, the frame before a5's short last one, a8's last
    // data frame before the padding.
    expect_all_restored(run_case("-drop " + chunks({at(0, 3), at(1, 61), at(2, 4)})));
    // The last frame of a file, reported by the next file's frame 0.
    expect_all_restored(run_case("-drop " + chunks({at(0, 5), at(1, 62), at(2, 2)})));
}

TEST(FaultsLoss, LostParityAndPaddingFrames)
{
    // at(1, 71) is a6's last frame, a parity frame sent after all its bytes: the
    // classifier sees no drop, the frame indices do.
    expect_all_restored(run_case("-drop " + chunks({at(0, 64), at(1, 71), at(2, 71)})));
    expect_all_restored(run_case("-drop " + chunks({at(0, 70), at(1, 64), at(2, 30)})));
}

TEST(FaultsLoss, DuplicatesEverywhereWithALossPerBlock)
{
    expect_all_restored(run_case("-rdup 0.5 -seed 3"));
    expect_all_restored(run_case("-rdup 0.3 -seed 4 -drop " + chunks({at(0, 20), at(1, 63), at(2, 1)})));
}

TEST(FaultsLoss, TwoAndThreeLostFramesPerBlockAreRebuiltAsErasures)
{
    expect_all_restored(run_case("-drop " + chunks({at(0, 10), at(0, 40), at(1, 5), at(1, 50), at(2, 1), at(2, 3)})));
    expect_all_restored(run_case(
        "-drop " + chunks({at(0, 6), at(0, 30), at(0, 70), at(1, 0), at(1, 33), at(1, 63), at(2, 0), at(2, 4), at(2, 64)})));
    // A burst of three in every block.
    expect_all_restored(run_case("-drop " + chunks({at(0, 20), at(0, 21), at(0, 22), at(1, 61), at(1, 62), at(1, 63),
                                                    at(2, 1), at(2, 2), at(2, 3)})));
}

TEST(FaultsLoss, FilesWhoseSizeNoReceivedHeaderTellsAreRebuiltAndReported)
{
    // a2 lost whole, and a8 (the last file): its frame 0 and its data frame, so
    // only its padding frames and their parity arrive. Both come back from the
    // rebuilt planes, their sizes from their file records, and their hashes
    // prove them intact. (Tapes without records infer the sizes and report
    // that: test_block_writer.)
    expect_all_restored(run_case("-drop " + chunks({at(0, 1), at(2, 2), at(2, 3), at(2, 4)})));
}

TEST(FaultsLoss, FourToEightLostFramesWithIndependentColumns)
{
    // Positions of block 1 (all in a5 but the last two) whose parity-check
    // columns are independent: the erasure solver rebuilds all of them.
    std::vector<int> picked;
    for (int p = 1; p < ECC_N && picked.size() < 8; p += 7) {
        std::vector<int> trial = picked;
        trial.push_back(p);
        if (faults::independent(trial))
            picked = trial;
    }
    ASSERT_EQ(picked.size(), 8u);
    for (size_t n = 4; n <= 8; n += 2) {
        std::vector<int> lost;
        for (size_t i = 0; i < n; ++i)
            lost.push_back(at(1, picked[i]));
        expect_all_restored(run_case("-drop " + chunks(lost)));
    }
}

TEST(FaultsLoss, DependentLostFramesAreReportedNeverWrittenAsIntact)
{
    // Four data positions of a5 in block 1 whose columns sum to zero: no check
    // tells them apart, so a5 is damaged; every other file is whole.
    std::vector<int> set;
    for (int a = 0; a < 60 && set.empty(); ++a)
        for (int b = a + 1; b < 61 && set.empty(); ++b)
            for (int c = b + 1; c < 62 && set.empty(); ++c)
                for (int d = c + 1; d < 63 && set.empty(); ++d)
                    if (!faults::independent({a, b, c, d}) && faults::independent({a, b, c}))
                        set = {a, b, c, d};
    ASSERT_EQ(set.size(), 4u);
    faults::Outcome o = run_case("-drop " + chunks({at(1, set[0]), at(1, set[1]), at(1, set[2]), at(1, set[3])}));
    expect_damaged(o, {"a5.bin"}, 8);
    EXPECT_FALSE(o.same["a5.bin"]);
}

TEST(FaultsLoss, MoreLostThanTheCodeRebuildsNamesTheDamagedFiles)
{
    // Nine frames of block 2: beyond what the checks can solve in full. The
    // positions they still determine come back (a7's frame 0 among them); a7's
    // frame 1 and a8's frame 0 (and with it a8's name) do not. The blocks
    // before are whole.
    faults::Outcome o = run_case("-drop " + chunks({at(2, 0), at(2, 1), at(2, 3), at(2, 5), at(2, 9), at(2, 20),
                                                    at(2, 30), at(2, 40), at(2, 50)}));
    expect_damaged(o, {"a7.bin", "file #8 of 8"}, 8);
    EXPECT_FALSE(o.same["a7.bin"]);
    EXPECT_FALSE(o.exists["a8.bin"]);
    // Without correction a single loss is not rebuilt either.
    faults::Outcome n = run_case("-drop " + chunks({at(0, 10)}), "-nocorrect x");
    expect_damaged(n, {"a5.bin"}, 8);
}

}  // namespace
