#include "console_log.h"

#include <cstdarg>

void ConsoleLogSink::message(Severity severity, const char* text)
{
    if (severity != Severity::Detail)
        std::fputs(text, stdout);
    if (severity != Severity::Progress && log_)
        std::fputs(text, log_);
}

void ConsoleLogSink::frame_mark(const char* mark) { message(Severity::Info, mark); }

void ConsoleLogSink::statistics(const DecodeStats&, int64_t) {}

void ConsoleLogSink::verification(const VerifyTotals&) {}

void say(FILE* log, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (log) {
        va_list again;
        va_copy(again, args);
        vprintf(format, args);
        vfprintf(log, format, again);
        va_end(again);
    } else {
        vprintf(format, args);
    }
    va_end(args);
}
