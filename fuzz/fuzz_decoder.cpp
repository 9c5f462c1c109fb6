// libFuzzer harness for the decoder's push path, as brimread drives it: the input
// after its first byte is written as capture.avi into a fresh working directory,
// the look ahead finds the alignment, and every frame the reader finds is pushed
// into one Decoder (made once, reused by every run) before the run is finished;
// the first byte picks the options (recurse, correct, sync). Everything the run
// wrote is removed afterwards, and the directory the harness started in is
// current again (libFuzzer writes findings there).
// The working directory lies in $TMPDIR (default /tmp). A restored file that
// takes more than OUTPUT_DISK_LIMIT of disk (lost planes are holes and take
// none), or anything written beside the working directory, is reported as a fault.
// Since the Decoder is reused, a run that leaves syndromes behind for the next
// run of either system (the first block of a run adds into them without
// clearing them, and would take them for damage) is reported too.
#include <dirent.h>
#include <ftw.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alignment.h"
#include "decoder.h"
#include "frame_reader.h"

namespace {

constexpr char CAPTURE_NAME[] = "capture.avi";
constexpr char RUN_DIRECTORY[] = "run";
constexpr int OPEN_FILES_FOR_NFTW = 16;
// Far more disk than restoring a capture of a few MB takes.
constexpr int64_t OUTPUT_DISK_LIMIT = int64_t{256} << 20;
constexpr int64_t BYTES_PER_STAT_BLOCK = 512;
// Apparent sizes stop here: above the largest file a recording can hold (2^40
// bytes), which a few frames may claim and leave a hole.
constexpr rlim_t OUTPUT_SIZE_LIMIT = rlim_t{4} << 40;

// Options, picked by the first input byte: bit 0 recurse, bit 1 no correction,
// bit 2 sync outputs.
constexpr int MODE_RECURSE = 1;
constexpr int MODE_NO_CORRECTION = 2;
constexpr int MODE_SYNC = 4;

// Made once and reused, as a program restoring several captures would.
Decoder* g_decoder;
FrameReader g_reader;
uint8_t g_spare[MAX_DV_FRAME_SIZE];   // as brimread's: a frame and a plane of either system
uint8_t g_plane[MAX_PLANE_SIZE];
NullSink g_sink;

char g_base[PATH_MAX];    // the harness's own directory, holding RUN_DIRECTORY
char g_start[PATH_MAX];   // the directory the harness started in

void die(const char* what)
{
    std::perror(what);
    std::abort();
}

int g_oversized;   // a file removed took more than OUTPUT_DISK_LIMIT

int remove_entry(const char* path, const struct stat* st, int, struct FTW*)
{
    const int64_t disk = static_cast<int64_t>(st->st_blocks) * BYTES_PER_STAT_BLOCK;
    if (S_ISREG(st->st_mode) && disk > OUTPUT_DISK_LIMIT) {
        std::fprintf(stderr, "fuzz_decoder: %s took %lld bytes of disk (size %lld)\n", path,
                     static_cast<long long>(disk), static_cast<long long>(st->st_size));
        g_oversized = 1;
    }
    return std::remove(path);
}

// Removes the run directory and everything in it; a run that leaves something
// that cannot be removed is a fault of the harness or the decoder.
void remove_run_directory()
{
    if (chdir(g_base) != 0)
        die("fuzz_decoder: to the base directory");
    if (nftw(RUN_DIRECTORY, remove_entry, OPEN_FILES_FOR_NFTW, FTW_DEPTH | FTW_PHYS) != 0 && errno != ENOENT)
        die("fuzz_decoder: removing the run directory");
    if (chdir(g_start) != 0)
        die("fuzz_decoder: back to the start directory");
}

// 1 if the base directory holds anything but the run directory: a stored path
// led out of the working directory (each is named).
int wrote_beside()
{
    DIR* dir = opendir(g_base);
    if (!dir)
        die("fuzz_decoder: reading the base directory");
    int found = 0;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
            std::strcmp(e->d_name, RUN_DIRECTORY) != 0) {
            std::fprintf(stderr, "fuzz_decoder: %s/%s written outside the working directory\n", g_base, e->d_name);
            found = 1;
        }
    }
    closedir(dir);
    return found;
}

// Aborts unless the block code's syndrome planes are zero over the plane size
// the run starts with.
void check_syndromes_clear(const Decoder& d)
{
    const int32_t bytes = d.queue.ecc.cPlaneBytes;
    for (int k = 0; k < ECC_NMK; ++k) {
        const uint8_t* plane = d.queue.ecc.pSyndromePlanes[k];
        for (int32_t i = 0; i < bytes; ++i) {
            if (plane[i] != 0) {
                std::fprintf(stderr, "fuzz_decoder: a run of %d-byte planes starts with byte %d of syndrome plane %d set\n",
                             bytes, i, k);
                std::abort();
            }
        }
    }
}

void remove_base()
{
    remove_run_directory();
    rmdir(g_base);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_decoder = decoder_create();
    if (!g_decoder || !frame_reader_init(&g_reader))
        die("fuzz_decoder: decoder");
    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(g_base, sizeof g_base, "%s/brim-fuzz-brimread-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!getcwd(g_start, sizeof g_start) || !mkdtemp(g_base))
        die("fuzz_decoder: temporary directory");
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        die("fuzz_decoder: file size limit");
    limit.rlim_cur = OUTPUT_SIZE_LIMIT;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        die("fuzz_decoder: file size limit");
    std::atexit(remove_base);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // A write past the size limit fails (EFBIG) instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    remove_run_directory();
    if (chdir(g_base) != 0 || mkdir(RUN_DIRECTORY, 0700) != 0 || chdir(RUN_DIRECTORY) != 0)
        die("fuzz_decoder: run directory");
    FILE* f = std::fopen(CAPTURE_NAME, "wb");
    if (!f || std::fwrite(data + 1, 1, size - 1, f) != size - 1 || std::fclose(f) != 0)
        die("fuzz_decoder: writing the capture file");

    DecoderOptions options;
    options.recurse = (data[0] & MODE_RECURSE) != 0;
    options.correct = (data[0] & MODE_NO_CORRECTION) == 0;
    options.sync_outputs = (data[0] & MODE_SYNC) != 0;
    options.capture_name = CAPTURE_NAME;
    char name[NAME_BUFFER_SIZE] = "capture.avi";
    frame_reader_rewind(&g_reader);
    Alignment alignment;
    find_alignment(name, &g_reader, g_spare, g_plane, &alignment);
    decoder_start(*g_decoder, options, alignment, &g_sink);
    const uint8_t* frame = nullptr;
    DecodeStatus status = DecodeStatus::Ok;
    while (status == DecodeStatus::Ok && ReadDVFrame(&frame, g_spare, &g_reader, name, &g_sink))
        status = decoder_push_frame(*g_decoder, frame);
    if (status == DecodeStatus::Ok)
        status = decoder_finish(*g_decoder);
    decoder_stop(*g_decoder);
    // The queue and the block code never disagree, whatever the input.
    if (status == DecodeStatus::Catastrophic)
        std::abort();
    // Whatever this run left, a run of either system after it starts clean.
    for (const VideoSystem* system : VIDEO_SYSTEMS) {
        Alignment next{};
        next.system = system;
        decoder_start(*g_decoder, options, next, &g_sink);
        check_syndromes_clear(*g_decoder);
        decoder_stop(*g_decoder);
    }
    frame_reader_rewind(&g_reader);

    if (wrote_beside())
        std::abort();
    remove_run_directory();
    if (g_oversized)
        std::abort();
    return 0;
}
