// brim: one command for storing files on DV tape and getting them back, with
// the habits of a Unix archiver. Shared by its commands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder.h"
#include "events.h"
#include "frame_layout.h"

// Exit statuses.
constexpr int BRIM_OK = 0;        // everything done (and every file intact)
constexpr int BRIM_PARTIAL = 1;   // done, but some file left out, damaged, missing or not written
constexpr int BRIM_FAILED = 2;    // usage error, unreadable capture, write failure

constexpr const char* BRIM_VERSION = "brim 1.0";

// The command line of one command.
struct BrimOptions {
    std::string command;                 // write, read, plan, list
    std::vector<std::string> operands;   // PATHs, or the capture
    std::string directory;               // -C
    std::string output;                  // -o (write, plan): directory or "-"
    std::string log;                     // --log
    std::string start;                   // --start
    std::string template_file;           // --template
    int32_t frames_per_file = 0;         // --frames-per-file (0: the default)
    int32_t first_frame_copies = 0;      // --first-frame-copies (0: the default)
    int verbosity = 1;                   // 0 with -q, 2 with -v
    bool raw = false;
    bool overwrite = false;
    bool flat = false;
    bool no_correct = false;
    bool delete_captures = false;
    bool json = false;
    bool pal = false;                    // --pal: 625/50 frames
    std::string map;                     // --map: the tape health map (SVG)
    bool map_by_capture = false;         // --map-by capture
};

// The commands; each returns its exit status.
int brim_write(const BrimOptions& o);
int brim_plan(const BrimOptions& o);
int brim_read(const BrimOptions& o);
int brim_list(const BrimOptions& o);

// Renders the engine's events for brim: errors and warnings on stderr as
// "brim: ..." lines, a progress line rewritten in place when stderr is a
// terminal, everything but progress into the --log file if one is open.
class BrimSink final : public EventSink {
public:
    explicit BrimSink(int verbosity);
    ~BrimSink() override;
    // Opens the log (truncated); false with a message when it cannot be.
    [[nodiscard]] bool open_log(const std::string& path);
    void message(Severity severity, const char* text) override;
    void frame_mark(const char* mark) override;
    void capture_end(const char*) override {}
    void file_verdict(const RestoredFile& file) override;
    void statistics(const DecodeStats&, int64_t) override {}
    void verification(const VerifyTotals&) override {}
    void block_health(const BlockHealth& block) override;

    // Called with every file's verdict (read, list), before it is counted.
    void (*on_verdict)(void* context, const RestoredFile& file) = nullptr;
    void* verdict_context = nullptr;
    // Called with every finished ECC block (read, list).
    void (*on_block)(void* context, const BlockHealth& block) = nullptr;

    // Progress of a run: `done` of `total` units (total 0: unknown), `bytes`
    // moved so far and `frames` of tape reached; shown at most a few times a second.
    void progress(int64_t done, int64_t total, int64_t bytes, int64_t frames);
    void end_progress();
    // Data planes a write will encode: each frame mark then moves the progress line.
    void expect_planes(int64_t planes) { planes_expected_ = planes; }
    // The tape's video system: its plane size and frame rate for the progress line.
    void set_system(const VideoSystem& v) { system_ = &v; }
    // Warnings told so far (a file stored otherwise than listed, say).
    int64_t warnings() const { return warnings_; }

private:
    int verbosity_;
    FILE* log_ = nullptr;
    bool terminal_;
    bool progress_shown_ = false;
    int64_t marks_ = 0;
    int64_t warnings_ = 0;
    double started_;
    double last_shown_ = 0;
    int64_t planes_expected_ = 0;
    const VideoSystem* system_ = &SYSTEM_525_60;
};

// Prints "brim: " and the formatted message on stderr.
void brim_error(const char* format, ...) BRIM_PRINTF_LIKE(1, 2);

// hh:mm:ss of tape for `frames` of system `v` (29.97 or 25 frames a second),
// times `factor` (LP: 1.5).
std::string tape_time(const VideoSystem& v, int64_t frames, double factor);

// Platform parts (brim_platform_*.cpp).
bool stderr_is_terminal();
double seconds_now();
// On SIGINT or SIGTERM: removes the file named by *temp_name (if any) and ends
// the process with status 130, so that no partial file stays behind.
void remove_on_interrupt(const char* temp_name);
// Standard input and output carry bytes as they are (Windows would translate line ends).
void binary_standard_streams();
