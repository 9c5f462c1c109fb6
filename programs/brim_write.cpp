// brim write and brim plan: the files named, the plan of frames they take, and
// the DV files that hold them.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "avi_writer.h"
#include "brim.h"
#include "capture_run.h"
#include "dv_template.h"
#include "encoder.h"
#include "plan.h"
#include "raw_writer.h"
#include "tape_model.h"

namespace fs = std::filesystem;

namespace {

constexpr double LP_FACTOR = 1.5;
constexpr int PERCENT = 100;
constexpr int LISTED_OUTPUTS = 5;              // tape files of another run named before "..."

// The files to store, in order, and how many were left out.
struct Listing {
    std::vector<PlanInput> inputs;
    int left_out = 0;
    fs::path output_dir;          // its tape files are this run's output, never its input
    std::set<std::string> seen;   // absolute paths listed: a path named twice is stored once
};

void leave_out(Listing* l, const std::string& shown, const char* why)
{
    brim_error("%s: left out: %s", shown.c_str(), why);
    ++l->left_out;
}

// The stored form of a relative path: its names joined by the tape's separator,
// a leading separator dropped. False (with why) for ".." or a name the tape
// cannot hold.
bool is_tape_file_name(const std::string& name)
{
    constexpr size_t DIGITS = 6;
    if (name.size() < 2 + DIGITS || name.compare(0, 2, "DV") != 0)
        return false;
    size_t i = 2;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9')
        ++i;
    return i >= 2 + DIGITS && (name.substr(i) == ".avi" || name.substr(i) == ".dv");
}

bool stored_form(const fs::path& path, std::string* stored, const char** why)
{
    stored->clear();
    for (const fs::path& part : path.relative_path().lexically_normal()) {
        const std::string name = part.u8string();
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            *why = "a path with '..' would restore outside the directory it is read into";
            return false;
        }
        if (name.find(STORED_SEPARATOR) != std::string::npos) {
            *why = "a backslash in a name would read as a directory on tape";
            return false;
        }
        if (!stored->empty())
            stored->push_back(STORED_SEPARATOR);
        *stored += name;
    }
    if (stored->size() > static_cast<size_t>(MAX_STORED_PATH)) {
        *why = "its path is longer than the 227 bytes a tape file's name can have";
        return false;
    }
    return true;
}

void add_file(Listing* l, const fs::path& path, const std::string& shown)
{
    std::string stored;
    const char* why = nullptr;
    if (!stored_form(path, &stored, &why))
        return leave_out(l, shown, why);
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return leave_out(l, shown, ec.message().c_str());
    if (size == 0)
        return leave_out(l, shown, "an empty file cannot be stored");
    if (size > static_cast<uintmax_t>(MAX_INPUT_SIZE))
        return leave_out(l, shown, "larger than a tape file can be (1 TiB)");
    const fs::path absolute = fs::absolute(path).lexically_normal();
    if (!l->output_dir.empty() && absolute.parent_path() == l->output_dir &&
        is_tape_file_name(absolute.filename().u8string()))
        return leave_out(l, shown, "a tape file in the output directory, which this run writes");
    if (!l->seen.insert(absolute.u8string()).second)
        return;
    FILE* probe = std::fopen(path.u8string().c_str(), "rb");
    if (!probe)
        return leave_out(l, shown, std::strerror(errno));
    std::fclose(probe);
    l->inputs.push_back(PlanInput{stored, absolute.u8string(), static_cast<int64_t>(size)});
}

// Adds `path` and, for a directory, everything below it in name order.
void walk(Listing* l, const fs::path& path)
{
    const std::string shown = path.u8string();
    for (const fs::path& part : path.lexically_normal())
        if (part == "..")
            return leave_out(l, shown, "a path with '..' would restore outside the directory it is read into");
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(path, ec);
    if (ec || !fs::exists(own))
        return leave_out(l, shown, ec ? ec.message().c_str() : "no such file or directory");
    fs::file_status st = own;
    if (fs::is_symlink(own)) {
        st = fs::status(path, ec);
        if (ec || !fs::exists(st))
            return leave_out(l, shown, "a link to nothing");
        if (fs::is_directory(st))
            return leave_out(l, shown, "a link to a directory is not followed");
    }
    if (fs::is_regular_file(st))
        return add_file(l, path, shown);
    if (!fs::is_directory(st))
        return leave_out(l, shown, "not a regular file");
    std::vector<fs::path> entries;
    fs::directory_iterator it(path, ec);
    if (ec)
        return leave_out(l, shown, ec.message().c_str());
    for (const fs::directory_entry& e : it)
        entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& e : entries)
        walk(l, e);
}

