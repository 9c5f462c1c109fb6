// Encoder half of the plane Hamming code: 64 data planes in, 8 parity planes out.
#include "ecc.h"

#include "ecc_planes.h"

int32_t ecc_generate_z1(uint8_t** pParityPlanes, const uint8_t* pMessage, int index)
{
    if (pParityPlanes == nullptr || pMessage == nullptr) {
        ecc_report("ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
        return 1;
    }
    if (index < 0 || index >= ECC_K) {
        ecc_report("ecc_generate_z1() : FATAL index out of range!\n");
        return 1;
    }
    const uint8_t row = ECC_ROW_BITS[index];
    for (int k = 0; k < ECC_NMK; ++k) {
        if ((row & (1u << k)) && pParityPlanes[k] == nullptr) {
            ecc_report("ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
            return 1;
        }
    }
    ecc_plane_xor_row(pParityPlanes, pMessage, row);
    return 0;
}

int32_t ecc_encoder_shutdown(ECCEncoder* pECCEncoder)
{
    if (pECCEncoder == nullptr) {
        ecc_report("ecc_encoder_shutdown() : pECCEncoder == NULL!\n");
        return 1;
    }
    ecc_plane_release(&pECCEncoder->pMessagePlane);
    for (int k = 0; k < ECC_NMK; ++k)
        ecc_plane_release(&pECCEncoder->pParityPlanes[k]);
    return 0;
}

int32_t ecc_encoder_init(ECCEncoder* pECCEncoder)
{
    if (pECCEncoder == nullptr) {
        ecc_report("ecc_encoder_init() : pECCEncoder == NULL!\n");
        return 1;
    }
    ecc_encoder_shutdown(pECCEncoder);
    // Every allocation is attempted, so that a later shutdown finds a consistent object.
    bool complete = true;
    pECCEncoder->pMessagePlane = ecc_plane_alloc();
    complete = complete && pECCEncoder->pMessagePlane != nullptr;
    for (int k = 0; k < ECC_NMK; ++k) {
        pECCEncoder->pParityPlanes[k] = ecc_plane_alloc();
        complete = complete && pECCEncoder->pParityPlanes[k] != nullptr;
    }
    pECCEncoder->cDataEncoded = 0;
    pECCEncoder->cParityOut = 0;
    if (!complete)
        return 1;
    return ecc_clear_parityplanes(pECCEncoder->pParityPlanes);
}

int32_t ecc_encoder_enc1(ECCEncoder* pECCEncoder, const uint8_t* pMessagePlane)
{
    if (pECCEncoder == nullptr || pMessagePlane == nullptr) {
        ecc_report("ecc_encoder_enc1() : pECCEncoder or pMessagePlane == NULL!\n");
        return 1;
    }
    // The counters are only committed once every check has passed, so a refused
    // plane leaves the object as it was.
    const bool new_block = pECCEncoder->cParityOut == ECC_NMK;
    const int32_t encoded = new_block ? 0 : pECCEncoder->cDataEncoded;
    if (encoded == ECC_K) {
        ecc_report("ecc_encoder_enc1() : Already reached 1 'full' ECCblock!\n");
        return 1;
    }
    if (encoded > ECC_K) {
        ecc_report("ecc_encoder_enc1() : FATAL pECCEncoder->cDataEncoded > ECC_K !\n");
        return 1;
    }
    if (encoded < 0) {
        ecc_report("ecc_encoder_enc1() : FATAL pECCEncoder->cDataEncoded < 0 !\n");
        return 1;
    }
    if (!ecc_planes_present(pECCEncoder->pParityPlanes, ECC_NMK)) {
        ecc_report(encoded == 0 ? "ecc_clear_parityplanes() : pParityPlanes == NULL!\n"
                                : "ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
        return 1;
    }
    if (new_block) {
        pECCEncoder->cDataEncoded = 0;
        pECCEncoder->cParityOut = 0;
    }
    if (encoded == 0)
        ecc_clear_parityplanes(pECCEncoder->pParityPlanes);
    ecc_generate_z1(pECCEncoder->pParityPlanes, pMessagePlane, encoded);
    pECCEncoder->cDataEncoded = encoded + 1;
    return 0;
}

int32_t ecc_encoder_getp1(ECCEncoder* pECCEncoder, uint8_t** pParityPlane)
{
    if (pECCEncoder == nullptr || pParityPlane == nullptr) {
        ecc_report("ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n");
        return 1;
    }
    if (pECCEncoder->cDataEncoded != ECC_K) {
        ecc_report("ecc_encoder_getp1() : Not yet 1 'full' ECCblock!\n");
        return 1;
    }
    const int32_t out = pECCEncoder->cParityOut;
    if (out == ECC_NMK) {
        ecc_report("ecc_encoder_getp1() : Parity-buffer empty!\n");
        return 1;
    }
    if (out > ECC_NMK) {
        ecc_report("ecc_encoder_getp1() : FATAL pECCEncoder->cParityOut > ECC_NMK!\n");
        return 1;
    }
    if (out < 0) {
        ecc_report("ecc_encoder_getp1() : FATAL pECCEncoder->cParityOut < 0!\n");
        return 1;
    }
    // After a shutdown the counters survive but the planes do not.
    if (pECCEncoder->pParityPlanes[out] == nullptr) {
        ecc_report("ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n");
        return 1;
    }
    *pParityPlane = pECCEncoder->pParityPlanes[out];
    pECCEncoder->cParityOut = out + 1;
    return 0;
}
