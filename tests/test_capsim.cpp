// capsim, the capture simulator: each fault is made on a small recording and the
// output is scanned the way the decoder finds frames, to check that it holds
// exactly what capsim's report says.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "avi_writer.h"
#include "frame_layout.h"
#include "frame_reader.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

constexpr int TEST_FRAMES = 24;
constexpr int FIRST_FILE_FRAMES = 10;  // the recording is spread over two AVI files
constexpr uint8_t STA_COPIED = 0x2;
constexpr int STA_QNO_BYTE = 3;
constexpr int AUDIO_CHUNK_MIN = 8 + 1600 * 4;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

void put_le32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The frames of a small brimwrite recording: every frame packed from its own
// random plane, with frame_index equal to its position.
struct Recording {
    std::vector<std::vector<uint8_t>> dv;  // DV_FRAME_SIZE bytes each
};

const Recording& recording()
{
    static Recording rec = [] {
        Recording r;
        std::vector<uint8_t> buffer = read_file(bin_dir() / "DVFRAME_NTSC");
        EXPECT_EQ(buffer.size(), static_cast<size_t>(FRAME_CHUNK_SIZE));
        buffer.resize(FRAME_CHUNK_SIZE);
        FrameInfo info{};
        std::memcpy(info.magic, FRAME_HEADER_MAGIC, 4);
        info.file_index = 1;
        info.file_count = 1;
        info.final_frame = TEST_FRAMES - 1;
        info.dif_toggle = DIF_TOGGLE_A;
        info.vaux_id = VAUX_ID_START;
        info.audio_id = AUDIO_ID_START;
        info.video_id = VIDEO_ID_START;
        for (int n = 0; n < TEST_FRAMES; ++n) {
            std::vector<uint8_t> plane = random_bytes(PLANE_SIZE, 1000 + n);
            info.frame_index = n;
            info.bytes_remaining = static_cast<int64_t>(TEST_FRAMES - n) * PLANE_SIZE;
            pack_frame(NTSC, plane.data(), &info, 1, buffer.data());
            r.dv.emplace_back(buffer.begin() + CHUNK_HEADER_SIZE, buffer.end());
        }
        return r;
    }();
    return rec;
}

// Writes frames [first, last) as a brimwrite AVI file: its header, the frame
// chunks, the index.
void write_brim_avi(const fs::path& path, int first, int last)
{
    const int n = last - first;
    std::vector<uint8_t> out(AVI_HEADER_SIZE);
    avi_build_header(NTSC, n, out.data());
    for (int i = first; i < last; ++i) {
        out.insert(out.end(), FRAME_CHUNK_ID, FRAME_CHUNK_ID + 4);
        put_le32(out, DV_FRAME_SIZE);
        out.insert(out.end(), recording().dv[i].begin(), recording().dv[i].end());
    }
    out.insert(out.end(), {'i', 'd', 'x', '1'});
    put_le32(out, 16 * n);
    for (int i = 0; i < n; ++i) {
        out.insert(out.end(), FRAME_CHUNK_ID, FRAME_CHUNK_ID + 4);
        put_le32(out, 0x10);
        put_le32(out, 4 + FRAME_CHUNK_SIZE * i);
        put_le32(out, DV_FRAME_SIZE);
    }
    write_file(path, out);
}

// A temporary directory holding the recording as DV000001.avi and DV000002.avi.
struct Recorded {
    TempDir dir;
    Recorded()
    {
        write_brim_avi(dir.path / "DV000001.avi", 0, FIRST_FILE_FRAMES);
        write_brim_avi(dir.path / "DV000002.avi", FIRST_FILE_FRAMES, TEST_FRAMES);
    }
    RunResult capsim(const std::string& options) const
    {
        return run_in(dir.path, program("capsim") + " " + options + " DV000001.avi DV000002.avi");
    }
};

// A frame as the decoder's search finds it in a capture file.
struct Found {
    size_t chunk_offset;  // offset of the chunk header in its file
    std::vector<uint8_t> dv;
    int complete;  // 0 when the file ends inside the frame
};

// Scans like the frame reader: the first sync match, then on behind that frame.
std::vector<Found> scan_file(const std::vector<uint8_t>& bytes)
{
    std::vector<Found> found;
    size_t i = 0;
    while (i + SYNC_LENGTH <= bytes.size()) {
        if (!masked_match(bytes.data(), SYNC_PATTERNS[0], SYNC_MASK, SYNC_LENGTH, static_cast<int>(i))) {
            ++i;
            continue;
        }
        const size_t start = i + CHUNK_HEADER_SIZE;
        const size_t end = std::min(bytes.size(), start + DV_FRAME_SIZE);
        found.push_back({i, std::vector<uint8_t>(bytes.begin() + start, bytes.begin() + end),
                         end - start == static_cast<size_t>(DV_FRAME_SIZE)});
        i = start + DV_FRAME_SIZE;
    }
    return found;
}

