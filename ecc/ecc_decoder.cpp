// Decoder half of the plane Hamming code: 72 received planes in, syndromes
// accumulated as they arrive, 64 corrected data planes out.
#include "ecc.h"

#include <cstring>

#include "ecc_planes.h"
#include "plane_store.h"

namespace {

// Units screened together for errors: a clean block costs one OR over the
// syndrome planes, in runs long enough for the compiler to vectorise; a stretch
// with errors is corrected as a whole where it can be.
constexpr int SCREEN_UNITS = 64;
constexpr size_t PLANE_STORE_BYTES = static_cast<size_t>(ECC_N + ECC_NMK) * ECC_PLANE_ALLOC;
constexpr size_t DATA_SET_BYTES = static_cast<size_t>(ECC_K) * ECC_PLANE_ALLOC;
constexpr int WORD_BYTES = 4;
constexpr int BITS_PER_WORD = 32;
constexpr int BITS_PER_BYTE = 8;

int count_bits(uint64_t value)
{
    value = value - ((value >> 1) & 0x5555555555555555ull);
    value = (value & 0x3333333333333333ull) + ((value >> 2) & 0x3333333333333333ull);
    value = (value + (value >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((value * 0x0101010101010101ull) >> 56);
}

uint64_t load_bytes(const uint8_t* plane, int offset, int bytes)
{
    uint64_t value = 0;
    std::memcpy(&value, plane + offset, bytes);
    return value;
}

void store_bytes(uint8_t* plane, int offset, int bytes, uint64_t value)
{
    std::memcpy(plane + offset, &value, bytes);
}

// What a correction pass does besides flipping bits: count the codewords whose
// syndrome locates nothing, and clear the syndromes of the bits it repaired so
// that the syndrome planes keep describing the received planes.
struct PassOptions {
    bool settle;
    uint32_t* uncorrectable;  // null: not counted
};

// Corrects `bytes` bytes (at most one unit) at `offset` of every codeword there.
// Each distinct syndrome value of the unit is handled once: all the bits that
// share it are located with one table look-up and flipped together.
void correct_unit(uint8_t* const* received, uint8_t* const* syndromes, int offset, int bytes,
                  const PassOptions& options)
{
    uint64_t syndrome[ECC_NMK];
    uint64_t pending = 0;
    for (int k = 0; k < ECC_NMK; ++k) {
        syndrome[k] = load_bytes(syndromes[k], offset, bytes);
        pending |= syndrome[k];
    }
    uint64_t repaired = 0;
    while (pending != 0) {
        const uint64_t lowest = pending & (~pending + 1);
        uint64_t same = ~uint64_t{0};
        int value = 0;
        for (int k = 0; k < ECC_NMK; ++k) {
            if (syndrome[k] & lowest) {
                value |= 1 << k;
                same &= syndrome[k];
            } else {
                same &= ~syndrome[k];
            }
        }
        pending &= ~same;
        const uint8_t position = ECC_LOCATION_TABLE[value];
        if (position < ECC_K) {
            store_bytes(received[position], offset, bytes,
                        load_bytes(received[position], offset, bytes) ^ same);
            repaired |= same;
        } else if (position == ECC_LOC_UNCORRECTABLE && options.uncorrectable != nullptr) {
            *options.uncorrectable += static_cast<uint32_t>(count_bits(same));
        }
    }
    if (options.settle && repaired != 0) {
        for (int k = 0; k < ECC_NMK; ++k)
            store_bytes(syndromes[k], offset, bytes, syndrome[k] & ~repaired);
    }
}

// Marks in wrong[i] the codewords of unit first + i whose syndrome is not zero;
// returns the OR of them all.
uint64_t find_wrong_codewords(uint8_t* const* syndromes, int first, int units, uint64_t* wrong)
{
    // Local copies of the plane pointers: stores to wrong[] cannot alias them,
    // so the loop vectorises.
    const uint8_t* planes[ECC_NMK];
    for (int k = 0; k < ECC_NMK; ++k)
        planes[k] = syndromes[k] + first * ECC_UNIT_BYTES;
    uint64_t any = 0;
    for (int i = 0; i < units; ++i) {
        uint64_t n = 0;
        for (int k = 0; k < ECC_NMK; ++k)
            n |= ecc_load_unit(planes[k], i);
        wrong[i] = n;
        any |= n;
    }
    return any;
}

// The syndrome byte of the lowest wrong codeword of the stretch.
int first_syndrome(uint8_t* const* syndromes, int first, const uint64_t* wrong)
{
    int i = 0;
    while (wrong[i] == 0)
        ++i;
    const uint64_t lowest = wrong[i] & (~wrong[i] + 1);
    int value = 0;
    for (int k = 0; k < ECC_NMK; ++k) {
        if (ecc_load_unit(syndromes[k], first + i) & lowest)
            value |= 1 << k;
    }
    return value;
}

// True when every wrong codeword of the stretch has the syndrome `value`, as
// when one plane of the block is bad.
bool all_same_syndrome(uint8_t* const* syndromes, int first, int units, const uint64_t* wrong, int value)
{
    const uint8_t* planes[ECC_NMK];
    uint64_t select[ECC_NMK];
    for (int k = 0; k < ECC_NMK; ++k) {
        planes[k] = syndromes[k] + first * ECC_UNIT_BYTES;
        select[k] = (value >> k) & 1 ? ~uint64_t{0} : 0;
    }
    uint64_t differs = 0;
    for (int i = 0; i < units; ++i) {
        for (int k = 0; k < ECC_NMK; ++k)
            differs |= ecc_load_unit(planes[k], i) ^ (wrong[i] & select[k]);
    }
    return differs == 0;
}

// Corrects a stretch of units that has wrong codewords. Mostly they all point at
// one position, which is then handled in whole-stretch loops.
void correct_stretch(uint8_t* const* received, uint8_t* const* syndromes, int first, int units,
                     const uint64_t* wrong, const PassOptions& options)
{
    const int value = first_syndrome(syndromes, first, wrong);
    if (!all_same_syndrome(syndromes, first, units, wrong, value)) {
        for (int unit = first; unit < first + units; ++unit) {
            if (wrong[unit - first] != 0)
                correct_unit(received, syndromes, unit * ECC_UNIT_BYTES, ECC_UNIT_BYTES, options);
        }
        return;
    }
    const uint8_t position = ECC_LOCATION_TABLE[value];
    const size_t stretch_bytes = static_cast<size_t>(units) * ECC_UNIT_BYTES;
    if (position < ECC_K) {
        uint8_t* plane = received[position];
        for (int i = 0; i < units; ++i)
            ecc_store_unit(plane, first + i, ecc_load_unit(plane, first + i) ^ wrong[i]);
        if (options.settle) {
            // Checks outside the syndrome value hold zeros here already.
            for (int k = 0; k < ECC_NMK; ++k) {
                if ((value >> k) & 1)
                    std::memset(syndromes[k] + first * ECC_UNIT_BYTES, 0, stretch_bytes);
            }
        }
    } else if (position == ECC_LOC_UNCORRECTABLE && options.uncorrectable != nullptr) {
        uint32_t count = 0;
        for (int i = 0; i < units; ++i)
            count += static_cast<uint32_t>(count_bits(wrong[i]));
        *options.uncorrectable += count;
    }
}

// Makes the same flips as taking every word with a non-zero syndrome through
// ecc_correct_data32 bit by bit; only the order differs, and flips of distinct
// bits do not depend on one another.
void correction_pass(uint8_t* const* received, uint8_t* const* syndromes, int32_t plane_bytes,
                     const PassOptions& options)
{
    uint64_t wrong[SCREEN_UNITS];
    const int plane_units = ecc_plane_units(plane_bytes);
    for (int first = 0; first < plane_units; first += SCREEN_UNITS) {
        const int left = plane_units - first;
        const int units = left < SCREEN_UNITS ? left : SCREEN_UNITS;
        if (find_wrong_codewords(syndromes, first, units, wrong) != 0)
            correct_stretch(received, syndromes, first, units, wrong, options);
    }
    const int tail = ecc_tail_start(plane_bytes);
    if (tail < plane_bytes)
        correct_unit(received, syndromes, tail, plane_bytes - tail, options);
}

// A new block starts once every data plane of the last one was handed out.
bool block_is_drained(const ECCDecoder* decoder)
{
    return decoder->cDataOut == ECC_K;
}

// The refusal lines of an operation that takes the next received plane.
struct ReceiveMessages {
    const char* null;
    const char* full;
    const char* over;
    const char* under;
};

// The position the next received plane takes (*received) and whether it starts
// a new block; 1 (refused with the matching line) when there is none.
int32_t next_position(const ECCDecoder* decoder, const void* plane, const ReceiveMessages& m, bool* new_block,
                      int32_t* received)
{
    if (decoder == nullptr || plane == nullptr)
        return ecc_refuse(m.null);
    *new_block = block_is_drained(decoder);
    *received = *new_block ? 0 : decoder->cCodeReceived;
    return ecc_check_count(*received, ECC_N, m.full, m.over, m.under);
}

}  // namespace

int32_t ecc_decode_z1(uint8_t** pSyndromePlanes, const uint8_t* pReceived, int index, int32_t plane_bytes)
{
    static constexpr RowMessages MESSAGES = {
        "ecc_decode_z1() : pReceived or pSyndromePlanes == NULL!\n",
        "ecc_decode_z1() : FATAL index out of range!\n",
        "ecc_decode_z1() : plane size out of range!\n",
    };
    return ecc_xor_row_checked(pSyndromePlanes, pReceived, index, ECC_N, plane_bytes, MESSAGES);
}

int32_t ecc_correct_data32(uint8_t** pReceivedPlanes, const uint8_t* pLocations, int word, int32_t plane_bytes)
{
    if (pReceivedPlanes == nullptr || pLocations == nullptr)
        return ecc_refuse("ecc_correct_data32() : pReceivedPlanes or pLocations == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_correct_data32() : plane size out of range!\n");
    if (word < 0 || word >= plane_bytes / WORD_BYTES)
        return ecc_refuse("ecc_correct_data32() : FATAL word out of range!\n");
    for (int j = 0; j < BITS_PER_WORD; ++j) {
        const uint8_t position = ECC_LOCATION_TABLE[pLocations[j]];
        if (position < ECC_K && pReceivedPlanes[position] == nullptr)
            return ecc_refuse("ecc_correct_data32() : pReceivedPlanes or pLocations == NULL!\n");
    }
    for (int j = 0; j < BITS_PER_WORD; ++j) {
        const uint8_t position = ECC_LOCATION_TABLE[pLocations[j]];
        if (position < ECC_K) {
            uint8_t& byte = pReceivedPlanes[position][word * WORD_BYTES + j / BITS_PER_BYTE];
            byte = static_cast<uint8_t>(byte ^ (1u << (j % BITS_PER_BYTE)));
        }
    }
    return 0;
}

int32_t ecc_syn_to_loc_z1(uint8_t** pReceivedPlanes, uint8_t** pSyndromePlanes, int32_t plane_bytes)
{
    if (pReceivedPlanes == nullptr || pSyndromePlanes == nullptr ||
        !ecc_planes_present(pReceivedPlanes, ECC_K) || !ecc_planes_present(pSyndromePlanes, ECC_NMK)) {
        ecc_report("ecc_syn_to_loc_z1() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
        return 1;
    }
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_syn_to_loc_z1() : plane size out of range!\n");
    correction_pass(pReceivedPlanes, pSyndromePlanes, plane_bytes, PassOptions{false, nullptr});
    return 0;
}

int32_t ecc_decoder_shutdown(ECCDecoder* pECCDecoder)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_shutdown() : pECCDecoder == NULL!\n");
    // The two data sets may have been switched: in regions both go at once,
    // held one by one each plane is released wherever it is.
    if (pECCDecoder->pPlaneStore != nullptr) {
        for (int r = 0; r < ECC_N; ++r)
            pECCDecoder->pReceivedPlanes[r] = nullptr;
        for (int k = 0; k < ECC_NMK; ++k)
            pECCDecoder->pSyndromePlanes[k] = nullptr;
        for (int r = 0; r < ECC_K; ++r)
            pECCDecoder->pOtherDataPlanes[r] = nullptr;
        ecc_store_release(pECCDecoder->pPlaneStore, PLANE_STORE_BYTES);
        ecc_store_release(pECCDecoder->pOtherStore, DATA_SET_BYTES);
        pECCDecoder->pPlaneStore = nullptr;
        pECCDecoder->pOtherStore = nullptr;
        return 0;
    }
    for (int r = 0; r < ECC_N; ++r)
        ecc_plane_release(&pECCDecoder->pReceivedPlanes[r]);
    for (int k = 0; k < ECC_NMK; ++k)
        ecc_plane_release(&pECCDecoder->pSyndromePlanes[k]);
    for (int r = 0; r < ECC_K; ++r)
        ecc_plane_release(&pECCDecoder->pOtherDataPlanes[r]);
    return 0;
}

int32_t ecc_decoder_init(ECCDecoder* pECCDecoder, int32_t plane_bytes)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_init() : pECCDecoder == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_decoder_init() : plane size out of range!\n");
    ecc_decoder_shutdown(pECCDecoder);
    pECCDecoder->cPlaneBytes = plane_bytes;
    pECCDecoder->cCodeReceived = 0;
    pECCDecoder->cDataOut = 0;
    pECCDecoder->cUncorrectable = 0;
    // The planes of a block are touched all over once per block: one region
    // costs the first pass far fewer page faults than 80 heap blocks.
    uint8_t* store = ecc_store_alloc(PLANE_STORE_BYTES);
    if (store != nullptr) {
        pECCDecoder->pPlaneStore = store;
        for (int r = 0; r < ECC_N; ++r)
            pECCDecoder->pReceivedPlanes[r] = store + static_cast<size_t>(r) * ECC_PLANE_ALLOC;
        for (int k = 0; k < ECC_NMK; ++k)
            pECCDecoder->pSyndromePlanes[k] = store + static_cast<size_t>(ECC_N + k) * ECC_PLANE_ALLOC;
        return 0;
    }
    bool complete = true;
    for (int r = 0; r < ECC_N; ++r) {
        pECCDecoder->pReceivedPlanes[r] = ecc_plane_alloc();
        complete = complete && pECCDecoder->pReceivedPlanes[r] != nullptr;
    }
    for (int k = 0; k < ECC_NMK; ++k) {
        pECCDecoder->pSyndromePlanes[k] = ecc_plane_alloc();
        complete = complete && pECCDecoder->pSyndromePlanes[k] != nullptr;
    }
    if (!complete)
        return 1;
    return ecc_clear_parityplanes(pECCDecoder->pSyndromePlanes, plane_bytes);
}

int32_t ecc_decoder_resize(ECCDecoder* pECCDecoder, int32_t plane_bytes)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_resize() : pECCDecoder == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_decoder_resize() : plane size out of range!\n");
    if (pECCDecoder->cCodeReceived != 0 && !block_is_drained(pECCDecoder))
        return ecc_refuse("ecc_decoder_resize() : a block is being received!\n");
    pECCDecoder->cPlaneBytes = plane_bytes;
    return 0;
}

