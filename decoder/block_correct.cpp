#include "block_correct.h"

#include <cstring>

namespace {

constexpr uint32_t SUM24_MASK = 0xFFFFFF;
constexpr int WORD_BYTES = 4;
constexpr int NO_POSITION = -1;


int is_trusted(const QueueEntry& e) { return !e.filler && e.record.sum_computed == e.record.sum_stored; }

int is_received_bad(const QueueEntry& e) { return !e.filler && e.record.sum_computed != e.record.sum_stored; }

uint8_t column_bits(int position)
{
    uint8_t bits = 0;
    for (int k = 0; k < ECC_NMK; ++k)
        if (ECC_PARITY_TABLE[position][k])
            bits = static_cast<uint8_t>(bits | (1u << k));
    return bits;
}

uint32_t load_word(const uint8_t* plane, size_t offset)
{
    uint32_t v;
    std::memcpy(&v, plane + offset, WORD_BYTES);
    return v;
}

uint32_t segment_sum(const uint8_t* bytes)
{
    uint32_t sum = 0;
    for (int i = 0; i < ECC_SEGMENT_BYTES; ++i)
        sum += bytes[i];
    return sum;
}

// 1 if a codeword of segment `g` has a syndrome that the erased position
// `erased` (NO_POSITION: none) does not explain: only there can a correction
// reach a position that is not erased.
int unexplained(uint8_t* const* syndromes, int g, int erased)
{
    const uint8_t column = erased == NO_POSITION ? 0 : column_bits(erased);
    uint32_t found = 0;
    const size_t first = static_cast<size_t>(g) * ECC_SEGMENT_BYTES;
    for (size_t offset = first; offset < first + ECC_SEGMENT_BYTES; offset += WORD_BYTES) {
        uint32_t any = 0;
        uint32_t differs = 0;
        for (int k = 0; k < ECC_NMK; ++k) {
            const uint32_t s = load_word(syndromes[k], offset);
            any |= s;
            differs |= s ^ (((column >> k) & 1u) ? ~0u : 0u);
        }
        found |= erased == NO_POSITION ? any : (any & differs);
    }
    return found != 0;
}

// Finds the segments where a correction could change a trusted plane: those with
// at most one known-bad position and a syndrome that it does not explain (with
// two or more the solver changes only known-bad positions).
void find_guarded_segments(BlockQueue& q, const QueueEntry* entries, const ECCErasures* known)
{
    SegmentFacts& f = *q.segments;
    f.guarded_count = 0;
    int whole = 0;
    int whole_at = NO_POSITION;
    for (int p = 0; p < ECC_N; ++p) {
        if (entries[p].bad) {
            ++whole;
            whole_at = p;
        }
    }
    std::memset(f.guarded, 0, sizeof f.guarded);
    if (whole >= 2)
        return;
    std::memset(f.erased_count, static_cast<uint8_t>(whole), sizeof f.erased_count);
    std::memset(f.erased_at, static_cast<uint8_t>(whole_at == NO_POSITION ? 0 : whole_at), sizeof f.erased_at);
    const int segments = queue_segments(q);
    for (int p = 0; p < ECC_N; ++p) {
        if (!entries[p].marked || entries[p].bad)
            continue;
        for (int g = 0; g < segments; ++g) {
            if (known->segment_bad[p][g] && f.erased_count[g] < 2) {
                ++f.erased_count[g];
                f.erased_at[g] = static_cast<uint8_t>(p);
            }
        }
    }
    for (int g = 0; g < segments; ++g) {
        if (f.erased_count[g] >= 2)
            continue;
        const int erased = f.erased_count[g] == 1 ? f.erased_at[g] : NO_POSITION;
        if (unexplained(q.ecc.pSyndromePlanes, g, erased)) {
            f.guarded[g] = 1;
            ++f.guarded_count;
        }
    }
}

void snapshot_trusted(BlockQueue& q, const QueueEntry* entries)
{
    const SegmentFacts& seg = *q.segments;
    const int segments = queue_segments(q);
    uint8_t* snapshot = q.snapshot;
    for (int i = 0; i < ECC_K; ++i) {
        if (!is_trusted(entries[i]))
            continue;
        const uint8_t* plane = q.ecc.pReceivedPlanes[i];
        uint8_t* saved = snapshot + static_cast<size_t>(i) * MAX_PLANE_SIZE;
        for (int g = 0; g < segments; ++g)
            if (seg.guarded[g])
                std::memcpy(saved + g * ECC_SEGMENT_BYTES, plane + g * ECC_SEGMENT_BYTES, ECC_SEGMENT_BYTES);
    }
}

// Keeps each trusted plane's correction only where it leaves the plane matching
// its checksum; the sum is brought up to date from the changed segments alone.
// Returns 1 if a plane was put back.
int settle_trusted(BlockQueue& q, const QueueEntry* entries)
{
    const SegmentFacts& seg = *q.segments;
    const int segments = queue_segments(q);
    int restored = 0;
    const uint8_t* snapshot = q.snapshot;
    for (int i = 0; i < ECC_K; ++i) {
        if (!is_trusted(entries[i]))
            continue;
        uint8_t* plane = q.ecc.pReceivedPlanes[i];
        const uint8_t* saved = snapshot + static_cast<size_t>(i) * MAX_PLANE_SIZE;
        uint32_t delta = 0;
        for (int g = 0; g < segments; ++g) {
            if (!seg.guarded[g])
                continue;
            const int at = g * ECC_SEGMENT_BYTES;
            delta += segment_sum(plane + at) - segment_sum(saved + at);
        }
        if ((delta & SUM24_MASK) == 0)
            continue;
        for (int g = 0; g < segments; ++g)
            if (seg.guarded[g])
                std::memcpy(plane + g * ECC_SEGMENT_BYTES, saved + g * ECC_SEGMENT_BYTES, ECC_SEGMENT_BYTES);
        restored = 1;
    }
    return restored;
}

// The parity checks that every syndrome in the span of some erased columns
// passes: a basis of the vectors orthogonal to all of them. A syndrome that
// fails one lies outside the span: no value of the erased positions explains it.
struct Annihilator {
    int count;
    uint8_t check[ECC_NMK];   // bit k: syndrome plane k takes part
};

int parity8(unsigned v)
{
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return static_cast<int>(v & 1u);
}

// Reduces `v` by the basis `basis` (count vectors, each with its own leading bit).
uint8_t reduce(uint8_t v, const uint8_t* basis, int count)
{
    for (int i = 0; i < count; ++i)
        if ((v ^ basis[i]) < v)
            v = static_cast<uint8_t>(v ^ basis[i]);
    return v;
}

void insert_sorted(uint8_t v, uint8_t* basis, int* count)
{
    int i = (*count)++;
    for (; i > 0 && basis[i - 1] < v; --i)
        basis[i] = basis[i - 1];
    basis[i] = v;
}

void annihilator_of(const uint8_t* erased, Annihilator* out)
{
    uint8_t span[ECC_NMK];
    int rank = 0;
    for (int p = 0; p < ECC_N && rank < ECC_NMK; ++p) {
        if (!erased[p])
            continue;
        const uint8_t v = reduce(column_bits(p), span, rank);
        if (v)
            insert_sorted(v, span, &rank);
    }
    uint8_t kept[ECC_NMK];
    out->count = 0;
    constexpr unsigned SYNDROME_VALUES = 1u << ECC_NMK;
    for (unsigned a = 1; a < SYNDROME_VALUES && out->count < ECC_NMK - rank; ++a) {
        int orthogonal = 1;
        for (int i = 0; i < rank && orthogonal; ++i)
            orthogonal = !parity8(a & span[i]);
        if (!orthogonal)
            continue;
        const uint8_t v = reduce(static_cast<uint8_t>(a), kept, out->count);
        if (!v)
            continue;
        out->check[out->count] = static_cast<uint8_t>(a);
        int n = out->count;
        insert_sorted(v, kept, &n);
        out->count = n;
    }
}

// 1 when some codeword of the words [first, first + words) has a syndrome
// outside the span that `a` describes; with `one_parity_wrong` a syndrome of a
// single check is allowed too (a wrong parity plane, which the single-error
// correction locates but leaves as it is: the data planes are right).
int outside_span(uint8_t* const* syndromes, size_t first, size_t words, const Annihilator& a, int one_parity_wrong)
{
    uint32_t outside = 0;
    for (size_t offset = first * WORD_BYTES; offset < (first + words) * WORD_BYTES; offset += WORD_BYTES) {
        uint32_t s[ECC_NMK];
        uint32_t any = 0;
        for (int k = 0; k < ECC_NMK; ++k) {
            s[k] = load_word(syndromes[k], offset);
            any |= s[k];
        }
        if (!any)
            continue;
        if (one_parity_wrong) {
            for (int k = 0; k < ECC_NMK; ++k)
                for (int l = k + 1; l < ECC_NMK; ++l)
                    outside |= s[k] & s[l];
            continue;
        }
        for (int i = 0; i < a.count; ++i) {
            uint32_t x = 0;
            for (int k = 0; k < ECC_NMK; ++k)
                if ((a.check[i] >> k) & 1u)
                    x ^= s[k];
            outside |= x;
        }
    }
    return outside != 0;
}

// The positions erased whole (`erased`, ECC_N flags). Returns 1 when some
// position has marked payload blocks besides.
int whole_erasures(const QueueEntry* entries, uint8_t* erased)
{
    int marked = 0;
    for (int p = 0; p < ECC_N; ++p) {
        erased[p] = static_cast<uint8_t>(entries[p].bad ? 1 : 0);
        marked |= entries[p].marked;
    }
    return marked;
}

// The positions erased at segment `g`: those erased whole and those whose
// payload block g is marked. Returns 1 when they differ from `erased`.
int segment_erasures(const QueueEntry* entries, const ECCErasures* known, const uint8_t* erased, int g,
                     uint8_t* here)
{
    int extra = 0;
    for (int p = 0; p < ECC_N; ++p) {
        here[p] = static_cast<uint8_t>(erased[p] | (entries[p].marked && known->segment_bad[p][g]));
        extra |= here[p] != erased[p];
    }
    return extra;
}

// 1 when a syndrome is left after correction that the erasures of its codeword
// do not explain: some plane not known bad is not as the encoder wrote it.
// (Codewords with more erasures than the checks determine keep a syndrome in
// the erasures' span; that is no disagreement.)
int syndromes_unexplained(const QueueEntry* entries, const ECCErasures* known, uint8_t* const* syndromes,
                          int segments)
{
    uint8_t erased[ECC_N];
    const int marked = whole_erasures(entries, erased);
    Annihilator whole{};
    annihilator_of(erased, &whole);
    int none_erased = 1;
    for (int p = 0; p < ECC_N; ++p)
        none_erased &= !erased[p];
    if (!marked)
        return outside_span(syndromes, 0, static_cast<size_t>(segments) * ECC_SEGMENT_WORDS, whole, none_erased);
    for (int g = 0; g < segments; ++g) {
        uint8_t here[ECC_N];
        const int extra = segment_erasures(entries, known, erased, g, here);
        Annihilator local{};
        if (extra)
            annihilator_of(here, &local);
        if (outside_span(syndromes, static_cast<size_t>(g) * ECC_SEGMENT_WORDS, ECC_SEGMENT_WORDS,
                         extra ? local : whole, 0))
            return 1;
    }
    return 0;
}

// 1 when a wrong plane at some position outside `erased` (ECC_N flags) could hide
// in a codeword with those erasures: its column lies in their span, so the
// checks cannot tell its error from values of the erased positions.
int error_could_hide(const uint8_t* erased)
{
    uint8_t span[ECC_NMK];
    int rank = 0;
    int count = 0;
    for (int p = 0; p < ECC_N; ++p) {
        if (!erased[p])
            continue;
        ++count;
        const uint8_t v = reduce(column_bits(p), span, rank);
        if (v)
            insert_sorted(v, span, &rank);
    }
    // Any three columns are independent: with two erasures or fewer every other
    // single wrong plane still shows in the syndrome.
    if (count < 3)
        return 0;
    for (int p = 0; p < ECC_N; ++p)
        if (!erased[p] && reduce(column_bits(p), span, rank) == 0)
            return 1;
    return 0;
}

// 1 when some codeword of the block has no parity left to check its planes
// beyond their checksums (see error_could_hide), per payload block where
// concealment marks make the erasures differ from segment to segment.
int some_codeword_unchecked(const QueueEntry* entries, const ECCErasures* known, int segments)
{
    uint8_t erased[ECC_N];
    const int marked = whole_erasures(entries, erased);
    if (error_could_hide(erased))
        return 1;
    if (!marked)
        return 0;
    for (int g = 0; g < segments; ++g) {
        uint8_t here[ECC_N];
        const int extra = segment_erasures(entries, known, erased, g, here);
        if (extra && error_could_hide(here))
            return 1;
    }
    return 0;
}

void clear_erasures(BlockQueue& q, const QueueEntry* entries)
{
    ECCErasures* known = q.erasures;
    for (int p = 0; p < ECC_N; ++p) {
        known->plane_bad[p] = 0;
        if (entries[p].marked)
            std::memset(known->segment_bad[p], 0, sizeof known->segment_bad[p]);
    }
}

}  // namespace

