#include "statistics.h"


namespace {

constexpr int SECONDS_PER_MINUTE = 60;
constexpr double PER_ATSC_BYTES_PER_MINUTE = 6.666666666666667e-9;   // 1 / 150,000,000

}  // namespace

float elapsed_minutes(int64_t seconds) { return static_cast<float>(seconds / SECONDS_PER_MINUTE); }

float speed_factor(int64_t bytes, float minutes)
{
    if (minutes == 0.0f)
        return 0.0f;
    return static_cast<float>(static_cast<double>(bytes) / minutes * PER_ATSC_BYTES_PER_MINUTE);
}

