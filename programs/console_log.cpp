#include "console_log.h"

#include <cstdarg>

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
