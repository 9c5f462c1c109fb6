// Packing a plane and its FrameHeader into the template frame and taking them
// back out: byte positions, checksums, the per-frame ID cycle, the header vote.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "dv_template.h"
#include "frame_layout.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

constexpr int FH_FRAME_INDEX = 16;  // low byte of frame_index within a header copy
constexpr int FH_MAGIC_LAST = 3;

FrameInfo start_info()
{
    FrameInfo info{};
    std::memcpy(info.magic, "SPOE", 4);
    info.bytes_remaining = 250000;
    info.file_index = 1;
    info.file_count = 1;
    info.frame_index = 0;
    info.final_frame = 100;
    info.dif_toggle = DIF_TOGGLE_A;
    info.vaux_id = VAUX_ID_START;
    info.audio_id = AUDIO_ID_START;
    info.video_id = VIDEO_ID_START;
    return info;
}

std::vector<uint8_t> template_chunk(const VideoSystem& v = NTSC)
{
    std::vector<uint8_t> chunk(static_cast<size_t>(v.chunk_size));
    build_template_frame(v, chunk.data());
    return chunk;
}

uint32_t byte_sum(const std::vector<uint8_t>& bytes)
{
    uint32_t sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return sum;
}

struct Packed {
    std::vector<uint8_t> chunk = template_chunk();
    const uint8_t* dv() const { return chunk.data() + CHUNK_HEADER_SIZE; }
    uint8_t* dv() { return chunk.data() + CHUNK_HEADER_SIZE; }
    const uint8_t* header_copy(int copy) const
    {
        return dv() + FRAME_HEADER_FRAME_OFFSET + FRAME_HEADER_COPY_OFFSETS[copy];
    }
    uint8_t* header_copy(int copy) { return dv() + FRAME_HEADER_FRAME_OFFSET + FRAME_HEADER_COPY_OFFSETS[copy]; }
};

Packed pack(const std::vector<uint8_t>& plane, FrameInfo info, int repeat0 = 30)
{
    Packed p;
    EXPECT_EQ(pack_frame(NTSC, plane.data(), &info, repeat0, p.chunk.data()), 1);
    return p;
}

FrameRecord unpack(const uint8_t* dv, std::vector<uint8_t>* plane_out = nullptr)
{
    std::vector<uint8_t> plane(PLANE_SIZE);
    FrameRecord record{};
    EXPECT_EQ(unpack_frame(NTSC, dv, plane.data(), &record), 1);
    if (plane_out)
        *plane_out = plane;
    return record;
}

TEST(PayloadBlocks, WalkSkipsHeaderSubcodeVauxAudioAndTheFrameHeaderBlock)
{
    std::vector<uint8_t> tpl = template_chunk();
    const uint8_t* dv = tpl.data() + CHUNK_HEADER_SIZE;
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[0], 8 * DIF_BLOCK_SIZE);
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[1], 9 * DIF_BLOCK_SIZE);
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[13], 21 * DIF_BLOCK_SIZE);
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[14], 23 * DIF_BLOCK_SIZE);  // block 22 is audio
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[133], 149 * DIF_BLOCK_SIZE);
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[134], (150 + 7) * DIF_BLOCK_SIZE);  // block 7 of sequence 1
    EXPECT_EQ(PAYLOAD_BLOCK_FRAME_OFFSETS[PAYLOAD_BLOCKS - 1], DV_FRAME_SIZE - DIF_BLOCK_SIZE);

    int per_sequence[DIF_SEQUENCES] = {};
    for (int i = 0; i < PAYLOAD_BLOCKS; ++i) {
        int offset = PAYLOAD_BLOCK_FRAME_OFFSETS[i];
        ASSERT_EQ(offset % DIF_BLOCK_SIZE, 0);
        if (i > 0) {
            ASSERT_GT(offset, PAYLOAD_BLOCK_FRAME_OFFSETS[i - 1]);
        }
        ASSERT_NE(offset, FRAME_HEADER_FRAME_OFFSET);
        // Every payload block is a video block of the template.
        ASSERT_EQ(dv[offset] & 0xF0, 0x90) << "offset " << offset;
        ++per_sequence[offset / (DIF_BLOCKS_PER_SEQUENCE * DIF_BLOCK_SIZE)];
    }
    EXPECT_EQ(per_sequence[0], 134);
    for (int s = 1; s < DIF_SEQUENCES; ++s)
        EXPECT_EQ(per_sequence[s], 135);
}

