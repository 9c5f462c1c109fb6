// The template frame: its chunk header and the DV bytes the frame reader needs,
// the validator, the mkdvframe tool, and ffmpeg decoding it as an outside
// reference (a black 720x480 NTSC picture with silent 48 kHz stereo audio; the
// 625/50 template a black 720x576 picture at 25 frames a second).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dv_template.h"
#include "frame_layout.h"
#include "test_support.h"
#include "test_geometry.h"

namespace {

constexpr int SEQUENCE_BYTES = DIF_BLOCKS_PER_SEQUENCE * DIF_BLOCK_SIZE;

std::vector<uint8_t> template_chunk()
{
    std::vector<uint8_t> chunk(FRAME_CHUNK_SIZE);
    build_template_frame(NTSC, chunk.data());
    return chunk;
}

std::vector<uint8_t> dv_bytes(const std::vector<uint8_t>& chunk)
{
    return std::vector<uint8_t>(chunk.begin() + CHUNK_HEADER_SIZE, chunk.end());
}

TEST(TemplateFrame, ChunkHeaderAndSignatureBytes)
{
    std::vector<uint8_t> chunk = template_chunk();
    const uint8_t header[8] = {'0', '0', 'd', 'c', 0xC0, 0xD4, 0x01, 0x00};
    EXPECT_EQ(0, std::memcmp(chunk.data(), header, 8));
    const uint8_t dv_start[8] = {0x1F, 0x07, 0x00, 0x3F, 0x68, 0x78, 0x78, 0x78};
    EXPECT_EQ(0, std::memcmp(chunk.data() + CHUNK_HEADER_SIZE, dv_start, 8));

    const char* problem = "unset";
    EXPECT_EQ(check_template_frame(NTSC, chunk.data(), &problem), 1);
    EXPECT_EQ(problem, nullptr);
    EXPECT_EQ(check_template_frame(NTSC, chunk.data(), nullptr), 1);
}

TEST(TemplateFrame, BlockIdsFollowTheSectionLayout)
{
    std::vector<uint8_t> dv = dv_bytes(template_chunk());
    for (int s = 0; s < DIF_SEQUENCES; ++s) {
        int audio = 0, video = 0;
        for (int b = 0; b < DIF_BLOCKS_PER_SEQUENCE; ++b) {
            const uint8_t* block = dv.data() + s * SEQUENCE_BYTES + b * DIF_BLOCK_SIZE;
            uint8_t type;
            int number;
            if (b == 0) {
                type = 0x10, number = 0;
            } else if (b <= 2) {
                type = 0x30, number = b - 1;
            } else if (b <= 5) {
                type = 0x50, number = b - 3;
            } else if ((b - 6) % 16 == 0) {
                type = 0x70, number = audio++;
            } else {
                type = 0x90, number = video++;
            }
            ASSERT_EQ(block[0] & 0xF0, type) << "sequence " << s << " block " << b;
            ASSERT_EQ(block[1], (s << 4) | 0x07) << "sequence " << s << " block " << b;
            ASSERT_EQ(block[2], number) << "sequence " << s << " block " << b;
        }
        EXPECT_EQ(audio, 9);
        EXPECT_EQ(video, 135);
    }
    // The ID nibbles the packer starts from.
    EXPECT_EQ(dv[3 * DIF_BLOCK_SIZE], VAUX_ID_START);
    EXPECT_EQ(dv[6 * DIF_BLOCK_SIZE], AUDIO_ID_START);
    EXPECT_EQ(dv[7 * DIF_BLOCK_SIZE], VIDEO_ID_START);
}

TEST(TemplateFrame, PacksWhereDecodersLookForThem)
{
    std::vector<uint8_t> dv = dv_bytes(template_chunk());
    for (int s = 0; s < DIF_SEQUENCES; ++s) {
        const uint8_t* seq = dv.data() + s * SEQUENCE_BYTES;
        bool even = s % 2 == 0;
        // Video source and control: block 5 slots 9, 10 in even sequences, block 3 slots 0, 1 in odd.
        const uint8_t* vsource = even ? seq + 5 * DIF_BLOCK_SIZE + 3 + 9 * 5 : seq + 3 * DIF_BLOCK_SIZE + 3;
        EXPECT_EQ(vsource[0], 0x60) << "sequence " << s;
        EXPECT_EQ(vsource[3] & 0x3F, 0x00) << "60-field system type 0, sequence " << s;
        EXPECT_EQ(vsource[5], 0x61) << "sequence " << s;
        // Audio source and control: audio blocks 3, 4 in even sequences, 0, 1 in odd.
        int source_block = even ? 3 : 0;
        const uint8_t* asource = seq + (6 + 16 * source_block) * DIF_BLOCK_SIZE + 3;
        const uint8_t* acontrol = asource + 16 * DIF_BLOCK_SIZE;
        EXPECT_EQ(asource[0], 0x50) << "sequence " << s;
        EXPECT_EQ(asource[1] & 0x3F, 20) << "1,580 + 20 samples, sequence " << s;
        EXPECT_EQ(acontrol[0], 0x51) << "sequence " << s;
        // Time code in the subcode.
        EXPECT_EQ(seq[DIF_BLOCK_SIZE + 6], 0x13) << "sequence " << s;
    }
}

TEST(TemplateValidator, RejectsEveryByteTheReaderNeeds)
{
    const std::vector<uint8_t> good = template_chunk();
    const int required[] = {0, 1, 4, 5, 6, 7, 8 + 1, 8 + 2, 8 + 3, 8 + 5, 8 + 6, 8 + 7};
    for (int offset : required) {
        std::vector<uint8_t> bad = good;
        bad[offset] ^= 0x01;
        const char* problem = nullptr;
        EXPECT_EQ(check_template_frame(NTSC, bad.data(), &problem), 0) << "chunk byte " << offset;
        ASSERT_NE(problem, nullptr);
        EXPECT_GT(std::strlen(problem), 0u);
    }
    // Not examined by the reader: the last two chunk id characters, DV bytes 0 and 4.
    const int free_bytes[] = {2, 3, 8 + 0, 8 + 4};
    for (int offset : free_bytes) {
        std::vector<uint8_t> other = good;
        other[offset] ^= 0x01;
        EXPECT_EQ(check_template_frame(NTSC, other.data(), nullptr), 1) << "chunk byte " << offset;
    }
}

TEST(Mkdvframe, WritesTheTemplateBytes)
{
    const std::vector<uint8_t> expected = template_chunk();
    EXPECT_EQ(read_file(bin_dir() / "DVFRAME_NTSC"), expected);

    TempDir dir;
    RunResult r = run_in(dir.path, shell_quote(program("mkdvframe")));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir.path / "DVFRAME_NTSC"), expected);

    // An existing file is replaced, not appended to.
    r = run_in(dir.path, shell_quote(program("mkdvframe")) + " other.bin");
    EXPECT_EQ(r.status, 0) << r.output;
    r = run_in(dir.path, shell_quote(program("mkdvframe")) + " other.bin");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir.path / "other.bin"), expected);
}

