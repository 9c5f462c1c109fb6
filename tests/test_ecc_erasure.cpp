// Correcting ECC blocks whose bad planes or bad payload blocks are known:
// rebuilding independent erasure sets, refusing dependent ones, one erasure
// plus one unknown error, segment-level erasures, and agreement with the
// ordinary correction when nothing is known.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ecc.h"
#include "ecc_erasure.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

using Plane = std::vector<uint8_t>;

constexpr int CODEWORDS_PER_PLANE = ECC_PLANE_WORDS * 32;

uint8_t column_of(int p)
{
    uint8_t c = 0;
    for (int k = 0; k < ECC_NMK; ++k)
        c = static_cast<uint8_t>(c | (ECC_PARITY_TABLE[p][k] << k));
    return c;
}

// Rank over GF(2) of the columns of `positions`.
int column_rank(const std::vector<int>& positions)
{
    uint8_t basis[8] = {};  // basis[b] has highest bit b
    int rank = 0;
    for (int p : positions) {
        uint8_t v = column_of(p);
        for (int b = 7; b >= 0 && v; --b) {
            if (!((v >> b) & 1))
                continue;
            if (!basis[b]) {
                basis[b] = v;
                ++rank;
                v = 0;
            } else {
                v ^= basis[b];
            }
        }
    }
    return rank;
}

// One encoded block shared by all cases: 64 random data planes and their parity.
const std::vector<Plane>& encoded_block()
{
    static const std::vector<Plane> block = [] {
        std::vector<Plane> planes;
        ECCEncoder enc{};
        EXPECT_EQ(ecc_encoder_init(&enc, ECC_PLANE_BYTES), 0);
        for (int i = 0; i < ECC_K; ++i) {
            planes.push_back(random_bytes(ECC_PLANE_BYTES, 1000 + i));
            EXPECT_EQ(ecc_encoder_enc1(&enc, planes.back().data()), 0);
        }
        for (int k = 0; k < ECC_NMK; ++k) {
            uint8_t* parity = nullptr;
            EXPECT_EQ(ecc_encoder_getp1(&enc, &parity), 0);
            planes.emplace_back(parity, parity + ECC_PLANE_BYTES);
        }
        ecc_encoder_shutdown(&enc);
        return planes;
    }();
    return block;
}

const Plane& garbage_plane(int which)
{
    static std::vector<Plane> pool = [] {
        std::vector<Plane> planes;
        for (int i = 0; i < 8; ++i)
            planes.push_back(random_bytes(ECC_PLANE_BYTES, 7000 + i));
        return planes;
    }();
    return pool[which % pool.size()];
}

const Plane& zero_plane()
{
    static const Plane zero(ECC_PLANE_BYTES, 0);
    return zero;
}

uint32_t word_at(const uint8_t* plane, int w)
{
    uint32_t v;
    std::memcpy(&v, plane + 4 * w, 4);
    return v;
}

int popcount32(uint32_t x)
{
    int n = 0;
    for (; x; x &= x - 1)
        ++n;
    return n;
}

class EccErasure : public ::testing::Test {
protected:
    void SetUp() override { reset(); }

    // A fresh decoder, nothing known bad, the block as encoded.
    void reset()
    {
        ASSERT_EQ(ecc_decoder_init(&dec_, ECC_PLANE_BYTES), 0);
        if (!known_)
            known_ = std::make_unique<ECCErasures>();
        std::memset(known_.get(), 0, sizeof(ECCErasures));
        received_ = encoded_block();
    }
    void TearDown() override { ecc_decoder_shutdown(&dec_); }

    // Replaces whole plane p with `content` and marks it bad when `mark` says so.
    void spoil(int p, const Plane& content, bool mark = true)
    {
        received_[p] = content;
        if (mark)
            known_->plane_bad[p] = 1;
    }

