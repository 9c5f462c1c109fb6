// Output writer: the files a capture program hands back. AVI files are written
// as type-2 DV captures (a "dvsd" video stream and a 48 kHz PCM audio stream,
// a JUNK chunk, the "movi" list with an audio chunk after every frame chunk, an
// "idx1" index); raw DV files hold bare frames. Both split at a size limit under
// names whose digits count up.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "byte_order.h"
#include "capsim.h"
#include "frame_reader.h"

namespace fs = std::filesystem;

namespace {

constexpr int FOURCC_SIZE = 4;
constexpr int AVI_DATA_START = 2048;        // first chunk of "movi"; the JUNK chunk pads up to it
constexpr int AVI_HEADER_SIZE = AVI_DATA_START;
constexpr int INDEX_ENTRY_SIZE = 16;        // id, flags, offset from the "movi" type, length
constexpr int INDEX_FLAGS_AT = 4;
constexpr int INDEX_OFFSET_AT = 8;
constexpr int INDEX_LENGTH_AT = 12;
constexpr int INDEX_HEADER_SIZE = 8;
constexpr int INDEX_ENTRIES_PER_FRAME = 2;  // the frame chunk and its audio chunk
constexpr uint32_t INDEX_KEY_FRAME = 0x10;
constexpr uint32_t AVIF_HASINDEX = 0x10;
constexpr uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr uint32_t AUDIO_RATE = 48000;
constexpr uint16_t AUDIO_BITS = 16;
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t BITS_PER_PIXEL = 24;
constexpr uint32_t QUALITY_DEFAULT = 0xFFFFFFFF;
constexpr int AVIH_SIZE = 56;
constexpr int STRH_SIZE = 56;
constexpr int BITMAPINFO_SIZE = 40;
constexpr int WAVEFORMATEX_SIZE = 18;
constexpr int AVIH_RESERVED = 16;
constexpr int BITMAPINFO_TAIL = 16;         // resolutions and colour counts, all 0
constexpr int AUDIO_CHUNK_HEADER = 8;
constexpr int AUDIO_PATTERN_PERIOD = 64;    // a quiet triangle wave, well below audible level
constexpr int AUDIO_PATTERN_PEAK = 16;
constexpr uint8_t SYNC_LEAD_BYTE = '0';     // every frame chunk id starts with it

// Sequential writer of little-endian fields into a buffer.
struct ByteCursor {
    uint8_t* bytes;
    int at;
};

void put16(ByteCursor* c, uint32_t v)
{
    put_le(c->bytes + c->at, v, 2);
    c->at += 2;
}

void put32(ByteCursor* c, uint32_t v)
{
    put_le(c->bytes + c->at, v, 4);
    c->at += 4;
}

void put_fourcc(ByteCursor* c, const char* text)
{
    std::memcpy(c->bytes + c->at, text, FOURCC_SIZE);
    c->at += FOURCC_SIZE;
}

void store32(uint8_t* p, uint32_t v)
{
    ByteCursor c{p, 0};
    put32(&c, v);
}

// Starts a chunk; returns the offset of its length field, for end_chunk.
int begin_chunk(ByteCursor* c, const char* id)
{
    put_fourcc(c, id);
    const int length_at = c->at;
    put32(c, 0);
    return length_at;
}

int begin_list(ByteCursor* c, const char* id, const char* type)
{
    const int length_at = begin_chunk(c, id);
    put_fourcc(c, type);
    return length_at;
}

void end_chunk(ByteCursor* c, int length_at)
{
    store32(c->bytes + length_at, static_cast<uint32_t>(c->at - length_at - FOURCC_SIZE));
}

void put_stream_header(ByteCursor* c, const char* type, const char* handler, uint32_t scale, uint32_t rate,
                       int* length_at, uint32_t buffer_size, uint32_t sample_size, uint32_t width,
                       uint32_t height)
{
    const int strh = begin_chunk(c, "strh");
    put_fourcc(c, type);
    if (handler)
        put_fourcc(c, handler);
    else
        put32(c, 0);
    put32(c, 0);      // flags
    put16(c, 0);      // priority
    put16(c, 0);      // language
    put32(c, 0);      // initial frames
    put32(c, scale);
    put32(c, rate);
    put32(c, 0);      // start
    *length_at = c->at;
    put32(c, 0);      // length, known at close
    put32(c, buffer_size);
    put32(c, QUALITY_DEFAULT);
    put32(c, sample_size);
    put16(c, 0);
    put16(c, 0);
    put16(c, width);
    put16(c, height);
    end_chunk(c, strh);
}

// Builds the AVI_HEADER_SIZE-byte file header of a capture of system `v` with
// zero counts and notes where the counts go.
void build_avi_header(const VideoSystem& v, uint8_t* header, AviPatchOffsets* patch)
{
    const uint32_t width = static_cast<uint32_t>(v.width);
    const uint32_t height = static_cast<uint32_t>(v.height);
    const uint32_t frame_size = static_cast<uint32_t>(v.frame_size);
    const uint32_t whole_frames_per_second = static_cast<uint32_t>((v.rate + v.scale - 1) / v.scale);
    const uint32_t audio_chunk_max =
        static_cast<uint32_t>((v.id == SYSTEM_625_50.id ? AUDIO_SAMPLES_625_50 : AUDIO_SAMPLES_LONG) * AUDIO_SAMPLE_BYTES);
    std::memset(header, 0, AVI_HEADER_SIZE);
    ByteCursor c{header, 0};
    patch->riff_length = begin_list(&c, "RIFF", "AVI ");
    const int hdrl = begin_list(&c, "LIST", "hdrl");

    const int avih = begin_chunk(&c, "avih");
    put32(&c, static_cast<uint32_t>(v.microseconds_per_frame));
    put32(&c, (static_cast<uint32_t>(v.chunk_size) + AUDIO_CHUNK_HEADER + audio_chunk_max) * whole_frames_per_second);
    put32(&c, 0);  // padding granularity
    put32(&c, AVIF_HASINDEX | AVIF_ISINTERLEAVED);
    patch->total_frames = c.at;
    put32(&c, 0);
    put32(&c, 0);  // initial frames
    put32(&c, 2);  // streams
    put32(&c, static_cast<uint32_t>(v.chunk_size));
    put32(&c, width);
    put32(&c, height);
    c.at += AVIH_RESERVED;
    end_chunk(&c, avih);

    const int video = begin_list(&c, "LIST", "strl");
    put_stream_header(&c, "vids", "dvsd", static_cast<uint32_t>(v.scale), static_cast<uint32_t>(v.rate),
                      &patch->video_length, frame_size, 0, width, height);
    const int bitmap = begin_chunk(&c, "strf");
    put32(&c, BITMAPINFO_SIZE);
    put32(&c, width);
    put32(&c, height);
    put16(&c, 1);  // planes
    put16(&c, BITS_PER_PIXEL);
    put_fourcc(&c, "dvsd");
    put32(&c, frame_size);
    c.at += BITMAPINFO_TAIL;
    end_chunk(&c, bitmap);
    end_chunk(&c, video);

    const int audio = begin_list(&c, "LIST", "strl");
    put_stream_header(&c, "auds", nullptr, 1, AUDIO_RATE, &patch->audio_length, audio_chunk_max,
                      AUDIO_SAMPLE_BYTES, 0, 0);
    const int wave = begin_chunk(&c, "strf");
    put16(&c, WAVE_FORMAT_PCM);
    put16(&c, AUDIO_CHANNELS);
    put32(&c, AUDIO_RATE);
    put32(&c, AUDIO_RATE * AUDIO_SAMPLE_BYTES);
    put16(&c, AUDIO_SAMPLE_BYTES);
    put16(&c, AUDIO_BITS);
    put16(&c, 0);  // no extra format bytes
    end_chunk(&c, wave);
    end_chunk(&c, audio);
    end_chunk(&c, hdrl);

    // JUNK up to the "movi" list, so that the frames start at a round offset.
    const int movi_list_header = CHUNK_HEADER_SIZE + FOURCC_SIZE;
    const int junk = begin_chunk(&c, "JUNK");
    c.at = AVI_DATA_START - movi_list_header;
    end_chunk(&c, junk);
    patch->movi_length = begin_list(&c, "LIST", "movi");
    patch->movi_type = patch->movi_length + FOURCC_SIZE;
}

int audio_samples_for(const VideoSystem& v, int64_t frame_chunk)
{
    if (v.id == SYSTEM_625_50.id)
        return AUDIO_SAMPLES_625_50;
    return frame_chunk % AUDIO_CYCLE_FRAMES == 0 ? AUDIO_SAMPLES_SHORT : AUDIO_SAMPLES_LONG;
}

int write_or_report(OutputWriter* w, const void* bytes, size_t length)
{
    if (length == 0 || std::fwrite(bytes, 1, length, w->file) == length) {
        w->file_bytes += static_cast<int64_t>(length);
        return 1;
    }
    std::fprintf(stderr, "capsim: cannot write %s: %s\n", w->name.c_str(), std::strerror(errno));
    return 0;
}

int is_an_input(const OutputWriter* w)
{
    for (int i = 0; i < w->input_count; ++i) {
        std::error_code ec;
        if (fs::equivalent(fs::path(w->name), fs::path(w->inputs[i]), ec))
            return 1;
    }
    return 0;
}

int open_next_file(OutputWriter* w, const VideoSystem& v)
{
    if (w->files > 0) {
        if (!successor_name(&w->name[0])) {
            std::fprintf(stderr, "capsim: the output name %s has no digits to count up for the next file\n",
                         w->name.c_str());
            return 0;
        }
        if (w->name == w->first_name) {
            std::fprintf(stderr, "capsim: the numbered output names have run out after %s\n",
                         w->first_name.c_str());
            return 0;
        }
    }
    if (is_an_input(w)) {
        std::fprintf(stderr, "capsim: the output file %s would overwrite an input\n", w->name.c_str());
        return 0;
    }
    w->file = std::fopen(w->name.c_str(), "wb");
    if (!w->file) {
        std::fprintf(stderr, "capsim: cannot create %s: %s\n", w->name.c_str(), std::strerror(errno));
        return 0;
    }
    ++w->files;
    w->file_bytes = 0;
    w->file_frames = 0;
    w->file_samples = 0;
    w->index_entries = 0;
    if (w->raw)
        return 1;
    uint8_t header[AVI_HEADER_SIZE];
    build_avi_header(v, header, &w->patch);
    return write_or_report(w, header, sizeof header);
}

void add_index_entry(OutputWriter* w, const char* id, int64_t chunk_offset, uint32_t length)
{
    uint8_t* entry = w->index + static_cast<size_t>(w->index_entries) * INDEX_ENTRY_SIZE;
    std::memcpy(entry, id, FOURCC_SIZE);
    store32(entry + INDEX_FLAGS_AT, INDEX_KEY_FRAME);
    store32(entry + INDEX_OFFSET_AT, static_cast<uint32_t>(chunk_offset - w->patch.movi_type));
    store32(entry + INDEX_LENGTH_AT, length);
    ++w->index_entries;
}

int patch_field(OutputWriter* w, int offset, uint32_t value)
{
    uint8_t bytes[FOURCC_SIZE];
    store32(bytes, value);
    return std::fseek(w->file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, sizeof bytes, w->file) == sizeof bytes;
}

// Writes the index and the counts of an AVI file, then closes it.
int close_file(OutputWriter* w)
{
    int ok = 1;
    if (!w->raw) {
        const int64_t index_at = w->file_bytes;
        uint8_t header[INDEX_HEADER_SIZE];
        std::memcpy(header, "idx1", FOURCC_SIZE);
        store32(header + FOURCC_SIZE, static_cast<uint32_t>(w->index_entries * INDEX_ENTRY_SIZE));
        ok = write_or_report(w, header, sizeof header) &&
             write_or_report(w, w->index, static_cast<size_t>(w->index_entries) * INDEX_ENTRY_SIZE);
        if (ok) {
            const int64_t riff_end = w->file_bytes;
            ok = patch_field(w, w->patch.riff_length,
                             static_cast<uint32_t>(riff_end - w->patch.riff_length - FOURCC_SIZE)) &&
                 patch_field(w, w->patch.total_frames, static_cast<uint32_t>(w->file_frames)) &&
                 patch_field(w, w->patch.video_length, static_cast<uint32_t>(w->file_frames)) &&
                 patch_field(w, w->patch.audio_length, static_cast<uint32_t>(w->file_samples)) &&
                 patch_field(w, w->patch.movi_length, static_cast<uint32_t>(index_at - w->patch.movi_type));
            if (!ok)
                std::fprintf(stderr, "capsim: cannot finish the header of %s: %s\n", w->name.c_str(),
                             std::strerror(errno));
        }
    }
    if (std::fclose(w->file) != 0 && ok) {
        std::fprintf(stderr, "capsim: cannot close %s: %s\n", w->name.c_str(), std::strerror(errno));
        ok = 0;
    }
    w->file = nullptr;
    return ok;
}

void report_file(const OutputWriter* w)
{
    std::printf("wrote %s frames %d bytes %lld\n", w->name.c_str(), static_cast<int>(w->file_frames),
                static_cast<long long>(w->file_bytes));
}

int write_garbage(OutputWriter* w, int64_t count, Rng* rng)
{
    while (count > 0) {
        const int piece = count > GARBAGE_BUFFER_SIZE ? GARBAGE_BUFFER_SIZE : static_cast<int>(count);
        for (int i = 0; i < piece; ++i) {
            const uint8_t b = static_cast<uint8_t>(rng_next(rng) >> 56);
            w->garbage[i] = b == SYNC_LEAD_BYTE ? static_cast<uint8_t>(b + 1) : b;
        }
        if (!write_or_report(w, w->garbage, static_cast<size_t>(piece)))
            return 0;
        count -= piece;
    }
    return 1;
}

// 1 when the open file must be finished before the next frame and its garbage.
int file_is_full(const OutputWriter* w, const VideoSystem& v, int64_t garbage_bytes, int audio_bytes)
{
    if (w->file_frames == 0)
        return 0;  // every file holds at least one frame
    if (w->raw)
        return w->file_bytes + garbage_bytes + v.frame_size > w->split_bytes;
    if (w->index_entries + INDEX_ENTRIES_PER_FRAME > w->index_capacity)
        return 1;
    const int64_t end = w->file_bytes + garbage_bytes + v.chunk_size + AUDIO_CHUNK_HEADER + audio_bytes +
                        INDEX_HEADER_SIZE +
                        static_cast<int64_t>(w->index_entries + INDEX_ENTRIES_PER_FRAME) * INDEX_ENTRY_SIZE;
    return end > w->split_bytes;
}

}  // namespace

