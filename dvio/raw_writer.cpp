#include "raw_writer.h"

#include <cerrno>
#include <cstring>

namespace {

bool is_stream(const EncodePlan* plan) { return plan->output == OutputFormat::RAW_STREAM; }

bool fail(const char* action, const EncodePlan* plan, FILE** out, EventSink* sink)
{
    const int error = errno;
    char name[RAW_NAME_SIZE];
    raw_file_name(plan->avi_current, name);
    tell(sink, Severity::Error, "cannot %s %s: %s\n", action, is_stream(plan) ? "standard output" : name,
         std::strerror(error));
    if (*out && *out != stdout)
        std::fclose(*out);
    *out = nullptr;
    return false;
}

bool open_next(EncodePlan* plan, FILE** out, EventSink* sink)
{
    plan->CAVIFcnt = 0;
    if (is_stream(plan)) {
        *out = stdout;
        return true;
    }
    char name[RAW_NAME_SIZE];
    raw_file_name(plan->avi_current, name);
    *out = std::fopen(name, "wb");
    return *out != nullptr || fail("create", plan, out, sink);
}

// The current file holds its planned frames: closed (a stream flushed) and the
// next number is due.
bool close_full(EncodePlan* plan, FILE** out, EventSink* sink)
{
    if (plan->CAVIFcnt < planned_frames(plan))
        return true;
    FILE* done = *out;
    *out = nullptr;
    const bool closed = done == stdout ? std::fflush(done) == 0 : std::fclose(done) == 0;
    if (!closed)
        return fail("write", plan, out, sink);
    plan->avi_current++;
    plan->CAVIFcnt = 0;
    return true;
}

}  // namespace

void raw_file_name(int32_t number, char* name)
{
    std::snprintf(name, RAW_NAME_SIZE, "DV%06d.dv", static_cast<int>(number));
}

bool write_raw_frame(const uint8_t* frame_buffer, const FrameInfo* info, EncodePlan* plan, FILE** out,
                     EventSink* sink)
{
    const int copies = info->frame_index == 0 ? plan->repeat0 : 1;
    for (int copy = 0; copy < copies; copy++) {
        if (!*out && !open_next(plan, out, sink))
            return false;
        const size_t frame_size = static_cast<size_t>(plan->system->frame_size);
        if (std::fwrite(frame_buffer + CHUNK_HEADER_SIZE, 1, frame_size, *out) != frame_size)
            return fail("write", plan, out, sink);
        plan->CAVIFcnt++;
        if (!close_full(plan, out, sink))
            return false;
    }
    return true;
}
