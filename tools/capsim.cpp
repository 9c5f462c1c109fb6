// capsim: plays brimwrite's AVI files through a simulated tape and capture and
// writes what the capture program would hand back, with the faults asked for.
// Every fault it makes is printed, one line each, so that a test or a person can
// see exactly what the simulated tape lost.
#include <cstdlib>
#include <cstring>

#include "capsim.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* DEFAULT_AVI_NAME = "SCENE0001.avi";
constexpr const char* DEFAULT_RAW_NAME = "capture0001.dv";
constexpr int64_t KIB = 1024;
constexpr int64_t DEFAULT_SPLIT = KIB * KIB * KIB;   // capture programs split at about 1 GiB
constexpr int64_t MAX_AVI_SPLIT = 2 * DEFAULT_SPLIT;  // keeps the 32-bit RIFF lengths safe
constexpr int64_t DEFAULT_BURST_MAX = 10;
constexpr int64_t MIN_BURST = 2;
constexpr int64_t DEFAULT_DAMAGE_BLOCKS = 3;
constexpr int64_t DEFAULT_GARBAGE_MAX = 4096;
constexpr int64_t MAX_GARBAGE = 64 * KIB * KIB;
constexpr int64_t MAX_CAPTURES = 26;                     // named A- to Z-
constexpr int64_t NO_FRAME = -1;

// Independent random streams, one per kind of fault.
enum Stream : uint64_t {
    STREAM_DROP = 1,
    STREAM_BURST,
    STREAM_DUP,
    STREAM_DAMAGE,
    STREAM_CONCEAL,
    STREAM_HEADER,
    STREAM_FRAMEHEADER,
    STREAM_GARBAGE,
    STREAM_GARBAGE_BYTES,
    STREAM_SWAP,
};

// One kind of fault: the frames named on the command line and the chance that
// any other frame gets it.
struct Fault {
    FrameList frames;
    double chance;
    Rng rng;
};

struct Options {
    const char* output_name;
    int raw;
    int64_t split;
    int64_t first;
    int64_t last;      // NO_FRAME: to the end
    uint64_t seed;
    Fault drop;
    double burst_chance;
    int64_t burst_max;
    Fault dup;
    Fault damage;
    int64_t damage_blocks;
    Fault conceal;
    int64_t conceal_blocks;
    int mark_sta;
    Fault header;
    Fault frameheader;
    Fault swap;
    int64_t frameheader_copies;
    Fault garbage;
    int64_t garbage_max;
    int64_t cut_keep;  // NO_FRAME: no cut
    int64_t captures;            // captures of the recording written, each with its own seed
    int64_t splice_at;           // NO_FRAME: no splice
    char* splice_from[1];        // the other recording's file
    int64_t exchange_first;      // NO_FRAME: no exchange
    int64_t exchange_second;
    char* const* inputs;
    int input_count;
};

struct Counts {
    int64_t read;
    int64_t written;
    int64_t dropped;
    int64_t repeated;
    int64_t damaged;
    int64_t concealed;
    int64_t header_damaged;
    int64_t frameheader_damaged;
    int64_t garbage;
};

// The run's state: the options and the counts.
Options g_options;
Counts g_counts;

