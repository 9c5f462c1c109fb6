// ECC block queue and file writer: queued planes fill ECC blocks; each full block
// is corrected and its 64 data planes are written into the restored files.
#pragma once

#include <cstdint>

#include "run_state.h"

// Results of add2queue and dump_eccblock.
constexpr int QUEUE_OK = 0;
constexpr int QUEUE_CATASTROPHIC = 1;   // the decoder and the queue disagree; the run cannot go on
constexpr int QUEUE_WRITE_FAILED = 2;   // a restored file could not be written; reported already

// Copies `plane` (PLANE_SIZE bytes) into the decoder's next receive buffer and
// `record` into the block record array (with `filler`: the plane stands in for a
// lost frame). Every 72nd call corrects the block and writes it out.
int add2queue(const uint8_t* plane, const FrameRecord* record, int filler);

// Fetches the 64 data planes of the corrected block from the decoder and writes
// them out guided by `records`: a new file at each accepted frame 0, progress
// marks, the file's bytes. Returns QUEUE_OK, QUEUE_WRITE_FAILED, or
// QUEUE_CATASTROPHIC when the decoder has no complete block to hand out.
int dump_eccblock(const QueueEntry* records);

// Closes the restored file that is open at the end of the run and books it for
// the verification report. Returns QUEUE_OK or QUEUE_WRITE_FAILED.
int finish_output();

// Books for the verification report the files whose accepted first frame lies in
// the incomplete block the input ended inside (never corrected nor written),
// named from their received planes. Call after finish_output().
void report_unwritten_block();

// Bytes of the plane queued as `entry` to append to the current file, and the
// plane offset they start at: the record's RealBytes for a received frame, a
// whole plane for a filler (a lost frame inside a file held a whole plane; at
// the file's end the bound below cuts it to what the file still lacks), kept
// within the plane and within the size the file's first frame announced.
int32_t bytes_to_write(const QueueEntry* entry, const RestoredFile* file, int* start);
