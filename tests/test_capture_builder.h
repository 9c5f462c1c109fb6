// Builds captures frame by frame for the decoder's tests: the frames an encoder
// run writes for a list of files (data planes with the header area, parity after
// every 64 data planes, padding and parity closing the last block), which a test
// may then drop, repeat, damage or give hostile headers before packing them into
// a byte stream of frame chunks.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "content_hash.h"
#include "dv_template.h"
#include "ecc.h"
#include "file_record.h"
#include "frame_layout.h"
#include "test_geometry.h"

namespace capture {

// One file to put on tape: the bytes of its 228-byte path field (shorter text is
// NUL-padded; 228 bytes without a NUL are allowed) and its contents. With
// `record` its first plane carries a file record and its frames the recording
// tag, as brimwrite writes them; without, the tape is one without records.
struct TapeFile {
    std::string path;
    std::vector<uint8_t> data;
    bool record = false;
};

// The recording ID of the tapes built here with records.
constexpr uint8_t TEST_RECORDING_ID[RECORDING_ID_SIZE] = {0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

inline std::vector<TapeFile> with_records(std::vector<TapeFile> files)
{
    for (TapeFile& f : files)
        f.record = true;
    return files;
}

// One distinct frame as the encoder writes it.
struct TapeFrame {
    std::vector<uint8_t> plane;
    int64_t bytes_remaining;
    int32_t file_index;
    int32_t file_count;
    int32_t frame_index;
    int32_t last_frame_index;
    uint16_t tag = NO_RECORDING_TAG;
};

inline std::vector<uint8_t> first_plane(const TapeFile& file, const uint8_t* recording_id = TEST_RECORDING_ID)
{
    std::vector<uint8_t> plane(PLANE_SIZE, 0);
    std::memcpy(plane.data(), file.path.data(), file.path.size() < PATH_FIELD_SIZE ? file.path.size() : PATH_FIELD_SIZE);
    size_t n = file.data.size() < FIRST_PLANE_DATA ? file.data.size() : FIRST_PLANE_DATA;
    if (n)
        std::memcpy(plane.data() + HEADER_AREA_SIZE, file.data.data(), n);
    if (file.record) {
        FileRecord record{};
        std::memcpy(record.recording_id, recording_id, RECORDING_ID_SIZE);
        record.hash = content_hash_of(file.data.data(), file.data.size());
        record.size = file.data.size();
        record.mode = 0644;
        write_file_record(plane.data(), &record);
    }
    return plane;
}

// The distinct frames of an encoder run over `files`, in tape order (files with
// records: of the recording `recording_id`).
inline std::vector<TapeFrame> build_tape(const std::vector<TapeFile>& files,
                                         const uint8_t* recording_id = TEST_RECORDING_ID)
{
    std::vector<TapeFrame> frames;
    ECCEncoder encoder{};
    ecc_encoder_init(&encoder, ECC_PLANE_BYTES);
    int in_block = 0;
    const int32_t count = static_cast<int32_t>(files.size());
    auto add_data = [&](std::vector<uint8_t> plane, int64_t remaining, int32_t file_index, int32_t frame_index) {
        ecc_encoder_enc1(&encoder, plane.data());
        frames.push_back({std::move(plane), remaining, file_index, count, frame_index, 0});
        if (++in_block < ECC_K)
            return;
        in_block = 0;
        for (int k = 0; k < ECC_NMK; ++k) {
            uint8_t* parity = nullptr;
            ecc_encoder_getp1(&encoder, &parity);
            TapeFrame f = frames.back();
            f.plane.assign(parity, parity + PLANE_SIZE);
            f.frame_index += 1;
            frames.push_back(f);
        }
    };
    for (int32_t i = 0; i < count; ++i) {
        const TapeFile& file = files[static_cast<size_t>(i)];
        const int64_t size = static_cast<int64_t>(file.data.size());
        add_data(first_plane(file, recording_id), size, i + 1, 0);
        int64_t offset = FIRST_PLANE_DATA;
        while (offset < size) {
            std::vector<uint8_t> plane(PLANE_SIZE, 0);
            int64_t n = size - offset < PLANE_SIZE ? size - offset : PLANE_SIZE;
            std::memcpy(plane.data(), file.data.data() + offset, static_cast<size_t>(n));
            add_data(std::move(plane), size - offset, i + 1, frames.back().frame_index + 1);
            offset += PLANE_SIZE;
        }
    }
    while (in_block != 0 && !frames.empty())
        add_data(std::vector<uint8_t>(PLANE_SIZE, 0), 0, count, frames.back().frame_index + 1);
    ecc_encoder_shutdown(&encoder);
    const uint16_t tag = !files.empty() && files[0].record ? recording_tag(recording_id) : NO_RECORDING_TAG;
    for (TapeFrame& f : frames)
        f.tag = tag;
    // Every frame of a file carries the index of the file's last frame.
    for (size_t i = frames.size(); i-- > 0;) {
        if (i + 1 == frames.size() || frames[i + 1].file_index != frames[i].file_index)
            frames[i].last_frame_index = frames[i].frame_index;
        else
            frames[i].last_frame_index = frames[i + 1].last_frame_index;
    }
    return frames;
}

// Packs frames into a stream of frame chunks; a frame with frame_index 0 is
// written `repeat0` times. Each frame can be packed with its own header values,
// so tests may set them to anything.
struct Packer {
    std::vector<uint8_t> chunk = std::vector<uint8_t>(FRAME_CHUNK_SIZE);
    FrameInfo info{};

    Packer()
    {
        build_template_frame(NTSC, chunk.data());
        std::memcpy(info.magic, "SPOE", 4);
        info.dif_toggle = DIF_TOGGLE_A;
        info.vaux_id = VAUX_ID_START;
        info.audio_id = AUDIO_ID_START;
        info.video_id = VIDEO_ID_START;
    }

    // The 120,008-byte chunk of one frame.
    const std::vector<uint8_t>& pack(const TapeFrame& f)
    {
        info.bytes_remaining = f.bytes_remaining;
        info.file_index = f.file_index;
        info.file_count = f.file_count;
        info.frame_index = f.frame_index;
        info.final_frame = f.last_frame_index;   // with a repeat count of 1 the header holds it as is
        info.recording_tag = f.tag;
        pack_frame(NTSC, f.plane.data(), &info, 1, chunk.data());
        return chunk;
    }

    void append(std::vector<uint8_t>& out, const TapeFrame& f, int copies = 1)
    {
        const std::vector<uint8_t>& c = pack(f);
        for (int i = 0; i < copies; ++i)
            out.insert(out.end(), c.begin(), c.end());
    }
};

constexpr int DEFAULT_REPEAT0 = 6;

inline std::vector<uint8_t> pack_capture(const std::vector<TapeFrame>& frames, int repeat0 = DEFAULT_REPEAT0)
{
    Packer packer;
    std::vector<uint8_t> out;
    out.reserve(frames.size() * FRAME_CHUNK_SIZE);
    for (const TapeFrame& f : frames)
        packer.append(out, f, f.frame_index == 0 ? repeat0 : 1);
    return out;
}

}  // namespace capture
