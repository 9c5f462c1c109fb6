// The frame stream reader: frames found by the signature search in plain byte
// streams (headers, garbage, audio chunks, near misses, frames cut short), file
// after file along the successor names, compared with a model that reads the
// file exactly as described: 120,000-byte searching reads overlapping by 50
// bytes, and a seek back behind the chunk header found.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "console_log.h"
#include "frame_reader.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- the model

// The signature of system `v`: chunk header and DV bytes, or in a raw stream
// the DV bytes alone.
bool signature_at(const Bytes& b, size_t at, bool raw, const VideoSystem& v)
{
    const int skip = raw ? CHUNK_HEADER_SIZE : 0;
    for (int i = skip; i < SYNC_LENGTH; ++i)
        if (SYNC_MASK[i] == 1 && b[at + static_cast<size_t>(i - skip)] != SYNC_PATTERNS[v.id][i])
            return false;
    return true;
}

// In a raw stream: the header block behind a frame's first ten sequences says
// it is of the other system than its DSF bit (sequence 10 there: 625/50; the
// next frame's sequence 0: 525/60).
bool contradicted(const Bytes& file, size_t frame_pos, const VideoSystem& v)
{
    const size_t after = frame_pos + static_cast<size_t>(NTSC.frame_size);
    if (after + 3 > file.size() || (file[after] & 0xF0) != 0x10 || file[after + 2] != 0)
        return false;
    return (file[after + 1] == 0xA7 && v.id != PAL.id) || (file[after + 1] == 0x07 && v.id == PAL.id);
}

// Frames the described reader delivers from one file, in order: searching
// reads of 120,000 bytes find a signature of either system, and the frame is
// as long as its system's; one cut short by the end of the file keeps the
// bytes of its searching read behind what it got, and zeros past them.
std::vector<Bytes> model_frames(const Bytes& file, bool raw = false)
{
    const int length = raw ? SYNC_LENGTH - CHUNK_HEADER_SIZE : SYNC_LENGTH;
    std::vector<Bytes> frames;
    Bytes buffer(DV_FRAME_SIZE, 0);
    size_t pos = 0;
    for (;;) {
        if (pos + DV_FRAME_SIZE > file.size())
            return frames;
        std::memcpy(buffer.data(), file.data() + pos, DV_FRAME_SIZE);
        int found = -1;
        const VideoSystem* system = nullptr;
        for (int i = 0; i < DV_FRAME_SIZE - length && found < 0; ++i) {
            for (const VideoSystem* v : VIDEO_SYSTEMS) {
                if (signature_at(buffer, static_cast<size_t>(i), raw, *v)) {
                    found = i;
                    system = v;
                    break;
                }
            }
        }
        if (found < 0) {
            pos += DV_FRAME_SIZE - 50;
            continue;
        }
        if (raw && contradicted(file, pos + static_cast<size_t>(found), *system)) {
            pos += static_cast<size_t>(found) + 1;
            continue;
        }
        const size_t size = static_cast<size_t>(system->frame_size);
        size_t frame_pos = pos + static_cast<size_t>(found) + (raw ? 0 : CHUNK_HEADER_SIZE);
        size_t got = std::min<size_t>(size, file.size() - frame_pos);
        Bytes frame = buffer;
        frame.resize(size, 0);
        std::memcpy(frame.data(), file.data() + frame_pos, got);
        frames.push_back(frame);
        pos = frame_pos + got;
    }
}

// ---------------------------------------------------------------- stream pieces

void put_u32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A frame chunk of system `v` whose DV frame carries `serial` in bytes 100..103
// and random bytes elsewhere (but a valid first header block).
void put_frame(Bytes& out, uint32_t serial, std::mt19937& rng, const char* id = "00dc", const VideoSystem& v = NTSC)
{
    out.insert(out.end(), id, id + 4);
    put_u32(out, static_cast<uint32_t>(v.frame_size));
    size_t start = out.size();
    for (int i = 0; i < v.frame_size; ++i)
        out.push_back(static_cast<uint8_t>(rng()));
    for (int i = 0; i < 8; ++i)
        out[start + i] = SYNC_PATTERNS[v.id][CHUNK_HEADER_SIZE + i];
    out[start + 4] = (serial & 1) ? 0x78 : 0x68;
    std::memcpy(&out[start + 100], &serial, 4);
}

