// The plane source: header area and data layout of the planes, the per-frame
// facts it fills in, file changeover, and files that changed after planning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "console_log.h"
#include "plan.h"
#include "plane_source.h"
#include "test_support.h"

namespace {

constexpr uint8_t STALE = 0xAA;  // what the plane buffer held before

struct Source {
    EncodePlan plan;
    FrameInfo info{};
    InputSlot slot{};
    std::vector<uint8_t> plane = std::vector<uint8_t>(PLANE_SIZE, STALE);
    std::vector<uint8_t> scan = std::vector<uint8_t>(SCAN_BUFFER_SIZE);
    uint8_t recording_id[RECORDING_ID_SIZE] = {1, 2, 3};
    std::string console;
    ConsoleLogSink sink;

    Source() { EXPECT_TRUE(input_slot_init(&slot, recording_id, scan.data(), &sink)); }
    ~Source() { content_hash_release(&slot.read); }

    int next()
    {
        testing::internal::CaptureStdout();
        const int result = next_plane(plane.data(), &info, &plan, &slot);
        console += testing::internal::GetCapturedStdout();
        return result;
    }
};

// Plans the files at `paths` (stored under `names`) with their current sizes.
void plan_files(Source* source, const std::vector<fs::path>& paths, const std::vector<std::string>& names)
{
    std::vector<PlanInput> inputs;
    for (size_t i = 0; i < paths.size(); i++)
        inputs.push_back({names[i], paths[i].string(), static_cast<int64_t>(fs::file_size(paths[i]))});
    set_plan_defaults(&source->plan);
    build_plan(&source->plan, inputs);
    source->plan.file_current = 1;
}

bool same(const uint8_t* a, const uint8_t* b, size_t count) { return std::memcmp(a, b, count) == 0; }

bool all_bytes(const uint8_t* at, size_t count, uint8_t value)
{
    for (size_t i = 0; i < count; i++)
        if (at[i] != value)
            return false;
    return true;
}

// The header area from `from` on is zero but for the file record.
bool zero_beside_record(const uint8_t* plane, int from)
{
    return all_bytes(plane + from, static_cast<size_t>(FILE_RECORD_OFFSET - from), 0) &&
           all_bytes(plane + FILE_RECORD_OFFSET + FILE_RECORD_SIZE,
                     static_cast<size_t>(HEADER_AREA_SIZE - FILE_RECORD_OFFSET - FILE_RECORD_SIZE), 0);
}

// The record of the first plane `plane` holds `size` and the hash of `bytes`.
void expect_record(const uint8_t* plane, const std::vector<uint8_t>& bytes, uint64_t size)
{
    FileRecord record{};
    ASSERT_EQ(read_file_record(plane, &record), RecordState::VALID);
    EXPECT_EQ(record.size, size);
    EXPECT_TRUE(record.hash == content_hash_of(bytes.data(), bytes.size()));
    EXPECT_EQ(record.recording_id[0], 1);
}

}  // namespace

TEST(PlaneSource, FileOfOneFullFirstPlaneThenTheNextFile)
{
    TempDir tmp;
    const std::vector<uint8_t> a = random_bytes(FIRST_PLANE_DATA, 1);
    const std::vector<uint8_t> b = random_bytes(100, 2);
    write_file(tmp.path / "a", a);
    write_file(tmp.path / "b", b);
    Source source;
    plan_files(&source, {tmp.path / "a", tmp.path / "b"}, {"a.dat", "dir\\b.dat"});

    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.file_index, 1);
    EXPECT_EQ(source.info.file_count, 2);
    EXPECT_EQ(source.info.frame_index, 0);
    EXPECT_EQ(source.info.final_frame, source.plan.file_frames[1] - 1);
    EXPECT_EQ(source.info.bytes_remaining, FIRST_PLANE_DATA);
    EXPECT_STREQ(reinterpret_cast<const char*>(source.plane.data()), "a.dat");
    EXPECT_TRUE(zero_beside_record(source.plane.data(), 5));
    expect_record(source.plane.data(), a, a.size());
    EXPECT_TRUE(same(source.plane.data() + HEADER_AREA_SIZE, a.data(), a.size()));
    EXPECT_EQ(source.plan.file_current, 2);
    EXPECT_EQ(source.slot.open, 0);

    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.file_index, 2);
    EXPECT_EQ(source.info.frame_index, 0);
    EXPECT_EQ(source.info.bytes_remaining, 100);
    EXPECT_STREQ(reinterpret_cast<const char*>(source.plane.data()), "dir\\b.dat");
    EXPECT_TRUE(same(source.plane.data() + HEADER_AREA_SIZE, b.data(), b.size()));
    // Behind a short file's bytes the plane keeps what it held.
    EXPECT_TRUE(same(source.plane.data() + HEADER_AREA_SIZE + 100, a.data() + 100, 1000));
    EXPECT_EQ(source.info.final_frame, source.plan.file_frames[2] - 1);

    // At the end nothing changes.
    const std::vector<uint8_t> before = source.plane;
    const FrameInfo info_before = source.info;
    EXPECT_EQ(source.next(), 0);
    EXPECT_EQ(source.next(), 0);
    EXPECT_EQ(source.plane, before);
    EXPECT_EQ(std::memcmp(&source.info, &info_before, sizeof info_before), 0);
    EXPECT_EQ(source.console, "");
}