const char* const USAGE_TEXT =
    "Usage: capsim [options] INPUT.avi [INPUT.avi ...]\n"
    "Plays brimwrite's AVI files (or raw DV streams) through a simulated tape and capture\n"
    "and writes what a capture program would hand back, 525/60 or 625/50 DV alike. Frame\n"
    "numbers count the frame chunks of all inputs together, from 0.\n"
    "\n"
    "Output:\n"
    "  -o NAME             first output file (default SCENE0001.avi, with -raw capture0001.dv);\n"
    "                      the digits of the name count up by one for every further file\n"
    "  -raw                write a bare DV stream instead of AVI files\n"
    "  -split SIZE         start a new file before one would grow past SIZE bytes (suffix k, m\n"
    "                      or g; default 1g, AVI at most 2g); every file holds at least one frame\n"
    "Capture range:\n"
    "  -first N            the capture starts at input frame N (default 0)\n"
    "  -last N             the capture ends with input frame N (default: the last one)\n"
    "Faults (LIST: frame numbers and ranges such as 5,100-102; P: chance per frame, 0 to 1):\n"
    "  -seed N             seed of every random choice (default 1)\n"
    "  -captures N         write N captures of the input, as if the tape were played N times: capture\n"
    "                      k (A, B, ...) takes seed N+k-1 and the output name with \"k-\" before it\n"
    "  -drop LIST          drop these frames\n"
    "  -rdrop P            drop single frames at random\n"
    "  -rburst P           start a burst of dropped frames at random\n"
    "  -burst-max N        longest random burst (default 10, at least 2)\n"
    "  -dup LIST, -rdup P  deliver frames twice\n"
    "  -damage LIST, -rdamage P\n"
    "                      random bytes in the payload of random video blocks\n"
    "  -damage-blocks K    blocks hit in a damaged frame (default 3)\n"
    "  -conceal LIST, -rconceal P\n"
    "                      random video blocks copied from the previous frame, as a camcorder\n"
    "                      conceals what it cannot read (never in input frame 0)\n"
    "  -conceal-blocks K   blocks concealed in a frame (default 3)\n"
    "  -sta                mark concealed blocks as copied from the previous frame (STA 2)\n"
    "  -hdamage LIST, -rhdamage P\n"
    "                      damage the DV header block of sequence 0: the frame cannot be found\n"
    "  -fhdamage LIST, -rfhdamage P\n"
    "                      damage copies of the frame header\n"
    "  -fh-copies C        header copies hit, 1 to 3 (default 1)\n"
    "  -swap LIST, -rswap P\n"
    "                      swap two differing payload bytes of the frame: damage that leaves\n"
    "                      the plane's byte sum, and so its checksum, as it was\n"
    "  -garbage LIST, -rgarbage P\n"
    "                      garbage bytes before the frame\n"
    "  -garbage-max N      most garbage bytes in one place, drawn from 1..N (default 4096)\n"
    "  -cut N              the last file ends N bytes into its last frame chunk\n"
    "  -splice N,FILE      from input frame N on, the frames of another recording: frame N of\n"
    "                      FILE and those after it, as a recording left on tape under a newer\n"
    "                      one that stopped at frame N\n"
    "  -exchange A,B       frames A and B change places\n"
    "  -h                  this text\n"
    "\n"
    "Report on standard output, one line each: dropped F, repeated F, damaged F payload-blocks K,\n"
    "concealed F blocks K, header-damaged F, frameheader-damaged F copies C hit I[,I], swapped F,\n"
    "garbage-before F bytes B, spliced F from FILE, exchanged A B, wrote NAME frames N bytes B,\n"
    "cut NAME at OFFSET frame F,\n"
    "and a closing summary line.\n";

void usage(FILE* to) { std::fputs(USAGE_TEXT, to); }

int usage_error(const char* what, const char* arg)
{
    std::fprintf(stderr, "capsim: %s%s%s\n", what, arg ? ": " : "", arg ? arg : "");
    usage(stderr);
    return 0;
}

int parse_chance(const char* text, double* chance)
{
    char* end = nullptr;
    const double p = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(p >= 0.0 && p <= 1.0))
        return 0;
    *chance = p;
    return 1;
}

// A byte count with an optional k, m or g suffix (powers of 1024).
int parse_size(const char* text, int64_t* size)
{
    char digits[32];
    const size_t length = std::strlen(text);
    if (length == 0 || length >= sizeof digits)
        return 0;
    std::memcpy(digits, text, length + 1);
    int64_t unit = 1;
    char* suffix = digits + length - 1;
    if (*suffix == 'k' || *suffix == 'K')
        unit = KIB;
    else if (*suffix == 'm' || *suffix == 'M')
        unit = KIB * KIB;
    else if (*suffix == 'g' || *suffix == 'G')
        unit = KIB * KIB * KIB;
    if (unit != 1)
        *suffix = '\0';
    int64_t value;
    if (!parse_count(digits, &value) || value > INT64_MAX / unit)
        return 0;
    *size = value * unit;
    return 1;
}

// "N,REST": a frame number, then the text after the comma. Returns 1, or 0.
int parse_number_and(const char* text, int64_t* value, const char** rest)
{
    const char* comma = std::strchr(text, ',');
    if (!comma || comma == text || comma[1] == '\0')
        return 0;
    char digits[32];
    const size_t length = static_cast<size_t>(comma - text);
    if (length >= sizeof digits)
        return 0;
    std::memcpy(digits, text, length);
    digits[length] = '\0';
    *rest = comma + 1;
    return parse_count(digits, value);
}

