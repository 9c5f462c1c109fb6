#include "plan.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "avi_writer.h"
#include "ecc.h"
#include "frame_layout.h"
#include "listing.h"
#include "tape_model.h"

namespace fs = std::filesystem;

namespace {

// The listing files of the command interpreter's listing are reserved too, so a
// tape never carries a file of those names.
constexpr const char* RESERVED_NAMES[] = {"SPOOFDIR", "SPOOFDI2", "SPOOFDI3", TEMPLATE_FILE_NAMES[0],
                                          TEMPLATE_FILE_NAMES[1], LOG_FILE_NAME};

// Frames that close the last ECC block at most: 63 padding frames and the parity.
constexpr int64_t MAX_CLOSING_FRAMES = ECC_N - 1;

// ECC blocks that a file of `planes` planes can complete, wherever it starts in a block.
int64_t ecc_blocks_bound(int64_t planes) { return (planes + ECC_K - 1) / ECC_K; }

constexpr char BACKSLASH = '\\';

// Files left out are named on the console only, as they always have been.
void ignore(EventSink* sink, const char* path, const char* why)
{
    tell(sink, Severity::Progress, "(Ignoring file %s: %s)\n", path, why);
}

// Leaves out the files that this run's own AVI output would replace while they
// are still to be read; the output names are those of the plan for `inputs`.
void drop_output_files(EncodePlan* plan, std::vector<PlanInput>* inputs, EventSink* sink)
{
    build_plan(plan, *inputs);
    std::vector<char> dropped(inputs->size(), 0);
    bool any = false;
    for (int32_t k = 1; k <= plan->avi_count; k++) {
        char name[AVI_NAME_SIZE];
        avi_file_name(k, name);
        std::error_code ec;
        if (!fs::exists(fs::path(name), ec))
            continue;
        for (size_t i = 0; i < inputs->size(); i++) {
            if (!dropped[i] && fs::equivalent(fs::u8path((*inputs)[i].path), fs::path(name), ec)) {
                tell(sink, Severity::Progress, "(Ignoring file %s: this run writes its output %s over it)\n",
                     (*inputs)[i].path.c_str(), name);
                dropped[i] = 1;
                any = true;
            }
        }
    }
    if (!any)
        return;
    size_t kept = 0;
    for (size_t i = 0; i < inputs->size(); i++)
        if (!dropped[i])
            (*inputs)[kept++] = (*inputs)[i];
    inputs->resize(kept);
}

}  // namespace

void set_plan_defaults(EncodePlan* plan)
{
    plan->recurse = false;
    plan->repeat0 = DEFAULT_REPEAT0;
    plan->avisize = DEFAULT_AVISIZE;
    plan->avi_count = 1;
    plan->avi_current = 1;
    plan->avi_frames.assign(2, 0);
    plan->CAVIFcnt = 0;
    plan->file_count = 0;
    plan->file_current = 1;
}

bool is_reserved_name(const std::string& stored)
{
    for (const char* name : RESERVED_NAMES) {
        const size_t length = strlen(name);
        if (stored.size() >= length && stored.compare(stored.size() - length, length, name) == 0)
            return true;
    }
    return false;
}

bool is_own_file(const std::string& path)
{
    const fs::path native = fs::u8path(path);
    const std::string name = native.filename().u8string();
    bool reserved = false;
    for (const char* reserved_name : RESERVED_NAMES)
        reserved = reserved || name == reserved_name;
    std::error_code ec;
    const fs::path parent = native.has_parent_path() ? native.parent_path() : fs::path(".");
    return reserved && fs::equivalent(parent, fs::path("."), ec);
}

int64_t file_frame_index_bound(const VideoSystem& v, int64_t size)
{
    const int64_t planes = file_plane_count(v, size);
    return planes - 1 + ECC_NMK * ecc_blocks_bound(planes) + MAX_CLOSING_FRAMES;
}

int64_t file_frames_bound(const VideoSystem& v, int64_t size, int32_t repeat0)
{
    return (repeat0 > 0 ? repeat0 : 0) + file_frame_index_bound(v, size);
}

