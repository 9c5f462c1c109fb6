#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

fs::path bin_dir() { return fs::path(BRIM_BIN_DIR); }

std::string program(const std::string& name)
{
#ifdef _WIN32
    return (bin_dir() / (name + ".exe")).string();
#else
    return (bin_dir() / name).string();
#endif
}

TempDir::TempDir()
{
    static std::mt19937_64 rng(std::random_device{}());
    for (;;) {
        fs::path candidate = fs::temp_directory_path() / ("brimtest-" + std::to_string(rng()));
        if (fs::create_directory(candidate)) {
            path = candidate;
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string shell_quote(const std::string& arg)
{
#ifdef _WIN32
    return "\"" + arg + "\"";
#else
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
#endif
}

RunResult run_in(const fs::path& cwd, const std::string& command_line)
{
#ifdef _WIN32
    const std::string change_dir = "cd /d ";  // /d: the directory may be on another drive
#else
    const std::string change_dir = "cd ";
#endif
    std::string full = change_dir + shell_quote(cwd.string()) + " && " + command_line + " 2>&1";
    RunResult result{0, ""};
    // Under Wine, starting the command interpreter now and then fails for a
    // moment: a few tries before giving up.
    constexpr int START_TRIES = 3;
    FILE* pipe = nullptr;
    for (int i = 0; i < START_TRIES && !pipe; ++i)
        pipe = popen(full.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run: " + full);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    int raw = pclose(pipe);
#ifdef _WIN32
    result.status = raw;
#else
    int code = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.status = static_cast<int8_t>(static_cast<uint8_t>(code));
#endif
    return result;
}

bool have_program(const std::string& name)
{
#ifdef _WIN32
    // A search of the PATH itself: "where" is not everywhere a real lookup (Wine's
    // succeeds for any name).
    char found[MAX_PATH];
    return SearchPathA(nullptr, name.c_str(), ".exe", MAX_PATH, found, nullptr) > 0;
#else
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

std::vector<uint8_t> read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> random_bytes(size_t count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng() >> 24);
    return bytes;
}

void set_environment(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

void copy_template(const fs::path& dir, const VideoSystem& v)
{
    const char* name = v.id == PAL.id ? "DVFRAME_PAL" : "DVFRAME_NTSC";
    fs::copy_file(bin_dir() / name, dir / name, fs::copy_options::overwrite_existing);
}