int parse_ranged(const char* text, int64_t low, int64_t high, int64_t* value)
{
    return parse_count(text, value) && *value >= low && *value <= high;
}

void init_fault(Fault* fault)
{
    fault->frames.count = 0;
    fault->chance = 0.0;
}

constexpr int NOT_A_FAULT_OPTION = -1;

// Handles the LIST and P options of the faults. Returns 1, 0 for a bad value, or
// NOT_A_FAULT_OPTION.
int parse_fault_option(const char* opt, const char* value)
{
    struct FaultOption {
        const char* list_name;
        const char* chance_name;
        Fault* fault;
    };
    Options& o = g_options;
    const FaultOption fault_options[] = {
        {"-drop", "-rdrop", &o.drop},         {"-dup", "-rdup", &o.dup},
        {"-damage", "-rdamage", &o.damage},   {"-conceal", "-rconceal", &o.conceal},
        {"-hdamage", "-rhdamage", &o.header}, {"-fhdamage", "-rfhdamage", &o.frameheader},
        {"-swap", "-rswap", &o.swap},
        {"-garbage", "-rgarbage", &o.garbage},
    };
    for (const FaultOption& f : fault_options) {
        if (std::strcmp(opt, f.list_name) == 0)
            return parse_frame_list(value, &f.fault->frames);
        if (std::strcmp(opt, f.chance_name) == 0)
            return parse_chance(value, &f.fault->chance);
    }
    return NOT_A_FAULT_OPTION;
}

// Fills g_options from the command line. Returns 1, or 0 after a message.
int parse_options(int argc, char** argv)
{
    Options& o = g_options;
    o.output_name = nullptr;
    o.raw = 0;
    o.split = DEFAULT_SPLIT;
    o.first = 0;
    o.last = NO_FRAME;
    o.seed = 1;
    o.captures = 1;
    init_fault(&o.drop);
    o.burst_chance = 0.0;
    o.burst_max = DEFAULT_BURST_MAX;
    init_fault(&o.dup);
    init_fault(&o.damage);
    o.damage_blocks = DEFAULT_DAMAGE_BLOCKS;
    init_fault(&o.conceal);
    o.conceal_blocks = DEFAULT_DAMAGE_BLOCKS;
    o.mark_sta = 0;
    init_fault(&o.header);
    init_fault(&o.frameheader);
    init_fault(&o.swap);
    o.frameheader_copies = 1;
    init_fault(&o.garbage);
    o.garbage_max = DEFAULT_GARBAGE_MAX;
    o.cut_keep = NO_FRAME;
    o.splice_at = NO_FRAME;
    o.exchange_first = NO_FRAME;
    o.exchange_second = NO_FRAME;

    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const char* opt = argv[i];
        if (std::strcmp(opt, "-raw") == 0) {
            o.raw = 1;
            continue;
        }
        if (std::strcmp(opt, "-sta") == 0) {
            o.mark_sta = 1;
            continue;
        }
        if (std::strcmp(opt, "--") == 0) {
            ++i;
            break;
        }
        if (i + 1 >= argc)
            return usage_error("missing value after", opt);
        const char* value = argv[++i];
        int ok = parse_fault_option(opt, value);
        int64_t seed;
        if (ok != NOT_A_FAULT_OPTION) {
            // done
        } else if (std::strcmp(opt, "-o") == 0) {
            o.output_name = value;
            ok = value[0] != '\0';
        } else if (std::strcmp(opt, "-split") == 0) {
            ok = parse_size(value, &o.split) && o.split > 0;
        } else if (std::strcmp(opt, "-first") == 0) {
            ok = parse_count(value, &o.first);
        } else if (std::strcmp(opt, "-last") == 0) {
            ok = parse_count(value, &o.last);
        } else if (std::strcmp(opt, "-captures") == 0) {
            ok = parse_ranged(value, 1, MAX_CAPTURES, &o.captures);
        } else if (std::strcmp(opt, "-seed") == 0) {
            ok = parse_count(value, &seed);
            o.seed = static_cast<uint64_t>(seed);
        } else if (std::strcmp(opt, "-rburst") == 0) {
            ok = parse_chance(value, &o.burst_chance);
        } else if (std::strcmp(opt, "-burst-max") == 0) {
            ok = parse_ranged(value, MIN_BURST, INT32_MAX, &o.burst_max);
        } else if (std::strcmp(opt, "-damage-blocks") == 0) {
            ok = parse_ranged(value, 1, MAX_PAYLOAD_BLOCKS, &o.damage_blocks);
        } else if (std::strcmp(opt, "-conceal-blocks") == 0) {
            ok = parse_ranged(value, 1, MAX_PAYLOAD_BLOCKS, &o.conceal_blocks);
        } else if (std::strcmp(opt, "-fh-copies") == 0) {
            ok = parse_ranged(value, 1, FRAME_HEADER_COPIES, &o.frameheader_copies);
        } else if (std::strcmp(opt, "-garbage-max") == 0) {
            ok = parse_ranged(value, 1, MAX_GARBAGE, &o.garbage_max);
        } else if (std::strcmp(opt, "-splice") == 0) {
            const char* file = nullptr;
            ok = parse_number_and(value, &o.splice_at, &file);
            o.splice_from[0] = const_cast<char*>(file);
        } else if (std::strcmp(opt, "-exchange") == 0) {
            const char* second = nullptr;
            ok = parse_number_and(value, &o.exchange_first, &second) && parse_count(second, &o.exchange_second) &&
                 o.exchange_first < o.exchange_second;
        } else if (std::strcmp(opt, "-cut") == 0) {
            ok = parse_count(value, &o.cut_keep);
        } else {
            return usage_error("unknown option", opt);
        }
        if (!ok)
            return usage_error(opt, "bad value");
    }
    if (i >= argc)
        return usage_error("no input file given", nullptr);
    o.inputs = argv + i;
    o.input_count = argc - i;
    if (!o.output_name)
        o.output_name = o.raw ? DEFAULT_RAW_NAME : DEFAULT_AVI_NAME;
    if (!o.raw && o.split > MAX_AVI_SPLIT)
        return usage_error("-split: AVI files are limited to 2g", nullptr);
    if (o.last != NO_FRAME && o.last < o.first)
        return usage_error("-last comes before -first", nullptr);
    const int64_t chunk = o.raw ? MAX_DV_FRAME_SIZE : MAX_FRAME_CHUNK_SIZE;
    if (o.cut_keep != NO_FRAME && o.cut_keep >= chunk)
        return usage_error("-cut must be below the size of a frame chunk", nullptr);
    return 1;
}

