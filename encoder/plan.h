// Input discovery and the encode plan: which files go to tape, in which order,
// and exactly how many AVI frames every file and every AVI file will hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode_plan.h"
#include "events.h"
#include "tape_model.h"

// Files in the current directory that are never taken as input (matched against
// the tail of the stored path, case-sensitive).
// The template frame of each video system (by VideoSystem::id).
constexpr const char* TEMPLATE_FILE_NAMES[SYSTEM_COUNT] = {"DVFRAME_NTSC", "DVFRAME_PAL"};
constexpr const char* LOG_FILE_NAME = "Brimwritelog.txt";

// Largest input file: its size must fit the bytes_remaining field.
constexpr int64_t MAX_INPUT_SIZE = MAX_TAPE_FILE_BYTES;

// One accepted input file.
struct PlanInput {
    std::string name;  // stored form, as it goes to tape
    std::string path;  // native path to open
    int64_t size;      // bytes, greater than 0
};

// Sets the options and the plan to their defaults (no files, one empty AVI file).
void set_plan_defaults(EncodePlan* plan);

// Whether the stored path ends in one of the reserved names (the three listing
// file names SPOOFDIR, SPOOFDI2, SPOOFDI3, the template and the log).
bool is_reserved_name(const std::string& stored);

// Whether `path` (native) is the template or the log of the current directory itself.
bool is_own_file(const std::string& path);

// Most AVI frames of system `v` a file of `size` bytes can be planned with,
// wherever its planes fall in the ECC blocks (closing padding and parity
// included), with `repeat0` copies of its first frame; and the largest frame
// index it can reach on tape.
int64_t file_frames_bound(const VideoSystem& v, int64_t size, int32_t repeat0);
int64_t file_frame_index_bound(const VideoSystem& v, int64_t size);

// Fills the plan's file tables (sized once, indexed from 1), `file_count`,
// `avi_count` and `avi_frames` from `inputs`, in their order: each file gets
// repeat0 frames for its first plane, one per further plane and 8 per ECC block
// that one of its planes completes; AVI files get `avisize` frames each, the last
// one the rest; an incomplete last ECC block is rounded up with the padding and
// parity frames that end the run, counted in the last file and AVI file.
// Requires avisize >= 1 and repeat0 >= 0. Returns the planes in the incomplete
// last ECC block (0 when it is complete or there is no input).
int build_plan(EncodePlan* plan, const std::vector<PlanInput>& inputs);

// Lists the files named by `patterns` (see list_input_files), leaves out reserved
// names silently and tells `sink` every other file left out (path too long for
// tape, empty, unreadable, too large, or overwritten by this run's output), then
// builds the plan, telling the rounding of the last ECC block. `file_count` 0
// means no input file was found.
void findfiles(EncodePlan* plan, const std::vector<std::string>& patterns, EventSink* sink);

// Tells `sink` the plan: input files, AVI files (warning of any over 2 GiB), repeat count.
void report_plan(const EncodePlan* plan, EventSink* sink);