TEST(PackFrame, PlaneBytesLandInBytes4To79OfEachPayloadBlockInOrder)
{
    std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 7);
    Packed p = pack(plane, start_info());
    EXPECT_EQ(0, std::memcmp(p.dv() + 8 * DIF_BLOCK_SIZE + 4, plane.data(), PAYLOAD_BLOCK_BYTES));
    EXPECT_EQ(0, std::memcmp(p.dv() + 23 * DIF_BLOCK_SIZE + 4, plane.data() + 14 * PAYLOAD_BLOCK_BYTES,
                             PAYLOAD_BLOCK_BYTES));
    EXPECT_EQ(0, std::memcmp(p.dv() + 157 * DIF_BLOCK_SIZE + 4, plane.data() + 134 * PAYLOAD_BLOCK_BYTES,
                             PAYLOAD_BLOCK_BYTES));
    EXPECT_EQ(0, std::memcmp(p.dv() + DV_FRAME_SIZE - PAYLOAD_BLOCK_BYTES,
                             plane.data() + PLANE_SIZE - PAYLOAD_BLOCK_BYTES, PAYLOAD_BLOCK_BYTES));
}

TEST(Checksum, AllOnesPlane)
{
    std::vector<uint8_t> plane(PLANE_SIZE, 0xFF);
    FrameInfo info = start_info();
    Packed p;
    pack_frame(NTSC, plane.data(), &info, 30, p.chunk.data());
    EXPECT_EQ(info.checksum, 26143620u);  // the full 32-bit sum
    for (int copy = 0; copy < 3; ++copy) {
        const uint8_t* h = p.header_copy(copy);
        EXPECT_EQ(h[4], 0x84);
        EXPECT_EQ(h[5], 0xEB);
        EXPECT_EQ(h[6], 0x8E);
    }
    FrameRecord r = unpack(p.dv());
    EXPECT_EQ(r.sum_stored, 9366404);
    EXPECT_EQ(r.sum_computed, 9366404);
}

TEST(Checksum, RoundTripOfVariedPlanes)
{
    std::vector<std::vector<uint8_t>> planes;
    planes.push_back(std::vector<uint8_t>(PLANE_SIZE, 0));
    for (uint32_t seed = 1; seed <= 4; ++seed)
        planes.push_back(random_bytes(PLANE_SIZE, seed));
    std::vector<uint8_t> ramp(PLANE_SIZE);
    for (int i = 0; i < PLANE_SIZE; ++i)
        ramp[i] = static_cast<uint8_t>(i * 7 + i / 256);
    planes.push_back(ramp);

    FrameInfo info = start_info();
    Packed p;  // one buffer reused, as the encoder does
    for (const auto& plane : planes) {
        pack_frame(NTSC, plane.data(), &info, 30, p.chunk.data());
        EXPECT_EQ(info.checksum, byte_sum(plane));
        std::vector<uint8_t> out;
        FrameRecord r = unpack(p.dv(), &out);
        EXPECT_EQ(out, plane);
        EXPECT_EQ(r.magic_ok, 1);
        EXPECT_EQ(r.sum_computed, static_cast<int32_t>(byte_sum(plane) & 0xFFFFFF));
        EXPECT_EQ(r.sum_computed, r.sum_stored);
    }
}

TEST(Checksum, UnpackSumsWhatItExtractsNotWhatWasStored)
{
    std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 11);
    Packed p = pack(plane, start_info());
    p.dv()[PAYLOAD_BLOCK_FRAME_OFFSETS[700] + 40] ^= 0x10;
    p.dv()[PAYLOAD_BLOCK_FRAME_OFFSETS[700]] ^= 0xFF;  // ID bytes are not part of the sum
    FrameRecord r = unpack(p.dv());
    EXPECT_EQ(r.magic_ok, 1);
    EXPECT_EQ(r.sum_stored, static_cast<int32_t>(byte_sum(plane) & 0xFFFFFF));
    EXPECT_NE(r.sum_computed, r.sum_stored);
    int diff = (r.sum_computed - r.sum_stored) & 0xFFFFFF;
    EXPECT_TRUE(diff == 0x10 || diff == 0xFFFFF0);
}

