// The frame classifier: every row of its decision table, frame-0 acceptance and
// resets, file boundaries, the byte bookkeeping, and which headers count as
// recognised at all.
#include <gtest/gtest.h>

#include <vector>

#include "classifier.h"
#include "test_geometry.h"

namespace {

FrameRecord header(int32_t frame_index, int32_t last, int64_t remaining, int32_t file_index = 1, int32_t sum = 1000)
{
    FrameRecord r{};
    r.magic_ok = 1;
    r.sum_computed = sum;
    r.sum_stored = sum;
    r.bytes_remaining = remaining;
    r.file_index = file_index;
    r.file_count = 3;
    r.frame_index = frame_index;
    r.last_frame_index = last;
    return r;
}

// The previous record before the first frame of a run.
FrameRecord run_start()
{
    FrameRecord r{};
    r.frame_index = -1;
    return r;
}

FrameRecord classify(FrameRecord cur, const FrameRecord& prev)
{
    EXPECT_EQ(classify_frame(NTSC, &cur, &prev), 1);
    return cur;
}

// Classifies `frames` in order, each against the one before, as the decoder's intake does.
std::vector<FrameRecord> classify_all(const std::vector<FrameRecord>& frames, FrameRecord prev = run_start())
{
    std::vector<FrameRecord> out;
    for (const FrameRecord& f : frames) {
        prev = classify(f, prev);
        out.push_back(prev);
    }
    return out;
}

TEST(ClassifyLaterFrames, NextRepeatAndBackwardsStep)
{
    FrameRecord prev = classify(header(4, 20, 900000), header(3, 20, 1002524));
    auto out = classify_all({header(5, 20, 800000), header(5, 20, 800000), header(6, 20, 700000)}, prev);
    EXPECT_EQ(out[0].frame_code, FRAME_NEXT);
    EXPECT_EQ(out[0].RealBytes, PLANE_SIZE);
    EXPECT_EQ(out[0].bytes_remaining, 800000 - PLANE_SIZE);
    EXPECT_EQ(out[1].frame_code, FRAME_REPEAT);
    EXPECT_EQ(out[1].RealBytes, 0);
    EXPECT_EQ(out[1].Zerobytes, 0);
    EXPECT_EQ(out[1].bytes_remaining, 800000 - PLANE_SIZE);
    EXPECT_EQ(out[2].frame_code, FRAME_NEXT);
    for (const FrameRecord& r : out)
        EXPECT_EQ(r.frame0_run, 0);

    // Indices 9 then 5 in the same file: the next frame, not a repeat or a drop.
    EXPECT_EQ(classify(header(5, 20, 800000), header(9, 20, 400000)).frame_code, FRAME_NEXT);
}

TEST(ClassifyLaterFrames, RepeatOfTheLastFrameHasNothingRemaining)
{
    FrameRecord r = classify(header(20, 20, 5000), header(20, 20, 5000));
    EXPECT_EQ(r.frame_code, FRAME_REPEAT);
    EXPECT_EQ(r.bytes_remaining, 0);
}

TEST(ClassifyLaterFrames, GapInsideAFile)
{
    FrameRecord r = classify(header(9, 20, 600000), header(5, 20, 1000000));
    EXPECT_EQ(r.frame_code, 3u);
    EXPECT_TRUE(is_drop_count(r.frame_code));
    EXPECT_EQ(r.Zerobytes, 307572);
    EXPECT_EQ(r.RealBytes, PLANE_SIZE);
    EXPECT_EQ(r.bytes_remaining, 600000 - PLANE_SIZE);
    EXPECT_EQ(r.frame0_run, 0);
    EXPECT_EQ(decoded_count(&r), 4);

    // A gap that ends at the file's last frame counts that frame's header bytes.
    FrameRecord last = classify(header(20, 20, 5000), header(17, 20, 300000));
    EXPECT_EQ(last.frame_code, 2u);
    EXPECT_EQ(last.RealBytes, 5000);
    EXPECT_EQ(last.bytes_remaining, 0);
}

TEST(ClassifyLaterFrames, CaptureStartingInsideAFile)
{
    FrameRecord r = classify(header(7, 20, 900000), run_start());
    EXPECT_EQ(r.frame_code, 7u);
    EXPECT_EQ(r.Zerobytes, 7 * PLANE_SIZE);
    EXPECT_EQ(decoded_count(&r), 8);
    // A dropout longer than 2 GiB of data is counted in full.
    FrameRecord far = classify(header(30000, 40000, 900000), run_start());
    EXPECT_EQ(far.Zerobytes, int64_t{30000} * PLANE_SIZE);
}

TEST(ClassifyLaterFrames, ShortLastDataFrame)
{
    FrameRecord r = classify(header(12, 20, 5000), header(11, 20, 107524));
    EXPECT_EQ(r.frame_code, FRAME_NEXT);
    EXPECT_EQ(r.RealBytes, 5000);
    EXPECT_EQ(r.bytes_remaining, 0);
    // The next file's first frame-0 copy then finds nothing outstanding.
    FrameRecord next = classify(header(0, 30, 3000000, 2, 77), r);
    EXPECT_EQ(next.frame_code, REDUNDANT_FRAME0);
    EXPECT_EQ(next.bytes_remaining, 0);

    FrameRecord exact = classify(header(12, 20, PLANE_SIZE), header(11, 20, 2 * PLANE_SIZE));
    EXPECT_EQ(exact.RealBytes, PLANE_SIZE);
    EXPECT_EQ(exact.bytes_remaining, 0);
}

TEST(ClassifyFrame0, AcceptsTheFourthAgreeingCopy)
{
    std::vector<FrameRecord> copies(6, header(0, 30, 3000000));
    auto out = classify_all(copies);
    EXPECT_EQ(out[0].frame_code, REDUNDANT_FRAME0);
    EXPECT_EQ(out[0].frame0_run, 0);
    EXPECT_EQ(out[1].frame_code, REDUNDANT_FRAME0);
    EXPECT_EQ(out[1].frame0_run, 1);
    EXPECT_EQ(out[2].frame_code, REDUNDANT_FRAME0);
    EXPECT_EQ(out[2].frame0_run, 2);
    EXPECT_EQ(out[3].frame_code, FRAME0_ACCEPTED);
    EXPECT_EQ(out[3].frame0_run, 4);
    EXPECT_EQ(out[3].RealBytes, FIRST_PLANE_DATA);
    EXPECT_EQ(out[3].bytes_remaining, 3000000 - FIRST_PLANE_DATA);
    EXPECT_EQ(decoded_count(&out[3]), 1);
    for (int i : {4, 5}) {
        EXPECT_EQ(out[i].frame_code, REDUNDANT_FRAME0);
        EXPECT_EQ(out[i].frame0_run, 4);
        EXPECT_EQ(out[i].bytes_remaining, 3000000 - FIRST_PLANE_DATA);
        EXPECT_EQ(decoded_count(&out[i]), 0);
    }
    for (int i : {0, 1, 2})
        EXPECT_EQ(out[i].bytes_remaining, 0);   // the count that stood before the copies
}

TEST(ClassifyFrame0, DamagedCopyRestartsTheCount)
{
    std::vector<FrameRecord> copies(8, header(0, 30, 3000000));
    copies[2].sum_computed = 999;
    auto out = classify_all(copies);
    const uint32_t want[] = {REDUNDANT_FRAME0, REDUNDANT_FRAME0, RESET_FRAME0, RESET_FRAME0,
                             REDUNDANT_FRAME0, REDUNDANT_FRAME0, FRAME0_ACCEPTED, REDUNDANT_FRAME0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i].frame_code, want[i]) << "copy " << i + 1;
    EXPECT_EQ(out[2].frame0_run, 0);
    EXPECT_EQ(out[3].bytes_remaining, 3000000);   // a reset keeps the header value
    EXPECT_EQ(decoded_count(&out[2]), 0);

