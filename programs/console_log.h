// Progress and report lines that go to the console and then to the log.
#pragma once

#include <cstdio>

#if defined(__GNUC__)
#define BRIM_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BRIM_PRINTF_LIKE(fmt, args)
#endif

// Prints the formatted text on the console, then writes it to `log` (if not null).
void say(FILE* log, const char* format, ...) BRIM_PRINTF_LIKE(2, 3);
