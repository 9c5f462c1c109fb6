// brim: stores files and directory trees on DV tape through any DV camcorder and
// gets every byte back, with the habits of a Unix archiver.
#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "brim.h"

namespace {

const char* const USAGE =
    "usage: brim write [options] PATH...       store files and trees as DV files to record to tape\n"
    "       brim read  [options] CAPTURE...    restore from a capture (its first file, or - for standard input);\n"
    "                                          several captures of one tape are merged frame by frame\n"
    "       brim plan  [options] PATH...       what write would do; writes nothing\n"
    "       brim list  [options] CAPTURE...    what a capture holds and whether each file would restore intact\n"
    "       brim --help | brim COMMAND --help | brim --version\n";

const char* const WRITE_HELP =
    "usage: brim write [options] PATH...\n"
    "Stores files and directory trees (everything below them, dot files included) as DV files to record to tape.\n"
    "  -C DIR                    take the PATHs from DIR (stored relative to it)\n"
    "  -o DIR                    write the DV files into DIR (default: the current directory); -o - writes one raw\n"
    "                            DV stream to standard output\n"
    "      --raw                 write raw DV files (DV000001.dv, ...) instead of AVI files\n"
    "      --frames-per-file N   frames per output file (default 15869, with --pal 13224)\n"
    "      --first-frame-copies N  copies of each file's first frame (default 30)\n"
    "      --pal                 write 625/50 (PAL) frames for PAL camcorders (default: 525/60, NTSC)\n"
    "      --template FILE       the DV frame to build frames from (default: built in)\n"
    "      --overwrite           replace the tape files of another run in the output directory\n"
    "      --log FILE            write a log of the run to FILE\n"
    "  -q, --quiet               only errors and the closing summary\n"
    "  -v, --verbose             a line for every file\n";

const char* const READ_HELP =
    "usage: brim read [options] CAPTURE [CAPTURE...]\n"
    "Restores the files of a recording from its capture: the first capture file (the later ones are found by\n"
    "counting up the digits of its name), or - for a raw DV or AVI stream on standard input. Several captures\n"
    "of one tape are merged frame by frame: every frame is taken from the capture that holds it best.\n"
    "  -C DIR                    restore into DIR (created if missing; default: the current directory)\n"
    "      --flat                every file into DIR by its base name, without the stored directories\n"
    "      --overwrite           replace existing files (default: keep them and report the restored file not written)\n"
    "      --no-correct          do not use the parity frames\n"
    "      --start NAME          restore from the stored file NAME on\n"
    "      --delete-captures     delete each capture file once everything it gave is on disk\n"
    "      --json                print the report as one JSON document\n"
    "      --map FILE.svg        draw the tape health: a cell per frame, a row per tape minute\n"
    "      --map-by capture      colour the map by the capture that gave each frame (several captures)\n"
    "      --log FILE            write a log of the run to FILE\n"
    "  -q, --quiet               only errors and the closing summary (no tape health)\n"
    "  -v, --verbose             a line for every file\n";

const char* const PLAN_HELP =
    "usage: brim plan [options] PATH...\n"
    "Tells what brim write would do with the same options: files, bytes, frames, output, tape time and free\n"
    "space. Writes nothing. Options as for brim write.\n";

const char* const LIST_HELP =
    "usage: brim list [options] CAPTURE [CAPTURE...]\n"
    "Lists the files of a capture (or of several captures of one tape, merged) with their sizes and whether each\n"
    "would restore intact. Writes nothing.\n"
    "      --no-correct          do not use the parity frames\n"
    "      --json                print the list as one JSON document\n"
    "      --map FILE.svg        draw the tape health (--map-by capture: by the capture that gave each frame)\n"
    "      --log FILE            write a log of the run to FILE\n"
    "  -q, --quiet               only errors and the closing summary\n"
    "  -v, --verbose             a line for every file (the default)\n";

enum LongOnly {
    OPT_RAW = 256,
    OPT_FRAMES_PER_FILE,
    OPT_FIRST_FRAME_COPIES,
    OPT_TEMPLATE,
    OPT_PAL,
    OPT_MAP,
    OPT_MAP_BY,
    OPT_OVERWRITE,
    OPT_LOG,
    OPT_FLAT,
    OPT_NO_CORRECT,
    OPT_START,
    OPT_DELETE_CAPTURES,
    OPT_JSON,
};

const struct option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"directory", required_argument, nullptr, 'C'},
    {"output", required_argument, nullptr, 'o'},
    {"raw", no_argument, nullptr, OPT_RAW},
    {"frames-per-file", required_argument, nullptr, OPT_FRAMES_PER_FILE},
    {"first-frame-copies", required_argument, nullptr, OPT_FIRST_FRAME_COPIES},
    {"template", required_argument, nullptr, OPT_TEMPLATE},
    {"pal", no_argument, nullptr, OPT_PAL},
    {"map", required_argument, nullptr, OPT_MAP},
    {"map-by", required_argument, nullptr, OPT_MAP_BY},
    {"overwrite", no_argument, nullptr, OPT_OVERWRITE},
    {"log", required_argument, nullptr, OPT_LOG},
    {"flat", no_argument, nullptr, OPT_FLAT},
    {"no-correct", no_argument, nullptr, OPT_NO_CORRECT},
    {"start", required_argument, nullptr, OPT_START},
    {"delete-captures", no_argument, nullptr, OPT_DELETE_CAPTURES},
    {"json", no_argument, nullptr, OPT_JSON},
    {nullptr, 0, nullptr, 0},
};

const char* help_of(const std::string& command)
{
    if (command == "write")
        return WRITE_HELP;
    if (command == "read")
        return READ_HELP;
    if (command == "plan")
        return PLAN_HELP;
    return LIST_HELP;
}

