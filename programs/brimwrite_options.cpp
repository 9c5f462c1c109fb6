#include "brimwrite_options.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "avi_writer.h"
#include "dv_template.h"
#include "ecc.h"
#include "frame_layout.h"
#include "plan.h"

namespace {

// The last AVI file may hold up to the frames that close the last ECC block more.
int32_t max_avisize(const VideoSystem& v) { return avi_max_frames(v) - (ECC_N - 1); }

// The two usage texts share all but a few lines; these are the lines where they differ.
struct UsageText {
    const char* title;
    const char* repeat0_limit;
    const char* avisize;
    const char* input_files;
};

constexpr UsageText USAGE_FIRST = {
    "Brimwrite v2.0 BETA - By Tolvane\n  (Hamming-code ECC by Verrant\n",
    "\t\t         than 10.  (Do not set higher than 80)\n",
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15870,\n"
    "            which is approximately 2 GB. ***DO NOT CHANGE***\n\n",
    "input files",
};

constexpr UsageText USAGE_SECOND = {
    "Brimwrite v2.0 BETA - By Tolvane\n\n",
    "\t\t   than 10.\n",
    "  -avisize: Specifies number of frames per output .avi file. Defaults to 15984,\n"
    "            which is approximately 2 GB. (Must be divisible by 72!)\n\n",
    "<input files>",
};

void print_usage(const UsageText& text)
{
    printf("%s"
           "Usage: Brimwrite [-recurse] [-repeat0 # frames] [-avisize # frames] <input files>\n\n"
           "  -recurse: Search for input files recursively through directories. Note that\n"
           "            entire directory path from the root of the hard drive (excluding\n"
           "            the drive letter is stored.\n"
           "  -repeat0: Specifies number of times to repeat Frame 0 (to guarantee it is\n"
           "            retreived without errors). Defaults to 30, and cannot be set lower\n"
           "%s"
           "  -pal:     Writes 625/50 (PAL) frames from DVFRAME_PAL for PAL camcorders.\n"
           "%s"
           "Example: Brimwrite *.mpg\n"
           "Example: Brimwrite file1.mpg file2.mpg\n"
           "Example: Brimwrite -recurse *.mpg\n"
           "Example: Brimwrite -recurse *.ts.*\n"
           "Example: Brimwrite -repeat0 15 hipix.ts.*\n"
           "Example: Brimwrite -avisize 500 hipix.ts.*\n\n"
           "NOTE: PAL Camcorders are not supported at this time.\n"
           "NOTE: Multiple %s on the command line (ie. Brimwrite file*.mpg data*.mpg)\n"
           "      are not supported under Win98 (Although wildcards are)\n",
           text.title, text.repeat0_limit, text.avisize, text.input_files);
}

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

void print_usage_first() { print_usage(USAGE_FIRST); }

void print_usage_second() { print_usage(USAGE_SECOND); }

bool parse_command_line(int argc, char** argv, EncodePlan* plan, std::vector<std::string>* patterns, EventSink* sink)
{
    int arg = 1;
    bool avisize_given = false;
    for (; arg < argc; arg++) {
        const char* option = argv[arg];
        if (strcmp(option, "-recurse") == 0) {
            plan->recurse = true;
            continue;
        }
        if (strcmp(option, "-pal") == 0) {
            plan->system = &SYSTEM_625_50;
            continue;
        }
        const bool repeat0 = strcmp(option, "-repeat0") == 0;
        if (!repeat0 && strcmp(option, "-avisize") != 0)
            break;
        if (arg + 1 >= argc) {
            tell(sink, Severity::Error, "%s needs a number of frames after it!\n", option);
            return false;
        }
        const int32_t value = option_value(argv[++arg]);
        if (repeat0) {
            plan->repeat0 = value;
        } else {
            plan->avisize = value;
            avisize_given = true;
        }
    }
    if (!avisize_given)
        plan->avisize = DEFAULT_AVISIZES[plan->system->id];
    for (; arg < argc; arg++)
        patterns->push_back(argv[arg]);

    if (plan->avisize < 1 || plan->avisize > max_avisize(*plan->system)) {
        tell(sink, Severity::Error, "-avisize %d is out of range: an AVI file holds 1 to %d frames!\n", plan->avisize,
             max_avisize(*plan->system));
        return false;
    }
    if (plan->repeat0 <= 0) {
        tell(sink, Severity::Warning,
             "(Warning: -repeat0 %d writes no copy of any file's first frame: the files cannot be restored)\n",
             plan->repeat0);
        plan->repeat0 = 0;
    } else if (plan->repeat0 < MIN_SAFE_REPEAT0) {
        tell(sink, Severity::Warning,
             "(Warning: -repeat0 %d is below %d: the decoder needs %d agreeing copies of each file's first frame to "
             "restore the file)\n",
             plan->repeat0, MIN_SAFE_REPEAT0, MIN_SAFE_REPEAT0);
    }
    return true;
}

bool load_template(const VideoSystem& v, uint8_t* frame, EventSink* sink)
{
    const char* name = TEMPLATE_FILE_NAMES[v.id];
    FILE* in = fopen(name, "rb");
    if (!in) {
        tell(sink, Severity::Error, "Cannot find %s File!\n", name);
        return false;
    }
    const size_t got = fread(frame, 1, static_cast<size_t>(v.chunk_size), in);
    fclose(in);
    if (got != static_cast<size_t>(v.chunk_size)) {
        tell(sink, Severity::Error, "%s is too short: %d of %d bytes!\n", name, static_cast<int>(got), v.chunk_size);
        return false;
    }
    const char* problem = nullptr;
    if (!check_template_frame(v, frame, &problem)) {
        tell(sink, Severity::Error, "%s is not a usable template frame: %s!\n", name, problem);
        return false;
    }
    return true;
}

void warn_stale_output(const EncodePlan* plan, EventSink* sink)
{
    char name[AVI_NAME_SIZE];
    avi_file_name(plan->avi_count + 1, name);
    FILE* stale = fopen(name, "rb");
    if (!stale)
        return;
    fclose(stale);
    tell(sink, Severity::Warning,
         "\n(Warning: %s is left from an earlier run and does not belong to this recording: delete it before "
         "recording or reading these files)\n",
         name);
}
