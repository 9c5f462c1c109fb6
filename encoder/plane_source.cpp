#include "plane_source.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "file_facts.h"
#include "file_seek.h"

namespace {

// The helper of a shared scan: its stream, its two chunk buffers and their state.
struct ScanHelper {
    FILE* stream;            // its own stream on the file
    uint8_t* chunks[2];
    size_t got[2];
    bool full[2];
    bool stop;
    int error;               // errno of a failed read, 0 if none
    int64_t planned;
    std::mutex lock;
    std::condition_variable changed;
};

size_t chunk_length(int64_t planned, int64_t chunk)
{
    const int64_t left = planned - chunk * SCAN_CHUNK;
    return left <= 0 ? 0 : left < SCAN_CHUNK ? static_cast<size_t>(left) : static_cast<size_t>(SCAN_CHUNK);
}

// The helper thread: reads the odd chunks 1, 3, 5, ... of the planned bytes into
// its two buffers in turn, until a chunk comes out short or it is stopped.
void read_odd_chunks(ScanHelper* h)
{
    for (int64_t j = 0;; ++j) {
        const int64_t chunk = 2 * j + 1;
        const size_t want = chunk_length(h->planned, chunk);
        if (want == 0)
            return;
        const int b = static_cast<int>(j % 2);
        {
            std::unique_lock<std::mutex> hold(h->lock);
            h->changed.wait(hold, [h, b] { return h->stop || !h->full[b]; });
            if (h->stop)
                return;
        }
        errno = 0;
        const size_t got = seek_forward(h->stream, SCAN_CHUNK) ? std::fread(h->chunks[b], 1, want, h->stream) : 0;
        const int error = got < want && std::ferror(h->stream) ? (errno ? errno : EIO) : 0;
        {
            std::lock_guard<std::mutex> hold(h->lock);
            h->got[b] = got;
            h->full[b] = true;
            h->error = error;
        }
        h->changed.notify_all();
        if (got < want)
            return;
    }
}

// The shared reading of scan_file: this thread reads and hashes the even
// chunks, and hashes the helper's odd ones in between. Returns the bytes hashed;
// *position is where `stream` was left. false in *helper_ok when the helper
// cannot be started (nothing was read).
int64_t hash_shared(FILE* stream, const char* path, int64_t planned, InputSlot* slot, int64_t* position,
                    bool* helper_ok, int* helper_error)
{
    ScanHelper h{};
    h.stream = std::fopen(path, "rb");
    *helper_ok = h.stream != nullptr;
    if (!h.stream)
        return 0;
    std::setvbuf(h.stream, nullptr, _IONBF, 0);
    h.chunks[0] = slot->scan + SCAN_CHUNK;
    h.chunks[1] = slot->scan + 2 * SCAN_CHUNK;
    h.planned = planned;
    std::thread helper;
    try {
        helper = std::thread(read_odd_chunks, &h);
    } catch (...) {
        std::fclose(h.stream);
        *helper_ok = false;
        return 0;
    }
    int64_t seen = 0;
    *position = 0;
    for (int64_t j = 0;; ++j) {
        const size_t want = chunk_length(planned, 2 * j);
        if (want == 0)
            break;
        const size_t got = std::fread(slot->scan, 1, want, stream);
        content_hash_update(&slot->read, slot->scan, got);
        seen += static_cast<int64_t>(got);
        *position += static_cast<int64_t>(got);
        const size_t odd = chunk_length(planned, 2 * j + 1);
        if (got < want || odd == 0)
            break;
        const int b = static_cast<int>(j % 2);
        std::unique_lock<std::mutex> hold(h.lock);
        h.changed.wait(hold, [&h, b] { return h.full[b]; });
        hold.unlock();
        content_hash_update(&slot->read, h.chunks[b], h.got[b]);
        seen += static_cast<int64_t>(h.got[b]);
        if (h.got[b] < odd)
            break;
        hold.lock();
        h.full[b] = false;
        hold.unlock();
        h.changed.notify_all();
        if (!seek_forward(stream, static_cast<int64_t>(odd)))
            break;
        *position += static_cast<int64_t>(odd);
    }
    {
        std::lock_guard<std::mutex> hold(h.lock);
        h.stop = true;
    }
    h.changed.notify_all();
    helper.join();
    std::fclose(h.stream);
    *helper_error = h.error;
    return seen;
}

// Hashes the first `planned` bytes of the open file (fewer if it is shorter now)
// and rewinds it; *longer is set when it holds more bytes than planned. false
// when the file cannot be read or rewound.
bool scan_file(FILE* stream, const char* path, int64_t planned, InputSlot* slot, bool* longer)
{
    content_hash_reset(&slot->read);
    int64_t seen = 0;
    int64_t position = 0;
    int helper_error = 0;
    bool shared = false;
    *longer = false;
    if (slot->shared_scan && planned >= int64_t{SCAN_SHARED_CHUNKS} * SCAN_CHUNK)
        seen = hash_shared(stream, path, planned, slot, &position, &shared, &helper_error);
    while (!shared && seen < planned) {
        const size_t want = chunk_length(planned - seen, 0);
        const size_t got = fread(slot->scan, 1, want, stream);
        content_hash_update(&slot->read, slot->scan, got);
        seen += static_cast<int64_t>(got);
        position = seen;
        if (got < want)
            break;
    }
    if (seen == planned && seek_forward(stream, planned - position) && fread(slot->scan, 1, 1, stream) == 1)
        *longer = true;
    slot->listed = content_hash_digest(&slot->read);
    content_hash_reset(&slot->read);
    if (helper_error != 0) {
        errno = helper_error;
        return false;
    }
    return !ferror(stream) && fseek(stream, 0, SEEK_SET) == 0;
}

void make_record(uint8_t* plane, FILE* stream, int64_t planned, const InputSlot* slot)
{
    FileRecord record{};
    std::memcpy(record.recording_id, slot->recording_id, RECORDING_ID_SIZE);
    record.hash = slot->listed;
    record.size = static_cast<uint64_t>(planned);
    FileFacts facts{};
    if (stream)
        read_file_facts(stream, &facts);
    record.mtime_seconds = facts.mtime_seconds;
    record.mtime_nanoseconds = facts.mtime_nanoseconds;
    record.mode = facts.mode;
    write_file_record(plane, &record);
}

// Reads `count` bytes of the open file into `at`. A file that cannot deliver them
// (it shrank or cannot be opened) gets zero bytes for the rest, reported once.
void read_planned(uint8_t* at, int64_t count, const EncodePlan* plan, InputSlot* slot)
{
    const size_t wanted = static_cast<size_t>(count);
    size_t got = slot->stream ? fread(at, 1, wanted, slot->stream) : 0;
    content_hash_update(&slot->read, at, got);
    if (got == wanted)
        return;
    std::memset(at + got, 0, wanted - got);
    if (!slot->reported) {
        tell(slot->sink, Severity::Warning,
             "\nnext_plane() : %s is shorter than when it was listed, padding it with zero bytes!\n",
             plan->file_path[plan->file_current].c_str());
        slot->reported = true;
    }
}

void open_file(uint8_t* plane, FrameInfo* info, const EncodePlan* plan, InputSlot* slot)
{
    const int32_t i = plan->file_current;
    slot->open = true;
    slot->reported = false;
    slot->stream = fopen(plan->file_path[i].c_str(), "rb");
    const char* path = plan->file_path[i].c_str();
    content_hash_reset(&slot->read);
    slot->listed = content_hash_digest(&slot->read);
    if (slot->stream) {
        // Reads are plane-sized; a stream buffer would only add a copy.
        setvbuf(slot->stream, nullptr, _IONBF, 0);
        bool longer = false;
        if (!scan_file(slot->stream, path, plan->file_size[i], slot, &longer)) {
            tell(slot->sink, Severity::Warning,
                 "\nnext_plane() : cannot read %s (%s), writing zero bytes in its place!\n", path, strerror(errno));
            fclose(slot->stream);
            slot->stream = nullptr;
            slot->reported = true;
        } else if (longer) {
            tell(slot->sink, Severity::Warning,
                 "\nnext_plane() : %s is longer than when it was listed, storing its first %lld bytes!\n", path,
                 static_cast<long long>(plan->file_size[i]));
        }
    } else {
        tell(slot->sink, Severity::Warning,
             "\nnext_plane() : cannot open %s any more (%s), writing zero bytes in its place!\n", path,
             strerror(errno));
        slot->reported = true;
    }
    info->file_index = i;
    info->file_count = plan->file_count;
    info->frame_index = -1;
    info->final_frame = plan->file_frames[i] - 1;

    std::memset(plane, 0, HEADER_AREA_SIZE);
    const std::string& name = plan->file_name[i];
    std::memcpy(plane, name.data(), name.size() < MAX_STORED_PATH ? name.size() : MAX_STORED_PATH);
    make_record(plane, slot->stream, plan->file_size[i], slot);
}

// At a file's end: the bytes read while encoding must be the ones hashed before.
void close_file(const EncodePlan* plan, InputSlot* slot)
{
    if (slot->stream)
        fclose(slot->stream);
    slot->stream = nullptr;
    slot->open = false;
    if (!slot->reported && content_hash_digest(&slot->read) != slot->listed)
        tell(slot->sink, Severity::Warning,
             "\nnext_plane() : %s changed while it was being stored; it will be reported damaged when restored!\n",
             plan->file_path[plan->file_current].c_str());
}

}  // namespace

bool input_slot_init(InputSlot* slot, const uint8_t* recording_id, uint8_t* scan, EventSink* sink)
{
    slot->recording_id = recording_id;
    slot->scan = scan;
    slot->sink = sink;
    if (content_hash_init(&slot->read))
        return true;
    // Shown on the console only, as it always was.
    tell(sink, Severity::Failure, "main() : cannot allocate the hash state!\n");
    return false;
}

bool next_plane(uint8_t* plane, FrameInfo* info, EncodePlan* plan, InputSlot* slot)
{
    int64_t capacity = plan->system->plane_size;
    uint8_t* data = plane;
    if (!slot->open) {
        if (plan->file_current > plan->file_count)
            return false;
        open_file(plane, info, plan, slot);
        capacity = plan->system->first_plane_data;
        data = plane + HEADER_AREA_SIZE;
    }
    int64_t& remaining = plan->file_size[plan->file_current];
    const int64_t count = remaining < capacity ? remaining : capacity;
    read_planned(data, count, plan, slot);

    info->frame_index++;
    info->bytes_remaining = remaining;
    remaining -= count;
    if (remaining == 0) {
        close_file(plan, slot);
        plan->file_current++;
    }
    return true;
}