// The complete frames of the numbered capture files from `first` on.
std::vector<std::vector<uint8_t>> scan_capture(const fs::path& dir, std::string first, int* files = nullptr)
{
    std::vector<std::vector<uint8_t>> frames;
    int count = 0;
    for (; fs::exists(dir / first); ++count) {
        for (Found& f : scan_file(read_file(dir / first)))
            if (f.complete)
                frames.push_back(std::move(f.dv));
        successor_name(&first[0]);
    }
    if (files)
        *files = count;
    return frames;
}

// Input frame numbers that the frames in `frames` are exact copies of (-1 when none).
std::vector<int> identify(const std::vector<std::vector<uint8_t>>& frames)
{
    std::vector<int> numbers;
    for (const auto& f : frames) {
        int number = -1;
        for (int n = 0; n < TEST_FRAMES && number < 0; ++n)
            if (f == recording().dv[n])
                number = n;
        numbers.push_back(number);
    }
    return numbers;
}

std::vector<int> range(int first, int last)
{
    std::vector<int> v;
    for (int n = first; n <= last; ++n)
        v.push_back(n);
    return v;
}

std::vector<std::string> lines_starting(const std::string& output, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    return lines;
}

// The sequence of frames that a report promises: every frame in [first, last]
// that was not dropped, twice when repeated.
std::vector<int> expected_from_report(const std::string& output, int first, int last)
{
    std::vector<int> dropped(TEST_FRAMES), repeated(TEST_FRAMES);
    for (const auto& l : lines_starting(output, "dropped "))
        dropped.at(std::stoi(l.substr(8))) = 1;
    for (const auto& l : lines_starting(output, "repeated "))
        repeated.at(std::stoi(l.substr(9))) = 1;
    std::vector<int> seq;
    for (int n = first; n <= last; ++n) {
        if (dropped[n])
            continue;
        seq.push_back(n);
        if (repeated[n])
            seq.push_back(n);
    }
    return seq;
}

// Chunks of one AVI file, walked by the RIFF structure.
struct Chunk {
    std::string id;
    size_t offset;  // of the chunk header
    uint32_t length;
};

std::vector<Chunk> movi_chunks(const std::vector<uint8_t>& f, size_t* movi_type, size_t* index_at)
{
    std::vector<Chunk> chunks;
    size_t at = 12;
    *movi_type = 0;
    *index_at = 0;
    while (at + 8 <= f.size()) {
        std::string id(f.begin() + at, f.begin() + at + 4);
        uint32_t length = le32(&f[at + 4]);
        if (id == "LIST" && std::string(f.begin() + at + 8, f.begin() + at + 12) == "movi") {
            *movi_type = at + 8;
            at += 12;
            continue;
        }
        if (id == "idx1")
            *index_at = at;
        if (*movi_type && !*index_at)
            chunks.push_back({id, at, length});
        at += 8 + length + (length & 1);
    }
    return chunks;
}

// Checks that `f` is a complete capture AVI: lengths, an audio chunk behind
// every frame chunk, and an index that points at every chunk. Returns the frames.
int check_avi_structure(const std::vector<uint8_t>& f)
{
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
    EXPECT_EQ(le32(&f[4]), f.size() - 8);
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 12), "AVI ");
    size_t movi_type, index_at;
    std::vector<Chunk> chunks = movi_chunks(f, &movi_type, &index_at);
    EXPECT_NE(movi_type, 0u);
    EXPECT_NE(index_at, 0u);
    EXPECT_EQ(le32(&f[movi_type - 4]), index_at - movi_type);
    EXPECT_EQ(chunks.size() % 2, 0u);
    int frames = 0;
    for (size_t i = 0; i + 1 < chunks.size(); i += 2) {
        EXPECT_EQ(chunks[i].id, "00dc");
        EXPECT_EQ(chunks[i].length, static_cast<uint32_t>(DV_FRAME_SIZE));
        EXPECT_EQ(chunks[i + 1].id, "01wb");
        EXPECT_TRUE(chunks[i + 1].length == 6400 || chunks[i + 1].length == 6408) << chunks[i + 1].length;
        ++frames;
    }
    const uint32_t index_length = le32(&f[index_at + 4]);
    EXPECT_EQ(index_length, 16 * chunks.size());
    EXPECT_EQ(index_at + 8 + index_length, f.size());
    for (size_t e = 0; e < chunks.size() && index_at + 8 + 16 * e + 16 <= f.size(); ++e) {
        const uint8_t* entry = &f[index_at + 8 + 16 * e];
        EXPECT_EQ(std::string(entry, entry + 4), chunks[e].id);
        EXPECT_EQ(le32(entry + 8) + movi_type, chunks[e].offset);
        EXPECT_EQ(le32(entry + 12), chunks[e].length);
    }
    return frames;
}

