#include "frame_reader.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A searching read and the frame behind a signature at its last offset.
constexpr int SEARCH_SPAN = SEARCH_OFFSETS + CHUNK_HEADER_SIZE + DV_FRAME_SIZE;
constexpr int WINDOW_CAPACITY = READER_BLOCK + SEARCH_SPAN;
static_assert(RAW_SEARCH_OFFSETS + DV_FRAME_SIZE <= SEARCH_SPAN, "a raw frame fits the span too");

// What is searched for: the signature bytes, where the frame starts relative to
// a match, and the offsets of a searching read that are examined.
struct SyncKind {
    const uint8_t* pattern;
    const uint8_t* mask;
    int length;
    int frame_offset;
    int offsets;
    int first_compared;   // index of the first byte the mask compares: memchr looks for it
};

constexpr int first_compared(const uint8_t* mask, int length)
{
    int i = 0;
    while (i < length && mask[i] != 1)
        ++i;
    return i;
}

constexpr SyncKind CHUNK_SYNC = {SYNC_PATTERN, SYNC_MASK, SYNC_LENGTH, CHUNK_HEADER_SIZE, SEARCH_OFFSETS,
                                 first_compared(SYNC_MASK, SYNC_LENGTH)};
constexpr SyncKind RAW_SYNC = {SYNC_PATTERN + RAW_SYNC_START, SYNC_MASK + RAW_SYNC_START, RAW_SYNC_LENGTH, 0,
                               RAW_SEARCH_OFFSETS, first_compared(SYNC_MASK + RAW_SYNC_START, RAW_SYNC_LENGTH)};
static_assert(CHUNK_SYNC.first_compared < SYNC_LENGTH && RAW_SYNC.first_compared < RAW_SYNC_LENGTH,
              "each signature compares a byte");

const char RAW_SUFFIX[] = ".dv";

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

void open_current(FrameReader* r, const char* name, FILE* log)
{
    r->raw = is_raw_dv_name(name);
    if (!r->quiet)
        std::printf("\n\n\nReadDVFrame() : (Reading from %s) ", name);
    if (log && !r->quiet)
        std::fprintf(log, "ReadDVFrame() : \n\n\n(Reading from %s) ", name);
    r->window_pos = 0;
    r->window_len = 0;
    r->read_pos = 0;
    r->at_eof = 0;
}

// The current file is used up: close it, delete it if asked, and step to the
// successor name. A name without digits has no successor, so the input ends.
void finish_current(FrameReader* r, char* name, int inplace, FILE* log, int ecc_n)
{
    if (!r->quiet)
        std::printf("\nReadDVFrame(): end...(g_ecc_n=%d)", ecc_n);
    if (std::ferror(r->file)) {
        std::printf("\nReadDVFrame() : read error in %s: %s", name, std::strerror(errno));
        if (log)
            std::fprintf(log, "\nReadDVFrame() : read error in %s: %s", name, std::strerror(errno));
    }
    std::fclose(r->file);
    r->file = nullptr;
    if (inplace)
        std::remove(name);
    if (!successor_name(name))
        r->ended = 1;
}

}  // namespace

int frame_reader_init(FrameReader* reader)
{
    std::memset(reader, 0, sizeof *reader);
    reader->window = static_cast<uint8_t*>(std::malloc(WINDOW_CAPACITY));
    return reader->window != nullptr ? 1 : 0;
}

void frame_reader_shutdown(FrameReader* reader)
{
    if (reader->file)
        std::fclose(reader->file);
    std::free(reader->window);
    std::memset(reader, 0, sizeof *reader);
}

void frame_reader_rewind(FrameReader* reader)
{
    if (reader->file)
        std::fclose(reader->file);
    reader->file = nullptr;
    reader->ended = 0;
    reader->window_pos = 0;
    reader->window_len = 0;
    reader->read_pos = 0;
    reader->at_eof = 0;
}

int find_sync(const uint8_t* data, int raw)
{
    // Most offsets fail on the first compared byte; memchr skips them in bulk.
    const SyncKind& kind = raw ? RAW_SYNC : CHUNK_SYNC;
    const uint8_t key = kind.pattern[kind.first_compared];
    const uint8_t* p = data + kind.first_compared;
    const uint8_t* end = p + kind.offsets;
    while (p < end) {
        p = static_cast<const uint8_t*>(std::memchr(p, key, static_cast<size_t>(end - p)));
        if (!p)
            return -1;
        int offset = static_cast<int>(p - data) - kind.first_compared;
        if (masked_match(data, kind.pattern, kind.mask, kind.length, offset))
            return offset;
        ++p;
    }
    return -1;
}

int is_raw_dv_name(const char* name)
{
    const size_t length = std::strlen(name);
    const size_t suffix = sizeof RAW_SUFFIX - 1;
    if (length < suffix)
        return 0;
    for (size_t i = 0; i < suffix; ++i)
        if (std::tolower(static_cast<unsigned char>(name[length - suffix + i])) != RAW_SUFFIX[i])
            return 0;
    return 1;
}

int ReadDVFrame(const uint8_t** frame, uint8_t* spare, FrameReader* reader, char* name, int inplace,
                FILE* log, int ecc_n)
{
    FrameReader* r = reader;
    for (;;) {
        if (!r->file) {
            if (r->ended)
                return 0;
            r->file = std::fopen(name, "rb");
            if (!r->file)
                return 0;
            open_current(r, name, log);
        }

        ensure_window(r, r->read_pos, SEARCH_READ);
        int64_t available = window_end(r) - r->read_pos;
        if (available < SEARCH_READ) {
            finish_current(r, name, inplace, log, ecc_n);
            continue;
        }

        const uint8_t* search = r->window + (r->read_pos - r->window_pos);
        int offset = find_sync(search, r->raw);
        if (offset < 0) {
            r->read_pos += SEARCH_STEP;
            continue;
        }

        int64_t frame_offset = offset + (r->raw ? RAW_SYNC.frame_offset : CHUNK_SYNC.frame_offset);
        // The frame may reach beyond the searching read: the window moves, the
        // bytes at read_pos stay the same.
        ensure_window(r, r->read_pos, frame_offset + DV_FRAME_SIZE);
        available = window_end(r) - r->read_pos;
        search = r->window + (r->read_pos - r->window_pos);
        int64_t got = available - frame_offset;
        if (got >= DV_FRAME_SIZE) {
            *frame = search + frame_offset;
            r->read_pos += frame_offset + DV_FRAME_SIZE;
            return 1;
        }
        // Cut short by the end of the file: the frame read overwrites only the
        // start of the buffer, which still holds the searching read.
        std::memcpy(spare, search + frame_offset, static_cast<size_t>(got));
        std::memcpy(spare + got, search + got, static_cast<size_t>(DV_FRAME_SIZE - got));
        *frame = spare;
        r->read_pos += frame_offset + got;
        return 1;
    }
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