int32_t ecc_decoder_add_data_set(ECCDecoder* pECCDecoder)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_add_data_set() : pECCDecoder == NULL!\n");
    if (ecc_planes_present(pECCDecoder->pOtherDataPlanes, ECC_K))
        return 0;
    // The second set is held as the first is, so that shutdown can release both alike.
    if (pECCDecoder->pPlaneStore != nullptr) {
        uint8_t* store = ecc_store_alloc(DATA_SET_BYTES);
        if (store == nullptr)
            return 1;
        pECCDecoder->pOtherStore = store;
        for (int r = 0; r < ECC_K; ++r)
            pECCDecoder->pOtherDataPlanes[r] = store + static_cast<size_t>(r) * ECC_PLANE_ALLOC;
        return 0;
    }
    bool complete = true;
    for (int r = 0; r < ECC_K; ++r) {
        if (pECCDecoder->pOtherDataPlanes[r] == nullptr)
            pECCDecoder->pOtherDataPlanes[r] = ecc_plane_alloc();
        complete = complete && pECCDecoder->pOtherDataPlanes[r] != nullptr;
    }
    return complete ? 0 : 1;
}

int32_t ecc_decoder_switch_data_planes(ECCDecoder* pECCDecoder)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_switch_data_planes() : pECCDecoder == NULL!\n");
    if (!ecc_planes_present(pECCDecoder->pOtherDataPlanes, ECC_K))
        return ecc_refuse("ecc_decoder_switch_data_planes() : no second set of data planes!\n");
    if (pECCDecoder->cCodeReceived != 0 && !block_is_drained(pECCDecoder))
        return ecc_refuse("ecc_decoder_switch_data_planes() : a block is being received!\n");
    for (int r = 0; r < ECC_K; ++r) {
        uint8_t* plane = pECCDecoder->pReceivedPlanes[r];
        pECCDecoder->pReceivedPlanes[r] = pECCDecoder->pOtherDataPlanes[r];
        pECCDecoder->pOtherDataPlanes[r] = plane;
    }
    return 0;
}

