// Start-up of brimwrite: command line, usage texts, template frame and plan report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encode_plan.h"

// Fewest copies of a file's first frame with which the decoder can restore it.
constexpr int32_t MIN_SAFE_REPEAT0 = 4;

// Prints the usage text for a command line without arguments.
void print_usage_first();
// Prints the usage text for a run that found no input file.
void print_usage_second();

// Sets the options and the plan to their defaults (no files, one empty AVI file).
void set_plan_defaults(EncodePlan* plan);

// Reads the options that precede the first pattern ("-recurse", "-repeat0 n",
// "-avisize n"; values read like atoi) into `plan`, and the first pattern and
// every argument after it into `patterns`. Warns when repeat0 is below
// MIN_SAFE_REPEAT0 (a negative one is taken as 0). Returns 1, or 0 after printing
// a message when a value is missing or avisize is outside 1 .. the largest count
// an AVI file can hold.
int parse_command_line(int argc, char** argv, EncodePlan* plan, std::vector<std::string>* patterns);

// Loads the template frame chunk from the current directory into `frame`
// (FRAME_CHUNK_SIZE bytes). Returns 1, or 0 after printing a message when it is
// missing, shorter than a frame chunk or lacks the bytes the reader needs.
int load_template(uint8_t* frame);

// Reports the plan (input files, AVI files, repeat count) on the console and in `log`.
void report_plan(const EncodePlan* plan, FILE* log);
