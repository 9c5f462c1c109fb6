// The plane Hamming code: its tables, the encoder and decoder block cycles and
// their diagnostics, and single-plane repair at every position of a block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ecc.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

using Plane = std::vector<uint8_t>;  // exactly ECC_PLANE_BYTES, as callers hand planes in

// The data rows of the parity table as bytes (bit k = parity plane k); tapes
// written with any other table cannot be read back.
constexpr uint8_t DATA_ROWS[ECC_K] = {
    0x25, 0x23, 0x43, 0x45, 0x79, 0x83, 0x85, 0x89, 0x4A, 0x46, 0x86, 0x8A, 0xF2, 0x07, 0x0B, 0x13,
    0x94, 0x8C, 0x0D, 0x15, 0xE5, 0x0E, 0x16, 0x26, 0x29, 0x19, 0x1A, 0x2A, 0xCB, 0x1C, 0x2C, 0x4C,
    0x52, 0x32, 0x34, 0x54, 0x97, 0x38, 0x58, 0x98, 0xA4, 0x64, 0x68, 0xA8, 0x2F, 0x70, 0xB0, 0x31,
    0x49, 0xC8, 0xD0, 0x51, 0x5E, 0xE0, 0x61, 0x62, 0x92, 0x91, 0xA1, 0xA2, 0xBC, 0xC1, 0xC2, 0xC4,
};

int row_byte(int row)
{
    int bits = 0;
    for (int k = 0; k < ECC_NMK; ++k)
        bits |= ECC_PARITY_TABLE[row][k] << k;
    return bits;
}

int weight(int value)
{
    int n = 0;
    for (; value != 0; value &= value - 1)
        ++n;
    return n;
}

bool get_bit(const uint8_t* plane, int word, int bit)
{
    return (plane[4 * word + bit / 8] >> (bit % 8)) & 1;
}

void flip_bit(uint8_t* plane, int word, int bit)
{
    plane[4 * word + bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
}

bool plane_is_zero(const uint8_t* plane, int bytes = ECC_PLANE_BYTES)
{
    for (int i = 0; i < bytes; ++i) {
        if (plane[i] != 0)
            return false;
    }
    return true;
}

bool same_plane(const uint8_t* a, const uint8_t* b)
{
    return std::memcmp(a, b, ECC_PLANE_BYTES) == 0;
}

// The diagnostic line the library leaves for the caller's sink while `action` runs.
std::string stdout_of(const std::function<void()>& action)
{
    ecc_clear_diagnostic();
    action();
    return ecc_last_diagnostic();
}

// 64 random data planes and the parity planes computed here, byte-wise, from the table.
struct Block {
    std::vector<Plane> planes;  // 72: data 0..63, parity 0..7
};

const Block& encoded_block()
{
    static const Block block = [] {
        Block b;
        for (int d = 0; d < ECC_K; ++d)
            b.planes.push_back(random_bytes(ECC_PLANE_BYTES, 1000u + static_cast<uint32_t>(d)));
        for (int k = 0; k < ECC_NMK; ++k) {
            Plane parity(ECC_PLANE_BYTES, 0);
            for (int d = 0; d < ECC_K; ++d) {
                if (ECC_PARITY_TABLE[d][k]) {
                    for (int i = 0; i < ECC_PLANE_BYTES; ++i)
                        parity[i] ^= b.planes[d][i];
                }
            }
            b.planes.push_back(parity);
        }
        return b;
    }();
    return block;
}

struct EncoderFixture : testing::Test {
    ECCEncoder enc{};
    void SetUp() override { ASSERT_EQ(ecc_encoder_init(&enc, ECC_PLANE_BYTES), 0); }
    void TearDown() override { ecc_encoder_shutdown(&enc); }
    void encode(int count)
    {
        for (int d = 0; d < count; ++d)
            ASSERT_EQ(ecc_encoder_enc1(&enc, encoded_block().planes[d].data()), 0);
    }
};

struct DecoderFixture : testing::Test {
    ECCDecoder dec{};
    void SetUp() override { ASSERT_EQ(ecc_decoder_init(&dec, ECC_PLANE_BYTES), 0); }
    void TearDown() override { ecc_decoder_shutdown(&dec); }

    // Receives planes through the decoder's own buffers, as the block queue does.
    void receive(const std::vector<Plane>& planes, int count = ECC_N)
    {
        for (int r = 0; r < count; ++r) {
            uint8_t* buffer = nullptr;
            ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &buffer), 0);
            std::memcpy(buffer, planes[r].data(), ECC_PLANE_BYTES);
            ASSERT_EQ(ecc_decoder_syn1(&dec, buffer), 0);
        }
    }
    std::vector<const uint8_t*> drain()
    {
        std::vector<const uint8_t*> out;
        for (int d = 0; d < ECC_K; ++d) {
            uint8_t* plane = nullptr;
            EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, &plane), 0);
            out.push_back(plane);
        }
        return out;
    }
    bool syndromes_zero() const
    {
        for (int k = 0; k < ECC_NMK; ++k) {
            if (!plane_is_zero(dec.pSyndromePlanes[k]))
                return false;
        }
        return true;
    }
    void expect_counters(int received, int out) const
    {
        EXPECT_EQ(dec.cCodeReceived, received);
        EXPECT_EQ(dec.cDataOut, out);
    }
};

