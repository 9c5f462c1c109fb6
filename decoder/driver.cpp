#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "alignment.h"
#include "block_writer.h"
#include "classifier.h"
#include "concealment.h"
#include "frame_reader.h"
#include "native_path.h"
#include "placement.h"
#include "run_state.h"
#include "statistics.h"
#include "verify.h"

namespace {

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

// What the run took from one capture file.
struct CaptureFile {
    char name[NAME_BUFFER_SIZE];
    int64_t used;        // frames of the recording placed from it
    int64_t foreign;     // frames of another recording in it
    int64_t reach;       // every position holding what it gave lies before this one
};

// Driver-local settings, buffers and counters.
struct Driver {
    char first_name[NAME_BUFFER_SIZE];   // AVI file to start with; stepped in place by the reader
    char first_capture[NAME_BUFFER_SIZE];   // the same, as given
    int inplace;
    uint16_t recording_tag;              // the tag of the recording being restored
    int tag_known;
    FrameRecord foreign_previous;        // the last frame of another recording, for its own classification
    int64_t foreign_first_copies;        // copies of another recording's first frame in a row, counted foreign
    CaptureFile capture;                 // the capture file being read
    CaptureFile pending[PENDING_DELETIONS];   // read to their end, to be deleted (-inplace)
    int pending_first;
    int pending_count;
    FrameReader reader;
    uint8_t* spare_frame;                // a frame cut short at the end of its file
    uint8_t* plane;
    uint16_t* concealed;                 // payload blocks of the current frame marked concealed
    FrameRecord current;
    FrameRecord previous;
    DecodeStats stats;
};

Driver g_driver;

// Copies a command-line name into a NAME_BUFFER_SIZE buffer. Returns 0 if too long.
int copy_name(char* out, const char* name)
{
    if (std::strlen(name) >= NAME_BUFFER_SIZE) {
        std::printf("main() : name too long (at most %d characters): %s\n", NAME_BUFFER_SIZE - 1, name);
        return 0;
    }
    std::strcpy(out, name);
    return 1;
}

// Options, then the first AVI file; later arguments are ignored. Returns 0 on a
// bad command line (message printed).
int parse_arguments(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-inplace") == 0) {
            g_driver.inplace = 1;
        } else if (std::strcmp(arg, "-recurse") == 0) {
            g_run.recurse = 1;
        } else if (std::strcmp(arg, "-throttle") == 0 || std::strcmp(arg, "-startfile") == 0) {
            if (i + 1 >= argc) {
                std::printf("main() : %s needs a value!\n", arg);
                return 0;
            }
            ++i;
            if (arg[1] == 's') {
                if (!copy_name(g_run.start_name, argv[i]))
                    return 0;
                g_run.output_started = 0;
            }
        } else if (std::strcmp(arg, "-nocorrect") == 0) {
            g_run.correct = 0;
            ++i;   // the usage shows no value, but the argument after it is passed over
        } else {
            return copy_name(g_driver.first_name, arg);
        }
    }
    return 1;
}

void mark_unrecognised()
{
    ++g_driver.stats.unrecognizable;
    std::fputs("X", stdout);
    std::fputs("X", g_run.log);
}

// Counts the classified current frame as its classification says, and hands it
// to the placement, which queues it (and fillers for what was lost before it)
// at the block positions its frame index gives. Returns a QUEUE_ result.
int handle_frame(const uint8_t* frame, const uint8_t* plane, int64_t header_remaining, int new_recording)
{
    FrameRecord* cur = &g_driver.current;
    DecodeStats* stats = &g_driver.stats;
    const uint32_t code = cur->frame_code;
    const int damaged = cur->sum_computed != cur->sum_stored;
    if (code == FRAME_REPEAT) {
        ++stats->duplicated;
    } else if (code == RESET_FRAME0) {
        std::printf("\nmain() : RESET_FRAME0 @ g_ecc_n=%d", static_cast<int>(g_ecc_n));
    } else if (code == FRAME_NEXT || code == FRAME0_ACCEPTED) {
        if (damaged)
            ++stats->corrupted;
    } else if (is_drop_count(code)) {
        std::fprintf(g_run.log, "\nmain() : Dropped_frame %d", static_cast<int>(code));
        stats->dropped += static_cast<int64_t>(code);
        if (code > stats->longest_drop)
            stats->longest_drop = code;
    }
    stats->bytes += static_cast<int64_t>(cur->Zerobytes);
    stats->bytes += static_cast<int64_t>(cur->RealBytes);
    stats->decoded += decoded_count(cur);

    ReceivedFrame received{plane, cur, header_remaining, g_driver.concealed, 0, new_recording};
    if (damaged)
        received.concealed_count = concealed_payload_blocks(frame, g_driver.concealed);
    const int64_t reach_before = placement_reach();
    const int result = place_frame(&received);
    // A frame that moved the placement on was used; a repeat behind it was not
    // (a copy of a frame 0 kept as the best one does not move it: the file that
    // gave it is then kept, which is safe).
    CaptureFile& c = g_driver.capture;
    const int64_t reach = placement_reach();
    if (reach > reach_before)
        ++c.used;
    if (reach > c.reach)
        c.reach = reach;
    return result;
}

