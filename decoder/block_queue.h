// The ECC block being filled: every queued position puts its plane into the
// block code's next buffer and its entry (and known-bad payload blocks) beside
// it; every 72nd position completes the block, which is corrected and handed
// to the file writer.
#pragma once

#include <cstdint>

#include "block_correct.h"
#include "decoder.h"

// Allocates the block code's planes and the queue's buffers (once); false when
// memory is short. queue_release frees them; queue_reset starts an empty block.
[[nodiscard]] bool queue_allocate(BlockQueue& q);
void queue_release(BlockQueue& q);
void queue_reset(BlockQueue& q);
// Between blocks (none of its positions queued), makes `v` the system of the
// blocks to come. False when the block code refuses (a block is being filled).
[[nodiscard]] bool queue_set_system(BlockQueue& q, const VideoSystem& v);

// Queues `plane` (the plane_size bytes of the queue's system; null for a filler, queued as zero bytes;
// not copied when it is queue_buffer() already) with `entry`; `concealed` lists
// `concealed_count` payload blocks known to be bad. The 72nd position corrects
// the block and writes it out.
DecodeStatus add2queue(Decoder& d, const uint8_t* plane, const QueueEntry* entry, const uint16_t* concealed,
                       int concealed_count);

// The block code's buffer for the next position. A plane unpacked into it is
// queued there without a copy; queueing anything else first overwrites it.
uint8_t* queue_buffer(Decoder& d);

// Fetches the 64 data planes of the corrected block and has the writer write
// them (`intact`: the verdict on each, `check`: the parity's verdict).
// Catastrophic when the block code has no complete block to hand out.
DecodeStatus dump_eccblock(Decoder& d, const uint8_t* intact, const BlockCheck* check);

// Writes out a block none of whose positions was received (`entries`, ECC_N of
// them) without decoding it: its marks, and zero bytes where its data planes
// belong. Call only when no plane is queued.
DecodeStatus dump_lost_block(Decoder& d, const QueueEntry* entries);

// Ends a run of blocks lost whole: says how many went unshown.
void end_lost_run(Decoder& d);