void put_garbage(Bytes& out, size_t n, std::mt19937& rng)
{
    for (size_t i = 0; i < n; ++i)
        out.push_back(static_cast<uint8_t>(rng()));
}

// The start of a RIFF file: the reader then searches by chunks.
Bytes riff_file()
{
    return Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '};
}

// A signature with one compared byte wrong, followed by frame-sized data.
void put_near_miss(Bytes& out, std::mt19937& rng)
{
    size_t start = out.size();
    put_frame(out, 0xDEADBEEF, rng);
    static const int compared[] = {4, 5, 6, 7, 9, 10, 11, 13, 14, 15};
    int which = compared[rng() % (sizeof compared / sizeof compared[0])];
    out[start + static_cast<size_t>(which)] ^= 0x01;
}

void put_audio_chunk(Bytes& out, std::mt19937& rng)
{
    const char id[] = "01wb";
    out.insert(out.end(), id, id + 4);
    put_u32(out, 6408);
    put_garbage(out, 6408, rng);
}

uint32_t serial_of(const uint8_t* frame)
{
    uint32_t serial;
    std::memcpy(&serial, frame + 100, 4);
    return serial;
}

// ---------------------------------------------------------------- running the reader

struct ReaderRun {
    std::vector<Bytes> frames;
    std::string console;
    std::string log;
    std::string final_name;
    std::vector<std::string> ended;   // capture files read to their end, in order
};

// The programs' sink, also recording the capture files the reader ended.
class ReaderSink final : public EventSink {
public:
    explicit ReaderSink(FILE* log, std::vector<std::string>* ended) : console_(log), ended_(ended) {}
    void message(Severity severity, const char* text) override { console_.message(severity, text); }
    void frame_mark(const char* mark) override { console_.frame_mark(mark); }
    void capture_end(const char* name) override
    {
        console_.capture_end(name);
        ended_->push_back(name);
    }
    void file_verdict(const RestoredFile&) override {}
    void statistics(const DecodeStats&, int64_t) override {}
    void verification(const VerifyTotals&) override {}

private:
    ConsoleLogSink console_;
    std::vector<std::string>* ended_;
};

ReaderRun run_reader(const std::string& first_name, size_t max_frames = 1000000)
{
    ReaderRun run;
    FrameReader reader;
    EXPECT_EQ(frame_reader_init(&reader), 1);
    Bytes spare(MAX_DV_FRAME_SIZE);
    char name[256];
    std::snprintf(name, sizeof name, "%s", first_name.c_str());
    FILE* log = std::tmpfile();
    ReaderSink sink(log, &run.ended);
    testing::internal::CaptureStdout();
    const uint8_t* frame = nullptr;
    while (run.frames.size() < max_frames && ReadDVFrame(&frame, spare.data(), &reader, name, &sink))
        run.frames.emplace_back(frame, frame + system_of_frame(frame).frame_size);
    std::fflush(stdout);
    run.console = testing::internal::GetCapturedStdout();
    frame_reader_shutdown(&reader);
    std::rewind(log);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, log)) > 0)
        run.log.append(buf, n);
    std::fclose(log);
    run.final_name = name;
    return run;
}

void expect_same_frames(const std::vector<Bytes>& got, const std::vector<Bytes>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_TRUE(got[i] == want[i]) << "frame " << i << " differs";
}

struct ScopedCwd {
    fs::path old;
    explicit ScopedCwd(const fs::path& dir) : old(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old); }
};

// ---------------------------------------------------------------- tests

