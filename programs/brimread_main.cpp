// brimread: restores the files stored by brimwrite from the AVI or raw DV files
// a capture program wrote while the tape played back, and reports what it could
// verify.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "alignment.h"
#include "console_log.h"
#include "decode_report.h"
#include "decoder.h"
#include "frame_reader.h"
#include "native_path.h"

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

// Capture files deleted with -inplace wait here until nothing in them is needed.
constexpr int PENDING_DELETIONS = 128;

// A capture file the run has read, with what the run took from it.
struct CaptureFile {
    char name[NAME_BUFFER_SIZE];
    CaptureCounts counts;
};

// The program's side of a run: the command line, the reader and the capture
// files waiting to be deleted. Allocated once.
struct Brimread {
    DecoderOptions options;
    bool inplace;
    char first_name[NAME_BUFFER_SIZE];      // capture file to start with; stepped in place by the reader
    char first_capture[NAME_BUFFER_SIZE];   // the same, as given
    char capture[NAME_BUFFER_SIZE];         // the capture file being read
    CaptureFile pending[PENDING_DELETIONS];   // read to their end, to be deleted (-inplace)
    int pending_first;
    int pending_count;
    FrameReader reader;
    uint8_t spare_frame[DV_FRAME_SIZE];     // a frame cut short at the end of its file
    uint8_t plane[PLANE_SIZE];              // the look ahead's planes
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

// Deletes the capture files read to their end whose every frame used is
// corrected and written to disk, and every file with data in them closed (all of
// them with `all`), unless a restored file could not be created or written, or
// output has not started yet.
void delete_used_captures(Brimread& b, Decoder& d, bool all)
{
    const int64_t done = decoder_done_through(d);
    while (b.pending_count > 0 && !d.writer.output_failed && !d.writer.keep_captures && d.writer.output_started) {
        const CaptureFile& c = b.pending[b.pending_first];
        if (!all && c.counts.reach > done)
            return;
        if (d.writer.output && !flush_to_disk(d.writer.output))
            return;
        // Frames of another recording are left for a run of their own.
        if (c.counts.foreign == 0)
            std::remove(c.name);
        b.pending_first = (b.pending_first + 1) % PENDING_DELETIONS;
        --b.pending_count;
    }
}

// The reader has left the capture file being read: with -inplace it waits to be
// deleted if the recording took frames from it (a full queue keeps it); one
// holding only another recording's frames is named.
void leave_capture(Brimread& b, Decoder& d, ConsoleLogSink& sink)
{
    CaptureFile c{};
    std::memcpy(c.name, b.capture, sizeof c.name);
    c.counts = decoder_next_capture(d);
    if (c.counts.used == 0 && c.counts.foreign > 0)
        tell(&sink, Severity::Info, "\nmain() : %s holds frames of another recording only; they are not used\n",
             c.name);
    if (!b.inplace || c.counts.used == 0 || b.pending_count == PENDING_DELETIONS)
        return;
    b.pending[(b.pending_first + b.pending_count) % PENDING_DELETIONS] = c;
    ++b.pending_count;
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
    if (!sink.log()) {
        std::printf("Error opening file!\n");
        return EXIT_USAGE;
    }
    sink.show_queue_of(&d);

    Alignment alignment;
    find_alignment(b.first_name, &b.reader, b.spare_frame, b.plane, &alignment);
    std::memcpy(b.first_capture, b.first_name, sizeof b.first_capture);
    std::memcpy(b.capture, b.first_name, sizeof b.capture);
    b.options.capture_name = b.first_capture;
    b.options.sync_outputs = b.inplace;
    decoder_start(d, b.options, alignment, &sink);

    const uint8_t* frame = nullptr;
    while (ReadDVFrame(&frame, b.spare_frame, &b.reader, b.first_name, &sink)) {
        if (std::strcmp(b.capture, b.first_name) != 0) {
            leave_capture(b, d, sink);
            std::memcpy(b.capture, b.first_name, sizeof b.capture);
        }
        const DecodeStatus status = decoder_push_frame(d, frame);
        if (status != DecodeStatus::Ok)
            return failed(d, sink, status);
        delete_used_captures(b, d, false);
    }
    leave_capture(b, d, sink);

    const DecodeStatus status = decoder_finish(d);
    if (decoder_frames_decoded(d) == 0) {
        std::printf("No Input Files Found!\n");
        return end_run(d, sink, EXIT_NOTHING_DECODED);
    }
    if (status != DecodeStatus::Ok)
        return failed(d, sink, status);
    delete_used_captures(b, d, true);

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
    if (!b || !d || !frame_reader_init(&b->reader)) {
        std::printf("\nmain() : Error, malloc() failed.");
        return EXIT_NO_MEMORY;
    }
    const int status = run(argc, argv, *b, *d);
    frame_reader_shutdown(&b->reader);
    decoder_destroy(d);
    delete b;
    return status;
}
