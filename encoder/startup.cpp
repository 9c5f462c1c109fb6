#include "startup.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "avi_writer.h"
#include "console_log.h"
#include "dv_template.h"
#include "ecc.h"
#include "frame_layout.h"
#include "plan.h"

namespace {

// The last AVI file may hold up to the frames that close the last ECC block more.
constexpr int32_t MAX_AVISIZE = AVI_MAX_FRAMES - (ECC_N - 1);

const char* const USAGE_FIRST[] = {
    "Brimwrite v2.0 BETA - By Tolvane\n",
    "  (Hamming-code ECC by Verrant\n",
    "Usage: Brimwrite [-recurse] [-repeat0 # frames] [-avisize # frames] <input files>\n\n",
    "  -recurse: Search for input files recursively through directories. Note that\n",
    "            entire directory path from the root of the hard drive (excluding\n",
    "            the drive letter is stored.\n",
    "  -repeat0: Specifies number of times to repeat Frame 0 (to guarantee it is\n",
    "            retreived without errors). Defaults to 30, and cannot be set lower\n",
    "\t\t         than 10.  (Do not set higher than 80)\n",
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15870,\n",
    "            which is approximately 2 GB. ***DO NOT CHANGE***\n\n",
    "Example: Brimwrite *.mpg\n",
    "Example: Brimwrite file1.mpg file2.mpg\n",
    "Example: Brimwrite -recurse *.mpg\n",
    "Example: Brimwrite -recurse *.ts.*\n",
    "Example: Brimwrite -repeat0 15 hipix.ts.*\n",
    "Example: Brimwrite -avisize 500 hipix.ts.*\n\n",
    "NOTE: PAL Camcorders are not supported at this time.\n",
    "NOTE: Multiple input files on the command line (ie. Brimwrite file*.mpg data*.mpg)\n",
    "      are not supported under Win98 (Although wildcards are)\n",
};

const char* const USAGE_SECOND[] = {
    "Brimwrite v2.0 BETA - By Tolvane\n\n",
    "Usage: Brimwrite [-recurse] [-repeat0 # frames] [-avisize # frames] <input files>\n\n",
    "  -recurse: Search for input files recursively through directories. Note that\n",
    "            entire directory path from the root of the hard drive (excluding\n",
    "            the drive letter is stored.\n",
    "  -repeat0: Specifies number of times to repeat Frame 0 (to guarantee it is\n",
    "            retreived without errors). Defaults to 30, and cannot be set lower\n",
    "\t\t   than 10.\n",
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15984,\n",
    "            which is approximately 2 GB. (Must be divisible by 72!)\n\n",
    "Example: Brimwrite *.mpg\n",
    "Example: Brimwrite file1.mpg file2.mpg\n",
    "Example: Brimwrite -recurse *.mpg\n",
    "Example: Brimwrite -recurse *.ts.*\n",
    "Example: Brimwrite -repeat0 15 hipix.ts.*\n",
    "Example: Brimwrite -avisize 500 hipix.ts.*\n\n",
    "NOTE: PAL Camcorders are not supported at this time.\n",
    "NOTE: Multiple <input files> on the command line (ie. Brimwrite file*.mpg data*.mpg)\n",
    "      are not supported under Win98 (Although wildcards are)\n",
};

// The value of an option, read like atoi (leading blanks, sign, digits, 0 when
// there are none) but held to the range of an int.
int32_t option_value(const char* text)
{
    const long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

void print_usage_first()
{
    for (const char* line : USAGE_FIRST)
        printf("%s", line);
}

void print_usage_second()
{
    for (const char* line : USAGE_SECOND)
        printf("%s", line);
}

void set_plan_defaults(EncodePlan* plan)
{
    plan->recurse = 0;
    plan->repeat0 = DEFAULT_REPEAT0;
    plan->avisize = DEFAULT_AVISIZE;
    plan->avi_count = 1;
    plan->avi_current = 1;
    plan->avi_frames.assign(2, 0);
    plan->CAVIFcnt = 0;
    plan->file_count = 0;
    plan->file_current = 1;
}

int parse_command_line(int argc, char** argv, EncodePlan* plan, std::vector<std::string>* patterns)
{
    int arg = 1;
    for (; arg < argc; arg++) {
        const char* option = argv[arg];
        if (strcmp(option, "-recurse") == 0) {
            plan->recurse = 1;
            continue;
        }
        const bool repeat0 = strcmp(option, "-repeat0") == 0;
        if (!repeat0 && strcmp(option, "-avisize") != 0)
            break;
        if (arg + 1 >= argc) {
            printf("%s needs a number of frames after it!\n", option);
            return 0;
        }
        const int32_t value = option_value(argv[++arg]);
        if (repeat0)
            plan->repeat0 = value;
        else
            plan->avisize = value;
    }
    for (; arg < argc; arg++)
        patterns->push_back(argv[arg]);

    if (plan->avisize < 1 || plan->avisize > MAX_AVISIZE) {
        printf("-avisize %d is out of range: an AVI file holds 1 to %d frames!\n", plan->avisize, MAX_AVISIZE);
        return 0;
    }
    if (plan->repeat0 <= 0) {
        printf("(Warning: -repeat0 %d writes no copy of any file's first frame: the files cannot be restored)\n",
               plan->repeat0);
        plan->repeat0 = 0;
    } else if (plan->repeat0 < MIN_SAFE_REPEAT0) {
        printf("(Warning: -repeat0 %d is below %d: the decoder needs %d agreeing copies of each file's first "
               "frame to restore the file)\n",
               plan->repeat0, MIN_SAFE_REPEAT0, MIN_SAFE_REPEAT0);
    }
    return 1;
}

int load_template(uint8_t* frame)
{
    FILE* in = fopen(TEMPLATE_FILE_NAME, "rb");
    if (!in) {
        printf("Cannot find DVFRAME_NTSC File!\n");
        return 0;
    }
    const size_t got = fread(frame, 1, FRAME_CHUNK_SIZE, in);
    fclose(in);
    if (got != static_cast<size_t>(FRAME_CHUNK_SIZE)) {
        printf("DVFRAME_NTSC is too short: %d of %d bytes!\n", static_cast<int>(got), FRAME_CHUNK_SIZE);
        return 0;
    }
    const char* problem = nullptr;
    if (!check_template_frame(frame, &problem)) {
        printf("DVFRAME_NTSC is not a usable template frame: %s!\n", problem);
        return 0;
    }
    return 1;
}

void report_plan(const EncodePlan* plan, FILE* log)
{
    for (int32_t i = 1; i <= plan->file_count; i++)
        say(log, "Input File[%d] %s: %lld Bytes -> %d Frames\n", i, plan->file_name[i].c_str(),
            static_cast<long long>(plan->file_size[i]), plan->file_frames[i]);
    for (int32_t k = 1; k <= plan->avi_count; k++)
        say(log, "AVI File %d: %d Frames\n", k, plan->avi_frames[k]);
    for (int32_t k = 1; k <= plan->avi_count; k++) {
        if (plan->avi_frames[k] <= AVI_PORTABLE_FRAMES)
            continue;
        char name[AVI_NAME_SIZE];
        avi_file_name(k, name);
        say(log, "(Warning: %s will be over 2 GiB; some DV tools read AVI 1.0 files only up to 2 GiB: -avisize %d "
                 "keeps every file below)\n",
            name, AVI_PORTABLE_FRAMES - (ECC_N - 1));
    }
    say(log, "(Frame 0 Repeated %d times)\n", plan->repeat0);
}
