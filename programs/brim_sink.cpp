#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "brim.h"

namespace {

constexpr double PROGRESS_INTERVAL = 0.25;   // seconds between redraws
constexpr int SECONDS_PER_HOUR = 3600;
constexpr int SECONDS_PER_MINUTE = 60;
constexpr double BYTES_PER_MB = 1e6;
constexpr int PERCENT = 100;

// The engine's message without its layout: surrounding line breaks and spaces,
// and the "function() : " that the described programs put in front.
std::string plain(const char* text)
{
    std::string s(text);
    const size_t first = s.find_first_not_of(" \n\r\t");
    if (first == std::string::npos)
        return std::string();
    s.erase(0, first);
    s.erase(s.find_last_not_of(" \n\r\t") + 1);
    const size_t call = s.find("()");
    if (call != std::string::npos && call < s.find(' ')) {
        size_t rest = call + 2;
        while (rest < s.size() && (s[rest] == ' ' || s[rest] == ':'))
            ++rest;
        s.erase(0, rest);
    }
    for (char& c : s)
        if (c == '\n')
            c = ' ';
    return s;
}

}  // namespace

void brim_error(const char* format, ...)
{
    std::fflush(stdout);
    std::fputs("brim: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::string tape_time(const VideoSystem& v, int64_t frames, double factor)
{
    const double frames_per_second = static_cast<double>(v.rate) / static_cast<double>(v.scale);
    const auto seconds = static_cast<int64_t>(static_cast<double>(frames) / frames_per_second * factor + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / SECONDS_PER_HOUR,
                  static_cast<int>(seconds / SECONDS_PER_MINUTE % SECONDS_PER_MINUTE),
                  static_cast<int>(seconds % SECONDS_PER_MINUTE));
    return text;
}

BrimSink::BrimSink(int verbosity) : verbosity_(verbosity), terminal_(stderr_is_terminal()), started_(seconds_now())
{
}

BrimSink::~BrimSink()
{
    if (log_)
        std::fclose(log_);
}

bool BrimSink::open_log(const std::string& path)
{
    log_ = std::fopen(path.c_str(), "w");
    if (!log_)
        brim_error("cannot create the log %s: %s", path.c_str(), std::strerror(errno));
    return log_ != nullptr;
}

void BrimSink::message(Severity severity, const char* text)
{
    if (log_ && severity != Severity::Progress)
        std::fputs(text, log_);
    if (severity != Severity::Warning && severity != Severity::Error && severity != Severity::Failure)
        return;
    if (severity == Severity::Warning)
        ++warnings_;
    const std::string line = plain(text);
    if (line.empty())
        return;
    end_progress();
    brim_error("%s", line.c_str());
}

void BrimSink::frame_mark(const char* mark)
{
    ++marks_;
    if (log_)
        std::fputs(mark, log_);
    if (planes_expected_ > 0)
        progress(marks_, planes_expected_, marks_ * system_->plane_size, marks_);
}

void BrimSink::file_verdict(const RestoredFile& file)
{
    if (on_verdict)
        on_verdict(verdict_context, file);
}

void BrimSink::block_health(const BlockHealth& block)
{
    if (on_block)
        on_block(verdict_context, block);
}

void BrimSink::progress(int64_t done, int64_t total, int64_t bytes, int64_t frames)
{
    if (!terminal_ || verbosity_ == 0)
        return;
    const double now = seconds_now();
    if (now - last_shown_ < PROGRESS_INTERVAL)
        return;
    last_shown_ = now;
    const double elapsed = now - started_;
    const double rate = elapsed > 0 ? static_cast<double>(bytes) / elapsed / BYTES_PER_MB : 0;
    char line[160];
    int n = 0;
    if (total > 0) {
        const double share = static_cast<double>(done) / static_cast<double>(total);
        const double left = share > 0 ? elapsed / share - elapsed : 0;
        n = std::snprintf(line, sizeof line, "%3d%%  %.1f MB/s  %d s left  ", static_cast<int>(share * PERCENT),
                          rate, static_cast<int>(left));
    } else {
        n = std::snprintf(line, sizeof line, "%.1f MB  %.1f MB/s  ", static_cast<double>(bytes) / BYTES_PER_MB, rate);
    }
    std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "tape %s", tape_time(*system_, frames, 1.0).c_str());
    std::fprintf(stderr, "\r%-70s", line);
    std::fflush(stderr);
    progress_shown_ = true;
}

void BrimSink::end_progress()
{
    if (!progress_shown_)
        return;
    std::fprintf(stderr, "\r%-70s\r", "");
    progress_shown_ = false;
}
