#include "verify.h"

#include <cinttypes>
#include <cstring>

namespace {

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
    switch (f->state) {
    case OUTPUT_REFUSED:
        std::snprintf(part, sizeof part, "not written: %s", path_verdict_text(f->path_verdict));
        append(reason, part);
        return;
    case OUTPUT_OPEN_FAILED:
        append(reason, "not written: the file could not be created");
        return;
    case OUTPUT_CUT:
        append(reason, "not written: its first frame lies before the capture");
        return;
    case OUTPUT_FIRST_LOST:
        append(reason, "not written: its first frame was lost or damaged and could not be rebuilt");
        return;
    case OUTPUT_MISSING:
        append(reason, "not written: none of its frames is in the capture");
        return;
    default:
        break;
    }
    if (f->announced < 0) {
        append(reason, "its size is not known");
    } else if (f->written != f->announced) {
        std::snprintf(part, sizeof part, "%" PRId64 " of %" PRId64 " bytes", f->written, f->announced);
        append(reason, part);
    }
    if (f->size_inferred)
        append(reason, "no header of it was received: its size was inferred");
    if (f->planes_failed > 0) {
        std::snprintf(part, sizeof part, "%d frames could not be restored", static_cast<int>(f->planes_failed));
        append(reason, part);
    }
    if (f->inconsistent)
        append(reason, "its frame headers disagree with where its frames lie");
}

}  // namespace

int file_intact(const RestoredFile* file)
{
    return file->state == OUTPUT_WRITING && file->announced >= 0 && file->written == file->announced &&
           file->planes_failed == 0 && !file->inconsistent && !file->size_inferred;
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
