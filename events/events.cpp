#include "events.h"

#include <cstdarg>
#include <cstdio>

void tell(EventSink* sink, Severity severity, const char* format, ...)
{
    if (!sink)
        return;
    char text[TELL_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink->message(severity, text);
}

void tell_mark(EventSink* sink, const char* format, ...)
{
    if (!sink)
        return;
    char text[TELL_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink->frame_mark(text);
}
