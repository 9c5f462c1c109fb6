// Helpers shared by the test suites: temporary directories, running the real
// programs, and file contents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_geometry.h"

namespace fs = std::filesystem;

// Directory holding the built programs and the template frame DVFRAME_NTSC.
fs::path bin_dir();

// Full path of a built program ("brimwrite", "brimread", "mkdvframe", "capsim").
std::string program(const std::string& name);

// A fresh directory below the system's temporary directory, removed on destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path path;
};

// Result of running a command line through the shell.
struct RunResult {
    int status;          // exit status as the program returned it, sign-extended (-1 stays -1)
    std::string output;  // standard output and standard error, interleaved
};

// Runs `command_line` in directory `cwd` and captures its output.
RunResult run_in(const fs::path& cwd, const std::string& command_line);

// Quotes one argument for the shell.
std::string shell_quote(const std::string& arg);

// True when `name` is found on the PATH (for tests that need ffmpeg).
bool have_program(const std::string& name);

std::vector<uint8_t> read_file(const fs::path& path);
void write_file(const fs::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> random_bytes(size_t count, uint32_t seed);

// Copies the built template frame into `dir`.
void copy_template(const fs::path& dir, const VideoSystem& v = NTSC);

// Sets (or with null clears) an environment variable for the programs started
// next (a shell prefix would not do: the Windows suites start them without one).
void set_environment(const char* name, const char* value);