// Frames a plan writes, by kind.
struct FrameCount {
    int64_t data = 0;
    int64_t copies = 0;
    int64_t parity = 0;
    int64_t padding = 0;
    int64_t total() const { return data + copies + parity + padding; }
};

FrameCount count_frames(const EncodePlan& plan)
{
    FrameCount c;
    for (int32_t i = 1; i <= plan.file_count; ++i) {
        c.data += file_plane_count(*plan.system, plan.file_size[static_cast<size_t>(i)]);
        c.copies += plan.repeat0 - 1;
    }
    const int64_t blocks = (c.data + ECC_K - 1) / ECC_K;
    c.parity = blocks * ECC_NMK;
    c.padding = blocks * ECC_K - c.data;
    return c;
}

int64_t output_bytes(const EncodePlan& plan, const FrameCount& c)
{
    if (plan.output != OutputFormat::AVI)
        return c.total() * plan.system->frame_size;
    return c.total() * (plan.system->chunk_size + AVI_INDEX_ENTRY_SIZE) +
           plan.avi_count * int64_t{AVI_HEADER_SIZE + AVI_INDEX_HEADER_SIZE};
}

// Everything write and plan share: the listing and the plan built from it.
struct Prepared {
    Listing listing;
    EncodePlan plan;
    FrameCount frames;
    fs::path output_dir;   // empty for standard output
};

// Lists the PATHs (from -C) and plans them; false (told) on a usage error.
bool prepare(const BrimOptions& o, Prepared* p)
{
    std::error_code ec;
    const bool to_stdout = o.output == "-";
    if (!to_stdout)
        p->output_dir =
            fs::absolute(o.output.empty() ? fs::current_path(ec) : fs::u8path(o.output), ec).lexically_normal();
    if (!p->output_dir.has_filename() && p->output_dir.has_parent_path())
        p->output_dir = p->output_dir.parent_path();   // "dir/" as "dir"
    p->listing.output_dir = p->output_dir;
    const fs::path start = fs::current_path(ec);
    if (!o.directory.empty()) {
        fs::current_path(fs::u8path(o.directory), ec);
        if (ec) {
            brim_error("%s: %s", o.directory.c_str(), ec.message().c_str());
            return false;
        }
    }
    for (const std::string& operand : o.operands)
        walk(&p->listing, fs::u8path(operand));
    fs::current_path(start, ec);
    if (p->listing.inputs.empty()) {
        brim_error("nothing to store");
        return false;
    }
    set_plan_defaults(&p->plan);
    p->plan.system = o.pal ? &SYSTEM_625_50 : &SYSTEM_525_60;
    p->plan.output = to_stdout ? OutputFormat::RAW_STREAM : o.raw ? OutputFormat::RAW_FILES : OutputFormat::AVI;
    p->plan.avisize = o.frames_per_file > 0 ? o.frames_per_file : DEFAULT_AVISIZES[p->plan.system->id];
    // An AVI file's sizes are 32-bit; the last file may also take the frames that close the last block.
    const int32_t most_per_avi = avi_max_frames(*p->plan.system) - (ECC_N - 1);
    if (p->plan.output == OutputFormat::AVI && p->plan.avisize > most_per_avi) {
        brim_error("--frames-per-file %d: an AVI file of %s frames holds at most %d", p->plan.avisize,
                   p->plan.system->name, most_per_avi);
        return false;
    }
    if (o.first_frame_copies > 0)
        p->plan.repeat0 = o.first_frame_copies;
    build_plan(&p->plan, p->listing.inputs);
    p->frames = count_frames(p->plan);
    return true;
}