int32_t plane_sum24(const uint8_t* plane, int plane_size)
{
    uint32_t sum = 0;
    for (int i = 0; i < plane_size; ++i)
        sum += plane[i];
    return static_cast<int32_t>(sum & SUM24_MASK);
}

void mark_concealed(BlockQueue& q, int position, const uint16_t* blocks, int count)
{
    uint8_t* row = q.erasures->segment_bad[position];
    for (int i = 0; i < count; ++i)
        row[blocks[i]] = 1;
}

bool correct_block(BlockQueue& q, const QueueEntry* entries, bool correct, uint8_t* intact, BlockCheck* check)
{
    ECCDecoder* decoder = &q.ecc;
    const SegmentFacts& seg = *q.segments;
    ECCErasures* known = q.erasures;
    int any_known = 0;
    for (int p = 0; p < ECC_N; ++p) {
        known->plane_bad[p] = static_cast<uint8_t>(entries[p].bad ? 1 : 0);
        any_known |= entries[p].bad | entries[p].marked;
    }

    ECCErasureResult result{};
    int restored = 0;
    if (!correct) {
        if (ecc_decoder_correct(decoder, 0) != 0)
            return false;
    } else {
        find_guarded_segments(q, entries, known);
        if (seg.guarded_count > 0)
            snapshot_trusted(q, entries);
        const int32_t refused =
            any_known ? ecc_decoder_correct_erasures(decoder, known, &result) : ecc_decoder_correct(decoder, 1);
        if (refused != 0)
            return false;
        if (seg.guarded_count > 0)
            restored = settle_trusted(q, entries);
    }
    const int segments = queue_segments(q);
    check->disagrees =
        correct && (restored || syndromes_unexplained(entries, known, decoder->pSyndromePlanes, segments));
    check->unverified = correct && any_known && some_codeword_unchecked(entries, known, segments);
    clear_erasures(q, entries);

    // Every known-bad plane that carries a checksum must come out matching it
    // before the rebuilt fillers of the block are believed.
    int received_right = 1;
    int32_t received_sum[ECC_N];
    for (int p = 0; p < ECC_N; ++p) {
        if (!is_received_bad(entries[p]))
            continue;
        received_sum[p] = correct ? plane_sum24(decoder->pReceivedPlanes[p], decoder->cPlaneBytes) : entries[p].record.sum_computed;
        if (received_sum[p] != entries[p].record.sum_stored)
            received_right = 0;
    }
    for (int i = 0; i < ECC_K; ++i) {
        const QueueEntry& e = entries[i];
        if (is_trusted(e))
            intact[i] = 1;
        else if (!e.filler)
            intact[i] = received_sum[i] == e.record.sum_stored ? 1 : 0;
        else
            intact[i] = correct && any_known && result.unsolved_in_position[i] == 0 && !restored && received_right;
    }
    return true;
}