int output_init(OutputWriter* writer, const char* first_name, int raw, int64_t split_bytes,
                char* const* inputs, int input_count)
{
    OutputWriter& w = *writer;
    w.raw = raw;
    w.split_bytes = split_bytes;
    w.name = first_name;
    w.first_name = first_name;
    w.inputs = inputs;
    w.input_count = input_count;
    w.file = nullptr;
    w.files = 0;
    w.file_bytes = 0;
    w.file_frames = 0;
    w.file_samples = 0;
    w.frames_total = 0;
    w.last_chunk_offset = -1;
    w.last_chunk_size = 0;
    w.last_frame_number = -1;
    w.patch = AviPatchOffsets{};
    w.index_entries = 0;
    // The split size bounds the frames of one file, and so the index.
    const int64_t smallest_frame = SYSTEM_525_60.chunk_size + AUDIO_CHUNK_HEADER +
                                   AUDIO_SAMPLES_SHORT * AUDIO_SAMPLE_BYTES +
                                   INDEX_ENTRIES_PER_FRAME * INDEX_ENTRY_SIZE;
    const int64_t frames = raw ? 0 : split_bytes / smallest_frame + 1;
    w.index_capacity = static_cast<int32_t>(frames * INDEX_ENTRIES_PER_FRAME);
    w.index = new uint8_t[static_cast<size_t>(w.index_capacity) * INDEX_ENTRY_SIZE + 1];
    w.audio = new uint8_t[AUDIO_CHUNK_MAX];
    w.garbage = new uint8_t[GARBAGE_BUFFER_SIZE];
    for (int i = 0; i < AUDIO_SAMPLES_MAX; ++i) {
        const int phase = i % AUDIO_PATTERN_PERIOD;
        const int level = (phase < AUDIO_PATTERN_PERIOD / 2 ? phase : AUDIO_PATTERN_PERIOD - phase) -
                          AUDIO_PATTERN_PEAK;
        ByteCursor c{w.audio, i * AUDIO_SAMPLE_BYTES};
        for (int ch = 0; ch < AUDIO_CHANNELS; ++ch)
            put16(&c, static_cast<uint16_t>(static_cast<int16_t>(level)));
    }
    return 1;
}