struct Ids {
    uint8_t toggle, vaux, audio, video;
};

TEST(IdCycle, FourteenFramesFromTheStartValues)
{
    const Ids expected_first[7] = {
        {0x68, 0x56, 0x76, 0x96}, {0x78, 0x57, 0x77, 0x97}, {0x68, 0x58, 0x78, 0x98}, {0x78, 0x59, 0x79, 0x99},
        {0x68, 0x5A, 0x7A, 0x9A}, {0x78, 0x5B, 0x7B, 0x9B}, {0x68, 0x50, 0x70, 0x90},
    };
    std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 3);
    FrameInfo info = start_info();
    Packed p;
    std::vector<Ids> seen;
    for (int frame = 0; frame < 26; ++frame) {
        pack_frame(NTSC, plane.data(), &info, 30, p.chunk.data());
        const uint8_t* dv = p.dv();
        Ids ids{dv[4], dv[3 * DIF_BLOCK_SIZE], dv[6 * DIF_BLOCK_SIZE], dv[8 * DIF_BLOCK_SIZE]};
        // All positions of one kind carry the same value in one frame.
        for (int v = 3; v <= 5; ++v)
            ASSERT_EQ(dv[v * DIF_BLOCK_SIZE], ids.vaux);
        for (int s = 0; s < DIF_SEQUENCES; ++s)
            for (int k = 0; k < 9; ++k)
                ASSERT_EQ(dv[(s * 150 + 6 + 16 * k) * DIF_BLOCK_SIZE], ids.audio);
        for (int i = 0; i < PAYLOAD_BLOCKS; ++i)
            ASSERT_EQ(dv[PAYLOAD_BLOCK_FRAME_OFFSETS[i]], ids.video);
        ASSERT_EQ(dv[FRAME_HEADER_FRAME_OFFSET], ids.video);
        seen.push_back(ids);
    }
    for (int frame = 0; frame < 7; ++frame) {
        EXPECT_EQ(seen[frame].toggle, expected_first[frame].toggle) << "frame " << frame + 1;
        EXPECT_EQ(seen[frame].vaux, expected_first[frame].vaux) << "frame " << frame + 1;
        EXPECT_EQ(seen[frame].audio, expected_first[frame].audio) << "frame " << frame + 1;
        EXPECT_EQ(seen[frame].video, expected_first[frame].video) << "frame " << frame + 1;
    }
    for (int frame = 7; frame < 14; ++frame) {  // the IDs wrap to 0x50 at frame 7: period 12
        EXPECT_EQ(seen[frame].vaux, 0x50 + (frame - 6) % 12) << "frame " << frame + 1;
        EXPECT_EQ(seen[frame].audio, 0x70 + (frame - 6) % 12) << "frame " << frame + 1;
        EXPECT_EQ(seen[frame].video, 0x90 + (frame - 6) % 12) << "frame " << frame + 1;
    }
    for (int frame = 8; frame < 26; ++frame) {
        if (frame >= 18) {
            EXPECT_EQ(seen[frame].vaux, seen[frame - 12].vaux) << "frame " << frame + 1;
            EXPECT_EQ(seen[frame].audio, seen[frame - 12].audio);
            EXPECT_EQ(seen[frame].video, seen[frame - 12].video);
        }
        EXPECT_EQ(seen[frame].toggle, seen[frame - 2].toggle);
        EXPECT_NE(seen[frame].toggle, seen[frame - 1].toggle);
    }
    // The state after the last packed frame is the next frame's.
    EXPECT_EQ(info.dif_toggle, 0x68);
    EXPECT_EQ(info.vaux_id, 0x50 + (26 - 6) % 12);
}

TEST(IdCycle, UnpackIgnoresIdBytes)
{
    std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 5);
    Packed p = pack(plane, start_info());
    for (int i = 0; i < DV_FRAME_SIZE; i += DIF_BLOCK_SIZE)
        p.dv()[i] = 0x00;
    std::vector<uint8_t> out;
    FrameRecord r = unpack(p.dv(), &out);
    EXPECT_EQ(out, plane);
    EXPECT_EQ(r.magic_ok, 1);
    EXPECT_EQ(r.sum_computed, r.sum_stored);
}

