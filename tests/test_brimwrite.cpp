// brimwrite end to end: the real program in a temporary directory, its console,
// log and exit status, and the AVI files it writes, read back frame by frame.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "avi_writer.h"
#include "console_log.h"
#include "ecc.h"
#include "encoder.h"
#include "file_record.h"
#include "frame_layout.h"
#include "plan.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

constexpr int EXIT_FAILED = -1;
constexpr int EXIT_COMPLETED = 1;

const char* const USAGE_FIRST =
    "Brimwrite v2.0 BETA - By Tolvane\n"
    "  (Hamming-code ECC by Verrant\n"
    "Usage: Brimwrite [-recurse] [-repeat0 # frames] [-avisize # frames] <input files>\n\n"
    "  -recurse: Search for input files recursively through directories. Note that\n"
    "            entire directory path from the root of the hard drive (excluding\n"
    "            the drive letter is stored.\n"
    "  -repeat0: Specifies number of times to repeat Frame 0 (to guarantee it is\n"
    "            retreived without errors). Defaults to 30, and cannot be set lower\n"
    "\t\t         than 10.  (Do not set higher than 80)\n"
    "  -pal:     Writes 625/50 (PAL) frames from DVFRAME_PAL for PAL camcorders.\n"
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15870,\n"
    "            which is approximately 2 GB. ***DO NOT CHANGE***\n\n"
    "Example: Brimwrite *.mpg\n"
    "Example: Brimwrite file1.mpg file2.mpg\n"
    "Example: Brimwrite -recurse *.mpg\n"
    "Example: Brimwrite -recurse *.ts.*\n"
    "Example: Brimwrite -repeat0 15 hipix.ts.*\n"
    "Example: Brimwrite -avisize 500 hipix.ts.*\n\n"
    "NOTE: PAL Camcorders are not supported at this time.\n"
    "NOTE: Multiple input files on the command line (ie. Brimwrite file*.mpg data*.mpg)\n"
    "      are not supported under Win98 (Although wildcards are)\n";

const char* const USAGE_SECOND =
    "Brimwrite v2.0 BETA - By Tolvane\n\n"
    "Usage: Brimwrite [-recurse] [-repeat0 # frames] [-avisize # frames] <input files>\n\n"
    "  -recurse: Search for input files recursively through directories. Note that\n"
    "            entire directory path from the root of the hard drive (excluding\n"
    "            the drive letter is stored.\n"
    "  -repeat0: Specifies number of times to repeat Frame 0 (to guarantee it is\n"
    "            retreived without errors). Defaults to 30, and cannot be set lower\n"
    "\t\t   than 10.\n"
    "  -pal:     Writes 625/50 (PAL) frames from DVFRAME_PAL for PAL camcorders.\n"
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15984,\n"
    "            which is approximately 2 GB. (Must be divisible by 72!)\n\n"
    "Example: Brimwrite *.mpg\n"
    "Example: Brimwrite file1.mpg file2.mpg\n"
    "Example: Brimwrite -recurse *.mpg\n"
    "Example: Brimwrite -recurse *.ts.*\n"
    "Example: Brimwrite -repeat0 15 hipix.ts.*\n"
    "Example: Brimwrite -avisize 500 hipix.ts.*\n\n"
    "NOTE: PAL Camcorders are not supported at this time.\n"
    "NOTE: Multiple <input files> on the command line (ie. Brimwrite file*.mpg data*.mpg)\n"
    "      are not supported under Win98 (Although wildcards are)\n";

int64_t size_of_planes(int64_t planes) { return FIRST_PLANE_DATA + (planes - 1) * PLANE_SIZE; }

// A log as text, its line ends read as "\n" (Windows writes "\r\n").
std::string read_text(const fs::path& path)
{
    const std::vector<uint8_t> bytes = read_file(path);
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            text += static_cast<char>(bytes[i]);
    return text;
}

uint32_t u32(const uint8_t* at) { return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24; }

RunResult brimwrite(const fs::path& dir, const std::string& arguments)
{
    return run_in(dir, program("brimwrite") + (arguments.empty() ? "" : " " + arguments));
}

// One frame chunk as written, with its header decoded.
struct TapeFrame {
    std::vector<uint8_t> chunk;
    std::vector<uint8_t> plane;
    FrameRecord record;
};

