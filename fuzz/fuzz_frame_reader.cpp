// libFuzzer harness for the frame reader: the input is written to a capture
// file and every frame the reader delivers from it is unpacked by the system its
// header names, as brimread does. The reader itself decides AVI (the file starts
// with "RIFF") or raw DV. Checks that every frame delivered lies, as long as its
// system says, in bytes the reader holds: the part of its window read from the
// file, or the spare buffer. The file lies in a directory of its own in $TMPDIR
// (default /tmp), current only while the reader runs.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "frame_layout.h"
#include "frame_reader.h"

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

// Aborts unless the `size` bytes at `frame` are the spare buffer's or lie in the
// window bytes the reader has read: a frame longer than what was read would
// otherwise go unnoticed inside the window's allocation.
void check_frame_held(const FrameReader& reader, const uint8_t* frame, const uint8_t* spare, int size)
{
    if (frame == spare)
        return;
    const uint8_t* begin = reader.window;
    const uint8_t* end = reader.window + reader.window_len;
    if (frame < begin || frame > end || end - frame < size) {
        std::fprintf(stderr, "fuzz_frame_reader: a %d-byte frame at window offset %lld, %lld bytes read\n", size,
                     static_cast<long long>(frame - begin), static_cast<long long>(reader.window_len));
        std::abort();
    }
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
    // As brimread's: room for a frame and a plane of either system.
    static uint8_t spare[MAX_DV_FRAME_SIZE];
    static uint8_t plane[MAX_PLANE_SIZE];
    change_directory(g_directory);
    write_capture(data, size);

    FrameReader reader;
    if (!frame_reader_init(&reader))
        std::abort();
    char name[CAPTURE_NAME_CAPACITY];
    std::snprintf(name, sizeof name, "%s", CAPTURE_NAME);

    // Whole frames do not overlap and a frame cut short ends the file: no more
    // frames than this (counted at the smaller system's size) can come out of it.
    const size_t frame_limit = size / static_cast<size_t>(SYSTEM_525_60.frame_size) + 1;
    size_t frames = 0;
    const uint8_t* frame = nullptr;
    while (ReadDVFrame(&frame, spare, &reader, name, nullptr)) {
        const VideoSystem& system = system_of_frame(frame);
        check_frame_held(reader, frame, spare, system.frame_size);
        FrameRecord record{};
        unpack_frame(system, frame, plane, &record);
        if (++frames > frame_limit) {
            std::fprintf(stderr, "fuzz_frame_reader: %zu frames from %zu bytes\n", frames, size);
            std::abort();
        }
    }
    frame_reader_shutdown(&reader);
    change_directory(g_start);
    return 0;
}
