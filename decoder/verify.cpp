#include "verify.h"

#include <cinttypes>
#include <cstring>

namespace {

constexpr uint32_t SUM24_MASK = 0xFFFFFF;
constexpr int REASON_SIZE = 256;

void emit(FILE* log, const char* text)
{
    std::fputs(text, stdout);
    if (log)
        std::fputs(text, log);
}

// Adds `part` to the reason text, separated from what is there; cut at REASON_SIZE.
void append(char* reason, const char* part)
{
    size_t used = std::strlen(reason);
    const char* pieces[2] = {used ? "; " : "", part};
    for (const char* p : pieces)
        while (*p != '\0' && used + 1 < REASON_SIZE)
            reason[used++] = *p++;
    reason[used] = '\0';
}

void describe(const RestoredFile* f, char* reason)
{
    char part[REASON_SIZE];
    reason[0] = '\0';
    if (f->state == OUTPUT_REFUSED) {
        std::snprintf(part, sizeof part, "not written: %s", path_verdict_text(f->path_verdict));
        append(reason, part);
        return;
    }
    if (f->state == OUTPUT_OPEN_FAILED) {
        append(reason, "not written: the file could not be created");
        return;
    }
    if (f->state == OUTPUT_NOT_REACHED) {
        append(reason, "not written: the capture ended inside its ECC block");
        return;
    }
    if (f->written != f->announced) {
        std::snprintf(part, sizeof part, "%" PRId64 " of %" PRId64 " bytes", f->written, f->announced);
        append(reason, part);
    }
    if (f->planes_failed > 0) {
        std::snprintf(part, sizeof part, "%d frames do not match their checksum", static_cast<int>(f->planes_failed));
        append(reason, part);
    }
    if (f->uncorrectable)
        append(reason, "its ECC blocks hold uncorrectable codewords");
}

}  // namespace

BlockHealth block_health(const QueueEntry* entries, const ECCDecoder* decoder, int corrected)
{
    BlockHealth health{0, 0, corrected};
    for (int i = 0; i < ECC_N; ++i) {
        const FrameRecord* r = &entries[i].record;
        if (entries[i].filler || r->sum_computed != r->sum_stored)
            ++health.bad_positions;
    }
    if (corrected)
        health.uncorrectable = decoder->cUncorrectable;
    return health;
}

int32_t plane_sum24(const uint8_t* plane)
{
    uint32_t sum = 0;
    for (int i = 0; i < PLANE_SIZE; ++i)
        sum += plane[i];
    return static_cast<int32_t>(sum & SUM24_MASK);
}

int plane_intact(const QueueEntry* entry, const uint8_t* plane, const BlockHealth* health)
{
    if (entry->filler)
        return health->corrected && health->uncorrectable == 0 && health->bad_positions <= 1;
    return plane_sum24(plane) == entry->record.sum_stored;
}

void verify_plane(RestoredFile* file, const QueueEntry* entry, const uint8_t* plane, const BlockHealth* health)
{
    if (!plane_intact(entry, plane, health))
        ++file->planes_failed;
    if (health->uncorrectable > 0)
        file->uncorrectable = 1;
}

int file_intact(const RestoredFile* file)
{
    return file->state == OUTPUT_WRITING && file->written == file->announced && file->planes_failed == 0 &&
           !file->uncorrectable;
}

void verify_file_done(VerifyTotals* totals, const RestoredFile* file)
{
    ++totals->files;
    if (file_intact(file))
        ++totals->intact;
    else if (totals->listed < MAX_LISTED_DAMAGED)
        totals->damaged[totals->listed++] = *file;
    else
        ++totals->unlisted;
}

void print_verification(const VerifyTotals* totals, FILE* log)
{
    char line[NAME_BUFFER_SIZE + 2 * REASON_SIZE];
    char reason[REASON_SIZE];
    emit(log, "\nVerification\n------------\n");
    for (int i = 0; i < totals->listed; ++i) {
        describe(&totals->damaged[i], reason);
        std::snprintf(line, sizeof line, "DAMAGED: %s (%s)\n", totals->damaged[i].name, reason);
        emit(log, line);
    }
    if (totals->unlisted > 0) {
        std::snprintf(line, sizeof line, "DAMAGED: %d more files\n", totals->unlisted);
        emit(log, line);
    }
    std::snprintf(line, sizeof line, "Verified: %d of %d files intact\n", totals->intact, totals->files);
    emit(log, line);
}