TEST(PlaneSource, LaterPlanesCarryTheRemainingBytesFromOffsetZero)
{
    TempDir tmp;
    const std::vector<uint8_t> data = random_bytes(FIRST_PLANE_DATA + PLANE_SIZE + 1, 3);
    write_file(tmp.path / "f", data);
    Source source;
    plan_files(&source, {tmp.path / "f"}, {"f"});

    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.bytes_remaining, static_cast<int64_t>(data.size()));
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.frame_index, 1);
    EXPECT_EQ(source.info.bytes_remaining, PLANE_SIZE + 1);
    EXPECT_TRUE(same(source.plane.data(), data.data() + FIRST_PLANE_DATA, PLANE_SIZE));
    const std::vector<uint8_t> previous = source.plane;

    // Frames inserted by the run (parity, padding) advance the index; data continues after them.
    source.info.frame_index += 8;
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.frame_index, 10);
    EXPECT_EQ(source.info.bytes_remaining, 1);
    EXPECT_EQ(source.plane[0], data.back());
    EXPECT_TRUE(same(source.plane.data() + 1, previous.data() + 1, PLANE_SIZE - 1));
    EXPECT_EQ(source.next(), 0);
}

TEST(PlaneSource, LongestStoredPathFillsThePathField)
{
    TempDir tmp;
    write_file(tmp.path / "f", random_bytes(10, 4));
    const std::string name(MAX_STORED_PATH, 'p');
    Source source;
    plan_files(&source, {tmp.path / "f"}, {name});
    ASSERT_EQ(source.next(), 1);
    EXPECT_TRUE(all_bytes(source.plane.data(), MAX_STORED_PATH, 'p'));
    EXPECT_EQ(source.plane[227], 0);
    EXPECT_EQ(source.plane[228], 0);
    EXPECT_TRUE(zero_beside_record(source.plane.data(), 229));
}

TEST(PlaneSource, FileThatShrankIsPaddedWithZerosToItsPlannedPlanes)
{
    TempDir tmp;
    const std::vector<uint8_t> data = random_bytes(300000, 5);
    write_file(tmp.path / "shrinks", data);
    write_file(tmp.path / "next", random_bytes(10, 6));
    Source source;
    plan_files(&source, {tmp.path / "shrinks", tmp.path / "next"}, {"shrinks", "next"});
    fs::resize_file(tmp.path / "shrinks", 150000);

    ASSERT_EQ(source.next(), 1);
    EXPECT_TRUE(same(source.plane.data() + HEADER_AREA_SIZE, data.data(), FIRST_PLANE_DATA));
    // The record holds the hash of the bytes there are, which the stored bytes
    // padded with zeros do not match: a reader reports the file damaged.
    expect_record(source.plane.data(), std::vector<uint8_t>(data.begin(), data.begin() + 150000), 300000);
    ASSERT_EQ(source.next(), 1);
    EXPECT_TRUE(same(source.plane.data(), data.data() + FIRST_PLANE_DATA, 150000 - FIRST_PLANE_DATA));
    EXPECT_TRUE(all_bytes(source.plane.data() + 150000 - FIRST_PLANE_DATA,
                          PLANE_SIZE - (150000 - FIRST_PLANE_DATA), 0));
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.frame_index, 2);
    EXPECT_EQ(source.info.bytes_remaining, 300000 - FIRST_PLANE_DATA - PLANE_SIZE);
    EXPECT_TRUE(all_bytes(source.plane.data(), 300000 - FIRST_PLANE_DATA - PLANE_SIZE, 0));
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.file_index, 2);
    EXPECT_EQ(source.console, "\nnext_plane() : " + (tmp.path / "shrinks").string() +
                                  " is shorter than when it was listed, padding it with zero bytes!\n");
}

TEST(PlaneSource, FileThatGrewIsReadOnlyToItsPlannedSize)
{
    TempDir tmp;
    const std::vector<uint8_t> data = random_bytes(FIRST_PLANE_DATA + 10, 7);
    write_file(tmp.path / "grows", data);
    Source source;
    plan_files(&source, {tmp.path / "grows"}, {"grows"});
    FILE* append = fopen((tmp.path / "grows").string().c_str(), "ab");
    ASSERT_NE(append, nullptr);
    const std::vector<uint8_t> extra(5000, 0x77);
    fwrite(extra.data(), 1, extra.size(), append);
    fclose(append);

    ASSERT_EQ(source.next(), 1);
    const std::vector<uint8_t> previous = source.plane;
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.bytes_remaining, 10);
    EXPECT_TRUE(same(source.plane.data(), data.data() + FIRST_PLANE_DATA, 10));
    EXPECT_TRUE(same(source.plane.data() + 10, previous.data() + 10, PLANE_SIZE - 10));
    EXPECT_EQ(source.next(), 0);
    expect_record(previous.data(), data, data.size());
    EXPECT_EQ(source.console, "\nnext_plane() : " + (tmp.path / "grows").string() +
                                  " is longer than when it was listed, storing its first " +
                                  std::to_string(data.size()) + " bytes!\n");
}

