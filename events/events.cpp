#include "events.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Formats the message and hands it on as a mark or as a message of `severity`.
void vtell(EventSink* sink, bool mark, Severity severity, const char* format, va_list args)
{
    if (!sink)
        return;
    char text[TELL_BUFFER_SIZE];
    std::vsnprintf(text, sizeof text, format, args);
    if (mark)
        sink->frame_mark(text);
    else
        sink->message(severity, text);
}

}  // namespace

void tell(EventSink* sink, Severity severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vtell(sink, false, severity, format, args);
    va_end(args);
}

void tell_mark(EventSink* sink, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vtell(sink, true, Severity::Info, format, args);
    va_end(args);
}
