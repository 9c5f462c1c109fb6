#include "verify.h"

#include <cstring>

namespace {

void list(VerifyTotals* totals, const RestoredFile* file, int64_t files)
{
    if (totals->listed < MAX_LISTED_DAMAGED)
        totals->damaged[totals->listed++] = *file;
    else
        totals->unlisted += files;
}

}  // namespace

bool file_intact(const RestoredFile* file)
{
    if (file->state != OUTPUT_WRITING)
        return 0;
    if (file->record_state == RecordState::VALID)
        return file->written == static_cast<int64_t>(file->record.size) && !file->hash_skipped &&
               file->digest == file->record.hash;
    return file->announced >= 0 && file->written == file->announced && file->planes_failed == 0 &&
           !file->inconsistent && !file->size_inferred && !file->parity_disagrees && !file->unverified;
}

void verify_file_done(VerifyTotals* totals, const RestoredFile* file)
{
    ++totals->files;
    if (file_intact(file))
        ++totals->intact;
    else
        list(totals, file, 1);
}

void verify_missing_done(VerifyTotals* totals, const RestoredFile* file)
{
    const int64_t files = static_cast<int64_t>(file->last_file_index) - file->file_index + 1;
    totals->files += files;
    RestoredFile* last = totals->listed > 0 ? &totals->damaged[totals->listed - 1] : nullptr;
    if (last && last->state == OUTPUT_MISSING && last->file_count == file->file_count &&
        last->last_file_index + 1 == file->file_index && totals->unlisted == 0) {
        last->last_file_index = file->last_file_index;
        return;
    }
    list(totals, file, files);
}

void report_missing_files(Decoder& d, int32_t first, int32_t last, int32_t file_count)
{
    if (!d.writer.output_started || first > last)
        return;
    RestoredFile file{};
    file.state = OUTPUT_MISSING;
    file.announced = -1;
    file.file_index = first;
    file.last_file_index = last;
    file.file_count = file_count;
    verify_missing_done(&d.verify, &file);
    if (d.options.keep_captures_unless_intact)
        d.writer.keep_captures = true;
    if (d.sink)
        d.sink->file_verdict(file);
}
