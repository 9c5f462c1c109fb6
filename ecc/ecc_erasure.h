// Correction of an ECC block whose bad planes, or bad payload blocks of planes,
// are known. A known-bad place is an erasure: its value is unknown but its
// position is, so the 8 checks of a codeword can rebuild up to 8 erased
// positions (every set whose parity-check columns are linearly independent:
// any three, most sets of four to eight), or one erased plus one unknown wrong
// position. Nothing changes on tape; this is a decoder-side alternative to
// ecc_decoder_correct for blocks that arrive with such knowledge.
#pragma once

#include <cstdint>

#include "ecc.h"

// A plane is made of segments of 19 words (the 76 bytes of one DV payload
// block), so a frame's damaged payload blocks map onto whole word ranges.

// Known-bad places of one block (positions 0..63 data planes, 64..71 parity
// planes; segments past the decoder's plane size are never read). Any non-zero
// byte marks the place bad. The caller owns it (about 117 KB: allocate once) and
// clears it per block.
struct ECCErasures {
    uint8_t plane_bad[ECC_N];                   // whole plane unusable (lost frame's filler, bad checksum)
    uint8_t segment_bad[ECC_N][ECC_MAX_SEGMENTS];   // this payload block of the plane is bad (concealed)
};

// What one block's correction found, counted in codewords (bit j of word w).
struct ECCErasureResult {
    uint32_t corrected_codewords;               // non-zero syndrome, every erased position solved
    uint32_t unsolved_codewords;                // some erased position left undetermined, or more
                                                // damage than the erasures explain; a codeword with
                                                // no erasure counts here when its syndrome locates
                                                // no single position (as ecc_decoder_correct does)
    uint32_t unsolved_in_position[ECC_N];       // per position: unsolved codewords in which this
                                                // erased position holds only the received bit
};

// Corrects the complete block held by `d` (cCodeReceived == 72, syndromes
// accumulated by ecc_decoder_syn1) using the known-bad places in `known`
// (null: none known). Per codeword, with E its erased positions:
// - a syndrome in the span of E's columns rebuilds every erased position that
//   the syndrome determines; positions of a dependent subset of E that the
//   checks cannot tell apart keep the received bits and make the codeword unsolved;
// - otherwise, with at most one erased position, a single unknown wrong position
//   whose column completes the syndrome is corrected too (with none erased this
//   is exactly what ecc_decoder_correct does to the data planes);
// - otherwise (two or more erased and more damage besides) the codeword is left
//   as received and counted unsolved, never guessed.
// Corrections are applied to data and parity planes alike and folded into the
// syndrome planes, so a repeated correction changes nothing. Afterwards the
// object is in the state that ecc_decoder_correct leaves (cDataOut = 0,
// cUncorrectable = unsolved codewords), ready for 64 ecc_decoder_get_out_buffer
// calls. `result` (may be null) receives the counts. Returns 0, or 1 with a
// diagnostic on standard output and nothing changed.
int32_t ecc_decoder_correct_erasures(ECCDecoder* d, const ECCErasures* known, ECCErasureResult* result);