// Reads DV000001.avi .. DV<count>.avi, checking each one's structure: the header
// the writer builds for its frame count, the chunks, and the index.
std::vector<TapeFrame> read_tape(const fs::path& dir, int count, std::vector<uint32_t>* frames_per_file)
{
    std::vector<TapeFrame> frames;
    for (int k = 1; k <= count; k++) {
        char name[AVI_NAME_SIZE];
        avi_file_name(k, name);
        const std::vector<uint8_t> file = read_file(dir / name);
        const uint32_t n = u32(&file[48]);
        frames_per_file->push_back(n);
        EXPECT_EQ(file.size(), 232u + 120024u * n) << name;
        std::vector<uint8_t> header(AVI_HEADER_SIZE);
        avi_build_header(NTSC, static_cast<int32_t>(n), header.data());
        EXPECT_EQ(std::memcmp(header.data(), file.data(), AVI_HEADER_SIZE), 0) << name;
        const uint8_t* index = &file[AVI_HEADER_SIZE + size_t{n} * FRAME_CHUNK_SIZE];
        EXPECT_EQ(std::memcmp(index, "idx1", 4), 0) << name;
        EXPECT_EQ(u32(index + 4), 16 * n) << name;
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t* entry = index + AVI_INDEX_HEADER_SIZE + i * AVI_INDEX_ENTRY_SIZE;
            EXPECT_EQ(std::memcmp(entry, "00dc", 4), 0);
            EXPECT_EQ(u32(entry + 4), 0x10u);
            EXPECT_EQ(u32(entry + 8), 4 + i * FRAME_CHUNK_SIZE);
            EXPECT_EQ(u32(entry + 12), 120000u);
            TapeFrame frame;
            const uint8_t* at = &file[AVI_HEADER_SIZE + size_t{i} * FRAME_CHUNK_SIZE];
            frame.chunk.assign(at, at + FRAME_CHUNK_SIZE);
            frame.plane.resize(PLANE_SIZE);
            unpack_frame(NTSC, at + CHUNK_HEADER_SIZE, frame.plane.data(), &frame.record);
            frames.push_back(std::move(frame));
        }
    }
    char after[AVI_NAME_SIZE];
    avi_file_name(count + 1, after);
    EXPECT_FALSE(fs::exists(dir / after));
    return frames;
}

// The frames that were packed once each: repeated copies of a first frame collapsed.
std::vector<const TapeFrame*> packed_frames(const std::vector<TapeFrame>& frames, int repeat0)
{
    std::vector<const TapeFrame*> packed;
    for (size_t i = 0; i < frames.size();) {
        packed.push_back(&frames[i]);
        if (frames[i].record.frame_index != 0) {
            i++;
            continue;
        }
        for (int copy = 1; copy < repeat0; copy++)
            EXPECT_EQ(frames[i + copy].chunk, frames[i].chunk) << "copy " << copy << " of frame " << i;
        i += static_cast<size_t>(repeat0);
    }
    return packed;
}

// Checks every packed frame's header, the ID cycles, the parity of every ECC
// block, and restores the files from the data planes: name -> contents.
std::map<std::string, std::vector<uint8_t>> restore(const std::vector<const TapeFrame*>& packed, int file_count)
{
    std::map<std::string, std::vector<uint8_t>> files;
    EXPECT_EQ(packed.size() % ECC_N, 0u);
    ECCEncoder ecc{};
    EXPECT_EQ(ecc_encoder_init(&ecc, ECC_PLANE_BYTES), 0);
    std::string name;
    int32_t file_index = 0;
    int32_t expected_index = 0;
    int64_t file_total = 0;
    std::map<int32_t, int32_t> last_index;
    for (size_t k = 0; k < packed.size(); k++) {
        const TapeFrame& frame = *packed[k];
        const FrameRecord& r = frame.record;
        const uint8_t* dv = frame.chunk.data() + CHUNK_HEADER_SIZE;
        EXPECT_EQ(r.magic_ok, 1);
        EXPECT_EQ(r.sum_computed, r.sum_stored);
        EXPECT_EQ(r.file_count, file_count);
        EXPECT_EQ(dv[4], k % 2 == 0 ? 0x68 : 0x78) << k;
        EXPECT_EQ(dv[240], 0x50 + (6 + k) % 12) << k;
        EXPECT_EQ(dv[560], 0x90 + (6 + k) % 12) << k;

        if (r.frame_index == 0) {
            EXPECT_EQ(r.file_index, file_index + 1) << k;
            file_index = r.file_index;
            expected_index = 0;
            name = reinterpret_cast<const char*>(frame.plane.data());
        }
        EXPECT_EQ(r.file_index, file_index) << k;
        EXPECT_EQ(r.frame_index, expected_index++) << k;
        last_index[r.file_index] = r.frame_index;

        const size_t position = k % ECC_N;
        if (position < static_cast<size_t>(ECC_K)) {
            ecc_encoder_enc1(&ecc, frame.plane.data());
            const bool first = r.frame_index == 0;
            const int64_t capacity = first ? FIRST_PLANE_DATA : PLANE_SIZE;
            const int64_t take = r.bytes_remaining < capacity ? r.bytes_remaining : capacity;
            const uint8_t* from = frame.plane.data() + (first ? HEADER_AREA_SIZE : 0);
            std::vector<uint8_t>& contents = files[name];
            if (first)
                file_total = r.bytes_remaining;
            else if (r.bytes_remaining > 0) {
                EXPECT_EQ(r.bytes_remaining, file_total - static_cast<int64_t>(contents.size())) << k;
            }
            contents.insert(contents.end(), from, from + take);
        } else {
            uint8_t* parity = nullptr;
            EXPECT_EQ(ecc_encoder_getp1(&ecc, &parity), 0);
            EXPECT_EQ(std::memcmp(parity, frame.plane.data(), PLANE_SIZE), 0) << "parity frame " << k;
            EXPECT_EQ(r.bytes_remaining, packed[k - 1]->record.bytes_remaining);
        }
    }
    for (const TapeFrame* frame : packed)
        EXPECT_EQ(frame->record.last_frame_index, last_index[frame->record.file_index]);
    ecc_encoder_shutdown(&ecc);
    return files;
}