TEST(FindSync, FindsTheFirstMatchingOffsetUnderTheMask)
{
    Bytes read(SEARCH_READ, 0x30);   // all "0": every offset is a candidate
    EXPECT_EQ(find_sync(read.data(), 0), -1);
    std::mt19937 rng(1);
    Bytes chunk;
    put_frame(chunk, 7, rng, "00xy");   // identifier characters 3 and 4 are not compared
    std::memcpy(read.data() + 5000, chunk.data(), SYNC_LENGTH);
    read[5000 + 8] = 0x1A;               // DV byte 0 and byte 4 are not compared either
    read[5000 + 12] = 0x00;
    EXPECT_EQ(find_sync(read.data(), 0), 5000);
    std::memcpy(read.data() + 300, chunk.data(), SYNC_LENGTH);
    EXPECT_EQ(find_sync(read.data(), 0), 300);
}

TEST(FindSync, IgnoresOtherLengthsSystemsAndOffsetsPastTheSearch)
{
    std::mt19937 rng(2);
    Bytes chunk;
    put_frame(chunk, 1, rng);
    Bytes read(SEARCH_READ, 0);
    Bytes other = chunk;
    other[4] = 0xC1;   // chunk length 120,001
    std::memcpy(read.data() + 10, other.data(), SYNC_LENGTH);
    other = chunk;
    other[CHUNK_HEADER_SIZE + 3] = 0xBF;   // a 625/50 frame with a 525/60 length
    std::memcpy(read.data() + 1000, other.data(), SYNC_LENGTH);
    std::memcpy(read.data() + SEARCH_OFFSETS, chunk.data(), SYNC_LENGTH);   // first offset not searched
    EXPECT_EQ(find_sync(read.data(), 0), -1);
    std::memcpy(read.data() + SEARCH_OFFSETS - 1, chunk.data(), SYNC_LENGTH);
    EXPECT_EQ(find_sync(read.data(), 0), SEARCH_OFFSETS - 1);
}

TEST(FindSync, FindsTheSignatureOfEitherSystem)
{
    std::mt19937 rng(4);
    Bytes pal;
    put_frame(pal, 1, rng, "00dc", PAL);
    Bytes read(SEARCH_READ, 0x07);
    std::memcpy(read.data() + 700, pal.data(), SYNC_LENGTH);
    EXPECT_EQ(find_sync(read.data(), 0), 700);
    EXPECT_EQ(&system_of_frame(read.data() + 700 + CHUNK_HEADER_SIZE), &PAL);
    std::memcpy(read.data() + 300, pal.data() + CHUNK_HEADER_SIZE, 8);
    EXPECT_EQ(find_sync(read.data(), 1), 300);
    // A 625/50 length with a 525/60 header is neither system's frame.
    Bytes ntsc;
    put_frame(ntsc, 2, rng);
    std::memcpy(read.data() + 700 + CHUNK_HEADER_SIZE, ntsc.data() + CHUNK_HEADER_SIZE, 8);
    EXPECT_EQ(find_sync(read.data(), 0), -1);
}

TEST(FindSync, RawStreamsSearchTheDvBytesAlone)
{
    std::mt19937 rng(3);
    Bytes chunk;
    put_frame(chunk, 7, rng);
    Bytes read(SEARCH_READ, 0x07);   // every offset starts with the first compared byte
    EXPECT_EQ(find_sync(read.data(), 1), -1);
    std::memcpy(read.data() + 4000, chunk.data() + CHUNK_HEADER_SIZE, 8);
    EXPECT_EQ(find_sync(read.data(), 1), 4000);
    EXPECT_EQ(find_sync(read.data(), 0), -1);   // no chunk header
    std::memcpy(read.data() + RAW_SEARCH_OFFSETS - 1, chunk.data() + CHUNK_HEADER_SIZE, 8);
    std::memset(read.data() + 4000, 0, 8);
    EXPECT_EQ(find_sync(read.data(), 1), RAW_SEARCH_OFFSETS - 1);
    // What a file begins with, not its name, says how it is searched.
    EXPECT_EQ(starts_as_riff(reinterpret_cast<const uint8_t*>("RIFF\0\0\0\0AVI "), 12), 1);
    EXPECT_EQ(starts_as_riff(reinterpret_cast<const uint8_t*>("RIF"), 3), 0);
    EXPECT_EQ(starts_as_riff(reinterpret_cast<const uint8_t*>("\x1f\x07\x00\x3f"), 4), 0);
    EXPECT_EQ(starts_as_riff(reinterpret_cast<const uint8_t*>("\0\0\0\x14" "ftypqt  "), 12), 0);
}

