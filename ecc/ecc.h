// Bit-sliced (72,64) Hamming code over whole planes: bit j of word w of the 72
// planes of a block forms one codeword. Operations return 0 on success, 1 on failure.
//
// Every refused call changes no state and leaves one diagnostic line, which
// ecc_last_diagnostic gives until the next refusal on the same thread (an
// allocation failure in init is reported by the result alone). The library
// never prints: callers pass the line on to their event sink.
// A plane is a whole number of segments of 19 little-endian 32-bit words (the
// 76 bytes of one DV payload block): 1,349 segments in a 525/60 frame, 1,619 in
// a 625/50 one. Objects take their plane size at init; planes passed in by
// callers are read as that many bytes and never beyond; buffers owned by the
// objects are ECC_PLANE_ALLOC bytes, zero-filled, so any size fits them.
#pragma once

#include <cstdint>

constexpr int ECC_K = 64;    // data planes per block
constexpr int ECC_N = 72;    // planes per block
constexpr int ECC_NMK = 8;   // parity planes per block
constexpr int ECC_SEGMENT_WORDS = 19;
constexpr int ECC_WORD_BYTES = 4;
constexpr int ECC_SEGMENT_BYTES = ECC_SEGMENT_WORDS * ECC_WORD_BYTES;
constexpr int ECC_MAX_SEGMENTS = 1619;
constexpr int ECC_MAX_PLANE_BYTES = ECC_MAX_SEGMENTS * ECC_SEGMENT_BYTES;   // 123,044
constexpr int ECC_ALLOC_ALIGN = 16;
constexpr int ECC_PLANE_ALLOC = (ECC_MAX_PLANE_BYTES + ECC_ALLOC_ALIGN - 1) / ECC_ALLOC_ALIGN * ECC_ALLOC_ALIGN;

// True when `plane_bytes` is a plane size the code works on.
constexpr bool ecc_plane_size_ok(int32_t plane_bytes)
{
    return plane_bytes > 0 && plane_bytes <= ECC_MAX_PLANE_BYTES && plane_bytes % ECC_SEGMENT_BYTES == 0;
}
constexpr uint8_t ECC_LOC_NO_ERROR = 254;
constexpr uint8_t ECC_LOC_UNCORRECTABLE = 255;

// Row r (code position: data planes 0..63, then parity planes 0..7) has a 1 in
// column k when parity check k covers that position.
extern const uint8_t ECC_PARITY_TABLE[ECC_N][ECC_NMK];
// Syndrome byte (bit k = check k failed) -> code position to repair: 0..71,
// ECC_LOC_NO_ERROR for syndrome 0, ECC_LOC_UNCORRECTABLE for the rest.
extern const uint8_t ECC_LOCATION_TABLE[256];

struct ECCEncoder {
    uint8_t* pMessagePlane;
    uint8_t* pParityPlanes[ECC_NMK];
    int32_t cDataEncoded;
    int32_t cParityOut;
    int32_t cPlaneBytes;      // bytes of every plane of this object
};

struct ECCDecoder {
    uint8_t* pReceivedPlanes[ECC_N];
    uint8_t* pSyndromePlanes[ECC_NMK];
    int32_t cCodeReceived;
    int32_t cDataOut;
    uint32_t cUncorrectable;  // codewords of the last corrected block whose syndrome located no position
    uint8_t* pPlaneStore;     // one region holding all 80 planes, or null when they are held one by one
    int32_t cPlaneBytes;      // bytes of every plane of the block being received
    uint8_t* pOtherDataPlanes[ECC_K];   // the second set of data planes (ecc_decoder_add_data_set), or null
    uint8_t* pOtherStore;     // its region, when the planes are held in regions
};

// The diagnostic line of the last refused call on this thread ("" if none since
// ecc_clear_diagnostic).
const char* ecc_last_diagnostic();
void ecc_clear_diagnostic();

// Encoder half.