    // After acceptance a damaged copy is redundant, not a reset.
    std::vector<FrameRecord> late(6, header(0, 30, 3000000));
    late[5].sum_computed = 5;
    EXPECT_EQ(classify_all(late)[5].frame_code, REDUNDANT_FRAME0);
}

TEST(ClassifyFrame0, SmallFilesCountOnlyTheirOwnBytes)
{
    // One frame: the header's count.
    auto one = classify_all(std::vector<FrameRecord>(4, header(0, 0, 5000)));
    EXPECT_EQ(one[3].frame_code, FRAME0_ACCEPTED);
    EXPECT_EQ(one[3].RealBytes, 5000);
    EXPECT_EQ(one[3].bytes_remaining, 0);
    // Frames (padding, parity) after the only data frame do not make it count a
    // whole first plane.
    auto padded = classify_all(std::vector<FrameRecord>(4, header(0, 68, 5000)));
    EXPECT_EQ(padded[3].RealBytes, 5000);
    EXPECT_EQ(padded[3].bytes_remaining, 0);
    auto exact = classify_all(std::vector<FrameRecord>(4, header(0, 68, FIRST_PLANE_DATA)));
    EXPECT_EQ(exact[3].RealBytes, FIRST_PLANE_DATA);
    EXPECT_EQ(exact[3].bytes_remaining, 0);
}