// Per-bit reference: transposes the 8 syndrome words of each word position into
// 32 syndrome bytes and applies them with ecc_correct_data32. Returns the count
// of syndrome bytes that locate nothing.
uint32_t reference_correct(uint8_t** received, uint8_t* const* syndromes)
{
    uint32_t uncorrectable = 0;
    for (int w = 0; w < ECC_PLANE_WORDS; ++w) {
        uint8_t bytes[32] = {};
        bool any = false;
        for (int j = 0; j < 32; ++j) {
            for (int k = 0; k < ECC_NMK; ++k)
                bytes[j] = static_cast<uint8_t>(bytes[j] | (get_bit(syndromes[k], w, j) << k));
            any = any || bytes[j] != 0;
            uncorrectable += ECC_LOCATION_TABLE[bytes[j]] == ECC_LOC_UNCORRECTABLE;
        }
        if (any) {
            EXPECT_EQ(ecc_correct_data32(received, bytes, w, ECC_PLANE_BYTES), 0);
        }
    }
    return uncorrectable;
}

TEST(EccTables, ParityTableIsTheTapeFormatsHsiaoCode)
{
    for (int d = 0; d < ECC_K; ++d)
        EXPECT_EQ(row_byte(d), DATA_ROWS[d]) << "data plane " << d;
    for (int k = 0; k < ECC_NMK; ++k)
        EXPECT_EQ(row_byte(ECC_K + k), 1 << k) << "parity plane " << k;
    for (int r = 0; r < ECC_N; ++r) {
        EXPECT_EQ(weight(row_byte(r)) % 2, 1) << "row " << r;
        for (int k = 0; k < ECC_NMK; ++k)
            EXPECT_LE(ECC_PARITY_TABLE[r][k], 1);
        for (int other = 0; other < r; ++other)
            EXPECT_NE(row_byte(other), row_byte(r)) << "rows " << other << " and " << r;
    }
    for (int k = 0; k < ECC_NMK; ++k) {
        int members = 0;
        for (int d = 0; d < ECC_K; ++d)
            members += ECC_PARITY_TABLE[d][k];
        EXPECT_EQ(members, 26) << "parity plane " << k;
    }
}

TEST(EccTables, LocationTableInvertsTheParityTable)
{
    EXPECT_EQ(ECC_LOCATION_TABLE[0], ECC_LOC_NO_ERROR);
    for (int r = 0; r < ECC_N; ++r)
        EXPECT_EQ(ECC_LOCATION_TABLE[row_byte(r)], r) << "row " << r;
    int uncorrectable = 0;
    for (int s = 1; s < 256; ++s) {
        bool is_row = false;
        for (int r = 0; r < ECC_N; ++r)
            is_row = is_row || row_byte(r) == s;
        if (!is_row) {
            EXPECT_EQ(ECC_LOCATION_TABLE[s], ECC_LOC_UNCORRECTABLE) << "syndrome " << s;
            ++uncorrectable;
        }
        // Two wrong bits give an even syndrome, which must never be taken for one.
        if (weight(s) % 2 == 0) {
            EXPECT_EQ(ECC_LOCATION_TABLE[s], ECC_LOC_UNCORRECTABLE) << "syndrome " << s;
        }
    }
    EXPECT_EQ(uncorrectable, 183);
}

TEST_F(EncoderFixture, ParityPlanesAreTheTableSumsOfTheDataPlanes)
{
    EXPECT_EQ(stdout_of([&] { encode(ECC_K); }), "");
    EXPECT_EQ(enc.cDataEncoded, ECC_K);
    for (int k = 0; k < ECC_NMK; ++k) {
        uint8_t* parity = nullptr;
        ASSERT_EQ(ecc_encoder_getp1(&enc, &parity), 0);
        EXPECT_EQ(parity, enc.pParityPlanes[k]) << "handed out in order, not copied";
        EXPECT_TRUE(same_plane(parity, encoded_block().planes[ECC_K + k].data())) << "parity " << k;
        EXPECT_EQ(enc.cParityOut, k + 1);
    }
}

