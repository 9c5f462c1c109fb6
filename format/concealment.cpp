#include "concealment.h"

int concealed_payload_blocks(const VideoSystem& v, const uint8_t* dv_frame, uint16_t* blocks)
{
    const int* offsets = payload_block_offsets(v);
    int count = 0;
    for (int i = 0; i < v.payload_blocks; ++i)
        if (dv_frame[offsets[i] + STA_BYTE] & STA_MASK)
            blocks[count++] = static_cast<uint16_t>(i);
    return count;
}