TEST(Mkdvframe, UsageAndFailures)
{
    TempDir dir;
    for (const char* help : {"-h", "--help"}) {
        RunResult r = run_in(dir.path, shell_quote(program("mkdvframe")) + " " + help);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.output.find("Usage: mkdvframe"), std::string::npos) << r.output;
    }
    RunResult r = run_in(dir.path, shell_quote(program("mkdvframe")) + " a b");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Usage: mkdvframe"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(dir.path / "a"));
    EXPECT_FALSE(fs::exists(dir.path / "DVFRAME_NTSC"));

    r = run_in(dir.path, shell_quote(program("mkdvframe")) + " no_such_dir/DVFRAME_NTSC");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("no_such_dir/DVFRAME_NTSC"), std::string::npos) << r.output;
}

// ffprobe's "key=value" lines of one section kind, in order.
std::vector<std::map<std::string, std::string>> probe_streams(const std::string& output)
{
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line == "[STREAM]")
            streams.emplace_back();
        size_t eq = line.find('=');
        if (!streams.empty() && eq != std::string::npos)
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

// What a decoder must see in each system's template.
struct SystemPicture {
    const char* name;
    const VideoSystem* system;
    const char* pix_fmt;
    int height;
    size_t samples;          // per channel
    const char* frame_rate;
};
const SystemPicture NTSC_PICTURE = {"525/60", &SYSTEM_525_60, "yuv411p", 480, 1600, "30000/1001"};
const SystemPicture PAL_PICTURE = {"625/50", &SYSTEM_625_50, "yuv420p", 576, 1920, "25/1"};

std::vector<uint8_t> template_dv(const SystemPicture& p)
{
    std::vector<uint8_t> chunk(static_cast<size_t>(p.system->chunk_size));
    build_template_frame(*p.system, chunk.data());
    return dv_bytes(chunk);
}