TEST_F(EncoderFixture, BlockCycleAndItsRefusals)
{
    uint8_t* parity = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, &parity), 1); }),
              "ecc_encoder_getp1() : Not yet 1 'full' ECCblock!\n");
    encode(ECC_K - 1);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, &parity), 1); }),
              "ecc_encoder_getp1() : Not yet 1 'full' ECCblock!\n");
    EXPECT_EQ(parity, nullptr);
    encode(0);
    ASSERT_EQ(ecc_encoder_enc1(&enc, encoded_block().planes[ECC_K - 1].data()), 0);

    // A 65th plane is refused and leaves the parity planes as they are.
    const Plane extra = random_bytes(ECC_PLANE_BYTES, 7);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(&enc, extra.data()), 1); }),
              "ecc_encoder_enc1() : Already reached 1 'full' ECCblock!\n");
    EXPECT_EQ(enc.cDataEncoded, ECC_K);
    EXPECT_EQ(enc.cParityOut, 0);

    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(ecc_encoder_getp1(&enc, &parity), 0);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(&enc, extra.data()), 1); }),
              "ecc_encoder_enc1() : Already reached 1 'full' ECCblock!\n");
    for (int k = 3; k < ECC_NMK; ++k) {
        ASSERT_EQ(ecc_encoder_getp1(&enc, &parity), 0);
        EXPECT_TRUE(same_plane(parity, encoded_block().planes[ECC_K + k].data())) << "parity " << k;
    }
    uint8_t* untouched = parity;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, &untouched), 1); }),
              "ecc_encoder_getp1() : Parity-buffer empty!\n");
    EXPECT_EQ(untouched, parity);
    EXPECT_EQ(enc.cDataEncoded, ECC_K);
    EXPECT_EQ(enc.cParityOut, ECC_NMK);

    // The next plane starts a fresh block: the parity planes hold it alone.
    ASSERT_EQ(ecc_encoder_enc1(&enc, extra.data()), 0);
    EXPECT_EQ(enc.cDataEncoded, 1);
    EXPECT_EQ(enc.cParityOut, 0);
    for (int k = 0; k < ECC_NMK; ++k) {
        if (ECC_PARITY_TABLE[0][k])
            EXPECT_TRUE(same_plane(enc.pParityPlanes[k], extra.data())) << "parity " << k;
        else
            EXPECT_TRUE(plane_is_zero(enc.pParityPlanes[k])) << "parity " << k;
    }
}

TEST_F(EncoderFixture, ImpossibleStatesAndMissingArgumentsAreRefused)
{
    const Plane plane = random_bytes(ECC_PLANE_BYTES, 8);
    uint8_t* parity = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(nullptr, plane.data()), 1); }),
              "ecc_encoder_enc1() : pECCEncoder or pMessagePlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(&enc, nullptr), 1); }),
              "ecc_encoder_enc1() : pECCEncoder or pMessagePlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, nullptr), 1); }),
              "ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(nullptr, &parity), 1); }),
              "ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_init(nullptr, ECC_PLANE_BYTES), 1); }),
              "ecc_encoder_init() : pECCEncoder == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_shutdown(nullptr), 1); }),
              "ecc_encoder_shutdown() : pECCEncoder == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_generate_z1(nullptr, plane.data(), 0, ECC_PLANE_BYTES), 1); }),
              "ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_generate_z1(enc.pParityPlanes, nullptr, 0, ECC_PLANE_BYTES), 1); }),
              "ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_clear_parityplanes(nullptr, ECC_PLANE_BYTES), 1); }),
              "ecc_clear_parityplanes() : pParityPlanes == NULL!\n");
    EXPECT_EQ(enc.cDataEncoded, 0);

    // A message that is itself one of the parity planes is added plane after
    // plane: parity plane 0 cancels itself, then adds nothing to planes 2 and 5.
    std::memcpy(enc.pParityPlanes[0], plane.data(), ECC_PLANE_BYTES);
    std::memcpy(enc.pParityPlanes[2], plane.data(), ECC_PLANE_BYTES);
    ASSERT_EQ(ecc_generate_z1(enc.pParityPlanes, enc.pParityPlanes[0], 0, ECC_PLANE_BYTES), 0);
    EXPECT_TRUE(plane_is_zero(enc.pParityPlanes[0]));
    EXPECT_TRUE(same_plane(enc.pParityPlanes[2], plane.data()));
    EXPECT_TRUE(plane_is_zero(enc.pParityPlanes[5]));
    ecc_clear_parityplanes(enc.pParityPlanes, ECC_PLANE_BYTES);

    enc.cDataEncoded = ECC_K + 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(&enc, plane.data()), 1); }),
              "ecc_encoder_enc1() : FATAL pECCEncoder->cDataEncoded > ECC_K !\n");
    EXPECT_EQ(enc.cDataEncoded, ECC_K + 1);
    enc.cDataEncoded = ECC_K;
    enc.cParityOut = ECC_NMK + 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, &parity), 1); }),
              "ecc_encoder_getp1() : FATAL pECCEncoder->cParityOut > ECC_NMK!\n");
    EXPECT_EQ(parity, nullptr);

    // After shutdown the counters remain, the planes do not: nothing is handed out.
    enc.cParityOut = 0;
    ASSERT_EQ(ecc_encoder_shutdown(&enc), 0);
    EXPECT_EQ(enc.pMessagePlane, nullptr);
    for (int k = 0; k < ECC_NMK; ++k)
        EXPECT_EQ(enc.pParityPlanes[k], nullptr);
    EXPECT_EQ(enc.cDataEncoded, ECC_K);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_getp1(&enc, &parity), 1); }),
              "ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n");
    EXPECT_EQ(parity, nullptr);
    enc.cDataEncoded = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_enc1(&enc, plane.data()), 1); }),
              "ecc_clear_parityplanes() : pParityPlanes == NULL!\n");
    EXPECT_EQ(enc.cDataEncoded, 0);
}

