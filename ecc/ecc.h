// Bit-sliced (72,64) Hamming code over whole planes: bit j of word w of the 72
// planes of a block forms one codeword. Operations return 0 on success, 1 on failure.
#pragma once

#include <cstdint>

constexpr int ECC_K = 64;    // data planes per block
constexpr int ECC_N = 72;    // planes per block
constexpr int ECC_NMK = 8;   // parity planes per block
constexpr int ECC_PLANE_BYTES = 102524;
constexpr int ECC_PLANE_WORDS = 25631;       // little-endian 32-bit words used
constexpr int ECC_PLANE_ALLOC = 6408 * 16;   // 102,528 bytes allocated per plane
constexpr uint8_t ECC_LOC_NO_ERROR = 254;
constexpr uint8_t ECC_LOC_UNCORRECTABLE = 255;

extern const uint8_t ECC_PARITY_TABLE[ECC_N][ECC_NMK];
extern const uint8_t ECC_LOCATION_TABLE[256];

struct ECCEncoder {
    uint8_t* pMessagePlane;
    uint8_t* pParityPlanes[ECC_NMK];
    int32_t cDataEncoded;
    int32_t cParityOut;
};

struct ECCDecoder {
    uint8_t* pReceivedPlanes[ECC_N];
    uint8_t* pSyndromePlanes[ECC_NMK];
    int32_t cCodeReceived;
    int32_t cDataOut;
    uint32_t cUncorrectable;  // codewords of the last corrected block whose syndrome located no position
};

// Encoder half.
int32_t ecc_encoder_init(ECCEncoder* pECCEncoder);
int32_t ecc_encoder_shutdown(ECCEncoder* pECCEncoder);
int32_t ecc_encoder_enc1(ECCEncoder* pECCEncoder, const uint8_t* pMessagePlane);
int32_t ecc_encoder_getp1(ECCEncoder* pECCEncoder, uint8_t** pParityPlane);
int32_t ecc_generate_z1(uint8_t** pParityPlanes, const uint8_t* pMessage, int index);
int32_t ecc_clear_parityplanes(uint8_t** pParityPlanes);

// Decoder half.
int32_t ecc_decoder_init(ECCDecoder* pECCDecoder);
int32_t ecc_decoder_shutdown(ECCDecoder* pECCDecoder);
int32_t ecc_decoder_get_rcv_buffer(ECCDecoder* pECCDecoder, uint8_t** pReceivePlane);
int32_t ecc_decoder_syn1(ECCDecoder* pECCDecoder, const uint8_t* pReceivedPlane);
int32_t ecc_decoder_correct(ECCDecoder* pECCDecoder, int flag);
int32_t ecc_decoder_get_out_buffer(ECCDecoder* pECCDecoder, uint8_t** pDataPlane);
int32_t ecc_decode_z1(uint8_t** pSyndromePlanes, const uint8_t* pReceived, int index);
int32_t ecc_syn_to_loc_z1(uint8_t** pReceivedPlanes, uint8_t** pSyndromePlanes);
int32_t ecc_correct_data32(uint8_t** pReceivedPlanes, const uint8_t* pLocations, int word);