TEST(SuccessorName, CountsAllDigitsOfTheNameAsOneNumber)
{
    struct Case {
        const char* name;
        const char* next;
    } cases[] = {
        {"SCENE0009.avi", "SCENE0010.avi"},
        {"DV000001.avi", "DV000002.avi"},
        {"tape1\\DV999999.avi", "tape2\\DV000000.avi"},
        {"tape1/DV999999.avi", "tape2/DV000000.avi"},
        {"DV999999.avi", "DV000000.avi"},
    };
    for (const Case& c : cases) {
        char name[64];
        std::snprintf(name, sizeof name, "%s", c.name);
        EXPECT_EQ(successor_name(name), 1) << c.name;
        EXPECT_STREQ(name, c.next);
    }
    char mixed[] = "1x9y9";   // the carry passes over non-digits
    EXPECT_EQ(successor_name(mixed), 1);
    EXPECT_STREQ(mixed, "2x0y0");
    char none[] = "capture.avi";
    EXPECT_EQ(successor_name(none), 0);
    EXPECT_STREQ(none, "capture.avi");
}

TEST(ReadDVFrame, FileAsTheEncoderWritesItYieldsEveryFrameFromOffset232)
{
    TempDir dir;
    std::mt19937 rng(3);
    Bytes file = riff_file();
    put_garbage(file, 224 - file.size(), rng);
    for (uint32_t i = 0; i < 5; ++i)
        put_frame(file, i, rng);
    put_garbage(file, 8 + 16 * 5, rng);   // index
    write_file(dir.path / "DV000001.avi", file);

    ReaderRun run = run_reader((dir.path / "DV000001.avi").string());
    ASSERT_EQ(run.frames.size(), 5u);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(serial_of(run.frames[i].data()), i);
    EXPECT_TRUE(std::memcmp(run.frames[0].data(), file.data() + 232, DV_FRAME_SIZE) == 0);
    expect_same_frames(run.frames, model_frames(file));

    const std::string name = (dir.path / "DV000001.avi").string();
    EXPECT_EQ(run.console, "\n\n\nReadDVFrame() : (Reading from " + name + ") \nReadDVFrame(): end...(g_ecc_n=0)");
    EXPECT_EQ(run.log, "ReadDVFrame() : \n\n\n(Reading from " + name + ") ");
    EXPECT_EQ(run.final_name, (dir.path / "DV000002.avi").string());
}

TEST(ReadDVFrame, OneFrameFileYieldsExactlyOneFrame)
{
    TempDir dir;
    std::mt19937 rng(4);
    Bytes file;
    put_garbage(file, 224, rng);
    put_frame(file, 42, rng);
    put_garbage(file, 24, rng);
    write_file(dir.path / "DV000001.avi", file);
    ReaderRun run = run_reader((dir.path / "DV000001.avi").string());
    ASSERT_EQ(run.frames.size(), 1u);
    EXPECT_EQ(serial_of(run.frames[0].data()), 42u);
    EXPECT_EQ(run.ended, std::vector<std::string>{(dir.path / "DV000001.avi").string()});
}

TEST(ReadDVFrame, SkipsGarbageAudioChunksAndNearMisses)
{
    TempDir dir;
    std::mt19937 rng(5);
    Bytes file = riff_file();
    put_garbage(file, 224, rng);
    uint32_t serial = 0;
    for (int i = 0; i < 12; ++i) {
        // Any identifier: the stream's number and type are not examined.
        put_frame(file, serial++, rng, i % 3 == 0 ? "00db" : i % 3 == 1 ? "01dc" : "01__");
        put_audio_chunk(file, rng);
        if (i % 4 == 1)
            put_garbage(file, 300000 + rng() % 1000, rng);
        if (i % 5 == 2)
            put_near_miss(file, rng);
    }
    write_file(dir.path / "CAP01.avi", file);
    ReaderRun run = run_reader((dir.path / "CAP01.avi").string());
    ASSERT_EQ(run.frames.size(), 12u);
    for (uint32_t i = 0; i < 12; ++i)
        EXPECT_EQ(serial_of(run.frames[i].data()), i);
    expect_same_frames(run.frames, model_frames(file));
}