// Frame offsets pack_frame may write; everything else keeps the template's value.
// Frame offsets the packer writes in a frame of system `v`, found from the
// block layout rather than from the offset tables under test.
std::set<int> writable_frame_offsets(const VideoSystem& v = NTSC)
{
    std::set<int> offsets;
    offsets.insert(4);
    for (int b = 3; b <= 5; ++b)
        offsets.insert(b * DIF_BLOCK_SIZE);
    for (int s = 0; s < v.dif_sequences; ++s)
        for (int k = 0; k < 9; ++k)
            offsets.insert((s * 150 + 6 + 16 * k) * DIF_BLOCK_SIZE);
    offsets.insert(FRAME_HEADER_FRAME_OFFSET);
    for (int i = 4; i < 76; ++i)
        offsets.insert(FRAME_HEADER_FRAME_OFFSET + i);
    for (int s = 0; s < v.dif_sequences; ++s) {
        for (int b = 7; b < 150; ++b) {
            const int block = (s * 150 + b) * DIF_BLOCK_SIZE;
            if ((b - 6) % 16 == 0 || block == FRAME_HEADER_FRAME_OFFSET)
                continue;
            offsets.insert(block);
            for (int i = 4; i < DIF_BLOCK_SIZE; ++i)
                offsets.insert(block + i);
        }
    }
    return offsets;
}

class PackFrameSystems : public testing::TestWithParam<const VideoSystem*> {};