    // Feeds the received planes into the decoder as the block queue does.
    void receive()
    {
        for (int p = 0; p < ECC_N; ++p) {
            uint8_t* buffer = nullptr;
            ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec_, &buffer), 0);
            std::memcpy(buffer, received_[p].data(), ECC_PLANE_BYTES);
            ASSERT_EQ(ecc_decoder_syn1(&dec_, buffer), 0);
        }
    }

    void correct(const ECCErasures* known)
    {
        receive();
        result_ = ECCErasureResult{};
        ASSERT_EQ(ecc_decoder_correct_erasures(&dec_, known, &result_), 0);
    }

    // The 64 data planes, fetched the way the file writer does.
    std::vector<const uint8_t*> fetch_data()
    {
        std::vector<const uint8_t*> out;
        for (int i = 0; i < ECC_K; ++i) {
            uint8_t* plane = nullptr;
            EXPECT_EQ(ecc_decoder_get_out_buffer(&dec_, &plane), 0);
            out.push_back(plane);
        }
        return out;
    }

    // Every data plane handed out equals the encoded one.
    void expect_restored(const std::string& what)
    {
        std::vector<const uint8_t*> out = fetch_data();
        const std::vector<Plane>& block = encoded_block();
        for (int p = 0; p < ECC_K; ++p)
            ASSERT_EQ(std::memcmp(out[p], block[p].data(), ECC_PLANE_BYTES), 0) << what << ": data plane " << p;
        EXPECT_EQ(result_.unsolved_codewords, 0u) << what;
    }

    ECCDecoder dec_{};
    std::unique_ptr<ECCErasures> known_;
    std::vector<Plane> received_;
    ECCErasureResult result_{};
};

std::string describe(const std::vector<int>& positions)
{
    std::string s = "erased {";
    for (int p : positions)
        s += " " + std::to_string(p);
    return s + " }";
}

TEST_F(EccErasure, TwoErasedPlanesAnywhereAreRebuilt)
{
    const std::vector<std::vector<int>> pairs = {
        {5, 6}, {0, 63}, {10, 67}, {64, 71}, {62, 63}, {4, 12}};
    for (const auto& pair : pairs) {
        reset();
        for (size_t i = 0; i < pair.size(); ++i)
            spoil(pair[i], i == 0 ? zero_plane() : garbage_plane(pair[i]));
        correct(known_.get());
        expect_restored(describe(pair));
        EXPECT_GT(result_.corrected_codewords, 0u);
    }
}

TEST_F(EccErasure, EveryThreeOfASampleOfPositionsIsRebuilt)
{
    const std::vector<int> sample = {0, 1, 4, 12, 31, 40, 63, 64, 67, 71};
    int trials = 0;
    for (size_t a = 0; a < sample.size(); ++a)
        for (size_t b = a + 1; b < sample.size(); ++b)
            for (size_t c = b + 1; c < sample.size(); ++c) {
                reset();
                std::vector<int> set = {sample[a], sample[b], sample[c]};
                spoil(set[0], garbage_plane(trials));
                spoil(set[1], zero_plane());
                spoil(set[2], encoded_block()[(set[2] + 1) % ECC_N]);  // a neighbour's copy
                correct(known_.get());
                expect_restored(describe(set));
                for (int p = 0; p < ECC_N; ++p)
                    ASSERT_EQ(result_.unsolved_in_position[p], 0u);
                        ++trials;
            }
    EXPECT_EQ(trials, 120);
}

TEST_F(EccErasure, IndependentSetsOfFourToEightAreRebuilt)
{
    std::mt19937 rng(4242);
    std::vector<std::vector<int>> sets = {
        {64, 65, 66, 67, 68, 69, 70, 71},  // every parity plane lost
    };
    for (int size = 4; size <= 8; ++size) {
        for (int found = 0; found < 2;) {
            std::vector<int> set;
            while (static_cast<int>(set.size()) < size) {
                int p = static_cast<int>(rng() % ECC_N);
                bool fresh = true;
                for (int q : set)
                    fresh = fresh && q != p;
                if (fresh)
                    set.push_back(p);
            }
            if (column_rank(set) == size) {
                sets.push_back(set);
                ++found;
            }
        }
    }
    for (const auto& set : sets) {
        reset();
        for (size_t i = 0; i < set.size(); ++i)
            spoil(set[i], i % 2 ? zero_plane() : garbage_plane(static_cast<int>(i)));
        correct(known_.get());
        expect_restored(describe(set));
    }
}

// Four positions whose columns XOR to zero: the checks cannot tell which of
// them are wrong.
std::vector<int> dependent_four()
{
    for (int a = 0; a < ECC_K; ++a)
        for (int b = a + 1; b < ECC_K; ++b)
            for (int c = b + 1; c < ECC_K; ++c)
                for (int d = c + 1; d < ECC_K; ++d)
                    if ((column_of(a) ^ column_of(b) ^ column_of(c) ^ column_of(d)) == 0)
                        return {a, b, c, d};
    return {};
}