TEST(ReadDVFrame, SignatureStraddlingTwoSearchingReadsIsFoundByTheNext)
{
    TempDir dir;
    std::mt19937 rng(6);
    for (int at = SEARCH_OFFSETS; at < SEARCH_READ; at += 5) {
        Bytes file(static_cast<size_t>(at), 0);
        std::memcpy(file.data(), "RIFF", 4);
        put_frame(file, 9, rng);
        put_garbage(file, 1000, rng);
        write_file(dir.path / "CAP01.avi", file);
        ReaderRun run = run_reader((dir.path / "CAP01.avi").string());
        ASSERT_EQ(run.frames.size(), 1u) << at;
        EXPECT_EQ(serial_of(run.frames[0].data()), 9u);
    }
}

TEST(ReadDVFrame, NoSignatureSearchedWhereTheNextReadWouldBeShort)
{
    // The signature at offset 119,984 of the last full read is reached only by a
    // following read, which the end of the file cuts short: no frame.
    TempDir dir;
    std::mt19937 rng(7);
    Bytes file(SEARCH_OFFSETS, 0);
    std::memcpy(file.data(), "RIFF", 4);
    put_frame(file, 1, rng);
    file.resize(SEARCH_READ + 100);
    write_file(dir.path / "CAP01.avi", file);
    EXPECT_EQ(run_reader((dir.path / "CAP01.avi").string()).frames.size(), 0u);
    EXPECT_EQ(model_frames(file).size(), 0u);
}

TEST(ReadDVFrame, FrameCutShortKeepsTheBytesOfItsSearchingRead)
{
    TempDir dir;
    std::mt19937 rng(8);
    Bytes file = riff_file();
    put_garbage(file, 5000 - file.size(), rng);
    put_frame(file, 77, rng);
    file.resize(124000);   // the frame read gets 118,992 bytes
    write_file(dir.path / "CAP01.avi", file);
    ReaderRun run = run_reader((dir.path / "CAP01.avi").string());
    ASSERT_EQ(run.frames.size(), 1u);
    const Bytes& f = run.frames[0];
    const size_t got = 124000 - 5008;
    EXPECT_TRUE(std::memcmp(f.data(), file.data() + 5008, got) == 0);
    EXPECT_TRUE(std::memcmp(f.data() + got, file.data() + got, DV_FRAME_SIZE - got) == 0);
    expect_same_frames(run.frames, model_frames(file));

    // A 625/50 frame is longer than the searching read: past its bytes come
    // those of the read, then zeros.
    file = riff_file();
    put_garbage(file, 100, rng);
    put_frame(file, 78, rng, "00dc", PAL);
    file.resize(125000);
    write_file(dir.path / "CAP01.avi", file);
    run = run_reader((dir.path / "CAP01.avi").string());
    ASSERT_EQ(run.frames.size(), 1u);
    ASSERT_EQ(run.frames[0].size(), static_cast<size_t>(PAL.frame_size));
    const size_t pal_got = 125000 - 120;
    EXPECT_TRUE(std::memcmp(run.frames[0].data(), file.data() + 120, pal_got) == 0);
    EXPECT_TRUE(std::all_of(run.frames[0].begin() + static_cast<std::ptrdiff_t>(pal_got), run.frames[0].end(),
                            [](uint8_t b) { return b == 0; }));
    expect_same_frames(run.frames, model_frames(file));

    // A file shorter than one searching read delivers nothing, even a frame start.
    file.assign(0, 0);
    put_frame(file, 1, rng);
    file.resize(SEARCH_READ - 1);
    write_file(dir.path / "CAP01.avi", file);
    EXPECT_EQ(run_reader((dir.path / "CAP01.avi").string()).frames.size(), 0u);
}

