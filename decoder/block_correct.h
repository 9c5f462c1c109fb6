// Correction of one complete ECC block with what is known about its positions,
// and the verdict on every data plane it hands out.
//
// Known-bad places are erasures: the whole plane of a filler or of a frame whose
// checksum did not match, or, for such a frame with payload blocks marked
// concealed, just those blocks. With erasures known the erasure solver runs,
// otherwise the single-error correction. A plane that matched its checksum on
// receipt is trusted: where a correction changes it so that its checksum no
// longer matches, it is put back as received.
#pragma once

#include <cstdint>

#include "decoder_state.h"

// Marks the payload blocks `blocks` (count of them) of block position `position`
// as known bad in the queue's erasure table.
void mark_concealed(BlockQueue& q, int position, const uint16_t* blocks, int count);

// What the parity of a corrected block says of the frames it holds.
struct BlockCheck {
    bool disagrees;   // a syndrome is left that the correction did not explain: some plane is not as written
    bool unverified;  // some codeword had no parity left to check its planes beyond their checksums
};

// Corrects the block the queue's block code holds (72 planes queued, entries in
// `entries`) when `correct` is set, and writes for each data position i < ECC_K whether
// the plane the decoder now holds is known to be the one the encoder wrote:
// intact[i] = 1 for a trusted plane, for a plane that matches its stored
// checksum after correction, and for a filler the solver rebuilt in full in a
// block whose other known-bad planes all came out right. Clears the erasure
// table for the next block. Leaves the decoder ready for its 64 data planes to
// be fetched. `check` receives the parity's verdict on the whole block (both 0
// without correction: the parity is then not used at all). False when the block
// code refused (its diagnostic is in ecc_last_diagnostic): nothing can be fetched.
[[nodiscard]] bool correct_block(BlockQueue& q, const QueueEntry* entries, bool correct, uint8_t* intact,
                                 BlockCheck* check);

// Sum of the `plane_size` bytes of `plane`, modulo 2^24 (as the frame header stores it).
int32_t plane_sum24(const uint8_t* plane, int plane_size);