TEST_F(EccErasure, DependentSetIsLeftAsReceivedAndCountedUnsolved)
{
    const std::vector<int> four = dependent_four();
    ASSERT_EQ(four.size(), 4u);
    ASSERT_EQ(column_rank(four), 3);
    for (int p : four)
        spoil(p, p == four[0] ? garbage_plane(1) : zero_plane());
    correct(known_.get());

    std::vector<const uint8_t*> out = fetch_data();
    for (int p = 0; p < ECC_K; ++p) {
        const Plane& expected = known_->plane_bad[p] ? received_[p] : encoded_block()[p];
        ASSERT_EQ(std::memcmp(out[p], expected.data(), ECC_PLANE_BYTES), 0) << "data plane " << p;
    }
    // Zero-syndrome codewords too: a dependent error pattern hides behind them.
    EXPECT_EQ(result_.unsolved_codewords, static_cast<uint32_t>(CODEWORDS_PER_PLANE));
    EXPECT_EQ(result_.corrected_codewords, 0u);
    for (int p = 0; p < ECC_N; ++p)
        EXPECT_EQ(result_.unsolved_in_position[p], known_->plane_bad[p] ? uint32_t(CODEWORDS_PER_PLANE) : 0u)
            << "position " << p;
    EXPECT_EQ(dec_.cUncorrectable, result_.unsolved_codewords);
}

TEST_F(EccErasure, PositionOutsideADependentSubsetIsStillRebuilt)
{
    const std::vector<int> four = dependent_four();
    ASSERT_EQ(four.size(), 4u);
    int extra = -1;
    for (int p = 0; p < ECC_K && extra < 0; ++p) {
        std::vector<int> five = four;
        five.push_back(p);
        if (column_rank(five) == 4)
            extra = p;
    }
    ASSERT_GE(extra, 0);
    for (int p : four)
        spoil(p, garbage_plane(p));
    spoil(extra, zero_plane());
    correct(known_.get());

    std::vector<const uint8_t*> out = fetch_data();
    for (int p = 0; p < ECC_K; ++p) {
        bool ambiguous = known_->plane_bad[p] && p != extra;
        const Plane& expected = ambiguous ? received_[p] : encoded_block()[p];
        ASSERT_EQ(std::memcmp(out[p], expected.data(), ECC_PLANE_BYTES), 0) << "data plane " << p;
    }
    EXPECT_EQ(result_.unsolved_in_position[extra], 0u);
    EXPECT_EQ(result_.unsolved_in_position[four[0]], uint32_t(CODEWORDS_PER_PLANE));
}

TEST_F(EccErasure, MoreErasuresThanChecksLeaveTheHiddenPlanesAsReceived)
{
    // Every parity plane and one data plane: that data plane cannot be rebuilt.
    for (int p = ECC_K; p < ECC_N; ++p)
        spoil(p, garbage_plane(p));
    spoil(3, zero_plane());
    correct(known_.get());
    std::vector<const uint8_t*> out = fetch_data();
    for (int p = 0; p < ECC_K; ++p) {
        const Plane& expected = p == 3 ? received_[p] : encoded_block()[p];
        ASSERT_EQ(std::memcmp(out[p], expected.data(), ECC_PLANE_BYTES), 0) << "data plane " << p;
    }
    EXPECT_EQ(result_.unsolved_in_position[3], uint32_t(CODEWORDS_PER_PLANE));
    EXPECT_EQ(result_.unsolved_codewords, uint32_t(CODEWORDS_PER_PLANE));

    // A whole block lost: nothing is touched.
    reset();
    for (int p = 0; p < ECC_N; ++p)
        spoil(p, garbage_plane(p));
    correct(known_.get());
    out = fetch_data();
    for (int p = 0; p < ECC_K; ++p)
        ASSERT_EQ(std::memcmp(out[p], received_[p].data(), ECC_PLANE_BYTES), 0) << "data plane " << p;
    EXPECT_EQ(result_.corrected_codewords, 0u);
}