std::vector<fs::path> tape_files_in(const fs::path& dir)
{
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (is_tape_file_name(it->path().filename().u8string()))
            found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

// Free bytes where the output goes (its nearest existing directory), or -1 when
// the system cannot tell.
int64_t free_bytes(fs::path dir)
{
    std::error_code ec;
    while (!fs::exists(dir, ec) && dir.has_parent_path() && dir.parent_path() != dir)
        dir = dir.parent_path();
    const fs::space_info space = fs::space(dir, ec);
    return ec ? -1 : static_cast<int64_t>(space.available);
}

std::string megabytes(int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Before anything is written: the output directory holds no tape files of
// another run (unless --overwrite, which removes them) and has the room.
bool check_output(const BrimOptions& o, const Prepared& p)
{
    std::error_code ec;
    fs::create_directories(p.output_dir, ec);
    if (ec) {
        brim_error("%s: %s", p.output_dir.u8string().c_str(), ec.message().c_str());
        return false;
    }
    const std::vector<fs::path> old = tape_files_in(p.output_dir);
    if (!old.empty() && !o.overwrite) {
        std::string names;
        for (size_t i = 0; i < old.size() && i < LISTED_OUTPUTS; ++i)
            names += (i ? ", " : "") + old[i].filename().u8string();
        brim_error("%s holds tape files of another run (%s%s); --overwrite replaces them",
                   p.output_dir.u8string().c_str(), names.c_str(), old.size() > LISTED_OUTPUTS ? ", ..." : "");
        return false;
    }
    for (const fs::path& f : old) {
        if (!fs::remove(f, ec) || ec) {
            brim_error("%s: %s", f.u8string().c_str(), ec.message().c_str());
            return false;
        }
    }
    const int64_t needed = output_bytes(p.plan, p.frames);
    const int64_t available = free_bytes(p.output_dir);
    if (available >= 0 && available < needed) {
        brim_error("%s: not enough room: the DV files need %s, %s are free", p.output_dir.u8string().c_str(),
                   megabytes(needed).c_str(), megabytes(available).c_str());
        return false;
    }
    return true;
}

// A run that failed leaves no tape files: they would hold part of it only.
void remove_partial_output(const Prepared& p)
{
    if (p.output_dir.empty())
        return;
    const bool avi = p.plan.output == OutputFormat::AVI;
    for (int32_t n = 1; n <= p.plan.avi_count; ++n) {
        char name[AVI_NAME_SIZE];
        if (avi)
            avi_file_name(n, name);
        else
            raw_file_name(n, name);
        std::error_code ec;
        if (fs::remove(p.output_dir / name, ec))
            brim_error("%s: removed: the run did not complete it", (p.output_dir / name).u8string().c_str());
    }
}

// The template frame of system `v`: built in, or read from --template.
bool load_frame(const BrimOptions& o, const VideoSystem& v, uint8_t* frame)
{
    if (o.template_file.empty()) {
        build_template_frame(v, frame);
        return true;
    }
    FILE* in = std::fopen(o.template_file.c_str(), "rb");
    if (!in) {
        brim_error("%s: %s", o.template_file.c_str(), std::strerror(errno));
        return false;
    }
    const size_t got = std::fread(frame, 1, static_cast<size_t>(v.chunk_size), in);
    std::fclose(in);
    const char* problem = v.id == SYSTEM_625_50.id ? "it is shorter than one frame chunk (144,008 bytes)"
                                                   : "it is shorter than one frame chunk (120,008 bytes)";
    if (got != static_cast<size_t>(v.chunk_size) || !check_template_frame(v, frame, &problem)) {
        brim_error("%s: not a usable template frame: %s", o.template_file.c_str(), problem);
        return false;
    }
    return true;
}

void print_plan(const Prepared& p)
{
    const EncodePlan& plan = p.plan;
    const FrameCount& c = p.frames;
    int64_t bytes = 0;
    for (const PlanInput& in : p.listing.inputs)
        bytes += in.size;
    const bool avi = plan.output == OutputFormat::AVI;
    std::printf("files        %d\n", plan.file_count);
    std::printf("bytes        %" PRId64 "\n", bytes);
    std::printf("frames       %" PRId64 " (data %" PRId64 ", first-frame copies %" PRId64 ", parity %" PRId64
                ", padding %" PRId64 ")\n",
                c.total(), c.data, c.copies, c.parity, c.padding);
    if (plan.output == OutputFormat::RAW_STREAM)
        std::printf("output       one raw DV stream on standard output, %" PRId64 " bytes\n", output_bytes(plan, c));
    else
        std::printf("output       %d %s file%s (DV000001%s ...), %" PRId64 " bytes\n", plan.avi_count,
                    avi ? "AVI" : "raw DV", plan.avi_count == 1 ? "" : "s", avi ? ".avi" : ".dv",
                    output_bytes(plan, c));
    const VideoSystem& v = *plan.system;
    std::printf("tape time    %s SP, %s LP (%.1f%% of a 60-minute %s tape in SP)\n", tape_time(v, c.total(), 1.0).c_str(),
                tape_time(v, c.total(), LP_FACTOR).c_str(),
                static_cast<double>(c.total()) * PERCENT / static_cast<double>(v.frames_per_hour), v.name);
    if (!p.output_dir.empty()) {
        const int64_t available = free_bytes(p.output_dir);
        if (available >= 0)
            std::printf("free space   %s where %s is\n", megabytes(available).c_str(), p.output_dir.u8string().c_str());
        const std::vector<fs::path> old = tape_files_in(p.output_dir);
        if (!old.empty())
            brim_error("warning: %s holds tape files of another run: write refuses it without --overwrite",
                       p.output_dir.u8string().c_str());
    }
    if (c.copies > c.data)
        brim_error("warning: the first-frame copies of %d files take more tape (%" PRId64
                   " frames) than their data (%" PRId64 " frames): pack small files with tar first",
                   plan.file_count, c.copies, c.data);
}

}  // namespace

int brim_plan(const BrimOptions& o)
{
    Prepared p;
    std::vector<uint8_t> frame(MAX_FRAME_CHUNK_SIZE);
    if (!prepare(o, &p) || !load_frame(o, *p.plan.system, frame.data()))
        return BRIM_FAILED;
    print_plan(p);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        brim_error("cannot write the plan: %s", std::strerror(errno));
        return BRIM_FAILED;
    }
    return p.listing.left_out > 0 ? BRIM_PARTIAL : BRIM_OK;
}