// ffprobe reads the file as one dvvideo stream with every frame in header,
// demuxed packets and decoded frames; only the decoder's complaints about the
// compressed-video area (which holds file data) may appear as errors.
void expect_ffprobe_reads(const fs::path& dir, const std::string& name, uint32_t frames)
{
    const RunResult probe = run_in(
        dir, "( ffprobe -v error -count_frames -count_packets -show_entries "
             "stream=codec_name,width,height,r_frame_rate,nb_frames,nb_read_packets,nb_read_frames "
             "-of default=nw=1 " + name + " 2>ffprobe.err )");
    const std::string n = std::to_string(frames);
    EXPECT_EQ(probe.output, "codec_name=dvvideo\nwidth=720\nheight=480\nr_frame_rate=30000/1001\nnb_frames=" + n +
                                "\nnb_read_frames=" + n + "\nnb_read_packets=" + n + "\n")
        << name;
    std::istringstream errors(read_text(dir / "ffprobe.err"));
    std::string line;
    while (std::getline(errors, line)) {
        const bool decoder = line.find("[dvvideo @") != std::string::npos;
        const bool repeated = line.find("Last message repeated") != std::string::npos;
        EXPECT_TRUE(decoder || repeated) << name << ": " << line;
    }
    fs::remove(dir / "ffprobe.err");
}

}  // namespace

TEST(BrimwriteStartup, WithoutArgumentsPrintsTheFirstUsageText)
{
    TempDir tmp;
    copy_template(tmp.path);
    const RunResult result = brimwrite(tmp.path, "");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output, USAGE_FIRST);
    EXPECT_FALSE(fs::exists(tmp.path / "Brimwritelog.txt"));
}

TEST(BrimwriteStartup, NoInputFileGivesTheSecondUsageTextAndAnEmptyLog)
{
    TempDir tmp;
    copy_template(tmp.path);
    const RunResult result = brimwrite(tmp.path, shell_quote("*.none"));
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output, std::string("(No input file matches *.none)\n") + USAGE_SECOND);
    ASSERT_TRUE(fs::exists(tmp.path / "Brimwritelog.txt"));
    EXPECT_EQ(fs::file_size(tmp.path / "Brimwritelog.txt"), 0u);

    // Options alone: nothing to list.
    const RunResult options_only = brimwrite(tmp.path, "-recurse -repeat0 5");
    EXPECT_EQ(options_only.status, EXIT_FAILED);
    EXPECT_EQ(options_only.output, USAGE_SECOND);
}

