// brimwrite: stores files in the picture area of NTSC DV frames, written as
// numbered DV AVI files with Hamming-code parity frames, ready to go to tape.
#include <cstdio>
#include <string>
#include <vector>

#include "encode_run.h"
#include "plan.h"
#include "startup.h"

namespace {

constexpr int EXIT_COMPLETED = 1;
constexpr int EXIT_FAILED = -1;

EncoderRun g_run;

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

    const int status = encode_run(run);
    fclose(run->log);
    ecc_encoder_shutdown(&run->ecc);
    return status < 0 ? EXIT_FAILED : EXIT_COMPLETED;
}