void seed_fault(Fault* fault, Stream stream) { rng_seed(&fault->rng, g_options.seed, stream); }

// 1 if the fault strikes `frame`. Draws once per frame in every case, so that the
// random choices of later frames do not depend on the frame lists.
int strikes(Fault* fault, int64_t frame)
{
    const int by_chance = rng_chance(&fault->rng, fault->chance);
    return list_contains(&fault->frames, frame) || by_chance;
}

void print_summary(const OutputWriter* writer)
{
    const Counts& c = g_counts;
    std::printf(
        "summary read %lld written %lld dropped %lld repeated %lld damaged %lld concealed %lld "
        "header-damaged %lld frameheader-damaged %lld garbage %lld files %d seed %llu\n",
        static_cast<long long>(c.read), static_cast<long long>(c.written), static_cast<long long>(c.dropped),
        static_cast<long long>(c.repeated), static_cast<long long>(c.damaged), static_cast<long long>(c.concealed),
        static_cast<long long>(c.header_damaged), static_cast<long long>(c.frameheader_damaged),
        static_cast<long long>(c.garbage), writer->files, static_cast<unsigned long long>(g_options.seed));
}

// Tape-side faults: what the camcorder delivers for this frame.
void play_tape(uint8_t* frame, const uint8_t* previous, int have_previous, int64_t n)
{
    Options& o = g_options;
    const int conceal = strikes(&o.conceal, n);
    const int damage = strikes(&o.damage, n);
    const int frameheader = strikes(&o.frameheader, n);
    const int header = strikes(&o.header, n);
    const int swap = strikes(&o.swap, n);
    if (conceal && have_previous) {
        conceal_payload_blocks(frame, previous, static_cast<int>(o.conceal_blocks), o.mark_sta, &o.conceal.rng);
        std::printf("concealed %lld blocks %lld\n", static_cast<long long>(n),
                    static_cast<long long>(o.conceal_blocks));
        ++g_counts.concealed;
    }
    if (damage) {
        damage_payload_blocks(frame, static_cast<int>(o.damage_blocks), &o.damage.rng);
        std::printf("damaged %lld payload-blocks %lld\n", static_cast<long long>(n),
                    static_cast<long long>(o.damage_blocks));
        ++g_counts.damaged;
    }
    if (frameheader) {
        int hit[FRAME_HEADER_COPIES];
        damage_frame_header(frame, static_cast<int>(o.frameheader_copies), &o.frameheader.rng, hit);
        std::printf("frameheader-damaged %lld copies %lld hit", static_cast<long long>(n),
                    static_cast<long long>(o.frameheader_copies));
        const char* separator = " ";
        for (int c = 0; c < FRAME_HEADER_COPIES; ++c) {
            if (hit[c]) {
                std::printf("%s%d", separator, c + 1);
                separator = ",";
            }
        }
        std::printf("\n");
        ++g_counts.frameheader_damaged;
    }
    if (swap) {
        swap_payload_bytes(frame, &o.swap.rng);
        std::printf("swapped %lld\n", static_cast<long long>(n));
    }
    if (header) {
        damage_dv_header(frame, &o.header.rng);
        std::printf("header-damaged %lld\n", static_cast<long long>(n));
        ++g_counts.header_damaged;
    }
}