// Decodes `dv` with ffmpeg and checks the picture and the sound.
void expect_black_and_silent(const std::vector<uint8_t>& dv, const char* what, const SystemPicture& p = NTSC_PICTURE)
{
    SCOPED_TRACE(what);
    TempDir dir;
    write_file(dir.path / "t.dv", dv);
    RunResult r = run_in(dir.path, std::string("ffmpeg -nostdin -v error -f dv -i t.dv -map 0:v -f rawvideo -pix_fmt ") +
                                       p.pix_fmt + " picture.yuv -map 0:a -f s16le sound.pcm");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");

    std::vector<uint8_t> picture = read_file(dir.path / "picture.yuv");
    const size_t luma = 720 * static_cast<size_t>(p.height);
    ASSERT_EQ(picture.size(), luma * 3 / 2);  // exactly one 4:1:1 (4:2:0) picture
    int bad_luma = 0, bad_chroma = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
        int expected = i < luma ? 16 : 128;
        if (std::abs(picture[i] - expected) > 1)
            ++(i < luma ? bad_luma : bad_chroma);
    }
    EXPECT_EQ(bad_luma, 0);
    EXPECT_EQ(bad_chroma, 0);

    std::vector<uint8_t> sound = read_file(dir.path / "sound.pcm");
    EXPECT_EQ(sound.size(), p.samples * 2 * 2);  // stereo 16-bit samples
    for (size_t i = 0; i < sound.size(); ++i)
        ASSERT_EQ(sound[i], 0) << "sample byte " << i;
}

TEST(TemplateDecode, FfmpegSeesABlackPictureWithSilence)
{
    if (!have_program("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    expect_black_and_silent(dv_bytes(template_chunk()), "template");
}

TEST(TemplateDecode, PerFrameBytesDoNotDisturbADecoder)
{
    if (!have_program("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    // The header toggle and the ID nibbles as a later packed frame has them.
    std::vector<uint8_t> dv = dv_bytes(template_chunk());
    dv[4] = DIF_TOGGLE_B;
    for (int i = 0; i < DV_FRAME_SIZE; i += DIF_BLOCK_SIZE) {
        uint8_t type = dv[i] & 0xF0;
        if (type == 0x50 || type == 0x70 || type == 0x90)
            dv[i] = static_cast<uint8_t>(type | 0x0B);
    }
    expect_black_and_silent(dv, "toggled");
}

TEST(TemplateDecode, The625_50TemplateIsABlackPictureWithSilenceToo)
{
    if (!have_program("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::vector<uint8_t> dv = template_dv(PAL_PICTURE);
    ASSERT_EQ(dv.size(), 144000u);
    EXPECT_EQ(dv[3], 0xBF);   // DSF: 625/50
    expect_black_and_silent(dv, "625/50", PAL_PICTURE);
    // The 525/60 template built through the same path is the one every tape has.
    EXPECT_EQ(template_dv(NTSC_PICTURE), dv_bytes(template_chunk()));
}

class TemplateStreams : public testing::TestWithParam<SystemPicture> {};

TEST_P(TemplateStreams, FfprobeStreamFields)
{
    if (!have_program("ffprobe"))
        GTEST_SKIP() << "ffprobe not installed";
    const SystemPicture p = GetParam();
    TempDir dir;
    write_file(dir.path / "t.dv", template_dv(p));
    RunResult r = run_in(dir.path, "ffprobe -v error -show_streams t.dv");
    ASSERT_EQ(r.status, 0) << r.output;
    auto streams = probe_streams(r.output);
    ASSERT_EQ(streams.size(), 2u) << r.output;
    auto& video = streams[0]["codec_type"] == "video" ? streams[0] : streams[1];
    auto& audio = streams[0]["codec_type"] == "video" ? streams[1] : streams[0];
    EXPECT_EQ(video["codec_type"], "video");
    EXPECT_EQ(video["codec_name"], "dvvideo");
    EXPECT_EQ(video["width"], "720");
    EXPECT_EQ(video["height"], std::to_string(p.height));
    EXPECT_EQ(video["pix_fmt"], p.pix_fmt);
    EXPECT_EQ(video["r_frame_rate"], p.frame_rate);
    EXPECT_EQ(video["display_aspect_ratio"], "4:3");
    EXPECT_EQ(audio["codec_type"], "audio");
    EXPECT_EQ(audio["codec_name"], "pcm_s16le");
    EXPECT_EQ(audio["sample_rate"], "48000");
    EXPECT_EQ(audio["channels"], "2");
}

INSTANTIATE_TEST_SUITE_P(Systems, TemplateStreams, testing::Values(NTSC_PICTURE, PAL_PICTURE),
                         [](const testing::TestParamInfo<SystemPicture>& i) {
                             return std::string(i.param.system == &SYSTEM_625_50 ? "pal" : "ntsc");
                         });

TEST(Mkdvframe, PalWritesThe625_50Template)
{
    TempDir dir;
    RunResult r = run_in(dir.path, shell_quote(program("mkdvframe")) + " -pal");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<uint8_t> chunk(PAL.chunk_size);
    build_template_frame(SYSTEM_625_50, chunk.data());
    EXPECT_EQ(read_file(dir.path / "DVFRAME_PAL"), chunk);
    EXPECT_EQ(chunk[4] | chunk[5] << 8 | chunk[6] << 16, 144000);   // the chunk's length
}

}  // namespace