int32_t ecc_decoder_get_rcv_buffer(ECCDecoder* pECCDecoder, uint8_t** pReceivePlane)
{
    static constexpr ReceiveMessages MESSAGES = {
        "ecc_decoder_get_rcv_buffer() : pECCDecoder or pReceivePlane == NULL!\n",
        "ecc_decoder_get_rcv_buffer() : already have full ECCblock!\n",
        "ecc_decoder_get_rcv_buffer() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n",
        "ecc_decoder_get_rcv_buffer() : FATAL pECCDecoder->cCodeReceived < 0!\n",
    };
    bool new_block = false;
    int32_t received = 0;
    if (next_position(pECCDecoder, pReceivePlane, MESSAGES, &new_block, &received) != 0)
        return 1;
    // After a shutdown the counters survive but the planes do not.
    if (pECCDecoder->pReceivedPlanes[received] == nullptr ||
        (new_block && !ecc_planes_present(pECCDecoder->pSyndromePlanes, ECC_NMK))) {
        ecc_report("ecc_decoder_get_rcv_buffer() : pECCDecoder or pReceivePlane == NULL!\n");
        return 1;
    }
    if (new_block) {
        pECCDecoder->cCodeReceived = 0;
        pECCDecoder->cDataOut = 0;
        ecc_clear_parityplanes(pECCDecoder->pSyndromePlanes, pECCDecoder->cPlaneBytes);
    }
    *pReceivePlane = pECCDecoder->pReceivedPlanes[received];
    return 0;
}