TEST(ReadDVFrame, MatchesTheModelOnLongMixedStreams)
{
    // Longer than the reader's block, so frames straddle refills of its window.
    TempDir dir;
    for (uint32_t seed = 10; seed < 13; ++seed) {
        std::mt19937 rng(seed);
        Bytes file = riff_file();
        uint32_t serial = 0;
        while (file.size() < static_cast<size_t>(READER_BLOCK) * 2 + 11000000) {
            switch (rng() % 7) {
            case 0:
                put_garbage(file, rng() % 250000, rng);
                break;
            case 1:
                put_audio_chunk(file, rng);
                break;
            case 2:
                put_near_miss(file, rng);
                break;
            case 3:
                put_frame(file, serial++, rng, "00dc", PAL);
                break;
            default:
                put_frame(file, serial++, rng);
            }
        }
        file.resize(file.size() - rng() % 200000);
        write_file(dir.path / "CAP01.avi", file);
        ReaderRun run = run_reader((dir.path / "CAP01.avi").string());
        std::vector<Bytes> want = model_frames(file);
        EXPECT_GT(want.size(), 50u);
        expect_same_frames(run.frames, want);
    }
}

TEST(ReadDVFrame, RawDvStreamsMatchTheModel)
{
    TempDir dir;
    std::mt19937 rng(30);
    Bytes file;
    uint32_t serial = 0;
    for (int i = 0; i < 60; ++i) {
        Bytes chunk;
        put_frame(chunk, serial++, rng, "00dc", i % 5 == 2 ? PAL : NTSC);
        file.insert(file.end(), chunk.begin() + CHUNK_HEADER_SIZE, chunk.end());
        if (i % 7 == 3)
            put_garbage(file, rng() % 300000, rng);
        if (i % 11 == 5)
            file.resize(file.size() - rng() % 5000);   // a frame cut short by damage
    }
    file.resize(file.size() - 1000);
    write_file(dir.path / "capture-009.DV", file);
    Bytes next;
    put_frame(next, 1000, rng);
    next.erase(next.begin(), next.begin() + CHUNK_HEADER_SIZE);
    write_file(dir.path / "capture-010.DV", next);
    ReaderRun run = run_reader((dir.path / "capture-009.DV").string());
    std::vector<Bytes> want = model_frames(file, true);
    EXPECT_GT(want.size(), 50u);
    ASSERT_EQ(run.frames.size(), want.size() + 1);
    run.frames.pop_back();
    expect_same_frames(run.frames, want);
    EXPECT_EQ(serial_of(run.frames[0].data()), 0u);
}

// A damaged DSF bit costs its own frame only: the frame behind it is found.
TEST(ReadDVFrame, RawFrameWithADamagedSystemBitIsPassedOver)
{
    TempDir dir;
    std::mt19937 rng(31);
    for (const VideoSystem* v : VIDEO_SYSTEMS) {
        Bytes file;
        for (uint32_t serial = 0; serial < 6; ++serial) {
            Bytes chunk;
            put_frame(chunk, serial, rng, "00dc", *v);
            // A true 625/50 frame has sequence 10's header block behind its first ten.
            if (v->id == PAL.id)
                std::memcpy(&chunk[CHUNK_HEADER_SIZE + NTSC.frame_size], "\x1F\xA7\x00", 3);
            if (serial == 2)
                chunk[CHUNK_HEADER_SIZE + 3] ^= DSF_BIT;
            file.insert(file.end(), chunk.begin() + CHUNK_HEADER_SIZE, chunk.end());
        }
        write_file(dir.path / "flip.dv", file);
        ReaderRun run = run_reader((dir.path / "flip.dv").string());
        std::vector<uint32_t> serials;
        for (const Bytes& f : run.frames)
            serials.push_back(serial_of(f.data()));
        EXPECT_EQ(serials, (std::vector<uint32_t>{0, 1, 3, 4, 5})) << v->name;
        expect_same_frames(run.frames, model_frames(file, true));
    }
}