// Frame `n` of the files `names` into `frame`, read through from the start.
// Returns 1, 0 when they hold fewer frames, -1 after a message.
int fetch_frame(char* const* names, int count, int64_t n, uint8_t* frame)
{
    InputWalker walker;
    input_init(&walker, names, count);
    int got = 1;
    for (int64_t k = 0; k <= n && got == 1; ++k)
        got = input_next_frame(&walker, frame);
    input_close(&walker);
    return got;
}

// Where the tape's frame `n` comes from other than the recording's own frame `n`
// (already in `frame`): a spliced recording from its frame `n` on (`other`
// walks it), or the exchanged frame, with the first of the pair kept in `held`.
// Returns 1, 0 when the spliced recording has ended, -1 after a message.
int take_other_frame(int64_t n, uint8_t* frame, InputWalker* other, uint8_t* held)
{
    Options& o = g_options;
    if (o.splice_at != NO_FRAME && n >= o.splice_at) {
        if (n == o.splice_at) {
            for (int64_t k = 0; k < o.splice_at; ++k)
                if (input_next_frame(other, frame) != 1)
                    return 0;
            std::printf("spliced %lld from %s\n", static_cast<long long>(n), o.splice_from[0]);
        }
        return input_next_frame(other, frame);
    }
    if (n == o.exchange_first) {
        std::memcpy(held, frame, MAX_DV_FRAME_SIZE);
        if (fetch_frame(o.inputs, o.input_count, o.exchange_second, frame) != 1) {
            std::fprintf(stderr, "capsim: -exchange: the input has no frame %lld\n",
                         static_cast<long long>(o.exchange_second));
            return -1;
        }
        std::printf("exchanged %lld %lld\n", static_cast<long long>(o.exchange_first),
                    static_cast<long long>(o.exchange_second));
    } else if (n == o.exchange_second) {
        std::memcpy(frame, held, MAX_DV_FRAME_SIZE);
    }
    return 1;
}

