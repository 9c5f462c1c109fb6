// Input walker: the DV frames of brimwrite's AVI files (or of raw DV streams),
// file after file, by walking the chunk structure.
#include <cerrno>
#include <cstring>

#include "byte_order.h"
#include "capsim.h"

namespace {

constexpr int FOURCC_SIZE = 4;
constexpr int RIFF_HEADER_SIZE = 12;       // "RIFF", length, form type
constexpr int CHUNK_ALIGN = 2;             // chunk bodies are padded to even lengths
constexpr long MAX_SEEK_STEP = 1L << 30;   // fits a 32-bit long
constexpr int DIF_ID_TYPE_SHIFT = 4;
constexpr uint8_t DIF_TYPE_HEADER = 0x1;
constexpr uint8_t DIF_SEQ0_ID1 = 0x07;     // sequence 0, FSC 0, three reserved 1 bits

int same_fourcc(const uint8_t* p, const char* text) { return std::memcmp(p, text, FOURCC_SIZE) == 0; }

const char* current_name(const InputWalker* walker) { return walker->names[walker->current]; }

// Reads exactly `length` bytes; returns the count actually read.
size_t read_bytes(InputWalker* walker, uint8_t* into, size_t length)
{
    const size_t got = std::fread(into, 1, length, walker->file);
    walker->offset += static_cast<int64_t>(got);
    return got;
}

// Moves forward by `length` bytes in steps that a 32-bit long holds. Seeking
// past the end is harmless: the next read then finds the end of the file.
int skip_bytes(InputWalker* walker, int64_t length)
{
    while (length > 0) {
        const long step = length > MAX_SEEK_STEP ? MAX_SEEK_STEP : static_cast<long>(length);
        if (std::fseek(walker->file, step, SEEK_CUR) != 0)
            return 0;
        walker->offset += step;
        length -= step;
    }
    return 1;
}

// 1 if `bytes` begin like the first header block of a DV frame of either system.
int looks_like_dv(const uint8_t* bytes)
{
    return (bytes[0] >> DIF_ID_TYPE_SHIFT) == DIF_TYPE_HEADER && bytes[1] == DIF_SEQ0_ID1 && bytes[2] == 0;
}

// Opens the current file and finds out what it is. Returns 1, or -1 after a message.
int open_current(InputWalker* walker)
{
    const char* name = current_name(walker);
    walker->file = std::fopen(name, "rb");
    if (!walker->file) {
        std::fprintf(stderr, "capsim: cannot open %s: %s\n", name, std::strerror(errno));
        return -1;
    }
    walker->offset = 0;
    uint8_t start[RIFF_HEADER_SIZE];
    const size_t got = read_bytes(walker, start, sizeof start);
    if (got == sizeof start && same_fourcc(start, "RIFF")) {
        // The form type is not examined: chunks are walked the same way in any RIFF.
        walker->raw = 0;
        return 1;
    }
    if (got >= sizeof start && looks_like_dv(start)) {
        walker->raw = 1;
        std::rewind(walker->file);
        walker->offset = 0;
        return 1;
    }
    std::fprintf(stderr, "capsim: %s is neither an AVI file nor a DV stream\n", name);
    return -1;
}

// Reads the frame body behind a frame chunk header (`size` bytes) or at a raw
// frame boundary (size 0: as long as its header's system says). Returns 1 with
// a frame, 0 when the file ends inside it (reported).
int read_frame_body(InputWalker* walker, uint8_t* dv_frame, size_t size)
{
    constexpr size_t SYSTEM_BYTES = 4;   // DV bytes 0..3 hold the DSF bit
    const int64_t start = walker->offset;
    size_t got = 0;
    if (size == 0) {
        got = read_bytes(walker, dv_frame, SYSTEM_BYTES);
        size = got == SYSTEM_BYTES ? static_cast<size_t>(system_of_frame(dv_frame).frame_size) : SYSTEM_BYTES;
    }
    got += read_bytes(walker, dv_frame + got, size - got);
    if (got == size)
        return 1;
    if (got > 0 || !walker->raw)
        std::fprintf(stderr, "capsim: %s: the frame at offset %lld is cut short by the end of the file; skipped\n",
                     current_name(walker), static_cast<long long>(start));
    return 0;
}

// Next frame of the open AVI file: walks chunk headers, entering RIFF lists
// and the "movi" and "rec " lists, skipping every other chunk. Returns 1 with a
// frame, 0 at the end of the file.
int next_avi_frame(InputWalker* walker, uint8_t* dv_frame)
{
    uint8_t header[CHUNK_HEADER_SIZE];
    for (;;) {
        if (read_bytes(walker, header, sizeof header) != sizeof header)
            return 0;
        const uint32_t length = static_cast<uint32_t>(get_le(header + FOURCC_SIZE, 4));
        if (same_fourcc(header, "RIFF") || same_fourcc(header, "LIST")) {
            uint8_t type[FOURCC_SIZE];
            if (read_bytes(walker, type, sizeof type) != sizeof type)
                return 0;
            const int enter = same_fourcc(header, "RIFF") || same_fourcc(type, "movi") || same_fourcc(type, "rec ");
            if (!enter && length >= FOURCC_SIZE &&
                !skip_bytes(walker, static_cast<int64_t>(length) - FOURCC_SIZE + length % CHUNK_ALIGN))
                return 0;
            continue;
        }
        // A video stream chunk ("##dc" or "##db") holding exactly one DV frame.
        const int video = header[2] == 'd' && (header[3] == 'c' || header[3] == 'b');
        if (video && (length == static_cast<uint32_t>(SYSTEM_525_60.frame_size) ||
                      length == static_cast<uint32_t>(SYSTEM_625_50.frame_size))) {
            const int64_t start = walker->offset;
            if (!read_frame_body(walker, dv_frame, length))
                return 0;
            // A frame is handled as long as its header says: one whose chunk says otherwise is left out.
            if (system_of_frame(dv_frame).frame_size == static_cast<int>(length))
                return 1;
            std::fprintf(stderr, "capsim: %s: the frame at offset %lld is %u bytes long but its header names the "
                                 "other system; skipped\n",
                         current_name(walker), static_cast<long long>(start), length);
            continue;
        }
        if (!skip_bytes(walker, static_cast<int64_t>(length) + length % CHUNK_ALIGN))
            return 0;
    }
}

}  // namespace

void input_init(InputWalker* walker, char* const* names, int count)
{
    walker->names = names;
    walker->count = count;
    walker->current = 0;
    walker->file = nullptr;
    walker->raw = 0;
    walker->offset = 0;
}

int input_next_frame(InputWalker* walker, uint8_t* dv_frame)
{
    while (walker->current < walker->count) {
        if (!walker->file && open_current(walker) < 0)
            return -1;
        const int got = walker->raw ? read_frame_body(walker, dv_frame, 0) : next_avi_frame(walker, dv_frame);
        if (got)
            return 1;
        if (std::ferror(walker->file)) {
            std::fprintf(stderr, "capsim: cannot read %s\n", current_name(walker));
            return -1;
        }
        input_close(walker);
        ++walker->current;
    }
    return 0;
}

void input_close(InputWalker* walker)
{
    if (walker->file)
        std::fclose(walker->file);
    walker->file = nullptr;
}