TEST(ReadDVFrame, GoesOnWithTheSuccessorFiles)
{
    TempDir dir;
    std::mt19937 rng(20);
    Bytes a, b;
    put_frame(a, 1, rng);
    put_frame(a, 2, rng);
    put_garbage(b, 100, rng);
    put_frame(b, 3, rng);
    write_file(dir.path / "SCENE0009.avi", a);
    write_file(dir.path / "SCENE0010.avi", b);
    ReaderRun run = run_reader((dir.path / "SCENE0009.avi").string());
    ASSERT_EQ(run.frames.size(), 3u);
    EXPECT_EQ(serial_of(run.frames[2].data()), 3u);
    const std::string first = (dir.path / "SCENE0009.avi").string();
    const std::string second = (dir.path / "SCENE0010.avi").string();
    EXPECT_EQ(run.console, "\n\n\nReadDVFrame() : (Reading from " + first + ") \nReadDVFrame(): end...(g_ecc_n=0)" +
                               "\n\n\nReadDVFrame() : (Reading from " + second +
                               ") \nReadDVFrame(): end...(g_ecc_n=0)");
    EXPECT_EQ(run.ended, (std::vector<std::string>{first, second}));
    EXPECT_EQ(run.final_name, (dir.path / "SCENE0011.avi").string());
    EXPECT_TRUE(fs::exists(first));   // the reader never deletes: -inplace is brimread's
}

TEST(ReadDVFrame, DigitsCarryIntoTheDirectoryPart)
{
    TempDir dir;
    std::mt19937 rng(21);
    Bytes a, b;
    put_frame(a, 1, rng);
    put_frame(b, 2, rng);
    write_file(dir.path / "tape1" / "DV999999.avi", a);
    write_file(dir.path / "tape2" / "DV000000.avi", b);
    ReaderRun run = run_reader((dir.path / "tape1" / "DV999999.avi").string());
    ASSERT_EQ(run.frames.size(), 2u);
    EXPECT_EQ(serial_of(run.frames[1].data()), 2u);
}

TEST(ReadDVFrame, StopsAfterAnyFrameAndGoesOnAcrossFiles)
{
    TempDir dir;
    std::mt19937 rng(22);
    Bytes a, b;
    put_frame(a, 1, rng);
    put_frame(b, 2, rng);
    put_frame(b, 3, rng);
    write_file(dir.path / "DV000001.avi", a);
    write_file(dir.path / "DV000002.avi", b);
    ReaderRun first = run_reader((dir.path / "DV000001.avi").string(), 2);
    ASSERT_EQ(first.frames.size(), 2u);   // the second frame comes from DV000002.avi
    EXPECT_EQ(first.ended, std::vector<std::string>{(dir.path / "DV000001.avi").string()});
    EXPECT_TRUE(fs::exists(dir.path / "DV000001.avi"));
    ReaderRun rest = run_reader((dir.path / "DV000002.avi").string());
    EXPECT_EQ(rest.frames.size(), 2u);
}

TEST(ReadDVFrame, NameWithoutDigitsEndsTheInputAfterOneFile)
{
    TempDir dir;
    std::mt19937 rng(23);
    Bytes a;
    put_frame(a, 1, rng);
    write_file(dir.path / "capture.avi", a);
    ScopedCwd cwd(dir.path);
    ReaderRun run = run_reader("capture.avi");
    EXPECT_EQ(run.frames.size(), 1u);   // read once, not over and over
    EXPECT_EQ(run.final_name, "capture.avi");
}

TEST(ReadDVFrame, MissingFirstFileEndsAtOnceWithoutMessages)
{
    TempDir dir;
    ReaderRun run = run_reader((dir.path / "DV000001.avi").string());
    EXPECT_EQ(run.frames.size(), 0u);
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(run.log, "");
}

}  // namespace
