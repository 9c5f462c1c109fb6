// The encoder's plan record: options, the input file tables, the frame budget of
// every AVI file and the cursors of the run. Shared by the plan, the plane source
// and the AVI writer. Tables are indexed from 1 and sized once, after the listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_layout.h"

constexpr int DEFAULT_AVISIZE = 15869;
// The frames per AVI file when none are asked for: about 1.9 GB in either
// system (DEFAULT_AVISIZE for 525/60), below the 2 GiB some DV tools stop at.
constexpr int DEFAULT_AVISIZES[SYSTEM_COUNT] = {DEFAULT_AVISIZE, 13224};
constexpr int DEFAULT_REPEAT0 = 30;

// What the frames are written as: numbered AVI files (brimwrite's only form),
// numbered raw DV files, or one raw DV stream on standard output.
enum class OutputFormat : uint8_t { AVI, RAW_FILES, RAW_STREAM };

struct EncodePlan {
    OutputFormat output = OutputFormat::AVI;
    const VideoSystem* system = &SYSTEM_525_60;   // the tape's video system
    int32_t avisize;
    bool recurse;                        // list the patterns' directories and everything below them
    int32_t repeat0;                     // 0 or more: brimwrite takes a negative option value as 0
    int32_t avi_count;
    int32_t avi_current;
    std::vector<int32_t> avi_frames;     // [1..avi_count]; entries after avi_count are spare
    int32_t CAVIFcnt;
    int32_t file_count;
    int32_t file_current;
    std::vector<std::string> file_name;  // [1..file_count] stored path (backslash-separated, as on tape)
    std::vector<std::string> file_path;  // [1..file_count] native path used to open the file
    std::vector<int64_t> file_size;      // [1..file_count] bytes not yet read
    std::vector<int32_t> file_frames;    // [1..file_count] AVI frames planned
};

// Frames planned for the current output file; a file beyond the plan counts as
// planned for none, so that a miscounted run ends up in the writer's complaint.
inline int32_t planned_frames(const EncodePlan* plan)
{
    const size_t k = static_cast<size_t>(plan->avi_current);
    return plan->avi_current > 0 && k < plan->avi_frames.size() ? plan->avi_frames[k] : 0;
}
