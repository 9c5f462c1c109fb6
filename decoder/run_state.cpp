#include "run_state.h"

#include <cstdlib>
#include <cstring>

BrimreadRun g_run;
int32_t g_ecc_n = 0;

void run_state_reset()
{
    ECCDecoder decoder = g_run.decoder;
    QueueEntry* block = g_run.block;
    CorrectionBuffers correction = g_run.correction;
    ContentHash written = g_run.written;
    RestoredNames names = g_run.names;
    std::memset(&g_run, 0, sizeof g_run);
    g_run.decoder = decoder;
    g_run.block = block;
    g_run.correction = correction;
    g_run.written = written;
    g_run.names = names;
    if (g_run.names.slots)
        restored_names_init(&g_run.names);
    g_run.correct = 1;
    g_run.output_started = 1;
    g_run.writer_track = NO_TRACK;
    g_run.previous_plane_at = -1;
    for (FileTrack& t : g_run.tracks)
        t.id = NO_TRACK;
    if (g_run.correction.erasures)
        std::memset(g_run.correction.erasures, 0, sizeof *g_run.correction.erasures);
    g_ecc_n = 0;
}

int run_state_allocate()
{
    CorrectionBuffers& c = g_run.correction;
    if (!g_run.block)
        g_run.block = static_cast<QueueEntry*>(std::calloc(ECC_N, sizeof(QueueEntry)));
    if (!c.erasures)
        c.erasures = static_cast<ECCErasures*>(std::calloc(1, sizeof(ECCErasures)));
    if (!c.snapshot)
        c.snapshot = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(ECC_K) * PLANE_SIZE));
    if (!c.previous_plane)
        c.previous_plane = static_cast<uint8_t*>(std::calloc(1, PLANE_SIZE));
    const int hash_ok = content_hash_init(&g_run.written);
    const int names_ok = g_run.names.slots || restored_names_init(&g_run.names);
    return g_run.block && c.erasures && c.snapshot && c.previous_plane && hash_ok && names_ok;
}