int build_plan(EncodePlan* plan, const std::vector<PlanInput>& inputs)
{
    const size_t count = inputs.size();
    plan->file_count = static_cast<int32_t>(count);
    plan->file_name.assign(count + 1, std::string());
    plan->file_path.assign(count + 1, std::string());
    plan->file_size.assign(count + 1, 0);
    plan->file_frames.assign(count + 1, 0);

    // Planes count on across files exactly as the run's ECC counter will, and the
    // parity frames of a block belong to the file whose plane completed it.
    int64_t ecc_k = 0;
    int64_t total = 0;
    for (size_t i = 1; i <= count; i++) {
        const PlanInput& input = inputs[i - 1];
        const int64_t planes = file_plane_count(*plan->system, input.size);
        const int64_t blocks = (ecc_k + planes) / ECC_K;
        ecc_k = (ecc_k + planes) % ECC_K;
        plan->file_name[i] = input.name;
        plan->file_path[i] = input.path;
        plan->file_size[i] = input.size;
        plan->file_frames[i] = static_cast<int32_t>(plan->repeat0 + planes - 1 + ECC_NMK * blocks);
        total += plan->file_frames[i];
    }

    // Files run on from AVI file to AVI file; a total landing exactly on the
    // budget stays in the current file and the next frame opens the next one.
    plan->avi_frames.assign(static_cast<size_t>(total / plan->avisize + 2), 0);
    plan->avi_count = 1;
    for (size_t i = 1; i <= count; i++) {
        int64_t t = plan->avi_frames[plan->avi_count] + int64_t{plan->file_frames[i]};
        if (t <= plan->avisize) {
            plan->avi_frames[plan->avi_count] = static_cast<int32_t>(t);
            continue;
        }
        plan->avi_frames[plan->avi_count] = plan->avisize;
        t -= plan->avisize;
        plan->avi_count++;
        while (t >= plan->avisize) {
            plan->avi_frames[plan->avi_count] = plan->avisize;
            plan->avi_count++;
            t -= plan->avisize;
        }
        plan->avi_frames[plan->avi_count] = static_cast<int32_t>(t);
    }

    // The padding and parity frames that complete the last ECC block at the end
    // of the run are not subject to the budget.
    if (ecc_k > 0) {
        const int32_t closing = static_cast<int32_t>(ECC_N - ecc_k);
        plan->file_frames[count] += closing;
        plan->avi_frames[plan->avi_count] += closing;
    }
    return static_cast<int>(ecc_k);
}

void findfiles(EncodePlan* plan, const std::vector<std::string>& patterns, EventSink* sink)
{
    std::vector<ListedFile> listed;
    list_input_files(patterns, plan->recurse, &listed, sink);

    std::vector<PlanInput> inputs;
    inputs.reserve(listed.size());
    int64_t frames_bound = 0;
    for (const ListedFile& file : listed) {
        const char* path = file.path.c_str();
        if (file.stored.size() > static_cast<size_t>(MAX_STORED_PATH)) {
            tell(sink, Severity::Progress, "(Ignoring file, pathname exceeds 227 chars)\n    %s\n", path);
            continue;
        }
        if (!listing_is_separator(BACKSLASH) && file.path.find(BACKSLASH) != std::string::npos) {
            // On tape a backslash separates directories: the name would mean another file.
            ignore(sink, path, "its name holds a backslash, which on tape separates directories");
            continue;
        }
        if (is_reserved_name(file.stored)) {
            // The template and the log in the current directory are this program's own
            // files; anything else that ends in a reserved name belongs to the user.
            if (!is_own_file(file.path))
                ignore(sink, path, "its name ends in a name this program reserves");
            continue;
        }
        std::error_code ec;
        const uintmax_t size = fs::file_size(fs::u8path(file.path), ec);
        if (ec) {
            ignore(sink, path, ec.message().c_str());
            continue;
        }
        if (size == 0) {
            ignore(sink, path, "it is empty");
            continue;
        }
        FILE* probe = fopen(path, "rb");
        if (!probe) {
            ignore(sink, path, strerror(errno));
            continue;
        }
        fclose(probe);
        if (size > static_cast<uintmax_t>(MAX_INPUT_SIZE)) {
            tell(sink, Severity::Progress,
                 "(Ignoring file %s: %llu bytes, more than the %lld bytes one file may hold on tape)\n", path,
                 static_cast<unsigned long long>(size), static_cast<long long>(MAX_INPUT_SIZE));
            continue;
        }
        const int64_t bound = file_frames_bound(*plan->system, static_cast<int64_t>(size), plan->repeat0);
        if (file_frame_index_bound(*plan->system, static_cast<int64_t>(size)) > MAX_FRAME_INDEX || bound > INT32_MAX - frames_bound) {
            ignore(sink, path, "the run would exceed the frames it can count");
            continue;
        }
        frames_bound += bound;
        inputs.push_back({file.stored, file.path, static_cast<int64_t>(size)});
    }

    drop_output_files(plan, &inputs, sink);
    const int ecc_k = build_plan(plan, inputs);
    if (ecc_k > 0)
        tell(sink, Severity::Progress, "\nfindfiles() : rounding up AVIfile[%d] from ecc_k = %d\n", plan->avi_count,
             ecc_k);
}

void report_plan(const EncodePlan* plan, EventSink* sink)
{
    for (int32_t i = 1; i <= plan->file_count; i++)
        tell(sink, Severity::Info, "Input File[%d] %s: %lld Bytes -> %d Frames\n", i, plan->file_name[i].c_str(),
             static_cast<long long>(plan->file_size[i]), plan->file_frames[i]);
    for (int32_t k = 1; k <= plan->avi_count; k++)
        tell(sink, Severity::Info, "AVI File %d: %d Frames\n", k, plan->avi_frames[k]);
    for (int32_t k = 1; k <= plan->avi_count; k++) {
        if (plan->avi_frames[k] <= avi_portable_frames(*plan->system))
            continue;
        char name[AVI_NAME_SIZE];
        avi_file_name(k, name);
        tell(sink, Severity::Warning,
             "(Warning: %s will be over 2 GiB; some DV tools read AVI 1.0 files only up to 2 GiB: -avisize %d keeps "
             "every file below)\n",
             name, avi_portable_frames(*plan->system) - (ECC_N - 1));
    }
    tell(sink, Severity::Info, "(Frame 0 Repeated %d times)\n", plan->repeat0);
}