TEST_P(PackFrameSystems, LeavesEveryOtherTemplateByteAloneAndUnpacksWhatItPacked)
{
    const VideoSystem& v = *GetParam();
    const std::vector<uint8_t> tpl = template_chunk(v);
    const std::set<int> writable = writable_frame_offsets(v);
    ASSERT_EQ(writable.size(), 1u + 3 + 9u * v.dif_sequences + 1 + 72 + static_cast<size_t>(v.payload_blocks) * 77u);

    // Planes whose bytes differ from whatever the template holds, so that a stray
    // write shows, and packing states through a full ID cycle.
    FrameInfo info = start_info();
    std::vector<uint8_t> chunk = tpl;
    uint8_t* dv = chunk.data() + CHUNK_HEADER_SIZE;
    for (int frame = 0; frame < 13; ++frame) {
        std::vector<uint8_t> plane = random_bytes(static_cast<size_t>(v.plane_size), 100 + frame);
        info.frame_index = frame;
        pack_frame(v, plane.data(), &info, 30, chunk.data());
        for (int i = 0; i < CHUNK_HEADER_SIZE; ++i)
            ASSERT_EQ(chunk[i], tpl[i]) << "chunk header byte " << i;
        for (int x = 0; x < v.frame_size; ++x)
            if (!writable.count(x)) {
                ASSERT_EQ(dv[x], tpl[CHUNK_HEADER_SIZE + x]) << "frame offset " << x << ", frame " << frame;
            }
        std::vector<uint8_t> back(static_cast<size_t>(v.plane_size));
        FrameRecord record{};
        unpack_frame(v, dv, back.data(), &record);
        ASSERT_EQ(back, plane) << "frame " << frame;
        EXPECT_EQ(record.sum_computed, record.sum_stored);
        EXPECT_EQ(record.frame_index, frame);
        EXPECT_EQ(&system_of_frame(dv), &v);
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, PackFrameSystems, testing::Values(&NTSC, &PAL),
                         [](const testing::TestParamInfo<const VideoSystem*>& p) {
                             return std::string(p.param->id == PAL.id ? "pal" : "ntsc");
                         });

TEST(FrameHeader, FieldEncodings)
{
    FrameInfo info = start_info();
    info.frame_index = 300;
    info.bytes_remaining = 102524;
    info.file_index = 0x0203;
    info.file_count = 0x0405;
    info.final_frame = 100;
    Packed p = pack(std::vector<uint8_t>(PLANE_SIZE, 1), info, 30);
    const uint8_t expected[24] = {'S',  'P',  'O',  'E',  0x7C, 0x90, 0x01, 0x7C, 0x90, 0x01, 0x00, 0x00,
                                  0x03, 0x02, 0x05, 0x04, 0x2C, 0x01, 0x00, 71,   0x00, 0x00, 0xFF, 0xFF};
    // The plane of ones sums to 102,524 as well: 0x7C 0x90 0x01 in the checksum.
    for (int copy = 0; copy < 3; ++copy)
        for (int i = 0; i < FRAME_HEADER_SIZE; ++i)
            EXPECT_EQ(p.header_copy(copy)[i], expected[i]) << "copy " << copy + 1 << " byte " << i;

    FrameRecord r = unpack(p.dv());
    EXPECT_EQ(r.magic_ok, 1);
    EXPECT_EQ(r.frame_index, 300);
    EXPECT_EQ(r.bytes_remaining, 102524);
    EXPECT_EQ(r.file_index, 0x0203);
    EXPECT_EQ(r.file_count, 0x0405);
    EXPECT_EQ(r.last_frame_index, 71);  // final_frame - repeat0 + 1
    EXPECT_EQ(r.sum_stored, 102524);
}

TEST(FrameHeader, LastFrameIndexFollowsRepeat0)
{
    std::vector<uint8_t> plane(PLANE_SIZE, 0);
    FrameInfo info = start_info();
    info.final_frame = 100;
    EXPECT_EQ(unpack(pack(plane, info, 1).dv()).last_frame_index, 100);
    EXPECT_EQ(unpack(pack(plane, info, 30).dv()).last_frame_index, 71);
    info.final_frame = 29;
    EXPECT_EQ(unpack(pack(plane, info, 30).dv()).last_frame_index, 0);
}

TEST(FrameHeader, WideValuesAreCutToTheFieldWidth)
{
    FrameInfo info = start_info();
    info.bytes_remaining = 0x7A123456789ALL;
    info.file_index = 0x12345;
    info.file_count = -1;
    info.frame_index = 0x12345678;
    info.final_frame = 0;  // 0 - 30 + 1 = -29
    Packed p = pack(std::vector<uint8_t>(PLANE_SIZE, 0), info, 30);
    const uint8_t* h = p.header_copy(0);
    const uint8_t expected[] = {0x9A, 0x78, 0x56, 0x34, 0x12, 0x45, 0x23, 0xFF, 0xFF,
                                0x78, 0x56, 0x34, 0xE3, 0xFF, 0xFF, 0xFF, 0xFF};
    for (int i = 0; i < 17; ++i)
        EXPECT_EQ(h[7 + i], expected[i]) << "header byte " << 7 + i;

    FrameRecord r = unpack(p.dv());
    EXPECT_EQ(r.bytes_remaining, 0x123456789ALL);
    EXPECT_EQ(r.file_index, 0x2345);
    EXPECT_EQ(r.file_count, 0xFFFF);
    EXPECT_EQ(r.frame_index, 0x345678);
    EXPECT_EQ(r.last_frame_index, 0xFFFFE3);
}

TEST(FrameHeader, FortyBitFieldDecodesUnsigned)
{
    FrameInfo info = start_info();
    info.bytes_remaining = 0xFFFFFFFFFFLL;
    EXPECT_EQ(unpack(pack(std::vector<uint8_t>(PLANE_SIZE, 0), info).dv()).bytes_remaining, 0xFFFFFFFFFFLL);
}

// A frame whose three copies carry distinguishable frame indices.
Packed frame_with_copies(int index1, int index2, int index3)
{
    FrameInfo info = start_info();
    info.frame_index = 5;
    Packed p = pack(random_bytes(PLANE_SIZE, 9), info);
    const int indices[3] = {index1, index2, index3};
    for (int copy = 0; copy < 3; ++copy)
        p.header_copy(copy)[FH_FRAME_INDEX] = static_cast<uint8_t>(indices[copy]);
    return p;
}

TEST(HeaderVote, TwoOfThree)
{
    EXPECT_EQ(unpack(frame_with_copies(5, 5, 5).dv()).frame_index, 5);
    // Copy 1 damaged, copies 2 and 3 agree: copy 2.
    EXPECT_EQ(unpack(frame_with_copies(99, 5, 5).dv()).frame_index, 5);
    // Copy 2 or copy 3 damaged: copy 1 agrees with the other.
    EXPECT_EQ(unpack(frame_with_copies(5, 99, 5).dv()).frame_index, 5);
    EXPECT_EQ(unpack(frame_with_copies(5, 5, 99).dv()).frame_index, 5);
    // Copies 2 and 3 damaged alike: copy 1 matches neither, and copy 2 is taken.
    EXPECT_EQ(unpack(frame_with_copies(5, 99, 99).dv()).frame_index, 99);
    // Copies 2 and 3 damaged differently: still copy 2.
    EXPECT_EQ(unpack(frame_with_copies(5, 98, 99).dv()).frame_index, 98);
    // All differ: copy 2.
    EXPECT_EQ(unpack(frame_with_copies(97, 98, 99).dv()).frame_index, 98);
}

TEST(HeaderVote, ComparesAllTwentyFourBytes)
{
    // Copies 1 and 3 differ in one byte only; copy 2 differs more. Any byte left
    // out of the comparison would let copy 1 win.
    for (int i = 0; i < FRAME_HEADER_SIZE; ++i) {
        Packed p = frame_with_copies(5, 6, 5);
        p.header_copy(0)[i] ^= 0x01;
        EXPECT_EQ(unpack(p.dv()).frame_index, 6) << "byte " << i;
    }
}

TEST(HeaderVote, BadMagicStillDecodesFieldsAndPlane)
{
    std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 21);
    FrameInfo info = start_info();
    info.frame_index = 300;
    info.bytes_remaining = 102524;
    Packed p = pack(plane, info);
    for (int copy = 0; copy < 3; ++copy)
        p.header_copy(copy)[FH_MAGIC_LAST] = 'F';
    std::vector<uint8_t> out;
    FrameRecord r = unpack(p.dv(), &out);
    EXPECT_EQ(r.magic_ok, 0);
    EXPECT_EQ(out, plane);
    EXPECT_EQ(r.sum_computed, static_cast<int32_t>(byte_sum(plane) & 0xFFFFFF));
    EXPECT_EQ(r.sum_stored, r.sum_computed);
    EXPECT_EQ(r.frame_index, 300);
    EXPECT_EQ(r.bytes_remaining, 102524);
    EXPECT_EQ(r.last_frame_index, 71);

    // The magic of the chosen copy counts, not that of the others.
    p.header_copy(1)[FH_MAGIC_LAST] = 'E';  // copy 2 mended, copies 1 and 3 still agree
    EXPECT_EQ(unpack(p.dv()).magic_ok, 0);
    p.header_copy(0)[FH_MAGIC_LAST] = 'E';  // copy 1 now equals copy 2
    EXPECT_EQ(unpack(p.dv()).magic_ok, 1);
}

