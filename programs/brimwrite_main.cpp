// brimwrite: stores files in the picture area of DV frames (NTSC, or PAL with -pal), written as
// numbered DV AVI files with Hamming-code parity frames, ready to go to tape.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "brimwrite_options.h"
#include "capture_run.h"
#include "console_log.h"
#include "encoder.h"
#include "plan.h"

namespace {

constexpr int EXIT_COMPLETED = 1;
constexpr int EXIT_FAILED = -1;

// The part of the run that the log records.
int plan_and_encode(Encoder* encoder, const std::vector<std::string>& patterns, EventSink* sink)
{
    findfiles(&encoder->plan, patterns, sink);
    if (encoder->plan.file_count == 0) {
        print_usage_second();
        return EXIT_FAILED;
    }
    report_plan(&encoder->plan, sink);
    if (!encoder_start(encoder) || !encode_run(encoder))
        return EXIT_FAILED;
    warn_stale_output(&encoder->plan, sink);
    return EXIT_COMPLETED;
}

}  // namespace

int main(int argc, char** argv)
{
    ConsoleLogSink sink;  // outlives the encoder, which may still report while it is released
    const auto encoder = std::make_unique<Encoder>();
    if (!encoder_init(encoder.get(), &sink))
        return EXIT_FAILED;
    encoder->write_ahead = threads_allowed();
    if (argc < 2) {
        print_usage_first();
        return EXIT_FAILED;
    }
    std::vector<std::string> patterns;
    if (!parse_command_line(argc, argv, &encoder->plan, &patterns, &sink) || !load_template(*encoder->plan.system, encoder->frame, &sink))
        return EXIT_FAILED;
    FILE* log = fopen(LOG_FILE_NAME, "w");
    if (!log) {
        tell(&sink, Severity::Error, "Could not open Logfile!\n");
        return EXIT_FAILED;
    }
    sink.set_log(log);
    const int status = plan_and_encode(encoder.get(), patterns, &sink);
    sink.set_log(nullptr);
    fclose(log);
    return status;
}