TEST(ClassifyFileBoundary, PreviousFileStillExpectingBytes)
{
    FrameRecord prev = header(7, 9, 150000 + PLANE_SIZE, 1);
    prev = classify(prev, header(6, 9, 150000 + 2 * PLANE_SIZE, 1));   // leaves 150,000 outstanding
    ASSERT_EQ(prev.bytes_remaining, 150000);
    FrameRecord r = classify(header(0, 40, 4000000, 2, 55), prev);
    EXPECT_EQ(r.frame_code, 2u);
    EXPECT_EQ(r.Zerobytes, 150000);
    EXPECT_EQ(r.RealBytes, 0);
    EXPECT_EQ(r.frame0_run, 0);
    EXPECT_EQ(r.bytes_remaining, 4000000);
    // Counted once per lost frame; the frame 0 counts when accepted.
    EXPECT_EQ(decoded_count(&r), 2);

    auto rest = classify_all(std::vector<FrameRecord>(3, header(0, 40, 4000000, 2, 55)), r);
    EXPECT_EQ(rest[0].frame0_run, 1);
    EXPECT_EQ(rest[2].frame_code, FRAME0_ACCEPTED);
}

TEST(ClassifyFileBoundary, FrameZeroOfAnotherFileIsAFirstCopy)
{
    auto out = classify_all({header(0, 0, 5000, 1, 10), header(0, 0, 5000, 1, 10), header(0, 0, 7000, 2, 10),
                             header(0, 0, 7000, 2, 10)});
    EXPECT_EQ(out[1].frame0_run, 1);
    EXPECT_EQ(out[2].frame_code, REDUNDANT_FRAME0);   // not compared by sum with file 1's copy
    EXPECT_EQ(out[2].frame0_run, 0);
    EXPECT_EQ(out[3].frame0_run, 1);
}

TEST(ClassifyFileBoundary, NegativeCountMeansNothingOutstanding)
{
    // A repeat past the file's last data frame leaves a negative count.
    FrameRecord prev = classify(header(15, 20, 5000), header(15, 20, 5000));
    prev = classify(header(16, 20, 5000), prev);   // parity frame: header repeats 5,000
    EXPECT_EQ(prev.bytes_remaining, 0);
    FrameRecord rep = classify(header(16, 20, 5000), prev);
    EXPECT_EQ(rep.bytes_remaining, 5000 - PLANE_SIZE);
    FrameRecord r = classify(header(0, 3, 400000, 2), rep);
    EXPECT_EQ(r.frame_code, REDUNDANT_FRAME0);
    EXPECT_EQ(r.bytes_remaining, 5000 - PLANE_SIZE);
}

TEST(FrameRecognised, OnlyHeadersAnEncoderCanWrite)
{
    FrameRecord r = header(3, 20, 10);
    EXPECT_EQ(frame_recognised(&r), 1);
    r.magic_ok = 0;
    EXPECT_EQ(frame_recognised(&r), 0);
    r = header(21, 20, 10);   // beyond the file's own last frame
    EXPECT_EQ(frame_recognised(&r), 0);
    r = header(20, 20, 10);
    EXPECT_EQ(frame_recognised(&r), 1);
    r = header((1 << 24) - 2, (1 << 24) - 1, 10);   // near the 24-bit limit
    EXPECT_EQ(frame_recognised(&r), 0);
    r = header(MAX_GENUINE_FRAME_INDEX, MAX_GENUINE_FRAME_INDEX, 10);
    EXPECT_EQ(frame_recognised(&r), 1);
    r = header(3, 20, 10, 4);   // file 4 of 3
    EXPECT_EQ(frame_recognised(&r), 0);
    r = header(3, 20, 10, 0);
    EXPECT_EQ(frame_recognised(&r), 0);
}

TEST(DecodedCount, CodesWithoutPlanesAndDrops)
{
    for (uint32_t code : {FRAME_REPEAT, REDUNDANT_FRAME0, RESET_FRAME0}) {
        FrameRecord r = header(5, 9, 1);
        r.frame_code = code;
        EXPECT_EQ(decoded_count(&r), 0);
        EXPECT_FALSE(is_drop_count(code));
    }
    FrameRecord next = header(5, 9, 1);
    next.frame_code = FRAME_NEXT;
    EXPECT_EQ(decoded_count(&next), 1);
    FrameRecord gap = header(9, 20, 1);
    gap.frame_code = 3;
    EXPECT_EQ(decoded_count(&gap), 4);   // the lost frames and the frame itself
    FrameRecord boundary = header(0, 20, 1);
    boundary.frame_code = 2;
    EXPECT_EQ(decoded_count(&boundary), 2);   // frame 0 counts when it is accepted
    EXPECT_TRUE(is_drop_count(0));
    EXPECT_TRUE(is_drop_count(0x7FFFFFFFu));
    EXPECT_TRUE(is_drop_count(0x80000005u));
}

}  // namespace