TEST(PlaneSource, FileChangedWhileItIsEncodedIsNamed)
{
    // Hashed when its first plane is made, then changed before its second is
    // read: the record holds the hash of the bytes before the change, and the
    // file is named.
    TempDir tmp;
    const std::vector<uint8_t> data = random_bytes(FIRST_PLANE_DATA + 5000, 9);
    write_file(tmp.path / "moving", data);
    Source source;
    plan_files(&source, {tmp.path / "moving"}, {"moving"});
    ASSERT_EQ(source.next(), 1);
    expect_record(source.plane.data(), data, data.size());
    std::vector<uint8_t> changed = data;
    changed[FIRST_PLANE_DATA + 10] ^= 1;
    write_file(tmp.path / "moving", changed);
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.console, "\nnext_plane() : " + (tmp.path / "moving").string() +
                                  " changed while it was being stored; it will be reported damaged when restored!\n");
}

TEST(PlaneSource, FileThatVanishedIsWrittenAsZeroPlanes)
{
    TempDir tmp;
    write_file(tmp.path / "gone", random_bytes(FIRST_PLANE_DATA + 20, 8));
    Source source;
    plan_files(&source, {tmp.path / "gone"}, {"gone"});
    fs::remove(tmp.path / "gone");

    ASSERT_EQ(source.next(), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(source.plane.data()), "gone");
    EXPECT_TRUE(all_bytes(source.plane.data() + HEADER_AREA_SIZE, FIRST_PLANE_DATA, 0));
    ASSERT_EQ(source.next(), 1);
    EXPECT_EQ(source.info.bytes_remaining, 20);
    EXPECT_TRUE(all_bytes(source.plane.data(), 20, 0));
    EXPECT_EQ(source.next(), 0);
    EXPECT_EQ(source.console, "\nnext_plane() : cannot open " + (tmp.path / "gone").string() +
                                  " any more (No such file or directory), writing zero bytes in its place!\n");
}

namespace {

// A file planned at `planned` bytes that holds `actual` bytes when it is hashed.
struct ScanCase {
    const char* label;
    int64_t planned;
    int64_t actual;
};

constexpr int64_t CHUNK = SCAN_CHUNK;
constexpr int64_t SHARED = SCAN_SHARED_CHUNKS * CHUNK;   // the smallest file two threads hash

class Scan : public testing::TestWithParam<ScanCase> {};

// Hashed by one thread or by two, every other chunk each, a file gets the same
// record and the same warnings, whichever chunk a change in its size falls in.
TEST_P(Scan, TwoThreadsHashWhatOneThreadHashes)
{
    const ScanCase c = GetParam();
    TempDir tmp;
    const std::vector<uint8_t> data = random_bytes(static_cast<size_t>(std::max(c.planned, c.actual)), 12);
    const fs::path path = tmp.path / "f";
    write_file(path, std::vector<uint8_t>(data.begin(), data.begin() + c.planned));
    std::string consoles[2];
    for (int shared = 0; shared < 2; ++shared) {
        Source source;
        source.slot.shared_scan = shared != 0;
        write_file(path, std::vector<uint8_t>(data.begin(), data.begin() + c.planned));
        plan_files(&source, {path}, {"f"});
        write_file(path, std::vector<uint8_t>(data.begin(), data.begin() + c.actual));
        ASSERT_EQ(source.next(), 1);
        const int64_t hashed = std::min(c.planned, c.actual);
        expect_record(source.plane.data(), std::vector<uint8_t>(data.begin(), data.begin() + hashed),
                      static_cast<uint64_t>(c.planned));
        EXPECT_TRUE(same(source.plane.data() + HEADER_AREA_SIZE, data.data(), FIRST_PLANE_DATA));
        consoles[shared] = source.console;
    }
    EXPECT_EQ(consoles[0], consoles[1]);
    EXPECT_EQ(consoles[0].find("is longer") != std::string::npos, c.actual > c.planned) << consoles[0];
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Scan,
    testing::Values(ScanCase{"below_the_shared_size", SHARED - 1, SHARED - 1}, ScanCase{"shared_size", SHARED, SHARED},
                    ScanCase{"ends_in_an_even_chunk", SHARED + 7, SHARED + 7},
                    ScanCase{"ends_in_an_odd_chunk", SHARED + CHUNK + 7, SHARED + CHUNK + 7},
                    ScanCase{"grew", SHARED, SHARED + 100}, ScanCase{"grew_from_an_odd_chunk", SHARED + CHUNK + 5, SHARED + 2 * CHUNK},
                    ScanCase{"shrank_into_an_even_chunk", SHARED + CHUNK, 2 * CHUNK + 9},
                    ScanCase{"shrank_into_an_odd_chunk", SHARED + CHUNK, 3 * CHUNK + 9},
                    ScanCase{"shrank_to_a_chunk_boundary", SHARED + CHUNK, 3 * CHUNK}),
    [](const testing::TestParamInfo<ScanCase>& i) { return std::string(i.param.label); });

}  // namespace
