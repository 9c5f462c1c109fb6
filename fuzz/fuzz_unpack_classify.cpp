// libFuzzer harness for frame unpacking and classification: the input is a
// sequence of DV frames (the last one padded with zeros), each unpacked and, if
// recognised, classified against the last recognised frame, as brimread's frame
// loop does. Checks that no header, however hostile, yields a drop count beyond
// the largest genuine frame index.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "classifier.h"
#include "frame_layout.h"
#include "../tests/test_geometry.h"

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
    static uint8_t padded[DV_FRAME_SIZE];
    static uint8_t plane[PLANE_SIZE];
    FrameRecord current{};
    current.frame0_run = 0;
    current.frame_index = -1;   // as brimread starts
    FrameRecord previous{};

    for (size_t at = 0; at < size; at += DV_FRAME_SIZE) {
        const uint8_t* frame = data + at;
        if (size - at < static_cast<size_t>(DV_FRAME_SIZE)) {
            std::memset(padded, 0, sizeof padded);
            std::memcpy(padded, frame, size - at);
            frame = padded;
        }
        previous = current;
        unpack_frame(NTSC, frame, plane, &current);
        if (!frame_recognised(&current)) {
            current = previous;   // the next frame is compared with the last recognised one
            continue;
        }
        classify_frame(NTSC, &current, &previous);
        if (is_drop_count(current.frame_code) && current.frame_code > static_cast<uint32_t>(MAX_GENUINE_FRAME_INDEX))
            fail("drop count beyond the largest frame index", current);
        const int decoded = decoded_count(&current);
        if (decoded < 0 || decoded > MAX_DECODED_COUNT)
            fail("decoded count out of range", current);
    }
    return 0;
}
