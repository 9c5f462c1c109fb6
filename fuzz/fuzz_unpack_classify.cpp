// libFuzzer harness for frame unpacking and classification: the input is a
// sequence of DV frames, each as long as the system its DSF bit names (the last
// one padded with zeros), each unpacked by that system and, if recognised,
// classified against the last recognised frame of the same system, as brimread's
// frame loop does for its recording and for another one. Whole frames are read
// in place from the input, so a read past a frame's own bytes at the end of the
// input is caught. Checks that no header, however hostile, yields a drop count
// beyond the largest genuine frame index.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "classifier.h"
#include "frame_layout.h"

namespace {

// Largest decoded count a classified frame can give: a drop count up to the
// largest frame index, plus the frame itself.
constexpr int64_t MAX_DECODED_COUNT = int64_t{MAX_GENUINE_FRAME_INDEX} + 1;

void fail(const char* what, const FrameRecord& r)
{
    std::fprintf(stderr, "fuzz_unpack_classify: %s: code %08x file %d/%d frame %d/%d remaining %lld\n", what,
                 static_cast<unsigned>(r.frame_code), r.file_index, r.file_count, r.frame_index,
                 r.last_frame_index, static_cast<long long>(r.bytes_remaining));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr size_t SYSTEM_BYTES = 4;   // DV bytes 0..3 hold the DSF bit
    static uint8_t padded[MAX_DV_FRAME_SIZE];
    static uint8_t plane[MAX_PLANE_SIZE];
    // The last recognised frame of each system, as brimread starts them.
    FrameRecord current[SYSTEM_COUNT]{};
    for (FrameRecord& r : current)
        r.frame_index = -1;

    for (size_t at = 0; at < size;) {
        const uint8_t* frame = data + at;
        const size_t left = size - at;
        if (left < SYSTEM_BYTES) {
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, frame, left);
            frame = padded;
        }
        const VideoSystem& system = system_of_frame(frame);
        const size_t frame_size = static_cast<size_t>(system.frame_size);
        if (left < frame_size && frame != padded) {
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, frame, left);
            frame = padded;
        }
        at += frame_size;
        FrameRecord& cur = current[system.id];
        const FrameRecord previous = cur;
        unpack_frame(system, frame, plane, &cur);
        if (!frame_recognised(&cur)) {
            cur = previous;   // the next frame is compared with the last recognised one
            continue;
        }
        classify_frame(system, &cur, &previous);
        if (is_drop_count(cur.frame_code) && cur.frame_code > static_cast<uint32_t>(MAX_GENUINE_FRAME_INDEX))
            fail("drop count beyond the largest frame index", cur);
        const int decoded = decoded_count(&cur);
        if (decoded < 0 || decoded > MAX_DECODED_COUNT)
            fail("decoded count out of range", cur);
    }
    return 0;
}