std::string summary_line(const std::string& output)
{
    std::vector<std::string> s = lines_starting(output, "summary ");
    return s.empty() ? "" : s.back();
}

// Payload blocks of `a` and `b` that differ, by index in plane order.
std::vector<int> differing_payload_blocks(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    std::vector<int> blocks;
    for (int i = 0; i < PAYLOAD_BLOCKS; ++i) {
        const int off = PAYLOAD_BLOCK_FRAME_OFFSETS[i];
        if (std::memcmp(&a[off], &b[off], DIF_BLOCK_SIZE) != 0)
            blocks.push_back(i);
    }
    return blocks;
}

// Bytes of `a` and `b` that differ outside the payload blocks.
int differing_other_bytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    std::vector<uint8_t> payload(DV_FRAME_SIZE);
    for (int i = 0; i < PAYLOAD_BLOCKS; ++i)
        std::memset(&payload[PAYLOAD_BLOCK_FRAME_OFFSETS[i]], 1, DIF_BLOCK_SIZE);
    int count = 0;
    for (int i = 0; i < DV_FRAME_SIZE; ++i)
        count += !payload[i] && a[i] != b[i];
    return count;
}

}  // namespace

TEST(Capsim, CleanCaptureHoldsEveryFrameInACompleteAvi)
{
    Recorded s;
    RunResult r = s.capsim("");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(identify(scan_capture(s.dir.path, "SCENE0001.avi")), range(0, TEST_FRAMES - 1));
    std::vector<uint8_t> f = read_file(s.dir.path / "SCENE0001.avi");
    EXPECT_EQ(check_avi_structure(f), TEST_FRAMES);
    EXPECT_FALSE(fs::exists(s.dir.path / "SCENE0002.avi"));
    EXPECT_EQ(lines_starting(r.output, "wrote "),
              std::vector<std::string>{"wrote SCENE0001.avi frames 24 bytes " + std::to_string(f.size())});
    EXPECT_EQ(summary_line(r.output),
              "summary read 24 written 24 dropped 0 repeated 0 damaged 0 concealed 0 header-damaged 0 "
              "frameheader-damaged 0 garbage 0 files 1 seed 1");
    // The capture's own output is a valid input too.
    RunResult again = run_in(s.dir.path, program("capsim") + " -o AGAIN01.avi SCENE0001.avi");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(identify(scan_capture(s.dir.path, "AGAIN01.avi")), range(0, TEST_FRAMES - 1));
}

TEST(Capsim, FfprobeReadsBothStreams)
{
    if (!have_program("ffprobe"))
        GTEST_SKIP() << "ffprobe is not installed";
    Recorded s;
    ASSERT_EQ(s.capsim("-split 1m").status, 0);
    for (const char* name : {"SCENE0001.avi", "SCENE0003.avi"}) {
        RunResult probe = run_in(s.dir.path, "ffprobe -v error -count_packets -show_entries "
                                             "stream=codec_type,codec_name,width,height,sample_rate,channels,"
                                             "nb_read_packets -of compact " +
                                                 std::string(name));
        ASSERT_EQ(probe.status, 0) << probe.output;
        EXPECT_NE(probe.output.find("codec_name=dvvideo|codec_type=video|width=720|height=480"), std::string::npos)
            << probe.output;
        EXPECT_NE(probe.output.find("codec_name=pcm_s16le|codec_type=audio|sample_rate=48000|channels=2"),
                  std::string::npos)
            << probe.output;
        const size_t frames = check_avi_structure(read_file(s.dir.path / name));
        EXPECT_NE(probe.output.find("nb_read_packets=" + std::to_string(frames)), std::string::npos)
            << probe.output;
    }
}

TEST(Capsim, ExplicitDropsAndRepeats)
{
    Recorded s;
    RunResult r = s.capsim("-drop 3,7-9,23 -dup 5,12 -dup 0");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(lines_starting(r.output, "dropped "),
              (std::vector<std::string>{"dropped 3", "dropped 7", "dropped 8", "dropped 9", "dropped 23"}));
    EXPECT_EQ(lines_starting(r.output, "repeated "),
              (std::vector<std::string>{"repeated 0", "repeated 5", "repeated 12"}));
    std::vector<int> expected = {0, 0, 1, 2, 4, 5, 5, 6, 10, 11, 12, 12};
    for (int n = 13; n <= 22; ++n)
        expected.push_back(n);
    EXPECT_EQ(identify(scan_capture(s.dir.path, "SCENE0001.avi")), expected);
    EXPECT_EQ(expected_from_report(r.output, 0, TEST_FRAMES - 1), expected);
    EXPECT_EQ(check_avi_structure(read_file(s.dir.path / "SCENE0001.avi")), 22);
}