TEST_F(EccErasure, OneErasedPlusOneUnknownWrongPlaneIsCorrected)
{
    const std::vector<std::pair<int, int>> cases = {{3, 40}, {63, 0}, {70, 7}, {5, 66}, {12, 4}};
    for (const auto& c : cases) {
        reset();
        spoil(c.first, zero_plane());
        spoil(c.second, garbage_plane(c.second), false);
        correct(known_.get());
        expect_restored("erased " + std::to_string(c.first) + ", unknown " + std::to_string(c.second));
        EXPECT_EQ(result_.unsolved_in_position[c.first], 0u);
    }
}

// Two erasures leave the code no room to locate an extra error: codewords that
// show one must come out as received, never guessed.
TEST_F(EccErasure, TwoErasedPlusOneUnknownIsNeverMiscorrected)
{
    const int a = 9, b = 50, u = 33;
    spoil(a, garbage_plane(0));
    spoil(b, zero_plane());
    spoil(u, garbage_plane(5), false);
    correct(known_.get());

    std::vector<const uint8_t*> out = fetch_data();
    const std::vector<Plane>& block = encoded_block();
    uint32_t spoiled = 0;
    for (int w = 0; w < ECC_PLANE_WORDS; ++w) {
        uint32_t diff = word_at(block[u].data(), w) ^ word_at(received_[u].data(), w);
        spoiled += static_cast<uint32_t>(popcount32(diff));
        for (int p : {a, b, u}) {
            uint32_t expected = (word_at(block[p].data(), w) & ~diff) | (word_at(received_[p].data(), w) & diff);
            ASSERT_EQ(word_at(out[p], w), expected) << "plane " << p << " word " << w;
        }
    }
    ASSERT_GT(spoiled, 0u);
    EXPECT_EQ(result_.unsolved_codewords, spoiled);
    EXPECT_EQ(result_.unsolved_in_position[a], spoiled);
    EXPECT_EQ(result_.unsolved_in_position[b], spoiled);
    EXPECT_EQ(result_.unsolved_in_position[u], 0u);
}

// Spoils payload block `segment` of plane p with garbage and marks it bad.
void spoil_segment(std::vector<Plane>& received, ECCErasures* known, int p, int segment, uint32_t seed)
{
    Plane noise = random_bytes(ECC_SEGMENT_BYTES, seed);
    std::memcpy(received[p].data() + segment * ECC_SEGMENT_BYTES, noise.data(), ECC_SEGMENT_BYTES);
    known->segment_bad[p][segment] = 1;
}

TEST_F(EccErasure, SegmentErasuresInManyPlanesAreRebuilt)
{
    // Six planes bad in all, at most three in any one payload block.
    spoil(3, garbage_plane(3));
    struct Run {
        int plane, first, end;
    };
    const Run runs[] = {{10, 0, 100}, {20, 50, 200}, {30, 100, 150}, {40, 1348, 1349}, {65, 0, 10}, {0, 700, 701}};
    for (const Run& r : runs)
        for (int g = r.first; g < r.end; ++g)
            spoil_segment(received_, known_.get(), r.plane, g, static_cast<uint32_t>(r.plane * 10000 + g));
    known_->segment_bad[50][500] = 1;  // marked bad, yet intact
    correct(known_.get());
    expect_restored("segment erasures");
    EXPECT_GT(result_.corrected_codewords, 0u);
}

TEST_F(EccErasure, EverySegmentWithItsOwnPatternIsRebuilt)
{
    std::mt19937 rng(99);
    for (int g = 0; g < ECC_SEGMENTS; ++g) {
        int chosen[3];
        for (int i = 0; i < 3; ++i) {
            bool fresh;
            do {
                chosen[i] = static_cast<int>(rng() % ECC_N);
                fresh = true;
                for (int j = 0; j < i; ++j)
                    fresh = fresh && chosen[j] != chosen[i];
            } while (!fresh);
            spoil_segment(received_, known_.get(), chosen[i], g, rng());
        }
    }
    correct(known_.get());
    expect_restored("three random planes per payload block");
}

TEST_F(EccErasure, SegmentErasurePlusUnknownWrongPlaneIsCorrected)
{
    for (int g = 200; g < 260; ++g)
        spoil_segment(received_, known_.get(), 22, g, static_cast<uint32_t>(g));
    spoil(8, garbage_plane(2), false);
    correct(known_.get());
    expect_restored("segment erasure with unknown plane");
}