TEST_F(DecoderFixture, CleanBlockLeavesSyndromesZeroAndDataUnchanged)
{
    const Block& block = encoded_block();
    std::string printed = stdout_of([&] {
        receive(block.planes);
        EXPECT_TRUE(syndromes_zero());
        EXPECT_EQ(ecc_decoder_correct(&dec, 1), 0);
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(dec.cUncorrectable, 0u);
    const auto out = drain();
    for (int d = 0; d < ECC_K; ++d) {
        EXPECT_EQ(out[d], dec.pReceivedPlanes[d]) << "the object's own buffer, in order";
        EXPECT_TRUE(same_plane(out[d], block.planes[d].data())) << "data plane " << d;
    }
}

TEST_F(DecoderFixture, AnyOneReplacedPlaneIsRepairedAtEveryPosition)
{
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    std::string printed = stdout_of([&] {
        for (int p = 0; p < ECC_N; ++p) {
            // Another frame's content: about half the bits of the plane are wrong.
            received[p] = block.planes[(p + 1) % ECC_N];
            receive(received);
            ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
            EXPECT_EQ(dec.cUncorrectable, 0u) << "position " << p;
            const auto out = drain();
            for (int d = 0; d < ECC_K; ++d)
                ASSERT_TRUE(same_plane(out[d], block.planes[d].data())) << "position " << p << " plane " << d;
            received[p] = block.planes[p];
        }
    });
    EXPECT_EQ(printed, "");
}

TEST_F(DecoderFixture, TwoWrongBitsInOneCodewordAreLeftAsReceived)
{
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    // Same codeword wrong in two data planes, and in a data and a parity plane.
    flip_bit(received[3].data(), 100, 5);
    flip_bit(received[40].data(), 100, 5);
    flip_bit(received[17].data(), 2000, 31);
    flip_bit(received[ECC_K + 6].data(), 2000, 31);
    // Single errors next to them (same word, other bit; other word) are still repaired.
    flip_bit(received[9].data(), 100, 6);
    flip_bit(received[63].data(), ECC_PLANE_WORDS - 1, 31);
    receive(received);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(&dec, 1), 0); }), "");
    EXPECT_EQ(dec.cUncorrectable, 2u);
    const auto out = drain();
    for (int d = 0; d < ECC_K; ++d) {
        const bool left_as_received = d == 3 || d == 40 || d == 17;
        const auto& expected = left_as_received ? received[d] : block.planes[d];
        EXPECT_TRUE(same_plane(out[d], expected.data())) << "data plane " << d;
    }
}

TEST_F(DecoderFixture, UncorrectableCountIsTheCodewordsWithBothPlanesWrong)
{
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    received[10] = random_bytes(ECC_PLANE_BYTES, 21);
    received[50] = random_bytes(ECC_PLANE_BYTES, 22);
    uint32_t both_wrong = 0;
    for (int i = 0; i < ECC_PLANE_BYTES; ++i)
        both_wrong += weight((received[10][i] ^ block.planes[10][i]) & (received[50][i] ^ block.planes[50][i]));
    receive(received);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_EQ(dec.cUncorrectable, both_wrong);
    const auto out = drain();
    // A bit wrong in only one of the two planes is repaired; one wrong in both stays.
    for (int i = 0; i < ECC_PLANE_BYTES; ++i) {
        const uint8_t wrong10 = received[10][i] ^ block.planes[10][i];
        const uint8_t wrong50 = received[50][i] ^ block.planes[50][i];
        ASSERT_EQ(out[10][i], block.planes[10][i] ^ (wrong10 & wrong50)) << "byte " << i;
        ASSERT_EQ(out[50][i], block.planes[50][i] ^ (wrong10 & wrong50)) << "byte " << i;
    }

    // The same bits wrong in both planes: every wrong codeword has one and the
    // same even syndrome, none is touched.
    const Plane mask = random_bytes(ECC_PLANE_BYTES, 23);
    received = block.planes;
    uint32_t masked = 0;
    for (int i = 0; i < ECC_PLANE_BYTES; ++i) {
        received[10][i] ^= mask[i];
        received[50][i] ^= mask[i];
        masked += weight(mask[i]);
    }
    receive(received);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_EQ(dec.cUncorrectable, masked);
    const auto left = drain();
    for (int d = 0; d < ECC_K; ++d)
        EXPECT_TRUE(same_plane(left[d], received[d].data())) << "data plane " << d;

    // Correction off, and a clean block, count nothing.
    received[10] = block.planes[10];
    receive(received);
    ASSERT_EQ(ecc_decoder_correct(&dec, 0), 0);
    EXPECT_EQ(dec.cUncorrectable, 0u);
    drain();
    receive(block.planes);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_EQ(dec.cUncorrectable, 0u);
}