TEST(Capsim, RandomFaultsFollowTheReportAndTheSeed)
{
    Recorded s;
    const std::string faults = "-rdrop 0.1 -rburst 0.08 -burst-max 3 -rdup 0.15 -rgarbage 0.2 -rdamage 0.1 ";
    RunResult a = s.capsim(faults + "-seed 7 -o A0001.avi");
    RunResult b = s.capsim(faults + "-seed 7 -o B0001.avi");
    RunResult c = s.capsim(faults + "-seed 8 -o C0001.avi");
    ASSERT_EQ(a.status, 0) << a.output;
    ASSERT_EQ(b.status, 0);
    ASSERT_EQ(c.status, 0);
    auto strip_names = [](std::string out) {
        for (const char* from : {"A0001", "B0001", "C0001"})
            for (size_t p; (p = out.find(from)) != std::string::npos;)
                out.replace(p, 5, "X0001");
        return out;
    };
    EXPECT_EQ(strip_names(a.output), strip_names(b.output));
    EXPECT_EQ(read_file(s.dir.path / "A0001.avi"), read_file(s.dir.path / "B0001.avi"));
    EXPECT_NE(strip_names(a.output), strip_names(c.output));
    EXPECT_FALSE(lines_starting(a.output, "dropped ").empty()) << a.output;
    EXPECT_FALSE(lines_starting(a.output, "repeated ").empty()) << a.output;

    for (const RunResult* run : {&a, &c}) {
        const std::string first = run == &a ? "A0001.avi" : "C0001.avi";
        std::vector<int> expected = expected_from_report(run->output, 0, TEST_FRAMES - 1);
        std::vector<int> found = identify(scan_capture(s.dir.path, first));
        // Damaged frames are no exact copies; the report names them.
        std::vector<int> damaged(TEST_FRAMES);
        for (const auto& l : lines_starting(run->output, "damaged "))
            damaged.at(std::stoi(l.substr(8))) = 1;
        ASSERT_EQ(found.size(), expected.size()) << run->output;
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(found[i], damaged[expected[i]] ? -1 : expected[i]) << "position " << i;
    }
}

TEST(Capsim, DamagedPayloadBlocksDiffer)
{
    Recorded s;
    RunResult r = s.capsim("-damage 4,17 -damage-blocks 5");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(lines_starting(r.output, "damaged "),
              (std::vector<std::string>{"damaged 4 payload-blocks 5", "damaged 17 payload-blocks 5"}));
    std::vector<std::vector<uint8_t>> frames = scan_capture(s.dir.path, "SCENE0001.avi");
    ASSERT_EQ(frames.size(), static_cast<size_t>(TEST_FRAMES));
    for (int n = 0; n < TEST_FRAMES; ++n) {
        const auto& original = recording().dv[n];
        if (n != 4 && n != 17) {
            EXPECT_EQ(frames[n], original) << n;
            continue;
        }
        std::vector<int> hit = differing_payload_blocks(frames[n], original);
        EXPECT_EQ(hit.size(), 5u) << n;
        EXPECT_EQ(differing_other_bytes(frames[n], original), 0);
        for (int b : hit) {
            const int off = PAYLOAD_BLOCK_FRAME_OFFSETS[b];
            EXPECT_EQ(std::memcmp(&frames[n][off], &original[off], PAYLOAD_BLOCK_OFFSET), 0) << "DIF ID kept";
        }
        std::vector<uint8_t> plane(PLANE_SIZE);
        FrameRecord rec{};
        unpack_frame(NTSC, frames[n].data(), plane.data(), &rec);
        EXPECT_EQ(rec.magic_ok, 1);
        EXPECT_EQ(rec.frame_index, n);
        EXPECT_NE(rec.sum_computed, rec.sum_stored);
    }
    // A different block count hits that many blocks.
    RunResult many = s.capsim("-damage 2 -damage-blocks 1349 -o M0001.avi");
    ASSERT_EQ(many.status, 0) << many.output;
    frames = scan_capture(s.dir.path, "M0001.avi");
    ASSERT_EQ(frames.size(), static_cast<size_t>(TEST_FRAMES));
    EXPECT_EQ(differing_payload_blocks(frames[2], recording().dv[2]).size(), static_cast<size_t>(PAYLOAD_BLOCKS));
}

