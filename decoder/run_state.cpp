#include "run_state.h"

#include <cstring>

BrimreadRun g_run;
int32_t g_ecc_n = 0;

void run_state_reset()
{
    ECCDecoder decoder = g_run.decoder;
    QueueEntry* block = g_run.block;
    std::memset(&g_run, 0, sizeof g_run);
    g_run.decoder = decoder;
    g_run.block = block;
    g_run.correct = 1;
    g_run.output_started = 1;
    g_ecc_n = 0;
}
