// brimread: restores the files stored by brimwrite from the AVI or raw DV files
// a capture program wrote while the tape played back, and reports what it could
// verify.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "capture_run.h"
#include "console_log.h"
#include "decode_report.h"
#include "decoder.h"

namespace {

// Exit statuses: -1 after the usage text, a bad command line, buffers that
// cannot be allocated, a log that cannot be opened, a restored file that cannot
// be written, or a -startfile name that never came; 0 when no frame was
// decoded (or the run stopped at a fault of its own); 1 after a complete run.
constexpr int EXIT_USAGE = -1;
constexpr int EXIT_NO_MEMORY = -1;
constexpr int EXIT_START_NOT_FOUND = -1;
constexpr int EXIT_NOTHING_DECODED = 0;
constexpr int EXIT_DONE = 1;
constexpr int EXIT_WRITE_FAILED = -1;
constexpr int EXIT_CATASTROPHIC = 0;

// The run's log, in the current directory.
constexpr const char* LOG_FILE_NAME = "Brimreadlog.txt";

const char* const USAGE[] = {
    "Brimread v2.0 BETA - By Tolvane\n",
    "  (Hamming-code ECC by Verrant)\n",
    "Usage: Brimread [-throttle #msec] [-startfile filename] [-inplace] [-recurse] <First .avi file>\n\n",
    "  -throttle: NOT SUPPORTED\n",
    "  -startfile: Specifies which file to start decoding at. If the -recurse\n",
    "              parameter is also specified, the complete path of the file\n",
    "              must be specified also.\n",
    "  -inplace: Deletes the input .avi files as they are used up (to save drive\n",
    "            space)\n",
    "  -nocorrect: disable ECC-error correction (ignore parity information)\n",
    "  -recurse: Recreate files with complete filepaths. Without this parameter,\n",
    "            files are extracted to the current directory.\n\n",
    "Example: Brimread SCENE0001.avi\n",
    "Example: Brimread -startfile data.ts.0005 SCENE0002.avi\n",
    "Example: Brimread -recurse -startfile \\directory1\\file1 SCENE0003.avi\n",
    "Example: Brimread -throttle 30 DV0003.avi\n",
    "Example: Brimread -inplace scene0001.avi\n",
    "Example: Brimread -recurse scene0001.avi\n",
    "NOTE: PAL Camcorders are not supported at this time.\n",
};

// The program's side of a run: the command line and the capture run. Allocated once.
struct Brimread {
    DecoderOptions options;
    bool inplace;
    char first_name[NAME_BUFFER_SIZE];      // capture file to start with
    CaptureRun capture;
};

// Copies a command-line name into a NAME_BUFFER_SIZE buffer; false if too long.
bool copy_name(char* out, const char* name)
{
    if (std::strlen(name) >= NAME_BUFFER_SIZE) {
        std::printf("main() : name too long (at most %d characters): %s\n", NAME_BUFFER_SIZE - 1, name);
        return false;
    }
    std::strcpy(out, name);
    return true;
}

// Options, then the first capture file; later arguments are ignored. False on a
// bad command line (message printed).
bool parse_arguments(int argc, char** argv, Brimread& b)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-inplace") == 0) {
            b.inplace = true;
        } else if (std::strcmp(arg, "-recurse") == 0) {
            b.options.recurse = true;
        } else if (std::strcmp(arg, "-throttle") == 0 || std::strcmp(arg, "-startfile") == 0) {
            if (i + 1 >= argc) {
                std::printf("main() : %s needs a value!\n", arg);
                return false;
            }
            ++i;
            if (arg[1] == 's' && !copy_name(b.options.start_name, argv[i]))
                return false;
        } else if (std::strcmp(arg, "-nocorrect") == 0) {
            b.options.correct = false;
            ++i;   // the usage shows no value, but the argument after it is passed over
        } else {
            return copy_name(b.first_name, arg);
        }
    }
    return true;
}

// Closes what a run leaves open and hands its status back.
int end_run(Decoder& d, ConsoleLogSink& sink, int status)
{
    decoder_stop(d);
    if (sink.log())
        std::fclose(sink.log());
    sink.set_log(nullptr);
    std::fflush(stdout);
    return status;
}

int failed(Decoder& d, ConsoleLogSink& sink, DecodeStatus status)
{
    return end_run(d, sink, status == DecodeStatus::Catastrophic ? EXIT_CATASTROPHIC : EXIT_WRITE_FAILED);
}

int run(int argc, char** argv, Brimread& b, Decoder& d)
{
    ConsoleLogSink sink;
    if (argc < 2) {
        for (const char* line : USAGE)
            std::printf("%s", line);
        return EXIT_USAGE;
    }
    if (!parse_arguments(argc, argv, b))
        return EXIT_USAGE;
    const std::time_t start_time = std::time(nullptr);
    sink.set_log(std::fopen(LOG_FILE_NAME, "w"));
    b.options.log_name = LOG_FILE_NAME;
    if (!sink.log()) {
        std::printf("Error opening file!\n");
        return EXIT_USAGE;
    }
    sink.show_queue_of(&d);

    b.options.sync_outputs = b.inplace;
    b.options.write_behind = threads_allowed();
    b.capture.delete_used = b.inplace;
    capture_run_start(&b.capture, b.first_name, d, b.options, &sink);
    // Finishing a run that decoded nothing cannot fail: a failure came from a frame.
    const DecodeStatus status = capture_run_decode(&b.capture, d, &sink, nullptr);
    if (status != DecodeStatus::Ok)
        return failed(d, sink, status);
    if (decoder_frames_decoded(d) == 0) {
        std::printf("No Input Files Found!\n");
        return end_run(d, sink, EXIT_NOTHING_DECODED);
    }

    const std::time_t end_time = std::time(nullptr);
    sink.statistics(d.intake.stats, static_cast<int64_t>(end_time - start_time));
    sink.verification(d.verify);
    if (!d.writer.output_started) {
        // A -startfile name that never came: the run did not do what was asked.
        tell(&sink, Severity::Error, "\nno stored file named %s was found; nothing was restored\n",
             b.options.start_name);
        return end_run(d, sink, EXIT_START_NOT_FOUND);
    }
    return end_run(d, sink, EXIT_DONE);
}

}  // namespace

int main(int argc, char** argv)
{
    Brimread* b = new (std::nothrow) Brimread();
    Decoder* d = decoder_create();
    if (!b || !d || !capture_run_init(&b->capture)) {
        std::printf("\nmain() : Error, malloc() failed.");
        return EXIT_NO_MEMORY;
    }
    const int status = run(argc, argv, *b, *d);
    capture_run_shutdown(&b->capture);
    decoder_destroy(d);
    delete b;
    return status;
}