TEST(Capsim, ConcealedBlocksComeFromThePreviousFrame)
{
    Recorded s;
    for (int sta = 0; sta <= 1; ++sta) {
        const std::string name = sta ? "STA0001.avi" : "PLAIN0001.avi";
        RunResult r = s.capsim(std::string(sta ? "-sta " : "") + "-conceal 0,6,10 -conceal-blocks 4 -drop 5 -o " + name);
        ASSERT_EQ(r.status, 0) << r.output;
        // Frame 0 has no previous frame to conceal from.
        EXPECT_EQ(lines_starting(r.output, "concealed "),
                  (std::vector<std::string>{"concealed 6 blocks 4", "concealed 10 blocks 4"}));
        std::vector<std::vector<uint8_t>> frames = scan_capture(s.dir.path, name);
        ASSERT_EQ(frames.size(), static_cast<size_t>(TEST_FRAMES - 1));
        EXPECT_EQ(frames[0], recording().dv[0]);
        // Frame 6 follows the dropped frame 5: the camcorder still played frame 5.
        for (int n : {6, 10}) {
            const auto& got = frames[n - 1];
            const auto& original = recording().dv[n];
            const auto& previous = recording().dv[n - 1];
            std::vector<int> hit = differing_payload_blocks(got, original);
            ASSERT_EQ(hit.size(), 4u) << n;
            EXPECT_EQ(differing_other_bytes(got, original), 0);
            for (int b : hit) {
                const int off = PAYLOAD_BLOCK_FRAME_OFFSETS[b];
                EXPECT_EQ(std::memcmp(&got[off], &original[off], STA_QNO_BYTE), 0) << "DIF ID kept";
                EXPECT_EQ(std::memcmp(&got[off + PAYLOAD_BLOCK_OFFSET], &previous[off + PAYLOAD_BLOCK_OFFSET],
                                      PAYLOAD_BLOCK_BYTES),
                          0);
                const uint8_t sta_qno = got[off + STA_QNO_BYTE];
                const uint8_t before = previous[off + STA_QNO_BYTE];
                const int expected = sta ? (STA_COPIED << 4) | (before & 0x0F) : before;
                EXPECT_EQ(sta_qno, expected);
            }
        }
    }
}

TEST(Capsim, DamagedDvHeaderHidesTheFrame)
{
    Recorded s;
    RunResult r = s.capsim("-hdamage 2,11 -damage 11");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(lines_starting(r.output, "header-damaged "),
              (std::vector<std::string>{"header-damaged 2", "header-damaged 11"}));
    std::vector<int> expected = range(0, TEST_FRAMES - 1);
    expected.erase(expected.begin() + 11);
    expected.erase(expected.begin() + 2);
    EXPECT_EQ(identify(scan_capture(s.dir.path, "SCENE0001.avi")), expected);
    // The chunks are still there, only not findable.
    EXPECT_EQ(check_avi_structure(read_file(s.dir.path / "SCENE0001.avi")), TEST_FRAMES);
}

TEST(Capsim, FrameHeaderCopiesHit)
{
    Recorded s;
    for (int copies = 1; copies <= 3; ++copies) {
        const std::string name = "FH" + std::to_string(copies) + "0001.avi";
        RunResult r = s.capsim("-fhdamage 3,8-9 -fh-copies " + std::to_string(copies) + " -seed " +
                               std::to_string(copies) + " -o " + name);
        ASSERT_EQ(r.status, 0) << r.output;
        std::vector<std::string> lines = lines_starting(r.output, "frameheader-damaged ");
        ASSERT_EQ(lines.size(), 3u) << r.output;
        std::vector<std::vector<uint8_t>> frames = scan_capture(s.dir.path, name);
        ASSERT_EQ(frames.size(), static_cast<size_t>(TEST_FRAMES));
        int line = 0;
        for (int n : {3, 8, 9}) {
            const std::string prefix =
                "frameheader-damaged " + std::to_string(n) + " copies " + std::to_string(copies) + " hit ";
            ASSERT_EQ(lines[line].compare(0, prefix.size(), prefix), 0) << lines[line];
            const std::string hit_list = lines[line++].substr(prefix.size());
            const auto& got = frames[n];
            const auto& original = recording().dv[n];
            int hits = 0;
            for (int c = 0; c < 3; ++c) {
                const int off = FRAME_HEADER_FRAME_OFFSET + FRAME_HEADER_COPY_OFFSETS[c];
                const bool listed = hit_list.find(std::to_string(c + 1)) != std::string::npos;
                const bool changed = std::memcmp(&got[off], &original[off], FRAME_HEADER_SIZE) != 0;
                EXPECT_EQ(listed, changed) << "frame " << n << " copy " << c + 1 << ": " << hit_list;
                hits += changed;
            }
            EXPECT_EQ(hits, copies);
            EXPECT_EQ(differing_payload_blocks(got, original).size(), 0u);
            std::vector<uint8_t> plane(PLANE_SIZE);
            FrameRecord rec{};
            unpack_frame(NTSC, got.data(), plane.data(), &rec);
            if (copies == 1) {
                // One bad copy is always outvoted.
                EXPECT_EQ(rec.magic_ok, 1);
                EXPECT_EQ(rec.frame_index, n);
            }
        }
    }
}

