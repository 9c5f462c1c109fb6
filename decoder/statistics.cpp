#include "statistics.h"

#include <cinttypes>

namespace {

constexpr int SECONDS_PER_MINUTE = 60;
constexpr double PER_ATSC_BYTES_PER_MINUTE = 6.666666666666667e-9;   // 1 / 150,000,000
constexpr int LINE_SIZE = 128;

void put(const char* text, FILE* log)
{
    std::fputs(text, stdout);
    if (log)
        std::fputs(text, log);
}

}  // namespace

float elapsed_minutes(int64_t seconds) { return static_cast<float>(seconds / SECONDS_PER_MINUTE); }

float speed_factor(int64_t bytes, float minutes)
{
    if (minutes == 0.0f)
        return 0.0f;
    return static_cast<float>(static_cast<double>(bytes) / minutes * PER_ATSC_BYTES_PER_MINUTE);
}

void print_statistics(const DecodeStats* s, int64_t elapsed_seconds, FILE* log)
{
    const float minutes = elapsed_minutes(elapsed_seconds);
    const float factor = speed_factor(s->bytes, minutes);
    char line[LINE_SIZE];
    put("\n\n\nStatistics\n----------\n", log);
    std::snprintf(line, sizeof line, "Total Frames decoded(.): %" PRId64 "\n", s->decoded);
    put(line, log);
    std::snprintf(line, sizeof line, "Total Dropped Frames(-): %" PRId64 "\n", s->dropped);
    put(line, log);
    std::snprintf(line, sizeof line, "(Longest # of Consecutive Frame Drops: %d)\n",
                  static_cast<int>(s->longest_drop));
    put(line, log);
    std::snprintf(line, sizeof line, "Total Duplicated Frames(+): %" PRId64 "\n", s->duplicated);
    put(line, log);
    std::snprintf(line, sizeof line, "Total Corrupted Frames(*): %" PRId64 "\n", s->corrupted);
    put(line, log);
    std::snprintf(line, sizeof line, "Total Unrecognizable Frames(X): %" PRId64 "\n", s->unrecognizable);
    put(line, log);
    put("NOTE : THESE STATISTICS APPLY TO THE RAW AVIFILE BEFORE ECC_CORRECTION!\n", nullptr);
    std::snprintf(line, sizeof line, "\n%" PRId64 " Bytes decoded in ", s->bytes);
    put(line, log);
    std::snprintf(line, sizeof line, "%3.2f minutes\n", static_cast<double>(minutes));
    put(line, log);
    put("(ATSC data is ~150Mbytes/minute, so\n", log);
    std::snprintf(line, sizeof line, "performance was %3.2f X ATSC real-time)\n", static_cast<double>(factor));
    put(line, log);
}
