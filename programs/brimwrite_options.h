// brimwrite's own start-up: command line, usage texts, the template frame and the
// check for output left from an earlier run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encode_plan.h"
#include "events.h"

// Fewest copies of a file's first frame with which the decoder can restore it.
constexpr int32_t MIN_SAFE_REPEAT0 = 4;

// The usage text for a command line without arguments.
void print_usage_first();
// The usage text for a run that found no input file.
void print_usage_second();

// Reads the options that precede the first pattern ("-recurse", "-pal",
// "-repeat0 n", "-avisize n"; values read like atoi) into `plan`, and the first pattern and
// every argument after it into `patterns`. Warns when repeat0 is below
// MIN_SAFE_REPEAT0 (a negative one is taken as 0). false, told to `sink`, when a
// value is missing or avisize is outside 1 .. the largest count an AVI file can hold.
[[nodiscard]] bool parse_command_line(int argc, char** argv, EncodePlan* plan, std::vector<std::string>* patterns,
                                      EventSink* sink);

// Loads the template frame chunk of system `v` (DVFRAME_NTSC or DVFRAME_PAL) from
// the current directory into `frame` (v.chunk_size bytes). false, told to
// `sink`, when it is missing, shorter than a frame chunk or lacks the bytes the
// reader needs.
[[nodiscard]] bool load_template(const VideoSystem& v, uint8_t* frame, EventSink* sink);

// Warns when the AVI file numbered right after the plan's last one exists: it is
// left from an earlier, longer run, and a capture or a reader would take it as
// this recording's continuation.
void warn_stale_output(const EncodePlan* plan, EventSink* sink);