TEST(Capsim, GarbageBetweenFrames)
{
    Recorded s;
    for (int raw = 0; raw <= 1; ++raw) {
        const std::string name = raw ? "G0001.dv" : "G0001.avi";
        RunResult r = s.capsim(std::string(raw ? "-raw " : "") + "-garbage 0,2,5 -garbage-max 3000 -o " + name);
        ASSERT_EQ(r.status, 0) << r.output;
        std::vector<std::string> lines = lines_starting(r.output, "garbage-before ");
        ASSERT_EQ(lines.size(), 3u);
        std::vector<uint8_t> f = read_file(s.dir.path / name);
        const size_t data_start = raw ? 0 : 2048;
        const size_t frame_step = raw ? DV_FRAME_SIZE : FRAME_CHUNK_SIZE;
        size_t at = data_start;
        int line = 0;
        for (int n = 0; n < TEST_FRAMES; ++n) {
            size_t garbage = 0;
            if (n == 0 || n == 2 || n == 5) {
                const std::string prefix = "garbage-before " + std::to_string(n) + " bytes ";
                ASSERT_EQ(lines[line].compare(0, prefix.size(), prefix), 0) << lines[line];
                garbage = std::stoul(lines[line++].substr(prefix.size()));
                EXPECT_GE(garbage, 1u);
                EXPECT_LE(garbage, 3000u);
                for (size_t i = at; i < at + garbage; ++i)
                    ASSERT_NE(f[i], '0') << "garbage must not imitate a chunk id";
            }
            at += garbage;
            const size_t dv = at + (raw ? 0 : CHUNK_HEADER_SIZE);
            ASSERT_LE(dv + DV_FRAME_SIZE, f.size());
            EXPECT_TRUE(std::equal(recording().dv[n].begin(), recording().dv[n].end(), f.begin() + dv)) << n;
            at += frame_step;
            if (!raw)
                at += 8 + le32(&f[at + 4]);  // the audio chunk
        }
        if (raw) {
            EXPECT_EQ(at, f.size());
        } else {
            EXPECT_EQ(identify(scan_capture(s.dir.path, name)), range(0, TEST_FRAMES - 1));
        }
    }
}

TEST(Capsim, SplitFilesCountUpAndStayComplete)
{
    Recorded s;
    const int64_t limit = 500000;
    RunResult r = s.capsim("-split " + std::to_string(limit) + " -o CAP0099.avi -dup 4");
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> wrote = lines_starting(r.output, "wrote ");
    const char* names[] = {"CAP0099.avi", "CAP0100.avi", "CAP0101.avi", "CAP0102.avi",
                           "CAP0103.avi", "CAP0104.avi", "CAP0105.avi"};
    // 3 frames with audio and index fit in 500,000 bytes, 4 do not: 25 frames make 9 files.
    ASSERT_EQ(wrote.size(), 9u) << r.output;
    int total = 0;
    std::string name = "CAP0099.avi";
    for (size_t i = 0; i < wrote.size(); ++i) {
        if (i < sizeof names / sizeof names[0]) {
            EXPECT_EQ(name, names[i]);
        }
        std::vector<uint8_t> f = read_file(s.dir.path / name);
        EXPECT_LE(static_cast<int64_t>(f.size()), limit);
        const int frames = check_avi_structure(f);
        EXPECT_EQ(frames, i + 1 < wrote.size() ? 3 : 1);
        EXPECT_EQ(wrote[i], "wrote " + name + " frames " + std::to_string(frames) + " bytes " +
                                std::to_string(f.size()));
        total += frames;
        successor_name(&name[0]);
    }
    EXPECT_EQ(total, TEST_FRAMES + 1);
    EXPECT_FALSE(fs::exists(s.dir.path / name));
    std::vector<int> expected = range(0, TEST_FRAMES - 1);
    expected.insert(expected.begin() + 4, 4);
    int files = 0;
    EXPECT_EQ(identify(scan_capture(s.dir.path, "CAP0099.avi", &files)), expected);
    EXPECT_EQ(files, 9);

    // A split size below one frame still puts one frame in every file.
    RunResult tiny = s.capsim("-split 1 -o ONE01.avi -first 20");
    ASSERT_EQ(tiny.status, 0) << tiny.output;
    EXPECT_EQ(lines_starting(tiny.output, "wrote ").size(), 4u);
    EXPECT_EQ(identify(scan_capture(s.dir.path, "ONE01.avi")), range(20, 23));
    // A shorter capture under the same names warns of the file it leaves behind.
    RunResult shorter = s.capsim("-split 1 -o ONE01.avi -first 22");
    ASSERT_EQ(shorter.status, 0) << shorter.output;
    EXPECT_NE(shorter.output.find("warning: ONE03.avi"), std::string::npos) << shorter.output;
}

