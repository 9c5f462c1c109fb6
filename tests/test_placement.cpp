// Where frames lie and how a block is judged: the tape model against the
// frames an encoder run writes, the alignment found from a capture that begins
// inside a recording, the correction of a block with erasures and the rule that
// keeps trusted planes as received, and the names of capture files still due.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <cstring>
#include <vector>

#include "alignment.h"
#include "block_correct.h"
#include "restore_path.h"
#include "block_queue.h"
#include "tape_model.h"
#include "test_capture_builder.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

using capture::TapeFile;
using capture::TapeFrame;

std::vector<TapeFile> mixed_files()
{
    // One-plane files, short last planes, a file that completes a block with its
    // first plane, one spanning blocks, and a last file closing with padding.
    return {{"a", random_bytes(1, 1)},
            {"b", random_bytes(FIRST_PLANE_DATA + 1, 2)},
            {"c", random_bytes(FIRST_PLANE_DATA + 60 * static_cast<size_t>(PLANE_SIZE), 3)},
            {"d", random_bytes(7000, 4)},
            {"e", random_bytes(FIRST_PLANE_DATA + 70 * static_cast<size_t>(PLANE_SIZE) + 3, 5)},
            {"f", random_bytes(FIRST_PLANE_DATA + 2 * static_cast<size_t>(PLANE_SIZE), 6)}};
}

TEST(TapeModel, EveryFrameOfAnEncoderRunLiesWhereTheModelSays)
{
    const std::vector<TapeFile> files = mixed_files();
    const std::vector<TapeFrame> frames = capture::build_tape(files);
    ASSERT_EQ(frames.size() % ECC_N, 0u);
    int64_t start = 0;
    for (size_t g = 0; g < frames.size(); ++g) {
        const TapeFrame& f = frames[g];
        if (f.frame_index == 0)
            start = static_cast<int64_t>(g);
        const TapeFile& file = files[static_cast<size_t>(f.file_index - 1)];
        const int64_t size = static_cast<int64_t>(file.data.size());
        const int last_file = f.file_index == f.file_count;
        EXPECT_EQ(expected_last_index(NTSC, start, size, last_file), f.last_frame_index) << g;
        const int64_t implied = size_from_header(NTSC, start, static_cast<int64_t>(g), f.bytes_remaining);
        if (f.bytes_remaining > 0)
            EXPECT_EQ(implied, size) << g;
        else
            EXPECT_EQ(implied, -1) << g;
        const PlaneSpan span = plane_span(NTSC, start, size, static_cast<int64_t>(g));
        if (is_parity_position(static_cast<int64_t>(g))) {
            EXPECT_EQ(span.count, 0) << g;
            continue;
        }
        // The bytes the model assigns are the file's bytes at that offset.
        if (span.count > 0) {
            ASSERT_LE(span.offset + span.count, size);
            EXPECT_EQ(std::memcmp(f.plane.data() + span.plane_start, file.data.data() + span.offset,
                                  static_cast<size_t>(span.count)),
                      0)
                << g;
            EXPECT_EQ(data_plane_position(start, span.data_index), static_cast<int64_t>(g));
        } else {
            EXPECT_EQ(f.bytes_remaining, 0) << g;   // padding
        }
    }
}

TEST(TapeModel, PositionArithmetic)
{
    EXPECT_EQ(data_positions_between(0, 72), 64);
    EXPECT_EQ(data_positions_between(60, 76), 8);   // 60..63 and 72..75
    EXPECT_EQ(data_plane_position(60, 4), 72);
    EXPECT_EQ(data_plane_position(63, 1), 72);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA), 1);
    EXPECT_EQ(file_plane_count(NTSC, FIRST_PLANE_DATA + 1), 2);
    EXPECT_EQ(plane_file_offset(NTSC, 3), FIRST_PLANE_DATA + 2 * PLANE_SIZE);
    // A parity frame repeats the count of the data frame at block position 63.
    EXPECT_EQ(size_from_header(NTSC, 60, 66, 500), FIRST_PLANE_DATA + 2 * PLANE_SIZE + 500);
    EXPECT_EQ(size_from_header(NTSC, 64, 66, 500), -1);   // no data frame of the file before it
}