// The frame loop of run().
int run_frames(InputWalker* input, InputWalker* other, uint8_t* held, OutputWriter* output, uint8_t* frame,
               uint8_t* previous)
{
    Options& o = g_options;
    Rng burst_rng;
    Rng garbage_bytes_rng;
    rng_seed(&burst_rng, o.seed, STREAM_BURST);
    rng_seed(&garbage_bytes_rng, o.seed, STREAM_GARBAGE_BYTES);
    int64_t burst_left = 0;
    int have_previous = 0;
    for (int64_t n = 0; o.last == NO_FRAME || n <= o.last; ++n) {
        int got = input_next_frame(input, frame);
        // Under a splice the older recording goes on where the newer one ends.
        if (got == 0 && o.splice_at != NO_FRAME && n >= o.splice_at)
            got = 1;
        if (got == 1)
            got = take_other_frame(n, frame, other, held);
        if (got < 0)
            return 0;
        if (got == 0)
            break;
        ++g_counts.read;
        if (n >= o.first) {
            int dropped = strikes(&o.drop, n);
            if (burst_left > 0) {
                dropped = 1;
                --burst_left;
            } else if (rng_chance(&burst_rng, o.burst_chance)) {
                dropped = 1;
                burst_left = MIN_BURST - 1 +
                             static_cast<int64_t>(rng_below(&burst_rng, static_cast<uint64_t>(o.burst_max - 1)));
            }
            const int repeated = strikes(&o.dup, n);
            const int garbage = strikes(&o.garbage, n);
            if (dropped) {
                std::printf("dropped %lld\n", static_cast<long long>(n));
                ++g_counts.dropped;
            } else {
                // The system is the frame's as read: damage to its header does not change its size.
                const VideoSystem& system = system_of_frame(frame);
                play_tape(frame, previous, have_previous, n);
                int64_t garbage_bytes = 0;
                if (garbage) {
                    garbage_bytes = 1 + static_cast<int64_t>(
                                            rng_below(&garbage_bytes_rng, static_cast<uint64_t>(o.garbage_max)));
                    std::printf("garbage-before %lld bytes %lld\n", static_cast<long long>(n),
                                static_cast<long long>(garbage_bytes));
                    ++g_counts.garbage;
                }
                if (!output_frame(output, system, frame, n, garbage_bytes, &o.garbage.rng))
                    return 0;
                ++g_counts.written;
                if (repeated) {
                    std::printf("repeated %lld\n", static_cast<long long>(n));
                    if (!output_frame(output, system, frame, n, 0, &o.garbage.rng))
                        return 0;
                    ++g_counts.repeated;
                    ++g_counts.written;
                }
            }
        }
        // The camcorder conceals from the frame it played last, whatever the capture kept.
        uint8_t* swap = previous;
        previous = frame;
        frame = swap;
        have_previous = 1;
    }
    return output_finish(output, o.cut_keep);
}

// Reads, damages and writes every frame. Returns 1, or 0 after a message.
int run(InputWalker* input, OutputWriter* output, uint8_t* frame, uint8_t* previous)
{
    InputWalker other;
    input_init(&other, g_options.splice_from, g_options.splice_at == NO_FRAME ? 0 : 1);
    uint8_t* held = new uint8_t[MAX_DV_FRAME_SIZE];
    const int ok = run_frames(input, &other, held, output, frame, previous);
    input_close(&other);
    delete[] held;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return EXIT_OK;
        }
    }
    if (!parse_options(argc, argv))
        return EXIT_USAGE;
    Options& o = g_options;
    const uint64_t first_seed = o.seed;
    const std::string output_name = o.output_name;
    uint8_t* frames = new uint8_t[2 * static_cast<size_t>(MAX_DV_FRAME_SIZE)];
    int ok = 1;
    for (int64_t k = 0; k < o.captures && ok; ++k) {
        // Every capture is a playback of its own: its own faults, from its own seed.
        std::string name = output_name;
        if (o.captures > 1) {
            const size_t base = name.find_last_of("/\\") + 1;
            name.insert(base, std::string(1, static_cast<char>('A' + k)) + "-");
            std::printf("capture %s seed %llu\n", name.c_str(), static_cast<unsigned long long>(first_seed + k));
        }
        o.seed = first_seed + static_cast<uint64_t>(k);
        seed_fault(&o.drop, STREAM_DROP);
        seed_fault(&o.dup, STREAM_DUP);
        seed_fault(&o.damage, STREAM_DAMAGE);
        seed_fault(&o.conceal, STREAM_CONCEAL);
        seed_fault(&o.header, STREAM_HEADER);
        seed_fault(&o.frameheader, STREAM_FRAMEHEADER);
        seed_fault(&o.swap, STREAM_SWAP);
        seed_fault(&o.garbage, STREAM_GARBAGE);
        g_counts = Counts{};
        InputWalker input;
        input_init(&input, o.inputs, o.input_count);
        OutputWriter output;
        ok = output_init(&output, name.c_str(), o.raw, o.split, o.inputs, o.input_count);
        if (ok)
            ok = run(&input, &output, frames, frames + MAX_DV_FRAME_SIZE);
        input_close(&input);
        if (ok)
            print_summary(&output);
        output_release(&output);
    }
    delete[] frames;
    std::fflush(stdout);
    return ok ? EXIT_OK : EXIT_FAILED;
}
