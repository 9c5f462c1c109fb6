// mkdvframe: writes the template frame chunk that brimwrite packs every frame
// into, to "DVFRAME_NTSC" in the current directory or to the path given; with
// -pal the 625/50 one, to "DVFRAME_PAL".
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dv_template.h"

namespace {

constexpr const char* DEFAULT_NAME = "DVFRAME_NTSC";
constexpr const char* PAL_NAME = "DVFRAME_PAL";
constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_FAILED = 1;

uint8_t g_chunk[MAX_FRAME_CHUNK_SIZE];

void print_usage(FILE* out)
{
    std::fprintf(out,
                 "Usage: mkdvframe [-pal] [path]\n"
                 "Writes the NTSC DV template frame (%d bytes) to path, default %s;\n"
                 "with -pal the 625/50 (PAL) one (%d bytes), default %s.\n",
                 SYSTEM_525_60.chunk_size, DEFAULT_NAME, SYSTEM_625_50.chunk_size, PAL_NAME);
}

int is_help(const char* arg)
{
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool pal = argc >= 2 && std::strcmp(argv[1], "-pal") == 0;
    if (pal) {
        --argc;
        ++argv;
    }
    if (argc > 2) {
        print_usage(stderr);
        return EXIT_USAGE;
    }
    if (argc == 2 && is_help(argv[1])) {
        print_usage(stdout);
        return EXIT_OK;
    }
    const char* path = argc == 2 ? argv[1] : pal ? PAL_NAME : DEFAULT_NAME;
    const VideoSystem& system = pal ? SYSTEM_625_50 : SYSTEM_525_60;
    const size_t size = static_cast<size_t>(system.chunk_size);

    build_template_frame(system, g_chunk);
    const char* problem = nullptr;
    if (!check_template_frame(system, g_chunk, &problem)) {
        std::fprintf(stderr, "mkdvframe: internal error, template rejected: %s\n", problem);
        return EXIT_FAILED;
    }

    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "mkdvframe: cannot create %s: %s\n", path, std::strerror(errno));
        return EXIT_FAILED;
    }
    size_t written = std::fwrite(g_chunk, 1, size, out);
    int closed = std::fclose(out);
    if (written != size || closed != 0) {
        std::fprintf(stderr, "mkdvframe: cannot write %s\n", path);
        std::remove(path);
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