std::vector<SeenFrame> seen_from(const std::vector<TapeFrame>& frames, size_t first, size_t count)
{
    std::vector<SeenFrame> seen;
    for (size_t g = first; g < first + count && g < frames.size(); ++g)
        seen.push_back({frames[g].file_index, frames[g].frame_index, frames[g].last_frame_index,
                        frames[g].bytes_remaining});
    return seen;
}

TEST(Alignment, FoundFromAnyStartInsideARecording)
{
    const std::vector<TapeFrame> frames = capture::build_tape(mixed_files());
    const int32_t count = frames[0].file_count;
    for (size_t first = 0; first + 150 < frames.size(); first += 7) {
        std::vector<SeenFrame> seen = seen_from(frames, first, 150);
        Alignment a = alignment_from(seen.data(), static_cast<int>(seen.size()), count);
        ASSERT_EQ(a.anchored, 1) << first;
        size_t start = first - static_cast<size_t>(frames[first].frame_index);
        EXPECT_EQ(a.file_index, frames[first].file_index);
        EXPECT_EQ(a.start, static_cast<int64_t>(start % ECC_N)) << first;
    }
    // With frames missing: the group is found from its neighbours.
    std::vector<SeenFrame> seen = seen_from(frames, 100, 150);
    const int32_t want = seen[0].file_index;
    const int64_t start = static_cast<int64_t>((100 - static_cast<size_t>(seen[0].frame_index)) % ECC_N);
    for (size_t drop = 1; drop < seen.size(); drop += 3) {
        std::vector<SeenFrame> less = seen;
        less.erase(less.begin() + static_cast<std::ptrdiff_t>(drop));
        Alignment a = alignment_from(less.data(), static_cast<int>(less.size()), count);
        ASSERT_EQ(a.anchored, 1) << drop;
        EXPECT_EQ(a.file_index, want);
        EXPECT_EQ(a.start, start) << drop;
    }
    // Too little seen to tell.
    std::vector<SeenFrame> few = seen_from(frames, 100, 3);
    EXPECT_EQ(alignment_from(few.data(), 3, count).anchored, 0);
}

// A complete block queued into a block queue's block code, as add2queue does.
class BlockCorrection : public testing::Test {
protected:
    BlockQueue block_{};
    QueueEntry entries[ECC_N];
    std::vector<std::vector<uint8_t>> planes;   // as encoded

    void SetUp() override
    {
        block_ = BlockQueue{};
        ASSERT_TRUE(queue_allocate(block_));
        queue_reset(block_);
        planes.clear();
        std::vector<TapeFile> files = {{"x", random_bytes(FIRST_PLANE_DATA + 62 * static_cast<size_t>(PLANE_SIZE), 9)}};
        for (const TapeFrame& f : capture::build_tape(files))
            planes.push_back(f.plane);
        ASSERT_EQ(planes.size(), static_cast<size_t>(ECC_N));
        for (int p = 0; p < ECC_N; ++p) {
            entries[p] = QueueEntry{};
            entries[p].record.sum_computed = entries[p].record.sum_stored = plane_sum24(planes[p].data(), PLANE_SIZE);
        }
    }
    void TearDown() override { queue_release(block_); }

    void queue(const std::vector<std::vector<uint8_t>>& received)
    {
        for (int p = 0; p < ECC_N; ++p) {
            uint8_t* buffer = nullptr;
            ASSERT_EQ(ecc_decoder_get_rcv_buffer(&block_.ecc, &buffer), 0);
            std::memcpy(buffer, received[static_cast<size_t>(p)].data(), PLANE_SIZE);
            ASSERT_EQ(ecc_decoder_syn1(&block_.ecc, buffer), 0);
        }
    }
    const uint8_t* out(int p) const { return block_.ecc.pReceivedPlanes[p]; }

    // The planes as received with the frames at `lost` lost (fillers of zeros).
    std::vector<std::vector<uint8_t>> lose(const std::vector<int>& lost)
    {
        std::vector<std::vector<uint8_t>> received = planes;
        for (int p : lost) {
            std::fill(received[static_cast<size_t>(p)].begin(), received[static_cast<size_t>(p)].end(), 0);
            entries[p].filler = 1;
            entries[p].bad = 1;
        }
        return received;
    }

    // Queues `received` and corrects the block; the parity's verdict.
    BlockCheck correct(const std::vector<std::vector<uint8_t>>& received)
    {
        queue(received);
        uint8_t intact[ECC_K];
        BlockCheck check{};
        EXPECT_TRUE(correct_block(block_, entries, true, intact, &check));
        return check;
    }
};