// Without known places, the data planes come out exactly as from the ordinary
// correction, even where it cannot locate or mislocates.
TEST_F(EccErasure, NothingKnownGivesWhatOrdinaryCorrectionGives)
{
    spoil(5, garbage_plane(0), false);
    spoil(9, garbage_plane(1), false);
    spoil(70, garbage_plane(2), false);

    receive();
    ASSERT_EQ(ecc_decoder_correct(&dec_, 1), 0);
    const uint32_t ordinary_unsolved = dec_.cUncorrectable;
    std::vector<Plane> ordinary;
    for (const uint8_t* p : fetch_data())
        ordinary.emplace_back(p, p + ECC_PLANE_BYTES);
    ASSERT_GT(ordinary_unsolved, 0u);

    for (int pass = 0; pass < 2; ++pass) {
        correct(pass == 0 ? nullptr : known_.get());  // no record, or an empty one
        std::vector<const uint8_t*> out = fetch_data();
        for (int p = 0; p < ECC_K; ++p)
            ASSERT_EQ(std::memcmp(out[p], ordinary[p].data(), ECC_PLANE_BYTES), 0) << "pass " << pass << " plane " << p;
        EXPECT_EQ(result_.unsolved_codewords, ordinary_unsolved);
        EXPECT_EQ(dec_.cUncorrectable, ordinary_unsolved);
    }
}

TEST_F(EccErasure, CleanBlockIsHandedOutUnchanged)
{
    correct(known_.get());
    expect_restored("clean block");
    EXPECT_EQ(result_.corrected_codewords, 0u);
}

TEST_F(EccErasure, LeavesTheDecoderReadyForOutputAndTheNextBlock)
{
    spoil(1, zero_plane());
    spoil(2, garbage_plane(2));
    spoil(66, zero_plane());
    correct(known_.get());
    EXPECT_EQ(dec_.cDataOut, 0);
    EXPECT_EQ(dec_.cCodeReceived, ECC_N);

    // A repeated correction, of either kind, changes nothing more.
    ECCErasureResult again{};
    ASSERT_EQ(ecc_decoder_correct_erasures(&dec_, known_.get(), &again), 0);
    EXPECT_EQ(again.corrected_codewords, 0u);
    EXPECT_EQ(again.unsolved_codewords, 0u);
    ASSERT_EQ(ecc_decoder_correct(&dec_, 1), 0);
    EXPECT_EQ(dec_.cUncorrectable, 0u);

    std::vector<const uint8_t*> out = fetch_data();
    for (int p = 0; p < ECC_K; ++p) {
        EXPECT_EQ(out[p], dec_.pReceivedPlanes[p]);
        ASSERT_EQ(std::memcmp(out[p], encoded_block()[p].data(), ECC_PLANE_BYTES), 0) << "data plane " << p;
    }
    uint8_t* extra = nullptr;
    ecc_clear_diagnostic();
    EXPECT_EQ(ecc_decoder_get_out_buffer(&dec_, &extra), 1);
    EXPECT_EQ(std::string(ecc_last_diagnostic()), "ecc_decoder_get_out_buffer() : no data left!\n");

    // The next block starts from clean syndromes in buffer 0.
    uint8_t* first = nullptr;
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec_, &first), 0);
    EXPECT_EQ(first, dec_.pReceivedPlanes[0]);
    received_ = encoded_block();
    std::memset(known_.get(), 0, sizeof(ECCErasures));
    spoil(40, garbage_plane(4));
    correct(known_.get());
    expect_restored("next block");
}

TEST_F(EccErasure, RefusesAnIncompleteBlockWithoutChangingIt)
{
    uint8_t* buffer = nullptr;
    ASSERT_EQ(ecc_decoder_get_rcv_buffer(&dec_, &buffer), 0);
    ASSERT_EQ(ecc_decoder_syn1(&dec_, buffer), 0);
    ecc_clear_diagnostic();
    EXPECT_EQ(ecc_decoder_correct_erasures(&dec_, known_.get(), &result_), 1);
    EXPECT_EQ(std::string(ecc_last_diagnostic()), "ecc_decoder_correct_erasures() : don't have full ECCblock yet!\n");
    EXPECT_EQ(dec_.cCodeReceived, 1);

    ecc_clear_diagnostic();
    EXPECT_EQ(ecc_decoder_correct_erasures(nullptr, known_.get(), &result_), 1);
    EXPECT_EQ(std::string(ecc_last_diagnostic()), "ecc_decoder_correct_erasures() : pECCDecoder == NULL!\n");
}

}  // namespace