TEST_F(DecoderFixture, CorrectionOffHandsPlanesOutAsReceived)
{
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    received[5] = random_bytes(ECC_PLANE_BYTES, 31);
    receive(received);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(&dec, 0), 0); }), "");
    const auto out = drain();
    for (int d = 0; d < ECC_K; ++d)
        EXPECT_TRUE(same_plane(out[d], received[d].data())) << "data plane " << d;
}

// Arbitrary syndromes (not from any codeword): the decoder's whole-plane pass
// must flip exactly what the per-bit procedure flips, word by word.
TEST_F(DecoderFixture, CorrectionPassAgreesWithPerBitReference)
{
    for (int dense = 0; dense < 2; ++dense) {
        std::vector<Plane> received;
        for (int r = 0; r < ECC_N; ++r)
            received.push_back(random_bytes(ECC_PLANE_BYTES, 500u + static_cast<uint32_t>(r)));
        if (!dense) {
            // Scattered errors: most words clean, wrong words mixing zero and non-zero syndromes.
            received = encoded_block().planes;
            const Plane noise = random_bytes(ECC_N * 64, 77);
            for (int e = 0; e < ECC_N * 16; ++e) {
                const int plane = noise[4 * e] % ECC_N;
                const int word = (noise[4 * e + 1] * 256 + noise[4 * e + 2]) * 97 % ECC_PLANE_WORDS;
                flip_bit(received[plane].data(), word, noise[4 * e + 3] % 32);
            }
            flip_bit(received[0].data(), ECC_PLANE_WORDS - 1, 0);
            flip_bit(received[ECC_K + 1].data(), ECC_PLANE_WORDS - 1, 17);
        }
        receive(received);
        std::vector<Plane> reference;
        std::vector<uint8_t*> pointers;
        for (int r = 0; r < ECC_N; ++r) {
            reference.emplace_back(dec.pReceivedPlanes[r], dec.pReceivedPlanes[r] + ECC_PLANE_BYTES);
            pointers.push_back(reference.back().data());
        }
        std::vector<Plane> syndromes;
        std::vector<uint8_t*> syndrome_pointers;
        for (int k = 0; k < ECC_NMK; ++k) {
            syndromes.emplace_back(dec.pSyndromePlanes[k], dec.pSyndromePlanes[k] + ECC_PLANE_BYTES);
            syndrome_pointers.push_back(syndromes.back().data());
        }
        const uint32_t expected_uncorrectable = reference_correct(pointers.data(), syndrome_pointers.data());

        // The public pass on copies, then the decoder's own.
        std::vector<Plane> copies = received;
        std::vector<uint8_t*> copy_pointers;
        for (auto& c : copies)
            copy_pointers.push_back(c.data());
        ASSERT_EQ(ecc_syn_to_loc_z1(copy_pointers.data(), syndrome_pointers.data(), ECC_PLANE_BYTES), 0);
        ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
        EXPECT_EQ(dec.cUncorrectable, expected_uncorrectable) << "dense " << dense;
        for (int r = 0; r < ECC_N; ++r) {
            EXPECT_TRUE(same_plane(dec.pReceivedPlanes[r], reference[r].data())) << "dense " << dense << " plane " << r;
            EXPECT_TRUE(same_plane(copies[r].data(), reference[r].data())) << "dense " << dense << " plane " << r;
        }
        drain();
    }
}

// A codeword with a single wrong bit is found wherever it lies, also when it is
// the only wrong one in a long stretch of the planes.
// The code works on the planes of either video system: the same tables over
// planes of another size, its last word included.
class EccPlaneSizes : public testing::TestWithParam<const VideoSystem*> {};

TEST_P(EccPlaneSizes, IsolatedErrorIsFoundAnywhereInThePlane)
{
    const int bytes = GetParam()->plane_size;
    const int plane_words = bytes / ECC_WORD_BYTES;
    std::vector<Plane> received(ECC_N, Plane(bytes, 0));
    std::vector<Plane> syndromes(ECC_NMK, Plane(bytes, 0));
    std::vector<uint8_t*> received_pointers;
    std::vector<uint8_t*> syndrome_pointers;
    for (auto& p : received)
        received_pointers.push_back(p.data());
    for (auto& s : syndromes)
        syndrome_pointers.push_back(s.data());
    std::vector<int> words = {plane_words - 1, plane_words - 2, plane_words - 3};
    for (int n = 0; (1 << n) < plane_words; ++n) {
        for (int w = (1 << n) - 1; w <= (1 << n) + 1 && w < plane_words; ++w)
            words.push_back(w);
    }
    for (int w : words) {
        const int bit = w % 32;
        const int position = w % ECC_K;
        for (int k = 0; k < ECC_NMK; ++k) {
            if (ECC_PARITY_TABLE[position][k])
                flip_bit(syndromes[k].data(), w, bit);
        }
        ASSERT_EQ(ecc_syn_to_loc_z1(received_pointers.data(), syndrome_pointers.data(), bytes), 0);
        EXPECT_TRUE(get_bit(received[position].data(), w, bit)) << "word " << w;
        flip_bit(received[position].data(), w, bit);
        for (int r = 0; r < ECC_N; ++r)
            ASSERT_TRUE(plane_is_zero(received[r].data(), bytes)) << "word " << w << " plane " << r;
        for (int k = 0; k < ECC_NMK; ++k) {
            if (ECC_PARITY_TABLE[position][k])
                flip_bit(syndromes[k].data(), w, bit);
        }
    }
}