TEST_F(BlockCorrection, LostFramesAreErasuresAndComeBack)
{
    std::vector<std::vector<uint8_t>> received = planes;
    for (int p : {3, 40, 66}) {
        std::fill(received[static_cast<size_t>(p)].begin(), received[static_cast<size_t>(p)].end(), 0);
        entries[p].filler = 1;
        entries[p].bad = 1;
    }
    queue(received);
    uint8_t intact[ECC_K];
    BlockCheck check{};
    EXPECT_TRUE(correct_block(block_, entries, true, intact, &check));
    for (int p = 0; p < ECC_K; ++p) {
        EXPECT_EQ(std::memcmp(out(p), planes[static_cast<size_t>(p)].data(), PLANE_SIZE), 0) << p;
        EXPECT_EQ(intact[p], 1) << p;
    }
}

TEST_F(BlockCorrection, AMiscorrectionThatBreaksATrustedChecksumIsUndone)
{
    // Three planes wrong in the same bit, their checksums kept by a second,
    // compensating change: the syndrome of that codeword points at a fourth,
    // trusted plane. The correction would flip it; its checksum says no.
    int p = -1, q = -1, r = -1, s = -1;
    auto column = [](int pos) {
        uint8_t c = 0;
        for (int k = 0; k < ECC_NMK; ++k)
            c = static_cast<uint8_t>(c | (ECC_PARITY_TABLE[pos][k] << k));
        return c;
    };
    for (int a = 0; a < 20 && s < 0; ++a)
        for (int b = a + 1; b < 20 && s < 0; ++b)
            for (int c = b + 1; c < 20 && s < 0; ++c)
                for (int d = 0; d < ECC_K; ++d)
                    if (d != a && d != b && d != c && (column(a) ^ column(b) ^ column(c)) == column(d)) {
                        p = a, q = b, r = c, s = d;
                        break;
                    }
    ASSERT_GE(s, 0);
    // As encoded: bit 0 of byte 0 clear, and a byte of another segment at 0x80.
    constexpr int OTHER = ECC_SEGMENT_BYTES * 5;
    for (int pos : {p, q, r}) {
        planes[static_cast<size_t>(pos)][0] &= 0xFE;
        planes[static_cast<size_t>(pos)][OTHER] = 0x80;
    }
    // The encoded block changed: rebuild its parity planes.
    ECCEncoder enc{};
    ASSERT_EQ(ecc_encoder_init(&enc, ECC_PLANE_BYTES), 0);
    for (int d = 0; d < ECC_K; ++d)
        ecc_encoder_enc1(&enc, planes[static_cast<size_t>(d)].data());
    for (int k = 0; k < ECC_NMK; ++k) {
        uint8_t* parity = nullptr;
        ecc_encoder_getp1(&enc, &parity);
        planes[static_cast<size_t>(ECC_K + k)].assign(parity, parity + PLANE_SIZE);
    }
    ecc_encoder_shutdown(&enc);
    for (int pos = 0; pos < ECC_N; ++pos)
        entries[pos].record.sum_computed = entries[pos].record.sum_stored =
            plane_sum24(planes[static_cast<size_t>(pos)].data(), PLANE_SIZE);
    // Received: bit 0 of word 0 set in all three (the shared codeword), and the
    // other byte one lower (a single error there, which the code corrects).
    std::vector<std::vector<uint8_t>> received = planes;
    for (int pos : {p, q, r}) {
        received[static_cast<size_t>(pos)][0] |= 1;
        received[static_cast<size_t>(pos)][OTHER] = 0x7F;
        ASSERT_EQ(plane_sum24(received[static_cast<size_t>(pos)].data(), PLANE_SIZE), entries[pos].record.sum_stored);
    }
    // The plain correction does flip s.
    queue(received);
    ASSERT_EQ(ecc_decoder_correct(&block_.ecc, 1), 0);
    ASSERT_NE(std::memcmp(out(s), planes[static_cast<size_t>(s)].data(), PLANE_SIZE), 0);
    for (int i = 0; i < ECC_K; ++i) {
        uint8_t* drained = nullptr;
        ecc_decoder_get_out_buffer(&block_.ecc, &drained);
    }
    queue(received);
    uint8_t intact[ECC_K];
    BlockCheck check{};
    EXPECT_TRUE(correct_block(block_, entries, true, intact, &check));
    // The trusted plane s is as received (and so as encoded), not flipped.
    EXPECT_EQ(std::memcmp(out(s), planes[static_cast<size_t>(s)].data(), PLANE_SIZE), 0);
    EXPECT_EQ(plane_sum24(out(s), PLANE_SIZE), entries[s].record.sum_stored);
    EXPECT_EQ(intact[s], 1);
}