int32_t ecc_decoder_syn1(ECCDecoder* pECCDecoder, const uint8_t* pReceivedPlane)
{
    static constexpr ReceiveMessages MESSAGES = {
        "ecc_decoder_syn1() : pECCDecoder or pReceivedPlane == NULL!\n",
        "ecc_decoder_syn1() : already have full ECCblock!\n",
        "ecc_decoder_syn1() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n",
        "ecc_decoder_syn1() : FATAL pECCDecoder->cCodeReceived < 0!\n",
    };
    bool new_block = false;
    int32_t received = 0;
    if (next_position(pECCDecoder, pReceivedPlane, MESSAGES, &new_block, &received) != 0)
        return 1;
    if (!ecc_planes_present(pECCDecoder->pSyndromePlanes, ECC_NMK))
        return ecc_refuse("ecc_decode_z1() : pReceived or pSyndromePlanes == NULL!\n");
    if (new_block) {
        pECCDecoder->cCodeReceived = 0;
        pECCDecoder->cDataOut = 0;
        ecc_clear_parityplanes(pECCDecoder->pSyndromePlanes, pECCDecoder->cPlaneBytes);
    }
    ecc_decode_z1(pECCDecoder->pSyndromePlanes, pReceivedPlane, received, pECCDecoder->cPlaneBytes);
    pECCDecoder->cCodeReceived = received + 1;
    return 0;
}

