#include "write_behind.h"

#include <cerrno>

#include "file_seek.h"

namespace {

// Carries out one operation; the errno of its failure, or 0.
int carry_out(const WriteOp& op)
{
    errno = 0;
    if (!op.bytes)
        return seek_forward(op.file, op.count) ? 0 : (errno ? errno : EIO);
    const size_t n = static_cast<size_t>(op.count);
    return std::fwrite(op.bytes, 1, n, op.file) == n ? 0 : (errno ? errno : EIO);
}

void run(WriteBehind* w)
{
    std::unique_lock<std::mutex> hold(w->lock);
    for (;;) {
        w->work.wait(hold, [w] { return w->stopping || w->done < w->queued; });
        if (w->done == w->queued)
            return;   // stopping with nothing left
        const WriteOp op = w->ops[w->done % WRITE_BEHIND_OPS];
        const bool failed_before = w->error != 0;
        hold.unlock();
        // After a failure the rest of the run is passed over: the file is given up.
        const int error = failed_before ? 0 : carry_out(op);
        hold.lock();
        if (error && !w->error)
            w->error = error;
        ++w->done;
        w->progress.notify_all();
    }
}

}  // namespace

bool write_behind_start(WriteBehind* w)
{
    {
        // Whatever a run left queued is carried out before the counts start again.
        std::unique_lock<std::mutex> hold(w->lock);
        w->progress.wait(hold, [w] { return w->done == w->queued; });
        w->queued = 0;
        w->done = 0;
        w->error = 0;
        w->stopping = false;
    }
    if (w->running)
        return true;
    try {
        w->thread = std::thread(run, w);
    } catch (...) {
        return false;
    }
    w->running = true;
    return true;
}

void write_behind_stop(WriteBehind* w)
{
    if (!w->running)
        return;
    {
        std::lock_guard<std::mutex> hold(w->lock);
        w->stopping = true;
    }
    w->work.notify_one();
    w->thread.join();
    w->running = false;
}

void write_behind_queue(WriteBehind* w, FILE* file, const uint8_t* bytes, int64_t count)
{
    std::unique_lock<std::mutex> hold(w->lock);
    w->progress.wait(hold, [w] { return w->queued - w->done < WRITE_BEHIND_OPS; });
    w->ops[w->queued % WRITE_BEHIND_OPS] = WriteOp{file, bytes, count};
    ++w->queued;
    hold.unlock();
    w->work.notify_one();
}

int64_t write_behind_mark(WriteBehind* w)
{
    std::lock_guard<std::mutex> hold(w->lock);
    return w->queued;
}

int write_behind_wait(WriteBehind* w, int64_t mark)
{
    std::unique_lock<std::mutex> hold(w->lock);
    w->progress.wait(hold, [w, mark] { return w->done >= mark; });
    return w->error;
}