// A block encoded and decoded after both objects were resized from the other
// system's planes: a plane replaced whole, its tail included, comes back.
TEST_P(EccPlaneSizes, BlocksOfEitherSizeRepairAReplacedPlane)
{
    const int bytes = GetParam()->plane_size;
    const int other = GetParam()->id == PAL.id ? NTSC.plane_size : PAL.plane_size;
    ECCEncoder enc{};
    ECCDecoder dec{};
    ASSERT_EQ(ecc_encoder_init(&enc, other), 0);
    ASSERT_EQ(ecc_decoder_init(&dec, other), 0);
    ASSERT_EQ(ecc_encoder_resize(&enc, bytes), 0);
    ASSERT_EQ(ecc_decoder_resize(&dec, bytes), 0);
    std::vector<Plane> planes;
    for (int d = 0; d < ECC_K; ++d) {
        planes.push_back(random_bytes(static_cast<size_t>(bytes), 7000u + static_cast<uint32_t>(d)));
        ASSERT_EQ(ecc_encoder_enc1(&enc, planes.back().data()), 0);
    }
    for (int k = 0; k < ECC_NMK; ++k) {
        uint8_t* parity = nullptr;
        ASSERT_EQ(ecc_encoder_getp1(&enc, &parity), 0);
        planes.emplace_back(parity, parity + bytes);
    }
    const int replaced = 37;
    for (int r = 0; r < ECC_N; ++r) {
        uint8_t* buffer = nullptr;
        ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &buffer), 0);
        std::memcpy(buffer, planes[r].data(), static_cast<size_t>(bytes));
        if (r == replaced)
            std::memset(buffer, 0x5A, static_cast<size_t>(bytes));
        ASSERT_EQ(ecc_decoder_syn1(&dec, buffer), 0);
    }
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_EQ(dec.cUncorrectable, 0u);
    for (int d = 0; d < ECC_K; ++d) {
        uint8_t* out = nullptr;
        ASSERT_EQ(ecc_decoder_get_out_buffer(&dec, &out), 0);
        EXPECT_EQ(std::memcmp(out, planes[d].data(), static_cast<size_t>(bytes)), 0) << "plane " << d;
    }
    // Within a block the size stays; between blocks it may change again.
    uint8_t* buffer = nullptr;
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &buffer), 0);
    ASSERT_EQ(ecc_decoder_syn1(&dec, buffer), 0);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_resize(&dec, other), 1); }),
              "ecc_decoder_resize() : a block is being received!\n");
    ASSERT_EQ(ecc_encoder_enc1(&enc, planes[0].data()), 0);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_resize(&enc, other), 1); }),
              "ecc_encoder_resize() : a block is being encoded!\n");
    EXPECT_EQ(dec.cPlaneBytes, bytes);
    EXPECT_EQ(enc.cPlaneBytes, bytes);
    ecc_encoder_shutdown(&enc);
    ecc_decoder_shutdown(&dec);
}

INSTANTIATE_TEST_SUITE_P(Systems, EccPlaneSizes, testing::Values(&NTSC, &PAL),
                         [](const testing::TestParamInfo<const VideoSystem*>& p) {
                             return std::string(p.param->id == PAL.id ? "pal" : "ntsc");
                         });

// A plane is a whole number of segments, no larger than the largest system's.
TEST(EccPlaneSizes, OtherSizesAreRefused)
{
    ECCEncoder enc{};
    ECCDecoder dec{};
    for (int bytes : {0, -ECC_SEGMENT_BYTES, ECC_SEGMENT_BYTES + 4, ECC_MAX_PLANE_BYTES + ECC_SEGMENT_BYTES}) {
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_encoder_init(&enc, bytes), 1); }),
                  "ecc_encoder_init() : plane size out of range!\n");
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_init(&dec, bytes), 1); }),
                  "ecc_decoder_init() : plane size out of range!\n");
        EXPECT_EQ(enc.pMessagePlane, nullptr);
        EXPECT_EQ(dec.pPlaneStore, nullptr);
    }
    EXPECT_TRUE(ecc_plane_size_ok(ECC_SEGMENT_BYTES));
    EXPECT_TRUE(ecc_plane_size_ok(ECC_MAX_PLANE_BYTES));
}

