#include "frame_reader.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A searching read and the frame behind a signature at its last offset.
constexpr int SEARCH_SPAN = SEARCH_OFFSETS + CHUNK_HEADER_SIZE + MAX_DV_FRAME_SIZE;
constexpr int WINDOW_CAPACITY = READER_BLOCK + SEARCH_SPAN;
static_assert(RAW_SEARCH_OFFSETS + MAX_DV_FRAME_SIZE <= SEARCH_SPAN, "a raw frame fits the span too");

// What is searched for: the signature bytes of each system, where the frame
// starts relative to a match, and the offsets of a searching read that are
// examined.
struct SyncKind {
    int start;            // first byte of the patterns used
    int length;
    int frame_offset;
    int offsets;
    int key;              // a byte the mask compares and both systems share: memchr looks for it
};

// DV byte 1 of the header block: compared, and the same in both systems.
constexpr int SYNC_KEY_AT = 9;
static_assert(SYNC_MASK[SYNC_KEY_AT] == 1 && SYNC_PATTERNS[0][SYNC_KEY_AT] == SYNC_PATTERNS[1][SYNC_KEY_AT],
              "the key byte is compared and shared");
static_assert(SYNC_PATTERNS[0][SYNC_DSF_AT] == SYSTEM_525_60.dsf_byte &&
              SYNC_PATTERNS[1][SYNC_DSF_AT] == SYSTEM_625_50.dsf_byte, "each signature names its system");

constexpr SyncKind CHUNK_SYNC = {0, SYNC_LENGTH, CHUNK_HEADER_SIZE, SEARCH_OFFSETS, SYNC_KEY_AT};
constexpr SyncKind RAW_SYNC = {RAW_SYNC_START, RAW_SYNC_LENGTH, 0, RAW_SEARCH_OFFSETS, SYNC_KEY_AT - RAW_SYNC_START};

constexpr int RIFF_MAGIC_SIZE = sizeof RIFF_MAGIC;

int64_t window_end(const FrameReader* r) { return r->window_pos + r->window_len; }

// Makes the window hold file bytes [pos, pos + need), or as many of them as the
// file has (need <= SEARCH_SPAN). The bytes before `pos` are never needed again:
// reads only go forward. Asking for no more than is needed keeps the bytes moved
// to the window's start at a refill few.
void ensure_window(FrameReader* r, int64_t pos, int64_t need)
{
    if (pos + need <= window_end(r) || r->at_eof)
        return;
    int64_t keep = window_end(r) - pos;
    if (keep < 0)
        keep = 0;
    if (keep > 0)
        std::memmove(r->window, r->window + (pos - r->window_pos), static_cast<size_t>(keep));
    r->window_pos = pos;
    r->window_len = keep;
    while (r->window_len < WINDOW_CAPACITY) {
        size_t got = std::fread(r->window + r->window_len, 1, static_cast<size_t>(WINDOW_CAPACITY - r->window_len),
                                r->file);
        if (got == 0) {
            r->at_eof = 1;
            return;
        }
        r->window_len += static_cast<int64_t>(got);
    }
}

uint64_t name_key(const char* name)
{
    // FNV-1a: names need no stronger hash, and a clash only ends the input early.
    constexpr uint64_t FNV_OFFSET = 14695981039346656037ull;
    constexpr uint64_t FNV_PRIME = 1099511628211ull;
    uint64_t h = FNV_OFFSET;
    for (const char* p = name; *p; ++p)
        h = (h ^ static_cast<uint8_t>(*p)) * FNV_PRIME;
    return h == 0 ? 1 : h;
}

// The slot of `name` in the table of names read: where its key is, or the empty
// slot where it would go.
size_t name_slot(const FrameReader* r, const char* name)
{
    const uint64_t key = name_key(name);
    size_t at = static_cast<size_t>(key) & (SEEN_NAME_SLOTS - 1);
    while (r->seen[at] != 0 && r->seen[at] != key)
        at = (at + 1) & (SEEN_NAME_SLOTS - 1);
    return at;
}

// Books `name` as read in this run. Returns 0 when it was read already, or when
// no more names can be booked.
int book_name(FrameReader* r, const char* name)
{
    const size_t at = name_slot(r, name);
    if (r->seen[at] != 0 || r->seen_count >= SEEN_NAME_LIMIT)
        return 0;
    r->seen[at] = name_key(name);
    ++r->seen_count;
    return 1;
}

int file_exists(const char* name)
{
    FILE* f = std::fopen(name, "rb");
    if (!f)
        return 0;
    std::fclose(f);
    return 1;
}

// The file due next is missing: a later successor that exists says that a
// capture file is missing rather than that the capture has ended.
void look_past_missing(const FrameReader* r, const char* name, EventSink* sink)
{
    char later[CAPTURE_NAME_CAPACITY];
    std::snprintf(later, sizeof later, "%s", name);
    for (int i = 0; i < MISSING_PROBES && next_capture_name(later); ++i) {
        if (r->seen[name_slot(r, later)] != 0)
            return;   // round to the names read: nothing lies beyond the gap
        if (file_exists(later)) {
            tell(sink, Severity::Warning,
                 "\nReadDVFrame() : %s is missing, but %s exists: a capture file seems to be missing\n", name, later);
            return;
        }
    }
}

