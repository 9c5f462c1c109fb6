// Encoder half of the plane Hamming code: 64 data planes in, 8 parity planes out.
#include "ecc.h"

#include "ecc_planes.h"

int32_t ecc_generate_z1(uint8_t** pParityPlanes, const uint8_t* pMessage, int index, int32_t plane_bytes)
{
    static constexpr RowMessages MESSAGES = {
        "ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n",
        "ecc_generate_z1() : FATAL index out of range!\n",
        "ecc_generate_z1() : plane size out of range!\n",
    };
    return ecc_xor_row_checked(pParityPlanes, pMessage, index, ECC_K, plane_bytes, MESSAGES);
}

int32_t ecc_encoder_shutdown(ECCEncoder* pECCEncoder)
{
    if (pECCEncoder == nullptr)
        return ecc_refuse("ecc_encoder_shutdown() : pECCEncoder == NULL!\n");
    ecc_plane_release(&pECCEncoder->pMessagePlane);
    for (int k = 0; k < ECC_NMK; ++k)
        ecc_plane_release(&pECCEncoder->pParityPlanes[k]);
    return 0;
}

int32_t ecc_encoder_init(ECCEncoder* pECCEncoder, int32_t plane_bytes)
{
    if (pECCEncoder == nullptr)
        return ecc_refuse("ecc_encoder_init() : pECCEncoder == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_encoder_init() : plane size out of range!\n");
    ecc_encoder_shutdown(pECCEncoder);
    pECCEncoder->cPlaneBytes = plane_bytes;
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
    return ecc_clear_parityplanes(pECCEncoder->pParityPlanes, plane_bytes);
}

int32_t ecc_encoder_resize(ECCEncoder* pECCEncoder, int32_t plane_bytes)
{
    if (pECCEncoder == nullptr)
        return ecc_refuse("ecc_encoder_resize() : pECCEncoder == NULL!\n");
    if (!ecc_plane_size_ok(plane_bytes))
        return ecc_refuse("ecc_encoder_resize() : plane size out of range!\n");
    if (pECCEncoder->cDataEncoded != 0 && pECCEncoder->cParityOut != ECC_NMK)
        return ecc_refuse("ecc_encoder_resize() : a block is being encoded!\n");
    pECCEncoder->cPlaneBytes = plane_bytes;
    return 0;
}

int32_t ecc_encoder_enc1(ECCEncoder* pECCEncoder, const uint8_t* pMessagePlane)
{
    if (pECCEncoder == nullptr || pMessagePlane == nullptr)
        return ecc_refuse("ecc_encoder_enc1() : pECCEncoder or pMessagePlane == NULL!\n");
    // The counters are only committed once every check has passed, so a refused
    // plane leaves the object as it was.
    const bool new_block = pECCEncoder->cParityOut == ECC_NMK;
    const int32_t encoded = new_block ? 0 : pECCEncoder->cDataEncoded;
    if (ecc_check_count(encoded, ECC_K, "ecc_encoder_enc1() : Already reached 1 'full' ECCblock!\n",
                        "ecc_encoder_enc1() : FATAL pECCEncoder->cDataEncoded > ECC_K !\n",
                        "ecc_encoder_enc1() : FATAL pECCEncoder->cDataEncoded < 0 !\n") != 0)
        return 1;
    if (!ecc_planes_present(pECCEncoder->pParityPlanes, ECC_NMK)) {
        ecc_report(encoded == 0 ? "ecc_clear_parityplanes() : pParityPlanes == NULL!\n"
                                : "ecc_generate_z1() : pParityPlanes or pMessage == NULL!\n");
        return 1;
    }
    if (new_block) {
        pECCEncoder->cDataEncoded = 0;
        pECCEncoder->cParityOut = 0;
    }
    const int32_t bytes = pECCEncoder->cPlaneBytes;
    if (!ecc_plane_size_ok(bytes))
        return ecc_refuse("ecc_generate_z1() : plane size out of range!\n");
    if (encoded == 0)
        ecc_clear_parityplanes(pECCEncoder->pParityPlanes, bytes);
    ecc_generate_z1(pECCEncoder->pParityPlanes, pMessagePlane, encoded, bytes);
    pECCEncoder->cDataEncoded = encoded + 1;
    return 0;
}

int32_t ecc_encoder_getp1(ECCEncoder* pECCEncoder, uint8_t** pParityPlane)
{
    static constexpr HandOutMessages MESSAGES = {
        "ecc_encoder_getp1() : pECCEncoder or pParityPlane == NULL!\n",
        "ecc_encoder_getp1() : Not yet 1 'full' ECCblock!\n",
        "ecc_encoder_getp1() : Parity-buffer empty!\n",
        "ecc_encoder_getp1() : FATAL pECCEncoder->cParityOut > ECC_NMK!\n",
        "ecc_encoder_getp1() : FATAL pECCEncoder->cParityOut < 0!\n",
    };
    if (pECCEncoder == nullptr || pParityPlane == nullptr)
        return ecc_refuse(MESSAGES.null);
    return ecc_hand_out(pECCEncoder->pParityPlanes, &pECCEncoder->cParityOut, ECC_NMK,
                        pECCEncoder->cDataEncoded == ECC_K, MESSAGES, pParityPlane);
}
