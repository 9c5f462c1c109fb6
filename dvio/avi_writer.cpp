#include "avi_writer.h"

#include <cerrno>
#include <cstring>

#include "byte_order.h"

namespace {

constexpr uint32_t AVIF_HASINDEX_ISINTERLEAVED = 0x110;
constexpr int32_t STREAM_QUALITY = 10000;
constexpr int32_t BITS_PER_PIXEL = 24;
constexpr int32_t HDRL_LIST_LENGTH = 192;
constexpr int32_t STRL_LIST_LENGTH = 116;
constexpr int32_t AVIH_LENGTH = 56;
constexpr int32_t STRH_LENGTH = 56;
constexpr int32_t STRF_LENGTH = 40;
constexpr uint32_t INDEX_FLAG_KEYFRAME = 0x10;
constexpr int FOURCC_SIZE = 4;
constexpr int32_t MOVI_TYPE_SIZE = FOURCC_SIZE;  // the "movi" list type precedes the first chunk

// Where a header field's number comes from: the field itself, or the video system.
enum class FieldSource : uint8_t { FIXED, FRAME_SIZE, WIDTH, HEIGHT, SCALE, RATE, FRAME_TIME };

// The header's fields that do not depend on the frame count: a four-character
// code, or a little-endian number of `bytes` bytes.
struct HeaderField {
    int offset;
    int bytes;
    uint32_t value;
    const char* fourcc;
    FieldSource source = FieldSource::FIXED;
};
constexpr FieldSource FRAME_SIZE = FieldSource::FRAME_SIZE;
constexpr FieldSource WIDTH = FieldSource::WIDTH;
constexpr FieldSource HEIGHT = FieldSource::HEIGHT;
constexpr uint32_t STREAMS = 1;
constexpr uint32_t PLANES = 1;
constexpr HeaderField FIXED_HEADER[] = {
    // RIFF "AVI ", LIST "hdrl", the main header "avih"
    {0, 4, 0, "RIFF"}, {8, 4, 0, "AVI "}, {12, 4, 0, "LIST"}, {16, 4, HDRL_LIST_LENGTH, nullptr}, {20, 4, 0, "hdrl"},
    {24, 4, 0, "avih"}, {28, 4, AVIH_LENGTH, nullptr}, {32, 4, 0, nullptr, FieldSource::FRAME_TIME},
    {44, 4, AVIF_HASINDEX_ISINTERLEAVED, nullptr}, {56, 4, STREAMS, nullptr}, {60, 4, 0, nullptr, FRAME_SIZE},
    {64, 4, 0, nullptr, WIDTH}, {68, 4, 0, nullptr, HEIGHT},
    // LIST "strl" with the stream header "strh" (video, DV)
    {88, 4, 0, "LIST"}, {92, 4, STRL_LIST_LENGTH, nullptr}, {96, 4, 0, "strl"}, {100, 4, 0, "strh"},
    {104, 4, STRH_LENGTH, nullptr}, {108, 4, 0, "vids"}, {112, 4, 0, "dvsd"}, {128, 4, 0, nullptr, FieldSource::SCALE},
    {132, 4, 0, nullptr, FieldSource::RATE}, {144, 4, 0, nullptr, FRAME_SIZE}, {148, 4, STREAM_QUALITY, nullptr},
    {160, 2, 0, nullptr, WIDTH}, {162, 2, 0, nullptr, HEIGHT},
    // the stream format "strf" (a bitmap header), then LIST "movi"
    {164, 4, 0, "strf"}, {168, 4, STRF_LENGTH, nullptr}, {172, 4, STRF_LENGTH, nullptr}, {176, 4, 0, nullptr, WIDTH},
    {180, 4, 0, nullptr, HEIGHT}, {184, 2, PLANES, nullptr}, {186, 2, BITS_PER_PIXEL, nullptr}, {188, 4, 0, "dvsd"},
    {192, 4, 0, nullptr, FRAME_SIZE}, {212, 4, 0, "LIST"}, {220, 4, 0, "movi"},
};

uint32_t field_value(const HeaderField& f, const VideoSystem& v)
{
    switch (f.source) {
    case FieldSource::FRAME_SIZE: return static_cast<uint32_t>(v.frame_size);
    case FieldSource::WIDTH: return static_cast<uint32_t>(v.width);
    case FieldSource::HEIGHT: return static_cast<uint32_t>(v.height);
    case FieldSource::SCALE: return static_cast<uint32_t>(v.scale);
    case FieldSource::RATE: return static_cast<uint32_t>(v.rate);
    case FieldSource::FRAME_TIME: return static_cast<uint32_t>(v.microseconds_per_frame);
    case FieldSource::FIXED: break;
    }
    return f.value;
}

// Header offsets of the four fields that depend on the planned frame count.
constexpr int RIFF_LENGTH_OFFSET = 4;
constexpr int TOTAL_FRAMES_OFFSET = 48;
constexpr int STREAM_LENGTH_OFFSET = 140;
constexpr int MOVI_LENGTH_OFFSET = 216;

void put_u32(uint8_t* at, uint32_t value) { put_le(at, value, 4); }

void put_id(uint8_t* at, const char* fourcc) { std::memcpy(at, fourcc, FOURCC_SIZE); }

// false if the stream has failed, now or in an earlier flush of its buffer
// (which fwrite does not always report in its result).
bool put(const void* bytes, size_t size, FILE* stream)
{
    return fwrite(bytes, 1, size, stream) == size && !ferror(stream);
}

// Reports a failed create/write/close of the current file and drops the stream.
// The line has always been shown on the console only, so it goes out as a failure.
bool fail(const char* function, const char* action, const EncodePlan* plan, FILE** avi, int error, EventSink* sink)
{
    char name[AVI_NAME_SIZE];
    avi_file_name(plan->avi_current, name);
    tell(sink, Severity::Failure, "\n%s : cannot %s %s: %s\n", function, action, name, strerror(error));
    if (*avi) {
        fclose(*avi);
        *avi = nullptr;
    }
    return false;
}

bool open_next_file(EncodePlan* plan, FILE** avi, EventSink* sink)
{
    char name[AVI_NAME_SIZE];
    avi_file_name(plan->avi_current, name);
    *avi = fopen(name, "wb");
    if (!*avi)
        return fail("write_avi_frame()", "create", plan, avi, errno, sink);
    // Large writes; the C library allocates the buffer and frees it with the stream.
    setvbuf(*avi, nullptr, _IOFBF, AVI_STREAM_BUFFER_SIZE);
    tell(sink, Severity::Progress, "(Outputting to %s)", name);
    plan->CAVIFcnt = 0;

    uint8_t header[AVI_HEADER_SIZE];
    avi_build_header(*plan->system, planned_frames(plan), header);
    if (!put(header, sizeof header, *avi))
        return fail("write_avi_frame()", "write", plan, avi, errno, sink);
    return true;
}

}  // namespace

