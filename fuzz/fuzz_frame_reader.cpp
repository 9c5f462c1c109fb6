// libFuzzer harness for the frame reader: the input is written to a capture
// file and every frame the reader delivers from it is unpacked, as brimread does.
// The reader itself decides AVI (the file starts with "RIFF") or raw DV. The
// file lies in a directory of its own in $TMPDIR (default /tmp), current only
// while the reader runs.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "frame_layout.h"
#include "frame_reader.h"
#include "../tests/test_geometry.h"

namespace {

// A name without digits has no successor: the reader stops after this file.
constexpr char CAPTURE_NAME[] = "capture";

char g_directory[PATH_MAX];
char g_start[PATH_MAX];   // the directory the harness started in (libFuzzer writes findings there)

void change_directory(const char* to)
{
    if (chdir(to) != 0) {
        std::perror("fuzz_frame_reader: changing directory");
        std::abort();
    }
}

void remove_directory()
{
    change_directory(g_directory);
    std::remove(CAPTURE_NAME);
    change_directory(g_start);
    rmdir(g_directory);
}

void write_capture(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(CAPTURE_NAME, "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror("fuzz_frame_reader: writing the capture file");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(g_directory, sizeof g_directory, "%s/brim-fuzz-reader-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!getcwd(g_start, sizeof g_start) || !mkdtemp(g_directory)) {
        std::perror("fuzz_frame_reader: temporary directory");
        std::abort();
    }
    std::atexit(remove_directory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static uint8_t spare[DV_FRAME_SIZE];
    static uint8_t plane[PLANE_SIZE];
    change_directory(g_directory);
    write_capture(data, size);

    FrameReader reader;
    if (!frame_reader_init(&reader))
        std::abort();
    char name[CAPTURE_NAME_CAPACITY];
    std::snprintf(name, sizeof name, "%s", CAPTURE_NAME);

    // Whole frames do not overlap and a frame cut short ends the file: no more
    // frames than this can come out of it.
    const size_t frame_limit = size / DV_FRAME_SIZE + 1;
    size_t frames = 0;
    const uint8_t* frame = nullptr;
    while (ReadDVFrame(&frame, spare, &reader, name, nullptr)) {
        FrameRecord record{};
        unpack_frame(NTSC, frame, plane, &record);
        if (++frames > frame_limit) {
            std::fprintf(stderr, "fuzz_frame_reader: %zu frames from %zu bytes\n", frames, size);
            std::abort();
        }
    }
    frame_reader_shutdown(&reader);
    change_directory(g_start);
    return 0;
}
