// Fault matrix, damaged frames: captures of the fixed recording
// (test_faults_support.h) with payload damage, concealment (with and without the
// camcorder's STA marks), damaged frame headers and DV headers, and damage that
// keeps a frame's checksum. Frames whose checksum fails are known bad; marked
// concealed payload blocks narrow that to the blocks marked; the block code
// rebuilds what the known-bad places allow, and the report names the rest.
#include "test_faults_support.h"

namespace {

using faults::at;
using faults::chunks;
using faults::expect_all_restored;
using faults::expect_damaged;
using faults::one_chunk;
using faults::run_case;

TEST(FaultsDamage, DamagedPayloadInOneFramePerBlock)
{
    expect_all_restored(run_case("-damage " + one_chunk({at(0, 12), at(1, 40), at(2, 2)})));
    // Also a frame 0 (a copy of it and then the frame itself), a parity frame and
    // many damaged blocks at once.
    expect_all_restored(run_case("-damage-blocks 200 -damage " + one_chunk({at(0, 6), at(1, 66), at(2, 3)})));
}

TEST(FaultsDamage, ConcealedFramesWithAndWithoutMarks)
{
    // Unmarked, a concealed frame is known bad by its checksum alone.
    expect_all_restored(run_case("-conceal " + one_chunk({at(0, 30), at(1, 10), at(2, 1)})));
    // Three marked frames per block.
    expect_all_restored(run_case("-sta -conceal " +
                                 one_chunk({at(0, 8), at(0, 30), at(0, 60), at(1, 1), at(1, 20), at(1, 63), at(2, 0),
                                            at(2, 1), at(2, 4)})));
}

TEST(FaultsDamage, MarksLocaliseConcealmentBeyondWholeFrameErasures)
{
    // Twelve concealed frames in block 1 (a5's data): as whole frames that is
    // beyond the code, but the marks name the payload blocks, which differ from
    // frame to frame, so every codeword has few erasures.
    std::vector<int> positions;
    for (int p = 2; p < 62; p += 5)
        positions.push_back(at(1, p));
    ASSERT_EQ(positions.size(), 12u);
    expect_all_restored(run_case("-sta -conceal-blocks 2 -conceal " + one_chunk(positions)));
    faults::Outcome unmarked = run_case("-conceal-blocks 2 -conceal " + one_chunk(positions));
    expect_damaged(unmarked, {"a5.bin"}, 8);
    EXPECT_FALSE(unmarked.same["a5.bin"]);
}

TEST(FaultsDamage, DamageThatKeepsTheChecksumIsFoundBesideALoss)
{
    // One frame dropped and one whose bytes are swapped (its checksum still
    // matches) in each block: one erasure and one unknown error per codeword.
    expect_all_restored(run_case("-drop " + chunks({at(0, 10), at(1, 5), at(2, 2)}) + " -swap " +
                                 one_chunk({at(0, 40), at(1, 44), at(2, 1)})));
    // Without a loss the single-error correction finds it.
    expect_all_restored(run_case("-swap " + one_chunk({at(0, 40), at(1, 44), at(2, 1)})));
}

TEST(FaultsDamage, ThreeFramesWithFailingChecksumsInOneBlock)
{
    expect_all_restored(run_case("-damage " + one_chunk({at(1, 3), at(1, 33), at(1, 66)})));
    // And a loss besides.
    expect_all_restored(run_case("-damage " + one_chunk({at(1, 3), at(1, 33)}) + " -drop " + chunks({at(1, 50)})));
}

TEST(FaultsDamage, DamagedFrameHeaders)
{
    // One copy of three hit: the vote keeps the header.
    expect_all_restored(run_case("-rfhdamage 0.3 -seed 5"));
    // All three hit in one frame per block: the frame is not recognised ("X")
    // and is rebuilt like a lost one.
    faults::Outcome o = run_case("-fh-copies 3 -fhdamage " + one_chunk({at(0, 9), at(1, 63), at(2, 70)}));
    expect_all_restored(o);
    EXPECT_NE(o.brimread.output.find("Total Unrecognizable Frames(X): "), std::string::npos);
    // The DV header block: the frame is not even found.
    expect_all_restored(run_case("-hdamage " + one_chunk({at(0, 9), at(1, 62), at(2, 3)})));
}

TEST(FaultsDamage, WithoutCorrectionDamageIsReported)
{
    faults::Outcome o = run_case("-damage " + one_chunk({at(0, 12)}), "-nocorrect x");
    expect_damaged(o, {"a5.bin"}, 8);
    EXPECT_NE(o.brimread.output.find("DAMAGED: a5.bin (1 frames could not be restored; its content does not match "
                                     "its stored hash)"),
              std::string::npos);
    // Every copy of a frame 0 damaged and nothing to rebuild it: its path
    // cannot be trusted, so the file is not written under any name.
    o = run_case("-damage-blocks 1349 -damage " + chunks({at(1, 63)}), "-nocorrect x");
    expect_damaged(o, {"file #6 of 8"}, 8);
    EXPECT_FALSE(o.exists["a6.bin"]);
    // With correction it comes back.
    expect_all_restored(run_case("-damage-blocks 1349 -damage " + chunks({at(1, 63)})));
}

}  // namespace