TEST(Capsim, RawDvStream)
{
    Recorded s;
    RunResult r = s.capsim("-raw -split 250000 -drop 1");
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<int> expected = range(0, TEST_FRAMES - 1);
    expected.erase(expected.begin() + 1);
    std::string name = "capture0001.dv";
    size_t frame = 0;
    for (int file = 0; file < 12; ++file) {
        std::vector<uint8_t> f = read_file(s.dir.path / name);
        ASSERT_EQ(f.size(), file < 11 ? 240000u : 120000u) << name;
        for (size_t at = 0; at < f.size(); at += DV_FRAME_SIZE, ++frame)
            EXPECT_TRUE(std::equal(f.begin() + at, f.begin() + at + DV_FRAME_SIZE,
                                   recording().dv[expected[frame]].begin()));
        successor_name(&name[0]);
    }
    EXPECT_FALSE(fs::exists(s.dir.path / name));
    EXPECT_EQ(frame, expected.size());
    // A raw stream is a valid input too.
    RunResult again = run_in(s.dir.path, program("capsim") + " -o R01.avi capture0001.dv capture0002.dv");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(identify(scan_capture(s.dir.path, "R01.avi")), (std::vector<int>{0, 2, 3, 4}));
}

TEST(Capsim, LastFileCutMidFrame)
{
    Recorded s;
    RunResult r = s.capsim("-split 400000 -cut 5000 -last 20");
    ASSERT_EQ(r.status, 0) << r.output;
    // 21 frames, 3 to a file: the seventh file holds frames 18..20, the last one cut.
    const fs::path last = s.dir.path / "SCENE0007.avi";
    std::vector<uint8_t> f = read_file(last);
    std::vector<Found> found = scan_file(f);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_FALSE(found[2].complete);
    EXPECT_EQ(found[2].chunk_offset + 5000, f.size());
    EXPECT_EQ(lines_starting(r.output, "cut "),
              std::vector<std::string>{"cut SCENE0007.avi at " + std::to_string(f.size()) + " frame 20"});
    EXPECT_EQ(lines_starting(r.output, "wrote SCENE0007.avi"),
              std::vector<std::string>{"wrote SCENE0007.avi frames 3 bytes " + std::to_string(f.size())});
    EXPECT_FALSE(fs::exists(s.dir.path / "SCENE0008.avi"));
    EXPECT_EQ(identify(scan_capture(s.dir.path, "SCENE0001.avi")), range(0, 19));
    EXPECT_TRUE(std::equal(found[2].dv.begin(), found[2].dv.end(), recording().dv[20].begin()));
}

TEST(Capsim, CaptureStartsAndEndsMidRecording)
{
    Recorded s;
    RunResult r = s.capsim("-first 7 -last 15 -drop 2,7 -dup 15");
    ASSERT_EQ(r.status, 0) << r.output;
    // Faults named outside the captured range do not happen.
    EXPECT_EQ(lines_starting(r.output, "dropped "), std::vector<std::string>{"dropped 7"});
    EXPECT_EQ(identify(scan_capture(s.dir.path, "SCENE0001.avi")), (std::vector<int>{8, 9, 10, 11, 12, 13, 14, 15, 15}));
    EXPECT_NE(summary_line(r.output).find("summary read 16 written 9 dropped 1 repeated 1 "), std::string::npos)
        << r.output;
}

TEST(Capsim, BadArgumentsAndInputs)
{
    Recorded s;
    RunResult help = run_in(s.dir.path, program("capsim") + " -h");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: capsim"), std::string::npos);
    for (const char* bad : {"", "-drop 5-3 DV000001.avi", "-drop 1,,2 DV000001.avi", "-rdrop 1.5 DV000001.avi",
                            "-rdrop x DV000001.avi", "-frobnicate DV000001.avi", "-split 3x DV000001.avi",
                            "-split 3g DV000001.avi", "-fh-copies 4 DV000001.avi", "-damage-blocks 0 DV000001.avi",
                            "-cut 144008 DV000001.avi", "-first 5 -last 4 DV000001.avi", "-seed"}) {
        RunResult r = run_in(s.dir.path, program("capsim") + " " + bad);
        EXPECT_EQ(r.status, 2) << bad << "\n" << r.output;
        EXPECT_NE(r.output.find("Usage: capsim"), std::string::npos) << bad;
    }
    RunResult missing = run_in(s.dir.path, program("capsim") + " DV000001.avi NOPE.avi");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot open NOPE.avi"), std::string::npos) << missing.output;

    write_file(s.dir.path / "text.txt", std::vector<uint8_t>(200, 'x'));
    RunResult foreign = run_in(s.dir.path, program("capsim") + " text.txt");
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.output.find("neither an AVI file nor a DV stream"), std::string::npos);

    // The capture never overwrites its input, even through the numbered names.
    RunResult clash = run_in(s.dir.path, program("capsim") + " -split 1 -o DV000000.avi DV000001.avi");
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.output.find("would overwrite an input"), std::string::npos) << clash.output;
    EXPECT_EQ(read_file(s.dir.path / "DV000001.avi").size(), 232u + 120024u * FIRST_FILE_FRAMES);

    RunResult no_digits = run_in(s.dir.path, program("capsim") + " -split 1 -o capture.avi DV000001.avi");
    EXPECT_EQ(no_digits.status, 1);
    EXPECT_NE(no_digits.output.find("no digits"), std::string::npos) << no_digits.output;
}

