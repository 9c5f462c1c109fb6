// Erasure correction: per distinct pattern of known-bad positions, a GF(2)
// elimination turns the pattern into linear maps of the syndrome, which are
// then applied bit-sliced over the words that share the pattern.
#include "ecc_erasure.h"

#include <cstring>

#include "ecc_planes.h"

namespace {

constexpr int WORD_BYTES = 4;
constexpr int WORD_BITS = 32;
constexpr int SET_WORDS = 2;  // 72 positions fit in two 64-bit words
constexpr int BITS_PER_BYTE = 8;
constexpr size_t SCREEN_BYTES = 512;  // syndrome bytes per plane screened at once

// A set of code positions 0..71.
struct PositionSet {
    uint64_t bits[SET_WORDS];
};

bool set_has(const PositionSet& s, int p) { return (s.bits[p >> 6] >> (p & 63)) & 1u; }
void set_add(PositionSet* s, int p) { s->bits[p >> 6] |= uint64_t{1} << (p & 63); }
void set_xor(PositionSet* s, const PositionSet& t)
{
    s->bits[0] ^= t.bits[0];
    s->bits[1] ^= t.bits[1];
}
void set_or(PositionSet* s, const PositionSet& t)
{
    s->bits[0] |= t.bits[0];
    s->bits[1] |= t.bits[1];
}
bool set_equal(const PositionSet& s, const PositionSet& t)
{
    return s.bits[0] == t.bits[0] && s.bits[1] == t.bits[1];
}

// A linear function of the 8 syndrome bits: the XOR of some syndrome planes.
// Applied to lanes of syndrome bits it yields the function for every codeword
// of the lane at once.
struct Functional {
    int count;
    uint8_t plane[ECC_NMK];
};

Functional make_functional(uint8_t mask)
{
    Functional f{};
    for (int k = 0; k < ECC_NMK; ++k)
        if ((mask >> k) & 1u)
            f.plane[f.count++] = static_cast<uint8_t>(k);
    return f;
}

template <typename Lane>
Lane evaluate(const Functional& f, const Lane* syndrome)
{
    Lane x = 0;
    for (int i = 0; i < f.count; ++i)
        x ^= syndrome[f.plane[i]];
    return x;
}

// How the codewords of one erasure pattern are solved.
struct PatternPlan {
    int erased_count;
    uint8_t erased[ECC_N];
    uint8_t undetermined[ECC_N];   // 1: erased, and a dependent subset hides its value
    int ambiguous;                 // some erased position is undetermined
    int check_count;               // syndrome lies in the span of the erased columns
    Functional check[ECC_NMK];     // exactly when all of these are zero
    int fix_count;                 // erased positions the syndrome determines (their
    uint8_t fix_position[ECC_N];   // columns are independent, so at most 8), and the
    Functional fix[ECC_N];         // error bit of each
    int search_unknown;            // at most one erased: a single unknown position is still located
};

// Solves the erased columns by elimination over GF(2) into reduced echelon form:
// each basis vector has a pivot bit that no other basis vector has, and
// remembers which erased positions it combines. Erased columns that reduce to
// zero reveal the dependent subsets.
void plan_pattern(const PositionSet& erased, PatternPlan* plan)
{
    const uint8_t* column = ECC_ROW_BITS;
    uint8_t basis[ECC_NMK];
    int pivot[ECC_NMK];
    PositionSet combination[ECC_NMK];
    int rank = 0;
    PositionSet undetermined{};

    plan->erased_count = 0;
    for (int p = 0; p < ECC_N; ++p) {
        if (!set_has(erased, p))
            continue;
        plan->erased[plan->erased_count++] = static_cast<uint8_t>(p);
        uint8_t v = column[p];
        PositionSet c{};
        set_add(&c, p);
        for (int b = 0; b < rank; ++b) {
            if ((v >> pivot[b]) & 1u) {
                v ^= basis[b];
                set_xor(&c, combination[b]);
            }
        }
        if (v == 0) {
            // c is a non-zero error pattern with zero syndrome: its positions
            // cannot be told apart from the syndrome alone.
            set_or(&undetermined, c);
            continue;
        }
        int pv = 0;
        while (!((v >> pv) & 1u))
            ++pv;
        for (int b = 0; b < rank; ++b) {
            if ((basis[b] >> pv) & 1u) {
                basis[b] ^= v;
                set_xor(&combination[b], c);
            }
        }
        basis[rank] = v;
        pivot[rank] = pv;
        combination[rank] = c;
        ++rank;
    }

    // A syndrome s in the span equals the XOR of the basis vectors whose pivot
    // bit s has; what is left at the non-pivot bits must be zero.
    plan->check_count = 0;
    for (int bit = 0; bit < ECC_NMK; ++bit) {
        bool is_pivot = false;
        uint8_t mask = static_cast<uint8_t>(1u << bit);
        for (int b = 0; b < rank; ++b) {
            if (pivot[b] == bit)
                is_pivot = true;
            if ((basis[b] >> bit) & 1u)
                mask |= static_cast<uint8_t>(1u << pivot[b]);
        }
        if (!is_pivot)
            plan->check[plan->check_count++] = make_functional(mask);
    }

    // The error bit of erased position p is the parity of the pivot bits of the
    // basis vectors that combine p.
    plan->fix_count = 0;
    plan->ambiguous = 0;
    for (int i = 0; i < plan->erased_count; ++i) {
        int p = plan->erased[i];
        plan->undetermined[p] = set_has(undetermined, p) ? 1 : 0;
        if (plan->undetermined[p]) {
            plan->ambiguous = 1;
            continue;
        }
        uint8_t mask = 0;
        for (int b = 0; b < rank; ++b)
            if (set_has(combination[b], p))
                mask |= static_cast<uint8_t>(1u << pivot[b]);
        plan->fix_position[plan->fix_count] = static_cast<uint8_t>(p);
        plan->fix[plan->fix_count] = make_functional(mask);
        ++plan->fix_count;
    }
    // One erasure plus one unknown error stays within the code's distance of 4;
    // with two or more erasures an extra error can only be detected.
    plan->search_unknown = plan->erased_count <= 1;
}

// Codewords are solved a lane at a time: 64 of them in the bulk of a run, 32 in
// a run's odd last word. Only bitwise operations relate the bits of a lane, so
// the byte order of the host does not matter.
int count_bits(uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

template <typename Lane>
Lane load_lane(const uint8_t* plane, size_t offset)
{
    Lane v;
    std::memcpy(&v, plane + offset, sizeof v);
    return v;
}

template <typename Lane>
void store_lane(uint8_t* plane, size_t offset, Lane v)
{
    std::memcpy(plane + offset, &v, sizeof v);
}

// Flips the bits `flip` of position p's lane and keeps the syndrome consistent
// with the received planes.
template <typename Lane>
void apply_flip(uint8_t* const* planes, Lane* syndrome, int p, size_t offset, Lane flip)
{
    store_lane<Lane>(planes[p], offset, load_lane<Lane>(planes[p], offset) ^ flip);
    uint8_t c = ECC_ROW_BITS[p];
    for (int k = 0; k < ECC_NMK; ++k)
        if ((c >> k) & 1u)
            syndrome[k] ^= flip;
}

// Codewords of the lane whose syndrome lies outside the span of at most one
// erased column: look for the single unknown position that accounts for the rest.
template <typename Lane>
void search_unknown(const PatternPlan& plan, uint8_t* const* planes, Lane* syndrome, size_t offset, Lane outside,
                    ECCErasureResult* tally)
{
    const uint8_t* column = ECC_ROW_BITS;
    int erased = plan.erased_count == 1 ? plan.erased[0] : -1;
    for (int j = 0; j < static_cast<int>(sizeof(Lane)) * BITS_PER_BYTE; ++j) {
        Lane bit = Lane{1} << j;
        if (!(outside & bit))
            continue;
        uint8_t s = 0;
        for (int k = 0; k < ECC_NMK; ++k)
            s |= static_cast<uint8_t>(((syndrome[k] >> j) & 1u) << k);
        // The unknown error alone, or the unknown error plus the erased one.
        int alone = ECC_LOCATION_TABLE[s];
        int with_erased = erased >= 0 ? ECC_LOCATION_TABLE[s ^ column[erased]] : ECC_LOC_UNCORRECTABLE;
        bool alone_found = alone < ECC_N;
        bool with_found = with_erased < ECC_N;
        if (alone_found == with_found) {
            ++tally->unsolved_codewords;
            if (erased >= 0)
                ++tally->unsolved_in_position[erased];
            continue;
        }
        if (alone_found) {
            apply_flip<Lane>(planes, syndrome, alone, offset, bit);
        } else {
            apply_flip<Lane>(planes, syndrome, with_erased, offset, bit);
            apply_flip<Lane>(planes, syndrome, erased, offset, bit);
        }
        ++tally->corrected_codewords;
    }
}

// True when the syndromes of `bytes` bytes at `offset` are all zero; one OR
// pass that the compiler can vectorise, so a clean run costs no more.
bool run_clean(uint8_t* const* syndrome_planes, size_t offset, int bytes)
{
    uint32_t any = 0;
    for (int k = 0; k < ECC_NMK; ++k) {
        const uint8_t* plane = syndrome_planes[k] + offset;
        for (int i = 0; i < bytes; i += WORD_BYTES) {
            uint32_t v;
            std::memcpy(&v, plane + i, WORD_BYTES);
            any |= v;
        }
    }
    return any == 0;
}

// Solves the codewords of the lane at `offset`; counts the solved ones with a
// non-zero syndrome, and those with more damage than the erasures explain
// where no unknown position is searched for.
template <typename Lane>
void solve_lane(const PatternPlan& plan, uint8_t* const* planes, uint8_t* const* syndrome_planes, size_t offset,
                uint32_t* corrected, uint32_t* detected, ECCErasureResult* tally)
{
    Lane syndrome[ECC_NMK];
    Lane any = 0;
    for (int k = 0; k < ECC_NMK; ++k) {
        syndrome[k] = load_lane<Lane>(syndrome_planes[k], offset);
        any |= syndrome[k];
    }
    if (!any)
        return;
    Lane outside = 0;
    for (int i = 0; i < plan.check_count; ++i)
        outside |= evaluate(plan.check[i], syndrome);
    Lane inside = any & ~outside;
    if (inside) {
        Lane flips[ECC_N];
        for (int f = 0; f < plan.fix_count; ++f)
            flips[f] = evaluate(plan.fix[f], syndrome) & ~outside;
        if (plan.ambiguous) {
            for (int f = 0; f < plan.fix_count; ++f)
                if (flips[f])
                    apply_flip<Lane>(planes, syndrome, plan.fix_position[f], offset, flips[f]);
        } else {
            // The flips are the whole error of these codewords: their syndrome is now zero.
            for (int f = 0; f < plan.fix_count; ++f) {
                uint8_t* plane = planes[plan.fix_position[f]];
                store_lane<Lane>(plane, offset, load_lane<Lane>(plane, offset) ^ flips[f]);
            }
            for (int k = 0; k < ECC_NMK; ++k)
                syndrome[k] &= outside;
        }
        *corrected += static_cast<uint32_t>(count_bits(inside));
    }
    if (outside) {
        if (plan.search_unknown)
            search_unknown<Lane>(plan, planes, syndrome, offset, outside, tally);
        else
            *detected += static_cast<uint32_t>(count_bits(outside));
    }
    for (int k = 0; k < ECC_NMK; ++k)
        store_lane<Lane>(syndrome_planes[k], offset, syndrome[k]);
}

// Solves the codewords of words [first, last) of the block under one pattern.
void solve_words(const PatternPlan& plan, uint8_t* const* planes, uint8_t* const* syndrome_planes, int first,
                 int last, ECCErasureResult* tally)
{
    uint32_t corrected = 0;
    uint32_t detected = 0;
    const size_t end = static_cast<size_t>(last) * WORD_BYTES;
    for (size_t run = static_cast<size_t>(first) * WORD_BYTES; run < end; run += SCREEN_BYTES) {
        size_t run_end = end - run < SCREEN_BYTES ? end : run + SCREEN_BYTES;
        if (run_clean(syndrome_planes, run, static_cast<int>(run_end - run)))
            continue;
        size_t offset = run;
        for (; offset + sizeof(uint64_t) <= run_end; offset += sizeof(uint64_t))
            solve_lane<uint64_t>(plan, planes, syndrome_planes, offset, &corrected, &detected, tally);
        if (offset < run_end)
            solve_lane<uint32_t>(plan, planes, syndrome_planes, offset, &corrected, &detected, tally);
    }

    uint32_t all = static_cast<uint32_t>(last - first) * WORD_BITS;
    if (plan.ambiguous) {
        // Even a zero syndrome may hide a dependent error pattern.
        tally->unsolved_codewords += all;
    } else {
        tally->corrected_codewords += corrected;
        tally->unsolved_codewords += detected;
    }
    for (int i = 0; i < plan.erased_count; ++i) {
        int p = plan.erased[i];
        tally->unsolved_in_position[p] += plan.undetermined[p] ? all : detected;
    }
}

// Any non-zero byte among `count` bytes, read a word at a time.
bool any_marked(const uint8_t* bytes, int count)
{
    uint64_t acc = 0;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t v;
        std::memcpy(&v, bytes + i, sizeof v);
        acc |= v;
    }
    for (; i < count; ++i)
        acc |= bytes[i];
    return acc != 0;
}

// Segment -> index into the distinct erasure patterns of the block.
struct SegmentPatterns {
    PositionSet pattern[ECC_MAX_SEGMENTS];
    uint16_t of_segment[ECC_MAX_SEGMENTS];
    int count;
};

void find_patterns(const ECCErasures* known, const PositionSet& whole, const int* marked, int marked_count,
                   int segments, SegmentPatterns* sp)
{
    sp->count = 0;
    int last = -1;
    for (int g = 0; g < segments; ++g) {
        PositionSet set = whole;
        for (int i = 0; i < marked_count; ++i)
            if (known->segment_bad[marked[i]][g])
                set_add(&set, marked[i]);
        if (last < 0 || !set_equal(sp->pattern[last], set)) {
            last = -1;
            for (int i = 0; i < sp->count && last < 0; ++i)
                if (set_equal(sp->pattern[i], set))
                    last = i;
            if (last < 0) {
                last = sp->count++;
                sp->pattern[last] = set;
            }
        }
        sp->of_segment[g] = static_cast<uint16_t>(last);
    }
}

int32_t fail(const char* message)
{
    ecc_report(message);
    return 1;
}

}  // namespace

