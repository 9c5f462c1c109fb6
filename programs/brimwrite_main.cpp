// brimwrite: stores files in the picture area of NTSC DV frames, written as
// numbered DV AVI files with Hamming-code parity frames, ready to go to tape.
#include <cstdio>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "console_log.h"
#include "encode_run.h"
#include "plan.h"
#include "recording_id.h"
#include "startup.h"

namespace {

constexpr int EXIT_COMPLETED = 1;
constexpr int EXIT_FAILED = -1;

EncoderRun g_run;

// An AVI file numbered right after the last one written is left from an earlier,
// longer run: a capture or a reader would take it as this recording's continuation.
void warn_stale_output(const EncodePlan* plan, FILE* log)
{
    char name[AVI_NAME_SIZE];
    avi_file_name(plan->avi_count + 1, name);
    FILE* stale = fopen(name, "rb");
    if (!stale)
        return;
    fclose(stale);
    say(log, "\n(Warning: %s is left from an earlier run and does not belong to this recording: delete it before "
             "recording or reading these files)\n",
        name);
}

}  // namespace

int main(int argc, char** argv)
{
    EncoderRun* run = &g_run;
    if (ecc_encoder_init(&run->ecc) != 0) {
        printf("main() : ecc_encoder_init() failed, cannot allocate the parity planes!\n");
        return EXIT_FAILED;
    }
    if (argc < 2) {
        print_usage_first();
        return EXIT_FAILED;
    }
    set_plan_defaults(&run->plan);
    init_frame_info(&run->info);

    std::vector<std::string> patterns;
    if (!parse_command_line(argc, argv, &run->plan, &patterns))
        return EXIT_FAILED;
    if (!load_template(run->frame))
        return EXIT_FAILED;
    run->log = fopen(LOG_FILE_NAME, "w");
    if (!run->log) {
        printf("Could not open Logfile!\n");
        return EXIT_FAILED;
    }
    findfiles(&run->plan, patterns);
    if (run->plan.file_count == 0) {
        print_usage_second();
        fclose(run->log);
        return EXIT_FAILED;
    }
    report_plan(&run->plan, run->log);
    draw_recording_id(run->recording_id);
    run->info.recording_tag = recording_tag(run->recording_id);
    if (!input_slot_init(&run->input, run->recording_id, run->scan, run->log)) {
        printf("main() : cannot allocate the hash state!\n");
        fclose(run->log);
        return EXIT_FAILED;
    }

    const int status = encode_run(run);
    if (status >= 0)
        warn_stale_output(&run->plan, run->log);
    fclose(run->log);
    ecc_encoder_shutdown(&run->ecc);
    return status < 0 ? EXIT_FAILED : EXIT_COMPLETED;
}