TEST(CaptureNames, RestoredFilesMayNotReplaceCapturesStillDue)
{
    EXPECT_EQ(names_capture_of_run("cap0001.avi", "cap0001.avi"), 1);
    EXPECT_EQ(names_capture_of_run("CAP0007.AVI", "cap0003.avi"), 1);
    EXPECT_EQ(names_capture_of_run("cap0002.avi", "cap0003.avi"), 0);   // before the run's first
    EXPECT_EQ(names_capture_of_run("cap01.avi", "cap0003.avi"), 0);
    EXPECT_EQ(names_capture_of_run("cap10000.avi", "cap9998.avi"), 1);   // a widened successor
    EXPECT_EQ(names_capture_of_run("out10.dv", "out8.dv"), 1);
    EXPECT_EQ(names_capture_of_run("out7.dv", "out8.dv"), 0);
    EXPECT_EQ(names_capture_of_run("cap0003.dv", "cap0003.avi"), 0);
    EXPECT_EQ(names_capture_of_run("x/cap0003.avi", "cap0003.avi"), 0);
    EXPECT_EQ(names_capture_of_run("cap0003.avi", "../cap0003.avi"), 0);
    EXPECT_EQ(names_capture_of_run("a.bin", nullptr), 0);
}

}  // namespace

namespace {

// The column of position p as a byte (bit k: check k covers it).
uint8_t column_of(int p)
{
    uint8_t v = 0;
    for (int k = 0; k < ECC_NMK; ++k)
        v = static_cast<uint8_t>(v | (ECC_PARITY_TABLE[p][k] << k));
    return v;
}

// Brute force: some position outside `lost` has a column that a combination
// of the lost columns makes (a wrong plane there could hide).
bool could_hide(const std::vector<int>& lost)
{
    std::set<uint8_t> span = {0};
    for (int p : lost) {
        std::set<uint8_t> more = span;
        for (uint8_t v : span)
            more.insert(static_cast<uint8_t>(v ^ column_of(p)));
        span = more;
    }
    for (int p = 0; p < ECC_N; ++p)
        if (std::find(lost.begin(), lost.end(), p) == lost.end() && span.count(column_of(p)))
            return true;
    return false;
}

}  // namespace

TEST_F(BlockCorrection, ThePlanesThatNoParityIsLeftToCheckAreTold)
{
    // Lost frames rebuilt: the block agrees with its parity, and it could still
    // check every other plane exactly when no other column lies in the span of
    // the lost ones (never with two lost; with three, depending on which).
    std::vector<std::vector<int>> cases = {{5, 60}, {0, 1, 2}};
    for (int a = 0; a < ECC_N && cases.size() < 6; a += 7)
        for (int b = a + 1; b < ECC_N && cases.size() < 6; b += 11)
            for (int c = b + 1; c < ECC_N && cases.size() < 6; c += 13)
                if (could_hide({a, b, c}) != could_hide(cases.back()))
                    cases.push_back({a, b, c});
    ASSERT_EQ(cases.size(), 6u);   // triples of both kinds
    cases.push_back({1, 9, 17, 25, 33, 41, 49, 57, 65, 70});   // more than the checks: nothing left
    for (const std::vector<int>& lost : cases) {
        SCOPED_TRACE(::testing::PrintToString(lost));
        SetUp();
        const BlockCheck check = correct(lose(lost));
        EXPECT_EQ(check.unverified, could_hide(lost) ? 1 : 0);
        EXPECT_EQ(check.disagrees, 0);
        TearDown();
    }
    // A plane whose bytes were exchanged (its checksum still matches) beside two
    // lost ones: more damage than the erasures explain.
    SetUp();
    std::vector<std::vector<uint8_t>> received = lose({20, 30});
    std::swap(received[10][100], received[10][5000]);
    ASSERT_NE(received[10][100], received[10][5000]);
    EXPECT_EQ(correct(received).disagrees, 1);
}
