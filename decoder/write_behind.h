// Writing the restored files behind the decoder: the writer queues each span
// of a corrected plane for the open output file, and a thread of its own writes
// the spans in order while the decoder receives the next block. A queued span
// stays untouched by the decoder until write_behind_wait has passed it (the
// block code receives into its other set of data planes meanwhile). The first
// failure stops the writing; the decoder learns it at its next wait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "ecc.h"

// Queued operations: a block's 64 planes, each possibly behind a hole, twice over.
constexpr int WRITE_BEHIND_OPS = 4 * ECC_K;

struct WriteOp {
    FILE* file;
    const uint8_t* bytes;   // null: skip `count` bytes (a hole)
    int64_t count;
};

struct WriteBehind {
    WriteOp ops[WRITE_BEHIND_OPS];
    int64_t queued;         // operations queued in this run
    int64_t done;           // operations carried out (or passed over after a failure)
    int error;              // errno of the first failure, 0 while none
    bool stopping;
    bool running;
    std::mutex lock;
    std::condition_variable work;
    std::condition_variable progress;
    std::thread thread;
};

// Starts the writing thread (once; later calls start a new run, once what the
// last one queued is carried out). False when no thread can be started: the
// caller writes itself.
[[nodiscard]] bool write_behind_start(WriteBehind* w);
// Waits for what is queued, then ends the thread.
void write_behind_stop(WriteBehind* w);

// Queues `count` bytes at `bytes` (or, with null bytes, a hole of `count`) for
// `file`, waiting while the queue is full.
void write_behind_queue(WriteBehind* w, FILE* file, const uint8_t* bytes, int64_t count);
// Operations queued so far: a mark to wait for.
int64_t write_behind_mark(WriteBehind* w);
// Waits until every operation queued before `mark` is carried out; returns 0, or
// the errno of the first failure of the run.
int write_behind_wait(WriteBehind* w, int64_t mark);