void avi_file_name(int32_t number, char* name)
{
    snprintf(name, AVI_NAME_SIZE, "DV%06d.avi", static_cast<int>(number));
}

void avi_build_header(const VideoSystem& v, int32_t frames, uint8_t* h)
{
    std::memset(h, 0, AVI_HEADER_SIZE);
    for (const HeaderField& f : FIXED_HEADER) {
        if (f.fourcc)
            put_id(h + f.offset, f.fourcc);
        else
            put_le(h + f.offset, field_value(f, v), f.bytes);
    }
    const uint32_t n = static_cast<uint32_t>(frames);
    const uint32_t chunk = static_cast<uint32_t>(v.chunk_size);
    put_u32(h + RIFF_LENGTH_OFFSET, n * (chunk + AVI_INDEX_ENTRY_SIZE) + AVI_HEADER_SIZE);
    put_u32(h + TOTAL_FRAMES_OFFSET, n);
    put_u32(h + STREAM_LENGTH_OFFSET, n);
    put_u32(h + MOVI_LENGTH_OFFSET, n * chunk + MOVI_TYPE_SIZE);
}

bool write_avi_frame(const uint8_t* frame_buffer, const FrameInfo* info, EncodePlan* plan, FILE** avi,
                     EventSink* sink)
{
    const int copies = info->frame_index == 0 ? plan->repeat0 : 1;
    for (int copy = 0; copy < copies; copy++) {
        if (!*avi && !open_next_file(plan, avi, sink))
            return false;
        if (!put(frame_buffer, static_cast<size_t>(plan->system->chunk_size), *avi))
            return fail("write_avi_frame()", "write", plan, avi, errno, sink);
        plan->CAVIFcnt++;
        if (!CloseAVIfile(plan, avi, sink))
            return false;
    }
    return true;
}

bool CloseAVIfile(EncodePlan* plan, FILE** avi, EventSink* sink)
{
    const int32_t planned = planned_frames(plan);
    if (plan->CAVIFcnt < planned)
        return true;
    tell(sink, Severity::Progress, "\nCloseAVIfile() : closing AVIfile[%d] at frame#%d!", plan->avi_current,
         plan->CAVIFcnt);
    if (plan->CAVIFcnt > planned)
        tell(sink, Severity::Progress, "\nCloseAVIfile() : UH OH, AVIfile[%d] should only have %d frames!",
             plan->avi_current, planned);

    uint8_t entry[AVI_INDEX_ENTRY_SIZE];
    put_id(entry, "idx1");
    put_u32(entry + 4, static_cast<uint32_t>(plan->CAVIFcnt) * AVI_INDEX_ENTRY_SIZE);
    if (!put(entry, AVI_INDEX_HEADER_SIZE, *avi))
        return fail("CloseAVIfile()", "write", plan, avi, errno, sink);
    put_id(entry, "00dc");
    put_u32(entry + 4, INDEX_FLAG_KEYFRAME);
    put_u32(entry + 12, static_cast<uint32_t>(plan->system->frame_size));
    for (int32_t i = 0; i < plan->CAVIFcnt; i++) {
        put_u32(entry + 8, MOVI_TYPE_SIZE + static_cast<uint32_t>(i) * static_cast<uint32_t>(plan->system->chunk_size));
        if (!put(entry, sizeof entry, *avi))
            return fail("CloseAVIfile()", "write", plan, avi, errno, sink);
    }
    FILE* done = *avi;
    *avi = nullptr;
    if (fclose(done) != 0)
        return fail("CloseAVIfile()", "close", plan, avi, errno, sink);
    plan->avi_current++;
    plan->CAVIFcnt = 0;
    return true;
}