// Releases what the object holds, then allocates its message and 8 parity planes
// zero-filled for planes of `plane_bytes` and resets the counters. Refuses a size
// that ecc_plane_size_ok rejects. Returns 1 (silently) if an allocation failed;
// the planes obtained stay allocated. The object's pointers must be null or valid
// before the first call.
int32_t ecc_encoder_init(ECCEncoder* pECCEncoder, int32_t plane_bytes);
// Between blocks (before the first data plane of a block, or once the last
// block's parity planes were all fetched) sets the plane size of the blocks to
// come; refused within a block and for a size ecc_plane_size_ok rejects.
int32_t ecc_encoder_resize(ECCEncoder* pECCEncoder, int32_t plane_bytes);
// Releases every plane the object holds and nulls its pointers; counters stay.
int32_t ecc_encoder_shutdown(ECCEncoder* pECCEncoder);
// Adds one data plane to the current block (starting a new block once the 8
// parity planes of the last one were fetched). Fails once 64 planes are in.
int32_t ecc_encoder_enc1(ECCEncoder* pECCEncoder, const uint8_t* pMessagePlane);
// Hands out the next parity plane of the completed block (the object's own
// buffer, valid until the next block starts). Fails before the 64th data plane
// and after the 8th parity plane.
int32_t ecc_encoder_getp1(ECCEncoder* pECCEncoder, uint8_t** pParityPlane);
// XORs the `plane_bytes` bytes of plane pMessage into each parity plane whose
// column is 1 in row `index` (0..63).
int32_t ecc_generate_z1(uint8_t** pParityPlanes, const uint8_t* pMessage, int index, int32_t plane_bytes);
// Zeroes the first `plane_bytes` bytes of each of the 8 planes.
int32_t ecc_clear_parityplanes(uint8_t** pParityPlanes, int32_t plane_bytes);

// Decoder half.

// Releases what the object holds, then allocates 72 received and 8 syndrome
// planes zero-filled for planes of `plane_bytes` and resets the counters. Refuses
// a size that ecc_plane_size_ok rejects. Returns 1 (silently) if an allocation
// failed; the planes obtained stay allocated.
int32_t ecc_decoder_init(ECCDecoder* pECCDecoder, int32_t plane_bytes);
// Between blocks (before the first plane of a block is received, or once the
// last block's data planes were all handed out) sets the plane size of the
// blocks to come; refused within a block and for a size ecc_plane_size_ok rejects.
int32_t ecc_decoder_resize(ECCDecoder* pECCDecoder, int32_t plane_bytes);
// Releases every plane the object holds and nulls its pointers; counters stay.
int32_t ecc_decoder_shutdown(ECCDecoder* pECCDecoder);
// Gives the object a second set of 64 data-plane buffers, kept until shutdown,
// for ecc_decoder_switch_data_planes. Returns 1 (silently) when memory is short.
int32_t ecc_decoder_add_data_set(ECCDecoder* pECCDecoder);
// Between blocks (as for resize): the blocks to come are received into the other
// set of data planes, so the planes last handed out keep their bytes while the
// next block comes in. Refused within a block and without a second set.
int32_t ecc_decoder_switch_data_planes(ECCDecoder* pECCDecoder);
// Hands out the buffer for the next received plane without advancing the count
// (starting a new block once all 64 data planes of the last one were fetched).
int32_t ecc_decoder_get_rcv_buffer(ECCDecoder* pECCDecoder, uint8_t** pReceivePlane);
// Adds the plane's contribution to the syndrome planes at the next position and
// advances the count. Pass the buffer that ecc_decoder_get_rcv_buffer handed out.
int32_t ecc_decoder_syn1(ECCDecoder* pECCDecoder, const uint8_t* pReceivedPlane);
// Once 72 planes are in: with a non-zero flag corrects the data planes in place
// (setting cUncorrectable), then makes the 64 data planes available for output.
// The syndrome planes are updated with the corrections, so a repeated call
// changes no data.
int32_t ecc_decoder_correct(ECCDecoder* pECCDecoder, int flag);
// Hands out the next data plane of the completed block and advances the count.
int32_t ecc_decoder_get_out_buffer(ECCDecoder* pECCDecoder, uint8_t** pDataPlane);
// XORs the `plane_bytes` bytes of plane pReceived into each syndrome plane whose
// column is 1 in row `index` (0..71).
int32_t ecc_decode_z1(uint8_t** pSyndromePlanes, const uint8_t* pReceived, int index, int32_t plane_bytes);
// Flips, in the first `plane_bytes` bytes of received planes 0..63, every bit
// that a syndrome locates there; words whose 8 syndrome words are all zero are
// skipped. Syndromes are not changed.
int32_t ecc_syn_to_loc_z1(uint8_t** pReceivedPlanes, uint8_t** pSyndromePlanes, int32_t plane_bytes);
// For j = 0..31 flips bit j of word `word` (below plane_bytes / 4) of received
// plane ECC_LOCATION_TABLE[pLocations[j]] when that position is below 64.
int32_t ecc_correct_data32(uint8_t** pReceivedPlanes, const uint8_t* pLocations, int word, int32_t plane_bytes);