TEST_F(DecoderFixture, RepeatedCorrectionChangesNothing)
{
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    // The repairs of one bad plane are taken out of the syndromes.
    received[20] = random_bytes(ECC_PLANE_BYTES, 40);
    receive(received);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_TRUE(syndromes_zero());
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_TRUE(same_plane(dec.pReceivedPlanes[20], block.planes[20].data()));
    drain();

    received[20] = random_bytes(ECC_PLANE_BYTES, 41);
    received[30] = random_bytes(ECC_PLANE_BYTES, 42);
    receive(received);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    const uint32_t uncorrectable = dec.cUncorrectable;
    std::vector<Plane> once;
    for (int d = 0; d < ECC_K; ++d)
        once.emplace_back(dec.pReceivedPlanes[d], dec.pReceivedPlanes[d] + ECC_PLANE_BYTES);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    EXPECT_EQ(dec.cUncorrectable, uncorrectable);
    for (int d = 0; d < ECC_K; ++d)
        EXPECT_TRUE(same_plane(dec.pReceivedPlanes[d], once[d].data())) << "data plane " << d;
}

TEST_F(DecoderFixture, SecondDataSetKeepsTheLastBlockWhileTheNextComesIn)
{
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_switch_data_planes(&dec), 1); }),
              "ecc_decoder_switch_data_planes() : no second set of data planes!\n");
    ASSERT_EQ(ecc_decoder_add_data_set(&dec), 0);
    const Block& block = encoded_block();
    std::vector<Plane> received = block.planes;
    received[5] = random_bytes(ECC_PLANE_BYTES, 50);
    receive(received, ECC_K);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_switch_data_planes(&dec), 1); }),
              "ecc_decoder_switch_data_planes() : a block is being received!\n");
    receive(std::vector<Plane>(received.begin() + ECC_K, received.end()), ECC_NMK);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    uint8_t* out[ECC_K];
    for (uint8_t*& plane : out)
        ASSERT_EQ(ecc_decoder_get_out_buffer(&dec, &plane), 0);
    ASSERT_EQ(ecc_decoder_switch_data_planes(&dec), 0);
    // The next block, another one, comes into the other set and is corrected
    // there; the planes handed out before keep the first block.
    std::vector<Plane> next(ECC_N, Plane(ECC_PLANE_BYTES, 0));
    next[9] = random_bytes(ECC_PLANE_BYTES, 51);
    receive(next);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    for (int d = 0; d < ECC_K; ++d) {
        EXPECT_NE(out[d], dec.pReceivedPlanes[d]);
        EXPECT_TRUE(same_plane(out[d], block.planes[d].data())) << "data plane " << d;
        EXPECT_TRUE(plane_is_zero(dec.pReceivedPlanes[d])) << "data plane " << d;
    }
    drain();
    // Switching back returns the first set; shutdown releases both wherever they are.
    ASSERT_EQ(ecc_decoder_switch_data_planes(&dec), 0);
    EXPECT_EQ(dec.pReceivedPlanes[0], out[0]);
}

TEST_F(DecoderFixture, BlockCycleAndItsRefusals)
{
    const Block& block = encoded_block();
    uint8_t* plane = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(&dec, 1), 1); }),
              "ecc_decoder_correct() : don't have full ECCblock yet!\n");
    uint8_t* first = nullptr;
    uint8_t* again = nullptr;
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &first), 0);
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &again), 0);
    EXPECT_EQ(first, again) << "asking for the buffer does not advance";
    EXPECT_EQ(first, dec.pReceivedPlanes[0]);
    receive(block.planes, ECC_N - 1);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, &plane), 1); }),
              "ecc_decoder_get_out_buffer() : don't have full ECCblock yet!\n");
    EXPECT_EQ(plane, nullptr);
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &plane), 0);
    EXPECT_EQ(plane, dec.pReceivedPlanes[ECC_N - 1]);
    std::memcpy(plane, block.planes[ECC_N - 1].data(), ECC_PLANE_BYTES);
    ASSERT_EQ(ecc_decoder_syn1(&dec, plane), 0);
    expect_counters(ECC_N, 0);

    plane = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(&dec, &plane), 1); }),
              "ecc_decoder_get_rcv_buffer() : already have full ECCblock!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_syn1(&dec, block.planes[0].data()), 1); }),
              "ecc_decoder_syn1() : already have full ECCblock!\n");
    EXPECT_EQ(plane, nullptr);
    EXPECT_TRUE(syndromes_zero());

    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    for (int d = 0; d < ECC_K - 1; ++d) {
        ASSERT_EQ(ecc_decoder_get_out_buffer(&dec, &plane), 0);
        EXPECT_EQ(plane, dec.pReceivedPlanes[d]);
    }
    // With 63 fetched the block is not recycled.
    uint8_t* refused = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(&dec, &refused), 1); }),
              "ecc_decoder_get_rcv_buffer() : already have full ECCblock!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_syn1(&dec, block.planes[0].data()), 1); }),
              "ecc_decoder_syn1() : already have full ECCblock!\n");
    EXPECT_EQ(refused, nullptr);
    expect_counters(ECC_N, ECC_K - 1);

    ASSERT_EQ(ecc_decoder_get_out_buffer(&dec, &plane), 0);
    EXPECT_EQ(plane, dec.pReceivedPlanes[ECC_K - 1]);
    uint8_t* none = nullptr;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, &none), 1); }),
              "ecc_decoder_get_out_buffer() : no data left!\n");
    EXPECT_EQ(none, nullptr);
    expect_counters(ECC_N, ECC_K);

    // After the 64th plane out, the next request starts a new block.
    dec.pSyndromePlanes[2][12345] = 0x5A;
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec, &plane), 0);
    EXPECT_EQ(plane, dec.pReceivedPlanes[0]);
    expect_counters(0, 0);
    EXPECT_TRUE(syndromes_zero());

    // syn1 alone also starts the new block.
    receive(block.planes);
    ASSERT_EQ(ecc_decoder_correct(&dec, 1), 0);
    drain();
    dec.pSyndromePlanes[7][0] = 1;
    ASSERT_EQ(ecc_decoder_syn1(&dec, block.planes[0].data()), 0);
    expect_counters(1, 0);
    EXPECT_TRUE(plane_is_zero(dec.pSyndromePlanes[7])) << "cleared before the first plane was added";
    EXPECT_TRUE(same_plane(dec.pSyndromePlanes[0], block.planes[0].data()));
}