// Deletes the capture files read to their end whose every frame used is
// corrected and written to disk, and every file with data in them closed (all of
// them with `all`), unless a restored file could not be created or written, or
// output has not started yet.
void delete_used_captures(int all)
{
    Driver& d = g_driver;
    // Positions before this one are written, and so is every file with data there.
    const int64_t done = std::min(placement_written_through(), writer_file_start());
    while (d.pending_count > 0 && !g_run.output_failed && !g_run.keep_captures && g_run.output_started) {
        CaptureFile& c = d.pending[d.pending_first];
        if (!all && c.reach > done)
            return;
        if (g_run.output && !flush_to_disk(g_run.output))
            return;
        // Frames of another recording are left for a run of their own.
        if (c.foreign == 0)
            std::remove(c.name);
        d.pending_first = (d.pending_first + 1) % PENDING_DELETIONS;
        --d.pending_count;
    }
}

// The reader has left the capture file `c`: with -inplace it waits to be
// deleted if the recording took frames from it (a full queue keeps it); one
// holding only another recording's frames is named.
void leave_capture(const CaptureFile& c)
{
    Driver& d = g_driver;
    if (c.used == 0 && c.foreign > 0) {
        std::printf("\nmain() : %s holds frames of another recording only; they are not used\n", c.name);
        std::fprintf(g_run.log, "\nmain() : %s holds frames of another recording only; they are not used\n", c.name);
    }
    if (!d.inplace || c.used == 0 || d.pending_count == PENDING_DELETIONS)
        return;
    d.pending[(d.pending_first + d.pending_count) % PENDING_DELETIONS] = c;
    ++d.pending_count;
}

// Notices the reader stepping to a successor file.
void follow_capture()
{
    Driver& d = g_driver;
    if (std::strcmp(d.capture.name, d.first_name) == 0)
        return;
    leave_capture(d.capture);
    d.capture = CaptureFile{};
    std::memcpy(d.capture.name, d.first_name, sizeof d.capture.name);
}

// A recognised frame of another recording than the run's: classified against
// that recording's own frames and not placed, unless it is the accepted first
// frame of a new recording's first file in the capture file being read, which
// the run then follows. Returns 1 when the frame is to be placed.
int take_recording_of(FrameRecord* current, const FrameRecord* previous)
{
    Driver& d = g_driver;
    if (!d.tag_known || current->recording_tag == d.recording_tag)
        return 1;
    FrameRecord foreign = *current;
    classify_frame(&foreign, &d.foreign_previous);
    d.foreign_previous = foreign;
    const int first_copy = foreign.file_index == 1 && foreign.frame_index == 0;
    d.foreign_first_copies = first_copy ? d.foreign_first_copies + 1 : 0;
    // A new recording is followed where it begins on the tape the capture file
    // has been showing, never from a successor file that holds none of the
    // run's frames: the digit rule may have led to another tape's capture.
    if (foreign.frame_code == FRAME0_ACCEPTED && foreign.file_index == 1 &&
        foreign.sum_computed == foreign.sum_stored && d.capture.used > 0) {
        d.recording_tag = foreign.recording_tag;
        *current = foreign;
        // The copies before the accepted one belong to the recording now followed.
        const int64_t counted = d.foreign_first_copies - 1;
        d.capture.foreign -= counted;
        g_run.verify.foreign_frames -= counted;
        d.foreign_first_copies = 0;
        return 1;
    }
    *current = *previous;
    ++d.capture.foreign;
    ++g_run.verify.foreign_frames;
    return 0;
}

int end_run(int status)
{
    // A run that stopped at a failure leaves no restored file open behind it.
    if (g_run.output)
        std::fclose(g_run.output);
    g_run.output = nullptr;
    if (g_run.log)
        std::fclose(g_run.log);
    g_run.log = nullptr;
    std::fflush(stdout);
    return status;
}

// Allocates the driver's buffers once: a second run in the same process (a
// program that restores several captures, a fuzzer) reuses them.
int allocate_buffers()
{
    if (!g_driver.spare_frame)
        g_driver.spare_frame = static_cast<uint8_t*>(std::malloc(DV_FRAME_SIZE));
    if (!g_driver.plane)
        g_driver.plane = static_cast<uint8_t*>(std::malloc(PLANE_SIZE));
    if (!g_driver.concealed)
        g_driver.concealed = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * PAYLOAD_BLOCKS));
    int reader_ok = 1;
    if (g_driver.reader.window)
        frame_reader_rewind(&g_driver.reader);
    else
        reader_ok = frame_reader_init(&g_driver.reader);
    int state_ok = run_state_allocate();
    int placement_ok = placement_allocate();
    return g_driver.spare_frame && g_driver.plane && g_driver.concealed && reader_ok && state_ok && placement_ok;
}