TEST(MaskedMatch, Cases)
{
    const uint8_t data[] = {9, 9, 'a', 'b', 'c', 'd'};
    const uint8_t pattern[] = {'a', 'b', 'x', 'd'};
    const uint8_t ones[] = {1, 1, 1, 1};
    const uint8_t skip_third[] = {1, 1, 0, 1};
    const uint8_t other_values[] = {1, 1, 2, 1};
    const uint8_t high_values[] = {1, 1, 0xFF, 1};
    const uint8_t none[] = {0, 0, 0, 0};

    EXPECT_EQ(masked_match(data, pattern, ones, 4, 2), 0);
    EXPECT_EQ(masked_match(data, pattern, skip_third, 4, 2), 1);
    EXPECT_EQ(masked_match(data, pattern, other_values, 4, 2), 1);  // only a mask byte of 1 compares
    EXPECT_EQ(masked_match(data, pattern, high_values, 4, 2), 1);
    EXPECT_EQ(masked_match(data, pattern, none, 4, 0), 1);
    EXPECT_EQ(masked_match(data, pattern, ones, 2, 2), 1);
    EXPECT_EQ(masked_match(data, pattern, ones, 2, 1), 0);  // start offset respected
    EXPECT_EQ(masked_match(data, pattern, ones, 2, 0), 0);
    EXPECT_EQ(masked_match(data, pattern, ones, 0, 0), 1);
    EXPECT_EQ(masked_match(data, pattern, ones, -5, 0), 1);

    // A mismatch in the last compared position only.
    const uint8_t last_differs[] = {'a', 'b', 'x', 'e'};
    EXPECT_EQ(masked_match(data, last_differs, skip_third, 4, 2), 0);
    EXPECT_EQ(masked_match(data, last_differs, skip_third, 3, 2), 1);
}

}  // namespace