int output_frame(OutputWriter* w, const VideoSystem& v, const uint8_t* dv_frame, int64_t frame_number,
                 int64_t garbage_bytes, Rng* garbage_rng)
{
    const size_t frame_size = static_cast<size_t>(v.frame_size);
    const int samples = audio_samples_for(v, w->frames_total);
    const int audio_bytes = samples * AUDIO_SAMPLE_BYTES;
    if (w->file && file_is_full(w, v, garbage_bytes, audio_bytes)) {
        if (!close_file(w))
            return 0;
        report_file(w);
    }
    if (!w->file && !open_next_file(w, v))
        return 0;
    if (!write_garbage(w, garbage_bytes, garbage_rng))
        return 0;
    w->last_chunk_offset = w->file_bytes;
    w->last_chunk_size = static_cast<int64_t>(frame_size) + (w->raw ? 0 : CHUNK_HEADER_SIZE);
    w->last_frame_number = frame_number;
    if (w->raw) {
        if (!write_or_report(w, dv_frame, frame_size))
            return 0;
    } else {
        uint8_t header[CHUNK_HEADER_SIZE];
        std::memcpy(header, FRAME_CHUNK_ID, FOURCC_SIZE);
        store32(header + FOURCC_SIZE, static_cast<uint32_t>(frame_size));
        add_index_entry(w, "00dc", w->file_bytes, static_cast<uint32_t>(frame_size));
        if (!write_or_report(w, header, sizeof header) || !write_or_report(w, dv_frame, frame_size))
            return 0;
        std::memcpy(header, "01wb", FOURCC_SIZE);
        store32(header + FOURCC_SIZE, static_cast<uint32_t>(audio_bytes));
        add_index_entry(w, "01wb", w->file_bytes, static_cast<uint32_t>(audio_bytes));
        if (!write_or_report(w, header, sizeof header) ||
            !write_or_report(w, w->audio, static_cast<size_t>(audio_bytes)))
            return 0;
        w->file_samples += samples;
    }
    ++w->file_frames;
    ++w->frames_total;
    return 1;
}