TEST(BrimwriteStartup, TemplateMustBeThereWholeAndRight)
{
    TempDir tmp;
    write_file(tmp.path / "in.bin", random_bytes(1000, 1));
    RunResult result = brimwrite(tmp.path, "in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output, "Cannot find DVFRAME_NTSC File!\n");
    EXPECT_FALSE(fs::exists(tmp.path / "Brimwritelog.txt"));

    copy_template(tmp.path);
    std::vector<uint8_t> frame = read_file(tmp.path / "DVFRAME_NTSC");
    write_file(tmp.path / "DVFRAME_NTSC", std::vector<uint8_t>(frame.begin(), frame.end() - 100));
    result = brimwrite(tmp.path, "in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output, "DVFRAME_NTSC is too short: 119908 of 120008 bytes!\n");

    frame[CHUNK_HEADER_SIZE + 3] = 0xBF;  // a 625/50 header block
    write_file(tmp.path / "DVFRAME_NTSC", frame);
    result = brimwrite(tmp.path, "in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output.rfind("DVFRAME_NTSC is not a usable template frame: ", 0), 0u) << result.output;

    // With -pal the 625/50 template is the one read, and a 525/60 one will not do.
    result = brimwrite(tmp.path, "-pal in.bin");
    EXPECT_EQ(result.output, "Cannot find DVFRAME_PAL File!\n");
    copy_template(tmp.path);
    fs::copy_file(tmp.path / "DVFRAME_NTSC", tmp.path / "DVFRAME_PAL");
    result = brimwrite(tmp.path, "-pal in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_EQ(result.output, "DVFRAME_PAL is too short: 120008 of 144008 bytes!\n");
    EXPECT_FALSE(fs::exists(tmp.path / "Brimwritelog.txt"));
    EXPECT_FALSE(fs::exists(tmp.path / "DV000001.avi"));

    // And the 625/50 one writes 625/50 frames, the template never stored.
    copy_template(tmp.path, PAL);
    result = brimwrite(tmp.path, "-pal in.bin DVFRAME_PAL");
    EXPECT_EQ(result.status, 1) << result.output;
    const std::vector<uint8_t> avi = read_file(tmp.path / "DV000001.avi");
    ASSERT_GT(avi.size(), 224u + CHUNK_HEADER_SIZE + 4);
    EXPECT_EQ(avi[224 + CHUNK_HEADER_SIZE + 3], 0xBF);
    EXPECT_EQ((avi.size() - 224 - 8) % (PAL.chunk_size + 16), 0u);
    EXPECT_NE(result.output.find("Input File[1] in.bin"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Input File[2]"), std::string::npos) << result.output;
}

TEST(BrimwriteStartup, OptionValuesAreCheckedBeforeAnythingIsWritten)
{
    TempDir tmp;
    copy_template(tmp.path);
    write_file(tmp.path / "in.bin", random_bytes(1000, 2));
    const struct {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"-repeat0", "-repeat0 needs a number of frames after it!\n"},
        {"-avisize", "-avisize needs a number of frames after it!\n"},
        {"-avisize 0 in.bin", "-avisize 0 is out of range: an AVI file holds 1 to 35713 frames!\n"},
        {"-avisize abc in.bin", "-avisize 0 is out of range: an AVI file holds 1 to 35713 frames!\n"},
        {"-avisize -5 in.bin", "-avisize -5 is out of range: an AVI file holds 1 to 35713 frames!\n"},
        {"-avisize 35714 in.bin", "-avisize 35714 is out of range: an AVI file holds 1 to 35713 frames!\n"},
        {"-pal -avisize 29751 in.bin", "-avisize 29751 is out of range: an AVI file holds 1 to 29750 frames!\n"},
    };
    for (const auto& c : cases) {
        const RunResult result = brimwrite(tmp.path, c.arguments);
        EXPECT_EQ(result.status, EXIT_FAILED) << c.arguments;
        EXPECT_EQ(result.output, c.message) << c.arguments;
        EXPECT_FALSE(fs::exists(tmp.path / "Brimwritelog.txt")) << c.arguments;
        EXPECT_FALSE(fs::exists(tmp.path / "DV000001.avi")) << c.arguments;
    }
}

TEST(BrimwriteRun, FileOfTheOverviewFromConsoleToTape)
{
    TempDir tmp;
    copy_template(tmp.path);
    const std::vector<uint8_t> movie = random_bytes(250000, 3);
    write_file(tmp.path / "movie.mpg", movie);

    const RunResult result = brimwrite(tmp.path, "movie.mpg");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    std::string parity;
    for (int i = 64; i < 72; i++)
        parity += "\nEncoding parity " + std::to_string(i);
    EXPECT_EQ(result.output, "\nfindfiles() : rounding up AVIfile[1] from ecc_k = 3\n"
                             "Input File[1] movie.mpg: 250000 Bytes -> 101 Frames\n"
                             "AVI File 1: 101 Frames\n"
                             "(Frame 0 Repeated 30 times)\n"
                             "\n(@ f#0) Encoding movie.mpg(Outputting to DV000001.avi).."
                             "\nflush_eccblock( ecc_k=3 ) : starting (CAVIFcnt=32)"
                             "\nflush_eccblock() : padding file to ECC_block boundary! (ecc_pctr=3)" +
                                 parity +
                                 "\nCloseAVIfile() : closing AVIfile[1] at frame#101!"
                                 "\n\nDone!\n\n"
                                 "\nECC_encoder wrote 1 blocks! (1block = 72 AVIframes)");
    EXPECT_EQ(read_text(tmp.path / "Brimwritelog.txt"),
              "Input File[1] movie.mpg: 250000 Bytes -> 101 Frames\n"
              "AVI File 1: 101 Frames\n"
              "(Frame 0 Repeated 30 times)\n"
              "\n(@ f#0) Encoding movie.mpg.."
              "\n\nDone!\n\n"
              "\nECC_encoder wrote 1 blocks! (1block = 72 AVIframes)");

    std::vector<uint32_t> per_file;
    const std::vector<TapeFrame> frames = read_tape(tmp.path, 1, &per_file);
    ASSERT_EQ(per_file, std::vector<uint32_t>({101}));
    const std::vector<uint8_t> templ = read_file(bin_dir() / "DVFRAME_NTSC");
    for (const TapeFrame& frame : frames)
        EXPECT_EQ(std::memcmp(frame.chunk.data(), templ.data(), CHUNK_HEADER_SIZE), 0);

    const std::vector<const TapeFrame*> packed = packed_frames(frames, 30);
    ASSERT_EQ(packed.size(), 72u);
    const int64_t remaining[] = {250000, 250000 - FIRST_PLANE_DATA, 46016};
    for (size_t k = 0; k < packed.size(); k++) {
        EXPECT_EQ(packed[k]->record.bytes_remaining, k < 3 ? remaining[k] : 0) << k;
        EXPECT_EQ(packed[k]->record.last_frame_index, 71);
        EXPECT_EQ(packed[k]->record.file_index, 1);
        if (k >= 3 && k < 64) {
            EXPECT_EQ(packed[k]->plane, std::vector<uint8_t>(PLANE_SIZE, 0)) << k;
        }
    }
    const uint8_t* area = packed[0]->plane.data();
    EXPECT_STREQ(reinterpret_cast<const char*>(area), "movie.mpg");
    // Behind the path only the file record: the content hash and size of the
    // file, and the ID whose tag every frame of the recording carries.
    for (int i = 9; i < HEADER_AREA_SIZE; i++)
        if (i < FILE_RECORD_OFFSET || i >= FILE_RECORD_OFFSET + FILE_RECORD_SIZE) {
            ASSERT_EQ(area[i], 0) << i;
        }
    FileRecord record{};
    ASSERT_EQ(read_file_record(area, &record), RecordState::VALID);
    EXPECT_EQ(record.size, movie.size());
    EXPECT_TRUE(record.hash == content_hash_of(movie.data(), movie.size()));
#ifndef _WIN32
    EXPECT_EQ(record.mode, static_cast<uint32_t>(fs::status(tmp.path / "movie.mpg").permissions()) & 07777u);
#endif
    const uint16_t tag = recording_tag(record.recording_id);
    for (const TapeFrame& frame : frames)
        EXPECT_EQ(frame.record.recording_tag, tag);
    const auto files = restore(packed, 1);
    ASSERT_EQ(files.count("movie.mpg"), 1u);
    EXPECT_TRUE(files.at("movie.mpg") == movie);

    if (have_program("ffprobe"))
        expect_ffprobe_reads(tmp.path, "DV000001.avi", 101);
    if (have_program("ffmpeg")) {
        // A stream copy into a new AVI file keeps every frame byte for byte.
        const RunResult remux = run_in(tmp.path, "ffmpeg -v error -i DV000001.avi -c copy -f avi remux.avi");
        ASSERT_EQ(remux.status, 0) << remux.output;
        const std::vector<uint8_t> copy = read_file(tmp.path / "remux.avi");
        size_t found = 0;
        for (size_t at = 0; at + FRAME_CHUNK_SIZE <= copy.size(); at++) {
            if (std::memcmp(&copy[at], "00dc", 4) != 0 || u32(&copy[at + 4]) != 120000u)
                continue;
            ASSERT_LT(found, frames.size());
            EXPECT_EQ(std::memcmp(&copy[at + 8], frames[found].chunk.data() + 8, DV_FRAME_SIZE), 0) << found;
            found++;
            at += FRAME_CHUNK_SIZE - 1;
        }
        EXPECT_EQ(found, frames.size());
    }
}

TEST(BrimwriteRun, SeveralFilesAcrossEccBlocksAndAviFiles)
{
    TempDir tmp;
    copy_template(tmp.path);
    const std::vector<uint8_t> a = random_bytes(static_cast<size_t>(size_of_planes(20)), 4);
    const std::vector<uint8_t> b = random_bytes(static_cast<size_t>(size_of_planes(50) - 7), 5);
    const std::vector<uint8_t> c = random_bytes(1, 6);
    write_file(tmp.path / "a.bin", a);
    write_file(tmp.path / "b.bin", b);
    write_file(tmp.path / "sub" / "c.bin", c);

    const std::string sub_c = (fs::path("sub") / "c.bin").string();
    const RunResult result = brimwrite(tmp.path, "-repeat0 4 -avisize 23 " + sub_c + " " + shell_quote("*.bin"));
    EXPECT_EQ(result.status, EXIT_COMPLETED) << result.output;
    const std::string report = "Input File[1] a.bin: " + std::to_string(a.size()) + " Bytes -> 23 Frames\n"
                               "Input File[2] b.bin: " + std::to_string(b.size()) + " Bytes -> 61 Frames\n"
                               "Input File[3] sub\\c.bin: 1 Bytes -> 69 Frames\n"
                               "AVI File 1: 23 Frames\nAVI File 2: 23 Frames\nAVI File 3: 23 Frames\n"
                               "AVI File 4: 84 Frames\n(Frame 0 Repeated 4 times)\n";
    EXPECT_EQ(result.output.rfind("\nfindfiles() : rounding up AVIfile[4] from ecc_k = 7\n" + report, 0), 0u)
        << result.output;
    // A file whose first frame begins an AVI file starts at position 0 there.
    EXPECT_NE(result.output.find("\n(@ f#0) Encoding a.bin(Outputting to DV000001.avi)"), std::string::npos);
    EXPECT_NE(result.output.find("\n(@ f#0) Encoding b.bin(Outputting to DV000002.avi)"), std::string::npos);
    EXPECT_NE(result.output.find("\n(@ f#15) Encoding sub\\c.bin"), std::string::npos);
    EXPECT_NE(result.output.find("\nECC_encoder wrote 2 blocks! (1block = 72 AVIframes)"), std::string::npos);
    const std::string log = read_text(tmp.path / "Brimwritelog.txt");
    EXPECT_EQ(log.rfind(report, 0), 0u);

    std::vector<uint32_t> per_file;
    const std::vector<TapeFrame> frames = read_tape(tmp.path, 4, &per_file);
    EXPECT_EQ(per_file, std::vector<uint32_t>({23, 23, 23, 84}));
    const std::vector<const TapeFrame*> packed = packed_frames(frames, 4);
    ASSERT_EQ(packed.size(), 2u * ECC_N);
    const auto files = restore(packed, 3);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_TRUE(files.at("a.bin") == a);
    EXPECT_TRUE(files.at("b.bin") == b);
    EXPECT_TRUE(files.at("sub\\c.bin") == c);
    // The parity of the first block follows b.bin's 44th plane and carries its identity.
    EXPECT_EQ(packed[64]->record.file_index, 2);
    EXPECT_EQ(packed[64]->record.frame_index, 44);
    EXPECT_EQ(packed[72]->record.frame_index, 52);
    EXPECT_EQ(packed[72]->record.last_frame_index, 49 + 8);

    if (have_program("ffprobe")) {
        for (int k = 1; k <= 4; k++) {
            char name[AVI_NAME_SIZE];
            avi_file_name(k, name);
            expect_ffprobe_reads(tmp.path, name, per_file[static_cast<size_t>(k - 1)]);
        }
    }
}

TEST(BrimwriteRun, RepeatCountsAndOptionsAfterThePattern)
{
    TempDir tmp;
    copy_template(tmp.path);
    write_file(tmp.path / "data.dat", random_bytes(5000, 7));

    RunResult result = brimwrite(tmp.path, "-repeat0 5 data.dat -recurse");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    EXPECT_EQ(result.output.rfind("(No input file matches -recurse)\n", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("Input File[1] data.dat: 5000 Bytes -> 76 Frames\n"), std::string::npos);
    EXPECT_EQ(result.output.find("Warning"), std::string::npos);
    std::vector<uint32_t> per_file;
    EXPECT_EQ(packed_frames(read_tape(tmp.path, 1, &per_file), 5).size(), 72u);

    result = brimwrite(tmp.path, "-repeat0 2 data.dat");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    EXPECT_EQ(result.output.rfind("(Warning: -repeat0 2 is below 4: the decoder needs 4 agreeing copies of each "
                                  "file's first frame to restore the file)\n",
                                  0),
              0u)
        << result.output;
    per_file.clear();
    EXPECT_EQ(packed_frames(read_tape(tmp.path, 1, &per_file), 2).size(), 72u);

    result = brimwrite(tmp.path, "-repeat0 -3 data.dat");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    EXPECT_EQ(result.output.rfind("(Warning: -repeat0 -3 writes no copy of any file's first frame: the files "
                                  "cannot be restored)\n",
                                  0),
              0u)
        << result.output;
    EXPECT_NE(result.output.find("AVI File 1: 71 Frames\n(Frame 0 Repeated 0 times)\n"), std::string::npos);
    EXPECT_NE(result.output.find("closing AVIfile[1] at frame#71!"), std::string::npos);
    per_file.clear();
    const std::vector<TapeFrame> frames = read_tape(tmp.path, 1, &per_file);
    ASSERT_EQ(frames.size(), 71u);
    EXPECT_EQ(frames[0].record.frame_index, 1);
    EXPECT_EQ(frames[0].record.last_frame_index, 71);
}

TEST(BrimwriteRun, RunEndingOnABlockBoundaryNeedsNoPadding)
{
    TempDir tmp;
    copy_template(tmp.path);
    const std::vector<uint8_t> data = random_bytes(static_cast<size_t>(size_of_planes(ECC_K)), 10);
    write_file(tmp.path / "block.bin", data);
    const RunResult result = brimwrite(tmp.path, "-repeat0 4 block.bin");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    EXPECT_EQ(result.output.find("rounding up"), std::string::npos);
    EXPECT_EQ(result.output.find("flush_eccblock"), std::string::npos);
    EXPECT_NE(result.output.find("AVI File 1: 75 Frames\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("\nECC_encoder wrote 1 blocks!"), std::string::npos);
    std::vector<uint32_t> per_file;
    const auto files = restore(packed_frames(read_tape(tmp.path, 1, &per_file), 4), 1);
    EXPECT_TRUE(files.at("block.bin") == data);
}

// Sets (or with null clears) the recording ID the programs started next take.
static void set_recording_id(const char* hex) { set_environment("BRIM_RECORDING_ID", hex); }

TEST(BrimwriteRun, EveryRunIsARecordingOfItsOwnUnlessItsIdIsGiven)
{
    // Two runs over the same file: their recordings carry different tags, so
    // a reader never mixes their frames; with BRIM_RECORDING_ID the same bytes.
    TempDir tmp;
    copy_template(tmp.path);
    write_file(tmp.path / "same.bin", random_bytes(5000, 11));
    std::vector<std::vector<uint8_t>> avis;
    std::vector<std::string> outputs;
    for (const char* id : {static_cast<const char*>(nullptr), static_cast<const char*>(nullptr),
                           "0123456789abcdef0123456789ABCDEF", "0123456789abcdef0123456789ABCDEF"}) {
        set_recording_id(id);
        // The last run does everything on one thread: the same files and words.
        if (avis.size() == 3)
            set_environment("BRIM_THREADS", "1");
        const RunResult r = brimwrite(tmp.path, "-avisize 20 same.bin");
        ASSERT_EQ(r.status, EXIT_COMPLETED);
        avis.push_back(read_file(tmp.path / "DV000001.avi"));
        const std::vector<uint8_t> second = read_file(tmp.path / "DV000002.avi");
        avis.back().insert(avis.back().end(), second.begin(), second.end());
        outputs.push_back(r.output + read_text(tmp.path / "Brimwritelog.txt"));
    }
    set_recording_id(nullptr);
    set_environment("BRIM_THREADS", nullptr);
    EXPECT_NE(avis[0], avis[1]);
    EXPECT_EQ(avis[2], avis[3]);
    EXPECT_EQ(outputs[2], outputs[3]);
    std::vector<uint32_t> per_file;
    const std::vector<TapeFrame> frames = read_tape(tmp.path, 2, &per_file);
    const uint8_t id[RECORDING_ID_SIZE] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                           0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    EXPECT_EQ(frames.front().record.recording_tag, recording_tag(id));
}

TEST(BrimwriteRun, RecursiveRunStoresPathsFromTheRoot)
{
    TempDir tmp;
    copy_template(tmp.path);
    write_file(tmp.path / "sub" / "deep" / "r.bin", random_bytes(3000, 8));
    const RunResult result = brimwrite(tmp.path, "-recurse -repeat0 4 r.bin");
    EXPECT_EQ(result.status, EXIT_COMPLETED);
    // The path from the root, without a drive.
    const fs::path file = fs::canonical(tmp.path) / "sub" / "deep" / "r.bin";
    std::string stored = (file.root_directory() / file.relative_path()).string();
    for (char& ch : stored)
        if (ch == '/')
            ch = '\\';
    EXPECT_NE(result.output.find("Input File[1] " + stored + ": 3000 Bytes -> 75 Frames\n"), std::string::npos)
        << result.output;
    std::vector<uint32_t> per_file;
    const std::vector<TapeFrame> frames = read_tape(tmp.path, 1, &per_file);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(frames[0].plane.data())), stored);
}

TEST(BrimwriteRun, OutputThatCannotBeWrittenStopsTheRun)
{
    TempDir tmp;
    copy_template(tmp.path);
    write_file(tmp.path / "in.bin", random_bytes(300000, 9));
    fs::create_directory(tmp.path / "DV000001.avi");
    RunResult result = brimwrite(tmp.path, "in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_NE(result.output.find("\nwrite_avi_frame() : cannot create DV000001.avi: "), std::string::npos)
        << result.output;
#ifndef _WIN32
    EXPECT_NE(result.output.find("DV000001.avi: Is a directory\n"), std::string::npos) << result.output;
#endif
    EXPECT_EQ(result.output.find("Done!"), std::string::npos);

    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    fs::remove(tmp.path / "DV000001.avi");
    fs::create_symlink("/dev/full", tmp.path / "DV000001.avi");
    result = brimwrite(tmp.path, "in.bin");
    EXPECT_EQ(result.status, EXIT_FAILED);
    EXPECT_NE(result.output.find("DV000001.avi: No space left on device\n"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Done!"), std::string::npos);
}

// The encoder itself, driven in-process: a run that cannot go on stops with the
// reason on the console and in the log, and never claims to be done.
namespace {

struct EncoderInDirectory {
    explicit EncoderInDirectory(const fs::path& dir) : previous(fs::current_path())
    {
        fs::current_path(dir);
        write_file("in.bin", random_bytes(1000, 12));
        log = fopen("log.txt", "w");
        sink.set_log(log);
        EXPECT_TRUE(encoder_init(encoder.get(), &sink));
        testing::internal::CaptureStdout();
        findfiles(&encoder->plan, {"in.bin"}, &sink);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(encoder->plan.file_count, 1);
        EXPECT_TRUE(encoder_start(encoder.get()));
    }
    ~EncoderInDirectory() { fs::current_path(previous); }

    // Runs the encoder and expects it to stop with `reason` on the console and in the log.
    void expect_stop(const std::string& reason)
    {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(encode_run(encoder.get()));
        const std::string console = testing::internal::GetCapturedStdout();
        sink.set_log(nullptr);
        fclose(log);
        const std::string log_text = read_text("log.txt");
        EXPECT_NE(console.find(reason), std::string::npos) << console;
        EXPECT_NE(log_text.find(reason), std::string::npos) << log_text;
        EXPECT_EQ(console.find("Done!"), std::string::npos);
    }

    fs::path previous;
    FILE* log = nullptr;
    ConsoleLogSink sink;
    std::unique_ptr<Encoder> encoder = std::make_unique<Encoder>();
};

}  // namespace

TEST(EncoderStops, WhenTheEccEncoderRefusesAPlane)
{
    TempDir tmp;
    EncoderInDirectory in(tmp.path);
    ASSERT_EQ(ecc_encoder_shutdown(&in.encoder->ecc), 0);  // the ECC encoder is left without its planes
    in.expect_stop("ecc_clear_parityplanes() : pParityPlanes == NULL!\n");
    // The refused plane is not written.
    EXPECT_FALSE(fs::exists(tmp.path / "DV000001.avi"));
}

TEST(EncoderStops, WhenAnAviFileIsLeftWithoutItsIndex)
{
    TempDir tmp;
    EncoderInDirectory in(tmp.path);
    in.encoder->plan.avi_frames[1]++;  // a plan that counts one frame too many
    in.expect_stop("\nmain() : FATAL, AVIfile[1] still open at frame#101!");
}