int brim_write(const BrimOptions& o)
{
    BrimSink sink(o.verbosity);
    const auto encoder = std::make_unique<Encoder>();
    Prepared p;
    if (!encoder_init(encoder.get(), &sink) || !prepare(o, &p) || !load_frame(o, *p.plan.system, encoder->frame))
        return BRIM_FAILED;
    // Opened after the listing, so that a new log inside the stored tree is not
    // stored half written; an existing file that is stored is not one to write over.
    if (!o.log.empty()) {
        const std::string log = fs::absolute(fs::u8path(o.log)).lexically_normal().u8string();
        if (p.listing.seen.count(log) > 0) {
            brim_error("%s: the log would write over a file being stored", o.log.c_str());
            return BRIM_FAILED;
        }
        if (!sink.open_log(log))
            return BRIM_FAILED;
    }
    if (!p.output_dir.empty() && !check_output(o, p))
        return BRIM_FAILED;
    std::error_code ec;
    const fs::path start = fs::current_path(ec);
    if (!p.output_dir.empty())
        fs::current_path(p.output_dir, ec);
    if (ec) {
        brim_error("%s: %s", p.output_dir.u8string().c_str(), ec.message().c_str());
        return BRIM_FAILED;
    }
    encoder->plan = p.plan;
    encoder->write_ahead = threads_allowed();
    sink.set_system(*p.plan.system);
    sink.expect_planes(p.frames.data);
    if (o.verbosity > 1) {
        for (const PlanInput& in : p.listing.inputs) {
            std::string shown = in.name;
            std::replace(shown.begin(), shown.end(), STORED_SEPARATOR, '/');
            std::fprintf(stderr, "%s (%" PRId64 " bytes)\n", shown.c_str(), in.size);
        }
    }
    const bool written = encoder_start(encoder.get()) && encode_run(encoder.get());
    fs::current_path(start, ec);
    sink.end_progress();
    if (!written) {
        remove_partial_output(p);
        return BRIM_FAILED;
    }
    // A file that changed, shrank or vanished while it was stored has been named.
    const int64_t wrong = sink.warnings();
    std::FILE* out = p.plan.output == OutputFormat::RAW_STREAM ? stderr : stdout;
    std::fprintf(out, "stored %d file%s in %" PRId64 " frames (%s of tape in SP)", p.plan.file_count,
                 p.plan.file_count == 1 ? "" : "s", p.frames.total(), tape_time(*p.plan.system, p.frames.total(), 1.0).c_str());
    if (p.listing.left_out > 0)
        std::fprintf(out, "; %d left out", p.listing.left_out);
    if (wrong > 0)
        std::fprintf(out, "; %" PRId64 " not stored as listed (see above)", wrong);
    std::fputc('\n', out);
    return p.listing.left_out > 0 || wrong > 0 ? BRIM_PARTIAL : BRIM_OK;
}