int queue_failed(int result)
{
    return end_run(result == QUEUE_CATASTROPHIC ? EXIT_CATASTROPHIC : EXIT_WRITE_FAILED);
}

}  // namespace

int brimread_main(int argc, char** argv)
{
    // A fresh run over the buffers a previous one in this process allocated.
    uint8_t* kept_spare = g_driver.spare_frame;
    uint8_t* kept_plane = g_driver.plane;
    uint16_t* kept_concealed = g_driver.concealed;
    FrameReader kept_reader = g_driver.reader;
    std::memset(&g_driver, 0, sizeof g_driver);
    g_driver.spare_frame = kept_spare;
    g_driver.plane = kept_plane;
    g_driver.concealed = kept_concealed;
    g_driver.reader = kept_reader;
    run_state_reset();

    if (!allocate_buffers() || ecc_decoder_init(&g_run.decoder) != 0) {
        std::printf("\nmain() : Error, malloc() failed.");
        return EXIT_NO_MEMORY;
    }
    if (argc < 2) {
        for (const char* line : USAGE)
            std::printf("%s", line);
        return EXIT_USAGE;
    }
    if (!parse_arguments(argc, argv))
        return EXIT_USAGE;

    g_driver.current.frame0_run = 0;
    g_driver.current.frame_index = -1;
    const std::time_t start_time = std::time(nullptr);
    g_run.log = std::fopen(LOG_FILE_NAME, "w");
    if (!g_run.log) {
        std::printf("Error opening file!\n");
        return EXIT_USAGE;
    }
    g_ecc_n = 0;

    Alignment alignment;
    find_alignment(g_driver.first_name, &g_driver.reader, g_driver.spare_frame, g_driver.plane, &alignment);
    placement_reset(&alignment);
    std::memcpy(g_driver.first_capture, g_driver.first_name, sizeof g_driver.first_capture);
    g_run.capture_name = g_driver.first_capture;
    g_run.sync_outputs = g_driver.inplace;
    g_driver.tag_known = alignment.tag_known;
    g_driver.recording_tag = alignment.recording_tag;
    g_driver.foreign_previous.frame_index = -1;
    std::memcpy(g_driver.capture.name, g_driver.first_name, sizeof g_driver.capture.name);

    const uint8_t* frame = nullptr;
    while (ReadDVFrame(&frame, g_driver.spare_frame, &g_driver.reader, g_driver.first_name, 0, g_run.log,
                       g_ecc_n)) {
        follow_capture();
        g_driver.previous = g_driver.current;
        // Most frames go to the next block position: unpacked straight into the
        // decoder's buffer for it, the plane is not copied again.
        uint8_t* plane = queue_buffer();
        unpack_frame(frame, plane, &g_driver.current);
        if (!frame_recognised(&g_driver.current)) {
            // The next frame is compared with the last recognised one again.
            g_driver.current = g_driver.previous;
            mark_unrecognised();
            continue;
        }
        const int64_t header_remaining = g_driver.current.bytes_remaining;
        const uint16_t tag_before = g_driver.recording_tag;
        if (!take_recording_of(&g_driver.current, &g_driver.previous))
            continue;
        const int new_recording = g_driver.recording_tag != tag_before;
        if (!new_recording)
            classify_frame(&g_driver.current, &g_driver.previous);
        int result = handle_frame(frame, plane, header_remaining, new_recording);
        if (result != QUEUE_OK)
            return queue_failed(result);
        delete_used_captures(0);
    }
    leave_capture(g_driver.capture);

    if (g_ecc_n != 0)
        std::printf("\nmain() : g_ecc_n == %d (should be 0), uh oh...", static_cast<int>(g_ecc_n));
    if (g_driver.stats.decoded == 0) {
        std::printf("No Input Files Found!\n");
        return end_run(EXIT_NOTHING_DECODED);
    }
    int result = finish_placement();
    if (result != QUEUE_OK)
        return queue_failed(result);
    if (finish_output() != QUEUE_OK)
        return end_run(EXIT_WRITE_FAILED);
    delete_used_captures(1);
    report_unseen_files();

    const std::time_t end_time = std::time(nullptr);
    print_statistics(&g_driver.stats, static_cast<int64_t>(end_time - start_time), g_run.log);
    print_verification(&g_run.verify, g_run.log);
    if (!g_run.output_started) {
        // A -startfile name that never came: the run did not do what was asked.
        std::printf("\nno stored file named %s was found; nothing was restored\n", g_run.start_name);
        std::fprintf(g_run.log, "\nno stored file named %s was found; nothing was restored\n", g_run.start_name);
        return end_run(EXIT_START_NOT_FOUND);
    }
    return end_run(EXIT_DONE);
}