void open_current(FrameReader* r, const char* name, EventSink* sink)
{
    r->found = 0;
    tell(sink, Severity::Progress, "\n\n\nReadDVFrame() : (Reading from %s) ", name);
    tell(sink, Severity::Detail, "ReadDVFrame() : \n\n\n(Reading from %s) ", name);
    r->window_pos = 0;
    r->read_pos = 0;
    r->at_eof = 0;
    // The first bytes tell how the file is searched (a RIFF file by its chunks,
    // any other as a raw DV stream); they stay in the window, so that a pipe is
    // never rewound.
    r->window_len = static_cast<int64_t>(std::fread(r->window, 1, RIFF_MAGIC_SIZE, r->file));
    r->raw = !starts_as_riff(r->window, static_cast<size_t>(r->window_len));
}

// The current file is used up: close it and step to the successor name. A name
// without digits has no successor, so the input ends.
void finish_current(FrameReader* r, char* name, EventSink* sink)
{
    if (sink)
        sink->capture_end(name);
    if (r->found == 0)
        tell(sink, Severity::Warning, "\n%s: no DV frames found", name);
    if (std::ferror(r->file))
        tell(sink, Severity::Error, "\nReadDVFrame() : read error in %s: %s", name, std::strerror(errno));
    if (r->file != stdin)
        std::fclose(r->file);
    r->file = nullptr;
    if (std::strcmp(name, STDIN_NAME) == 0 || !next_capture_name(name))
        r->ended = 1;
}

// In a raw stream only the DSF bit tells a frame's length. Behind the first ten
// DIF sequences, which both systems have, comes sequence 10 of a 625/50 frame
// or the next frame's sequence 0: where either header block is there, it must
// agree with the bit, or the bit is taken as damaged. Elsewhere (the stream's
// end, a gap) the bit is trusted.
bool raw_system_holds(FrameReader* r, int64_t frame_pos)
{
    constexpr int ID_BYTES = 3;
    constexpr uint8_t HEADER_TYPE = 0x10;        // DIF ID byte 0, high nibble: a header block
    constexpr uint8_t TYPE_MASK = 0xF0;
    constexpr uint8_t SEQUENCE_0_ID1 = 0x07;     // DIF ID byte 1 of sequence 0's header block
    constexpr uint8_t SEQUENCE_10_ID1 = 0xA7;    // ... of sequence 10's
    const int64_t after = frame_pos + SYSTEM_525_60.frame_size;
    ensure_window(r, r->read_pos, after + ID_BYTES - r->read_pos);
    if (after + ID_BYTES > window_end(r))
        return true;
    const uint8_t* id = r->window + (after - r->window_pos);
    const uint8_t* frame = r->window + (frame_pos - r->window_pos);
    if ((id[0] & TYPE_MASK) != HEADER_TYPE || id[2] != 0)
        return true;
    const bool pal = &system_of_frame(frame) == &SYSTEM_625_50;
    if (id[1] == SEQUENCE_10_ID1)
        return pal;
    if (id[1] == SEQUENCE_0_ID1)
        return !pal;
    return true;
}

}  // namespace

bool frame_reader_init(FrameReader* reader)
{
    std::memset(reader, 0, sizeof *reader);
    reader->window = static_cast<uint8_t*>(std::malloc(WINDOW_CAPACITY));
    reader->seen = static_cast<uint64_t*>(std::calloc(SEEN_NAME_SLOTS, sizeof(uint64_t)));
    return reader->window != nullptr && reader->seen != nullptr ? 1 : 0;
}

void frame_reader_shutdown(FrameReader* reader)
{
    if (reader->file && reader->file != stdin)
        std::fclose(reader->file);
    std::free(reader->window);
    std::free(reader->seen);
    std::memset(reader, 0, sizeof *reader);
}

void frame_reader_rewind(FrameReader* reader)
{
    if (reader->file && reader->file != stdin)
        std::fclose(reader->file);
    reader->file = nullptr;
    reader->ended = 0;
    if (reader->seen)
        std::memset(reader->seen, 0, SEEN_NAME_SLOTS * sizeof(uint64_t));
    reader->seen_count = 0;
    reader->window_pos = 0;
    reader->window_len = 0;
    reader->read_pos = 0;
    reader->at_eof = 0;
}

int find_sync(const uint8_t* data, int raw)
{
    // Most offsets fail on the key byte; memchr skips them in bulk.
    const SyncKind& kind = raw ? RAW_SYNC : CHUNK_SYNC;
    const uint8_t key = SYNC_PATTERNS[0][kind.start + kind.key];
    const uint8_t* p = data + kind.key;
    const uint8_t* end = p + kind.offsets;
    while (p < end) {
        p = static_cast<const uint8_t*>(std::memchr(p, key, static_cast<size_t>(end - p)));
        if (!p)
            return -1;
        int offset = static_cast<int>(p - data) - kind.key;
        for (const uint8_t* pattern : SYNC_PATTERNS)
            if (masked_match(data, pattern + kind.start, SYNC_MASK + kind.start, kind.length, offset))
                return offset;
        ++p;
    }
    return -1;
}

