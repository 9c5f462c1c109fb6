#include "concealment.h"

int concealed_payload_blocks(const uint8_t* dv_frame, uint16_t* blocks)
{
    int count = 0;
    for (int i = 0; i < PAYLOAD_BLOCKS; ++i)
        if (dv_frame[PAYLOAD_BLOCK_FRAME_OFFSETS[i] + STA_BYTE] & STA_MASK)
            blocks[count++] = static_cast<uint16_t>(i);
    return count;
}