TEST_F(DecoderFixture, ImpossibleStatesAndMissingArgumentsAreRefused)
{
    const Plane plane = random_bytes(ECC_PLANE_BYTES, 9);
    uint8_t* out = nullptr;
    uint8_t location_bytes[32] = {};
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_init(nullptr, ECC_PLANE_BYTES), 1); }),
              "ecc_decoder_init() : pECCDecoder == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_shutdown(nullptr), 1); }),
              "ecc_decoder_shutdown() : pECCDecoder == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(&dec, nullptr), 1); }),
              "ecc_decoder_get_rcv_buffer() : pECCDecoder or pReceivePlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(nullptr, &out), 1); }),
              "ecc_decoder_get_rcv_buffer() : pECCDecoder or pReceivePlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_syn1(&dec, nullptr), 1); }),
              "ecc_decoder_syn1() : pECCDecoder or pReceivedPlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(nullptr, 1), 1); }),
              "ecc_decoder_correct() : pECCDecoder == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, nullptr), 1); }),
              "ecc_decoder_get_out_buffer() : pECCDecoder or pDataPlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decode_z1(nullptr, plane.data(), 0, ECC_PLANE_BYTES), 1); }),
              "ecc_decode_z1() : pReceived or pSyndromePlanes == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decode_z1(dec.pSyndromePlanes, nullptr, 0, ECC_PLANE_BYTES), 1); }),
              "ecc_decode_z1() : pReceived or pSyndromePlanes == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_correct_data32(nullptr, location_bytes, 0, ECC_PLANE_BYTES), 1); }),
              "ecc_correct_data32() : pReceivedPlanes or pLocations == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_correct_data32(dec.pReceivedPlanes, nullptr, 0, ECC_PLANE_BYTES), 1); }),
              "ecc_correct_data32() : pReceivedPlanes or pLocations == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_syn_to_loc_z1(nullptr, dec.pSyndromePlanes, ECC_PLANE_BYTES), 1); }),
              "ecc_syn_to_loc_z1() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_syn_to_loc_z1(dec.pReceivedPlanes, nullptr, ECC_PLANE_BYTES), 1); }),
              "ecc_syn_to_loc_z1() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
    expect_counters(0, 0);

    dec.cCodeReceived = ECC_N + 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(&dec, &out), 1); }),
              "ecc_decoder_get_rcv_buffer() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_syn1(&dec, plane.data()), 1); }),
              "ecc_decoder_syn1() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(&dec, 1), 1); }),
              "ecc_decoder_correct() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n");
    expect_counters(ECC_N + 1, 0);
    dec.cCodeReceived = ECC_N;
    dec.cDataOut = ECC_K + 1;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, &out), 1); }),
              "ecc_decoder_get_out_buffer() : FATAL pECCDecoder->cDataOut > ECC_K!\n");
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(syndromes_zero());

    // After shutdown the counters remain, the planes do not: nothing is handed out.
    dec.cDataOut = 0;
    ASSERT_EQ(ecc_decoder_shutdown(&dec), 0);
    for (int r = 0; r < ECC_N; ++r)
        EXPECT_EQ(dec.pReceivedPlanes[r], nullptr);
    for (int k = 0; k < ECC_NMK; ++k)
        EXPECT_EQ(dec.pSyndromePlanes[k], nullptr);
    expect_counters(ECC_N, 0);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_out_buffer(&dec, &out), 1); }),
              "ecc_decoder_get_out_buffer() : pECCDecoder or pDataPlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_correct(&dec, 1), 1); }),
              "ecc_syn_to_loc_z1() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
    dec.cCodeReceived = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_get_rcv_buffer(&dec, &out), 1); }),
              "ecc_decoder_get_rcv_buffer() : pECCDecoder or pReceivePlane == NULL!\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(ecc_decoder_syn1(&dec, plane.data()), 1); }),
              "ecc_decode_z1() : pReceived or pSyndromePlanes == NULL!\n");
    EXPECT_EQ(out, nullptr);
    expect_counters(0, 0);
}

}  // namespace