bool starts_as_riff(const uint8_t* bytes, size_t count)
{
    return count >= sizeof RIFF_MAGIC && std::memcmp(bytes, RIFF_MAGIC, sizeof RIFF_MAGIC) == 0;
}

int ReadDVFrame(const uint8_t** frame, uint8_t* spare, FrameReader* reader, char* name, EventSink* sink)
{
    FrameReader* r = reader;
    for (;;) {
        if (!r->file) {
            if (r->ended)
                return 0;
            const int first = r->seen_count == 0;
            if (!book_name(r, name)) {
                tell(sink, Severity::Warning, "\nReadDVFrame() : %s was read already in this run; the input ends here\n",
                     name);
                r->ended = 1;
                return 0;
            }
            r->file = std::strcmp(name, STDIN_NAME) == 0 ? stdin : std::fopen(name, "rb");
            if (!r->file) {
                if (!first)
                    look_past_missing(r, name, sink);
                r->ended = 1;
                return 0;
            }
            open_current(r, name, sink);
        }

        ensure_window(r, r->read_pos, SEARCH_READ);
        int64_t available = window_end(r) - r->read_pos;
        if (available < SEARCH_READ) {
            finish_current(r, name, sink);
            continue;
        }

        const uint8_t* search = r->window + (r->read_pos - r->window_pos);
        int offset = find_sync(search, r->raw);
        if (offset < 0) {
            r->read_pos += SEARCH_STEP;
            continue;
        }

        int64_t frame_offset = offset + (r->raw ? RAW_SYNC.frame_offset : CHUNK_SYNC.frame_offset);
        if (r->raw && !raw_system_holds(r, r->read_pos + frame_offset)) {
            // A header whose DSF bit was damaged: the frame is passed over, as
            // one whose signature does not match, and the search goes on behind it.
            r->read_pos += offset + 1;
            continue;
        }
        search = r->window + (r->read_pos - r->window_pos);   // the check may have moved the window
        const int frame_size = system_of_frame(search + frame_offset).frame_size;
        // The frame may reach beyond the searching read: the window moves, the
        // bytes at read_pos stay the same.
        ensure_window(r, r->read_pos, frame_offset + frame_size);
        available = window_end(r) - r->read_pos;
        search = r->window + (r->read_pos - r->window_pos);
        int64_t got = available - frame_offset;
        ++r->found;
        if (got >= frame_size) {
            *frame = search + frame_offset;
            r->read_pos += frame_offset + frame_size;
            return 1;
        }
        // Cut short by the end of the file: the frame read overwrites only the
        // start of the buffer, which still holds the searching read; a frame
        // longer than that read ends in zeros.
        const int64_t kept = frame_size < SEARCH_READ ? frame_size : SEARCH_READ;
        std::memcpy(spare, search + frame_offset, static_cast<size_t>(got));
        if (got < kept)
            std::memcpy(spare + got, search + got, static_cast<size_t>(kept - got));
        const int64_t zeros_from = got > kept ? got : kept;
        std::memset(spare + zeros_from, 0, static_cast<size_t>(frame_size - zeros_from));
        *frame = spare;
        r->read_pos += frame_offset + got;
        return 1;
    }
}

int next_capture_name(char* name)
{
    const size_t length = std::strlen(name);
    size_t base = 0;
    for (size_t i = 0; i < length; ++i)
        if (name[i] == '/' || name[i] == '\\')
            base = i + 1;
    size_t end = length;
    while (end > base && (name[end - 1] < '0' || name[end - 1] > '9'))
        --end;
    size_t start = end;
    int all_nines = end > base;
    while (start > base && name[start - 1] >= '0' && name[start - 1] <= '9') {
        all_nines &= name[start - 1] == '9';
        --start;
    }
    if (all_nines && length + 2 <= CAPTURE_NAME_CAPACITY) {
        char widened[CAPTURE_NAME_CAPACITY];
        std::memcpy(widened, name, start);
        widened[start] = '1';
        std::memset(widened + start + 1, '0', end - start);
        std::memcpy(widened + end + 1, name + end, length - end + 1);
        if (file_exists(widened)) {
            std::memcpy(name, widened, length + 2);
            return 1;
        }
    }
    return successor_name(name);
}

int successor_name(char* name)
{
    int carry = 1;
    int has_digit = 0;
    for (size_t i = std::strlen(name); i-- > 0;) {
        char c = name[i];
        if (c < '0' || c > '9')
            continue;
        has_digit = 1;
        if (!carry)
            continue;
        if (c == '9') {
            name[i] = '0';
        } else {
            name[i] = static_cast<char>(c + 1);
            carry = 0;
        }
    }
    return has_digit;
}