int output_finish(OutputWriter* w, int64_t cut_keep)
{
    if (!w->file) {
        if (cut_keep >= 0)
            std::fprintf(stderr, "capsim: no frame was written, so there is no frame to cut\n");
        return 1;
    }
    if (cut_keep >= w->last_chunk_size) {
        std::fprintf(stderr, "capsim: -cut %lld is not inside the last frame chunk (%lld bytes)\n",
                     static_cast<long long>(cut_keep), static_cast<long long>(w->last_chunk_size));
        (void)close_file(w);   // the run has failed already; a failure to close adds its own message
        return 0;
    }
    if (!close_file(w))
        return 0;
    if (cut_keep >= 0) {
        const int64_t cut_at = w->last_chunk_offset + cut_keep;
        std::error_code ec;
        fs::resize_file(fs::path(w->name), static_cast<uintmax_t>(cut_at), ec);
        if (ec) {
            std::fprintf(stderr, "capsim: cannot cut %s: %s\n", w->name.c_str(), ec.message().c_str());
            return 0;
        }
        w->file_bytes = cut_at;
        std::printf("cut %s at %lld frame %lld\n", w->name.c_str(), static_cast<long long>(cut_at),
                    static_cast<long long>(w->last_frame_number));
    }
    report_file(w);
    // A reader that follows the numbered names goes on into a file left over from an earlier run.
    std::string next = w->name;
    if (successor_name(&next[0]) && next != w->first_name && fs::exists(fs::path(next)))
        std::fprintf(stderr, "capsim: warning: %s, left from an earlier run, follows the last capture file\n",
                     next.c_str());
    return 1;
}

void output_release(OutputWriter* w)
{
    if (w->file)
        std::fclose(w->file);
    w->file = nullptr;
    delete[] w->index;
    delete[] w->audio;
    delete[] w->garbage;
    w->index = nullptr;
    w->audio = nullptr;
    w->garbage = nullptr;
}