int32_t ecc_decoder_correct(ECCDecoder* pECCDecoder, int flag)
{
    if (pECCDecoder == nullptr)
        return ecc_refuse("ecc_decoder_correct() : pECCDecoder == NULL!\n");
    if (pECCDecoder->cCodeReceived > ECC_N)
        return ecc_refuse("ecc_decoder_correct() : FATAL pECCDecoder->cCodeReceived > ECC_N!\n");
    if (pECCDecoder->cCodeReceived < ECC_N)
        return ecc_refuse("ecc_decoder_correct() : don't have full ECCblock yet!\n");
    uint32_t uncorrectable = 0;
    if (flag != 0) {
        if (!ecc_planes_present(pECCDecoder->pReceivedPlanes, ECC_K) ||
            !ecc_planes_present(pECCDecoder->pSyndromePlanes, ECC_NMK)) {
            ecc_report("ecc_syn_to_loc_z1() : pReceivedPlanes or pSyndromePlanes == NULL!\n");
            return 1;
        }
        correction_pass(pECCDecoder->pReceivedPlanes, pECCDecoder->pSyndromePlanes, pECCDecoder->cPlaneBytes,
                        PassOptions{true, &uncorrectable});
    }
    pECCDecoder->cUncorrectable = uncorrectable;
    pECCDecoder->cDataOut = 0;
    return 0;
}

int32_t ecc_decoder_get_out_buffer(ECCDecoder* pECCDecoder, uint8_t** pDataPlane)
{
    static constexpr HandOutMessages MESSAGES = {
        "ecc_decoder_get_out_buffer() : pECCDecoder or pDataPlane == NULL!\n",
        "ecc_decoder_get_out_buffer() : don't have full ECCblock yet!\n",
        "ecc_decoder_get_out_buffer() : no data left!\n",
        "ecc_decoder_get_out_buffer() : FATAL pECCDecoder->cDataOut > ECC_K!\n",
        "ecc_decoder_get_out_buffer() : FATAL pECCDecoder->cDataOut < 0!\n",
    };
    if (pECCDecoder == nullptr || pDataPlane == nullptr)
        return ecc_refuse(MESSAGES.null);
    return ecc_hand_out(pECCDecoder->pReceivedPlanes, &pECCDecoder->cDataOut, ECC_K,
                        pECCDecoder->cCodeReceived >= ECC_N, MESSAGES, pDataPlane);
}