int32_t ecc_decoder_correct_erasures(ECCDecoder* d, const ECCErasures* known, ECCErasureResult* result)
{
    if (!d)
        return fail("ecc_decoder_correct_erasures() : pECCDecoder == NULL!\n");
    if (d->cCodeReceived > ECC_N)
        return fail("ecc_decoder_correct_erasures() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n");
    if (d->cCodeReceived < ECC_N)
        return fail("ecc_decoder_correct_erasures() : don't have full ECCblock yet!\n");
    if (!ecc_planes_present(d->pReceivedPlanes, ECC_N) || !ecc_planes_present(d->pSyndromePlanes, ECC_NMK))
        return fail("ecc_decoder_correct_erasures() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
    if (!ecc_plane_size_ok(d->cPlaneBytes))
        return fail("ecc_decoder_correct_erasures() : plane size out of range!\n");
    const int segments = d->cPlaneBytes / ECC_SEGMENT_BYTES;

    ECCErasureResult tally{};
    PositionSet whole{};
    int marked[ECC_N];
    int marked_count = 0;
    if (known) {
        for (int p = 0; p < ECC_N; ++p) {
            if (known->plane_bad[p])
                set_add(&whole, p);
            else if (any_marked(known->segment_bad[p], segments))
                marked[marked_count++] = p;
        }
    }

    PatternPlan plan;
    if (marked_count == 0) {
        plan_pattern(whole, &plan);
        solve_words(plan, d->pReceivedPlanes, d->pSyndromePlanes, 0, segments * ECC_SEGMENT_WORDS, &tally);
    } else {
        // Few distinct patterns per block (the whole-plane erasures plus a
        // handful of concealed payload blocks): plan each once, then solve its
        // runs of consecutive segments.
        SegmentPatterns sp;
        find_patterns(known, whole, marked, marked_count, segments, &sp);
        for (int i = 0; i < sp.count; ++i) {
            plan_pattern(sp.pattern[i], &plan);
            int g = 0;
            while (g < segments) {
                if (sp.of_segment[g] != i) {
                    ++g;
                    continue;
                }
                int end = g + 1;
                while (end < segments && sp.of_segment[end] == i)
                    ++end;
                solve_words(plan, d->pReceivedPlanes, d->pSyndromePlanes, g * ECC_SEGMENT_WORDS,
                            end * ECC_SEGMENT_WORDS, &tally);
                g = end;
            }
        }
    }

    d->cUncorrectable = tally.unsolved_codewords;
    d->cDataOut = 0;
    if (result)
        *result = tally;
    return 0;
}
