// libdv as a second independent DV implementation: it parses each system's
// template, and a packed data frame, as a frame of that system, decodes the
// template as a black picture with silent audio, and says nothing is wrong.
#include <gtest/gtest.h>

#include <libdv/dv.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dv_template.h"
#include "test_support.h"

namespace {

constexpr int YUY2_BYTES_PER_PIXEL = 2;
constexpr int AUDIO_CHANNELS_MAX = 4;
constexpr int AUDIO_SAMPLES_MAX = 2000;

struct Decoded {
    dv_system_t system;
    int width;
    int height;
    int frame_size;
    int luma_min, luma_max, chroma_min, chroma_max;
    int samples;
    int frequency;
    int nonzero_samples;
};

Decoded decode(const uint8_t* frame)
{
    Decoded out{};
    dv_decoder_t* d = dv_decoder_new(FALSE, FALSE, FALSE);
    d->quality = DV_QUALITY_BEST;
    EXPECT_GE(dv_parse_header(d, frame), 0);
    out.system = d->system;
    out.width = d->width;
    out.height = d->height;
    out.frame_size = d->frame_size;
    std::vector<uint8_t> yuv(static_cast<size_t>(d->width) * d->height * YUY2_BYTES_PER_PIXEL);
    uint8_t* pixels[1] = {yuv.data()};
    int pitches[1] = {d->width * YUY2_BYTES_PER_PIXEL};
    dv_decode_full_frame(d, frame, e_dv_color_yuv, pixels, pitches);
    out.luma_min = out.chroma_min = 255;
    for (size_t i = 0; i + 1 < yuv.size(); i += 2) {
        out.luma_min = std::min<int>(out.luma_min, yuv[i]);
        out.luma_max = std::max<int>(out.luma_max, yuv[i]);
        out.chroma_min = std::min<int>(out.chroma_min, yuv[i + 1]);
        out.chroma_max = std::max<int>(out.chroma_max, yuv[i + 1]);
    }
    std::vector<std::vector<int16_t>> channels(AUDIO_CHANNELS_MAX, std::vector<int16_t>(AUDIO_SAMPLES_MAX));
    int16_t* audio[AUDIO_CHANNELS_MAX];
    for (int c = 0; c < AUDIO_CHANNELS_MAX; ++c)
        audio[c] = channels[static_cast<size_t>(c)].data();
    EXPECT_TRUE(dv_decode_full_audio(d, frame, audio));
    out.samples = d->audio->samples_this_frame;
    out.frequency = d->audio->frequency;
    for (int c = 0; c < d->audio->num_channels; ++c)
        for (int i = 0; i < out.samples; ++i)
            out.nonzero_samples += channels[static_cast<size_t>(c)][static_cast<size_t>(i)] != 0;
    dv_decoder_free(d);
    return out;
}

struct Expected {
    const VideoSystem* system;
    dv_system_t dv_system;
    int height;
    int samples;
};

class LibdvTemplate : public testing::TestWithParam<Expected> {};

TEST_P(LibdvTemplate, ParsesAsItsSystemAndDecodesBlackAndSilent)
{
    const Expected& e = GetParam();
    std::vector<uint8_t> chunk(static_cast<size_t>(e.system->chunk_size));
    build_template_frame(*e.system, chunk.data());
    const Decoded t = decode(chunk.data() + CHUNK_HEADER_SIZE);
    EXPECT_EQ(t.system, e.dv_system);
    EXPECT_EQ(t.width, 720);
    EXPECT_EQ(t.height, e.height);
    EXPECT_EQ(t.frame_size, e.system->frame_size);
    // Y 16 and Cb, Cr 128, give or take libdv's rounding in its YUY2 output.
    EXPECT_GE(t.luma_min, 15);
    EXPECT_LE(t.luma_max, 16);
    EXPECT_GE(t.chroma_min, 127);
    EXPECT_LE(t.chroma_max, 128);
    EXPECT_EQ(t.samples, e.samples);
    EXPECT_EQ(t.frequency, 48000);
    EXPECT_EQ(t.nonzero_samples, 0);

    // A data frame keeps every byte that says what the frame is.
    std::vector<uint8_t> plane = random_bytes(static_cast<size_t>(e.system->plane_size), 9);
    FrameInfo info{};
    std::memcpy(info.magic, FRAME_HEADER_MAGIC, sizeof info.magic);
    info.dif_toggle = DIF_TOGGLE_A;
    info.vaux_id = VAUX_ID_START;
    info.audio_id = AUDIO_ID_START;
    info.video_id = VIDEO_ID_START;
    pack_frame(*e.system, plane.data(), &info, 1, chunk.data());
    const Decoded data = decode(chunk.data() + CHUNK_HEADER_SIZE);
    EXPECT_EQ(data.system, e.dv_system);
    EXPECT_EQ(data.samples, e.samples);
}

INSTANTIATE_TEST_SUITE_P(Systems, LibdvTemplate,
                         testing::Values(Expected{&NTSC, e_dv_system_525_60, 480, 1600},
                                         Expected{&PAL, e_dv_system_625_50, 576, 1920}),
                         [](const testing::TestParamInfo<Expected>& p) {
                             return std::string(p.param.system->id == PAL.id ? "pal" : "ntsc");
                         });

}  // namespace