TEST(Capsim, DamagedInputsNeverCrash)
{
    Recorded s;
    std::vector<uint8_t> f = read_file(s.dir.path / "DV000001.avi");
    // Cut inside the fourth frame: three frames come through.
    write_file(s.dir.path / "cut.avi", std::vector<uint8_t>(f.begin(), f.begin() + 224 + 3 * FRAME_CHUNK_SIZE + 999));
    RunResult cut = run_in(s.dir.path, program("capsim") + " -o CUT01.avi cut.avi");
    EXPECT_EQ(cut.status, 0) << cut.output;
    EXPECT_NE(cut.output.find("cut short"), std::string::npos);
    EXPECT_EQ(identify(scan_capture(s.dir.path, "CUT01.avi")), range(0, 2));

    // Chunk lengths that point anywhere, including past the end.
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::vector<uint8_t> bad = f;
        std::vector<uint8_t> noise = random_bytes(64, seed);
        for (int i = 0; i < 16; ++i) {
            size_t at = (static_cast<size_t>(noise[i * 4]) << 16 | noise[i * 4 + 1] << 8 | noise[i * 4 + 2]) % 2000;
            if (i % 4 == 0)
                at = 224 + FRAME_CHUNK_SIZE * (noise[i * 4 + 3] % FIRST_FILE_FRAMES) + 4;  // a chunk length
            bad[at] = noise[i * 4 + 3];
        }
        write_file(s.dir.path / "bad.avi", bad);
        RunResult r = run_in(s.dir.path, program("capsim") + " -o BAD01.avi -rdamage 0.5 -rgarbage 0.5 bad.avi");
        // Either a capture of what could be read, or a plain refusal; never a crash.
        EXPECT_TRUE(r.status == 0 || (r.status == 1 && r.output.rfind("capsim: ", 0) == 0)) << r.output;
        EXPECT_EQ(r.output.find("Sanitizer"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("runtime error"), std::string::npos) << r.output;
    }
    write_file(s.dir.path / "empty.avi", {});
    RunResult empty = run_in(s.dir.path, program("capsim") + " -o E01.avi empty.avi");
    EXPECT_EQ(empty.status, 1);
}

TEST(Capsim, BrimwriteRecordingThroughAFaultyCapture)
{
    TempDir dir;
    copy_template(dir.path);
    const std::vector<uint8_t> data = random_bytes(300000, 99);
    write_file(dir.path / "data.bin", data);
    RunResult w = run_in(dir.path, program("brimwrite") + " -repeat0 10 -avisize 5 data.bin");
    ASSERT_EQ(w.status, 1) << w.output;
    ASSERT_TRUE(fs::exists(dir.path / "DV000003.avi")) << w.output;
    const std::string inputs = " DV000001.avi DV000002.avi DV000003.avi";

    // A clean capture carries every frame of the recording unchanged.
    RunResult clean = run_in(dir.path, program("capsim") + " -split 3m" + inputs);
    ASSERT_EQ(clean.status, 0) << clean.output;
    std::vector<std::vector<uint8_t>> in = scan_capture(dir.path, "DV000001.avi");
    EXPECT_EQ(in.size(), 10u + 71u);  // 10 copies of frame 0, then the rest of one padded ECC block
    EXPECT_TRUE(in == scan_capture(dir.path, "SCENE0001.avi"));
    EXPECT_NE(summary_line(clean.output).find("read 81 written 81"), std::string::npos) << clean.output;

    // The decoder restores the file from a capture with a drop, a repeat, garbage
    // and a damaged frame, which the parity frames make good.
    RunResult faulty = run_in(dir.path, program("capsim") +
                                            " -split 3m -drop 15 -dup 20 -garbage 30 -damage 34 -o TAPE0001.avi" +
                                            inputs);
    ASSERT_EQ(faulty.status, 0) << faulty.output;
    fs::create_directory(dir.path / "restore");
    RunResult r = run_in(dir.path / "restore", program("brimread") + " ../TAPE0001.avi");
    ASSERT_TRUE(fs::exists(dir.path / "restore" / "data.bin")) << r.output;
    EXPECT_TRUE(read_file(dir.path / "restore" / "data.bin") == data) << r.output;
}