// A positive count for `option`; false (told) otherwise.
bool parse_count(const char* option, const char* text, int32_t* out)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > INT32_MAX) {
        brim_error("%s needs a whole number from 1 on, not '%s'", option, text);
        return false;
    }
    *out = static_cast<int32_t>(value);
    return true;
}

// Which options each command takes, by their getopt value.
bool option_fits(const std::string& command, int c)
{
    const bool writes = command == "write" || command == "plan";
    switch (c) {
    case 'o': case OPT_RAW: case OPT_FRAMES_PER_FILE: case OPT_FIRST_FRAME_COPIES: case OPT_TEMPLATE: case OPT_PAL:
        return writes;
    case OPT_OVERWRITE:
        return command == "write" || command == "read";
    case OPT_LOG:
        return command != "plan";
    case OPT_FLAT: case OPT_START: case OPT_DELETE_CAPTURES:
        return command == "read";
    case OPT_MAP: case OPT_MAP_BY:
        return command == "read" || command == "list";
    case OPT_NO_CORRECT: case OPT_JSON:
        return !writes;
    case 'C':
        return command != "list";
    default:
        return true;
    }
}

// The option `c` as a user writes it: "-C", or "--flat".
std::string option_name(int c)
{
    for (const struct option* o = LONG_OPTIONS; o->name; ++o)
        if (o->val == c)
            return c < OPT_RAW ? std::string("-") + static_cast<char>(c) : std::string("--") + o->name;
    return std::string("-") + static_cast<char>(c);
}

// Fills `o` from the command's arguments; returns -1 to go on, or an exit status.
int parse(int argc, char** argv, BrimOptions* o)
{
    optind = 1;
    opterr = 0;
    int c;
    // A leading ':' makes a missing value ':' rather than '?'.
    while ((c = getopt_long(argc, argv, ":hqvC:o:", LONG_OPTIONS, nullptr)) != -1) {
        if (c == ':') {
            brim_error("%s: option '%s' needs a value", o->command.c_str(), option_name(optopt).c_str());
            return BRIM_FAILED;
        }
        if (c == '?') {
            // A long option as the word given; a short one from optopt (the word may bundle several).
            const char* word = argv[optind - 1];
            const std::string given = std::strncmp(word, "--", 2) == 0 || optopt <= 0 || optopt >= OPT_RAW
                                          ? std::string(word)
                                          : "-" + std::string(1, static_cast<char>(optopt));
            brim_error("%s: unknown option '%s' (brim %s --help lists them)", o->command.c_str(), given.c_str(),
                       o->command.c_str());
            return BRIM_FAILED;
        }
        if (!option_fits(o->command, c)) {
            brim_error("%s: option '%s' does not apply to this command", o->command.c_str(), option_name(c).c_str());
            return BRIM_FAILED;
        }
        switch (c) {
        case 'h': std::fputs(help_of(o->command), stdout); return BRIM_OK;
        case 'q': o->verbosity = 0; break;
        case 'v': o->verbosity = 2; break;
        case 'C': o->directory = optarg; break;
        case 'o': o->output = optarg; break;
        case OPT_RAW: o->raw = true; break;
        case OPT_FRAMES_PER_FILE:
            if (!parse_count("--frames-per-file", optarg, &o->frames_per_file))
                return BRIM_FAILED;
            break;
        case OPT_FIRST_FRAME_COPIES:
            if (!parse_count("--first-frame-copies", optarg, &o->first_frame_copies))
                return BRIM_FAILED;
            break;
        case OPT_TEMPLATE: o->template_file = optarg; break;
        case OPT_PAL: o->pal = true; break;
        case OPT_MAP: o->map = optarg; break;
        case OPT_MAP_BY:
            if (std::strcmp(optarg, "capture") != 0 && std::strcmp(optarg, "state") != 0) {
                brim_error("--map-by takes capture or state, not '%s'", optarg);
                return BRIM_FAILED;
            }
            o->map_by_capture = std::strcmp(optarg, "capture") == 0;
            break;
        case OPT_OVERWRITE: o->overwrite = true; break;
        case OPT_LOG: o->log = optarg; break;
        case OPT_FLAT: o->flat = true; break;
        case OPT_NO_CORRECT: o->no_correct = true; break;
        case OPT_START: o->start = optarg; break;
        case OPT_DELETE_CAPTURES: o->delete_captures = true; break;
        case OPT_JSON: o->json = true; break;
        default: break;
        }
    }
    for (int i = optind; i < argc; ++i)
        o->operands.emplace_back(argv[i]);
    const bool captures = o->command == "read" || o->command == "list";
    if (o->operands.empty()) {
        brim_error("%s: %s (brim %s --help)", o->command.c_str(),
                   captures ? "name a capture: its first file, or - for standard input" : "name what to store",
                   o->command.c_str());
        return BRIM_FAILED;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    binary_standard_streams();
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return BRIM_FAILED;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        std::fputs(USAGE, stdout);
        return BRIM_OK;
    }
    if (first == "--version") {
        std::printf("%s\n", BRIM_VERSION);
        return BRIM_OK;
    }
    if (first != "write" && first != "read" && first != "plan" && first != "list") {
        brim_error("unknown command '%s'", first.c_str());
        std::fputs(USAGE, stderr);
        return BRIM_FAILED;
    }
    BrimOptions o;
    o.command = first;
    const int parsed = parse(argc - 1, argv + 1, &o);
    if (parsed >= 0)
        return parsed;
    if (first == "write")
        return brim_write(o);
    if (first == "plan")
        return brim_plan(o);
    if (first == "read")
        return brim_read(o);
    return brim_list(o);
}
