#include "decode_report.h"

#include <cinttypes>
#include <cstring>

#include "console_log.h"

namespace {

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

}  // namespace

void describe_file(const RestoredFile* f, char* reason, const char* keep_apart)
{
    char part[REASON_SIZE + NAME_BUFFER_SIZE];   // cut to REASON_SIZE when appended
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
        append(reason, f->last_file_index > f->file_index ? "not written: none of their frames is in the capture"
                                                           : "not written: none of its frames is in the capture");
        return;
    case OUTPUT_EXISTS:
        append(reason, "not written: a file of this name exists (--overwrite replaces it)");
        return;
    case OUTPUT_NAME_TAKEN:
        if (f->taken_by[0] == '\0') {
            append(reason, "not written: more files than one run can check for shared names");
            return;
        }
        std::snprintf(part, sizeof part, "not written: a file restored before it in this run is named %s%s%s",
                      f->taken_by, f->taken_by[0] && !f->recursed ? "; " : "", !f->recursed ? keep_apart : "");
        append(reason, part);
        return;
    default:
        break;
    }
    if (f->record_state == RecordState::VALID) {
        if (f->written != static_cast<int64_t>(f->record.size)) {
            std::snprintf(part, sizeof part, "%" PRId64 " of %" PRIu64 " bytes", f->written, f->record.size);
            append(reason, part);
        }
        if (f->planes_failed > 0) {
            std::snprintf(part, sizeof part, "%d frames could not be restored", static_cast<int>(f->planes_failed));
            append(reason, part);
        }
        append(reason, "its content does not match its stored hash");
        return;
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
    if (f->parity_disagrees)
        append(reason, "the block's parity disagrees with its frames");
    if (reason[0] == '\0' && f->unverified)
        append(reason, "a block holding its data had no parity left to check its frames");
}

// Written in full and right as far as the checks can tell, but with some of
// its planes trusted on their checksums alone.
bool file_unverified(const RestoredFile* f)
{
    return f->state == OUTPUT_WRITING && f->record_state != RecordState::VALID && f->unverified &&
           f->announced >= 0 && f->written == f->announced && f->planes_failed == 0 && !f->inconsistent &&
           !f->size_inferred && !f->parity_disagrees;
}

void report_name_of(const RestoredFile* f, char* out, size_t size)
{
    if (f->state != OUTPUT_MISSING)
        std::snprintf(out, size, "%s", f->name);
    else if (f->last_file_index > f->file_index)
        std::snprintf(out, size, "files #%d to #%d of %d", static_cast<int>(f->file_index),
                      static_cast<int>(f->last_file_index), static_cast<int>(f->file_count));
    else
        std::snprintf(out, size, "file #%d of %d", static_cast<int>(f->file_index), static_cast<int>(f->file_count));
}

void print_statistics(const DecodeStats* s, int64_t elapsed_seconds, FILE* log)
{
    ConsoleLogSink out(log);
    const float minutes = elapsed_minutes(elapsed_seconds);
    const float factor = speed_factor(s->bytes, minutes);
    tell(&out, Severity::Info, "\n\n\nStatistics\n----------\n");
    tell(&out, Severity::Info, "Total Frames decoded(.): %" PRId64 "\n", s->decoded);
    tell(&out, Severity::Info, "Total Dropped Frames(-): %" PRId64 "\n", s->dropped);
    tell(&out, Severity::Info, "(Longest # of Consecutive Frame Drops: %d)\n", static_cast<int>(s->longest_drop));
    tell(&out, Severity::Info, "Total Duplicated Frames(+): %" PRId64 "\n", s->duplicated);
    tell(&out, Severity::Info, "Total Corrupted Frames(*): %" PRId64 "\n", s->corrupted);
    tell(&out, Severity::Info, "Total Unrecognizable Frames(X): %" PRId64 "\n", s->unrecognizable);
    tell(&out, Severity::Progress, "NOTE : THESE STATISTICS APPLY TO THE RAW AVIFILE BEFORE ECC_CORRECTION!\n");
    tell(&out, Severity::Info, "\n%" PRId64 " Bytes decoded in ", s->bytes);
    tell(&out, Severity::Info, "%3.2f minutes\n", static_cast<double>(minutes));
    tell(&out, Severity::Info, "(ATSC data is ~150Mbytes/minute, so\n");
    tell(&out, Severity::Info, "performance was %3.2f X ATSC real-time)\n", static_cast<double>(factor));
}

void print_verification(const VerifyTotals* totals, FILE* log)
{
    ConsoleLogSink out(log);
    char reason[REASON_SIZE];
    char name[NAME_BUFFER_SIZE];
    tell(&out, Severity::Info, "\nVerification\n------------\n");
    for (int i = 0; i < totals->listed; ++i) {
        const RestoredFile* f = &totals->damaged[i];
        describe_file(f, reason);
        report_name_of(f, name, sizeof name);
        tell(&out, Severity::Info, "%s: %s (%s)\n", file_unverified(f) ? "NOT VERIFIED" : "DAMAGED", name, reason);
    }
    if (totals->unlisted > 0)
        tell(&out, Severity::Info, "DAMAGED: %" PRId64 " more files\n", totals->unlisted);
    if (totals->foreign_frames > 0)
        tell(&out, Severity::Info, "Not used: %" PRId64 " frames of another recording\n", totals->foreign_frames);
    tell(&out, Severity::Info, "Verified: %" PRId64 " of %" PRId64 " files intact\n", totals->intact, totals->files);
}
