#include "block_writer.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "classifier.h"
#include "verify.h"

namespace {

constexpr int FRAME_NUMBER_STEP = 10;   // progress numbers at the multiples of 10
// Every queued copy of a drop record marks the drop with dashes; the count per
// copy is capped so that a long gap prints linearly many marks, not n * n.
constexpr uint32_t MAX_DASHES_PER_MARK = ECC_N;

// Console, then log.
void emit(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    if (g_run.log) {
        va_start(args, format);
        std::vfprintf(g_run.log, format, args);
        va_end(args);
    }
}

void emit_dashes(uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        emit("-");
}

void report_write_failure(const char* name)
{
    emit("\ndump_eccblock() : cannot write '%s': %s\n", name, std::strerror(errno));
}

// Control bytes of a refused stored path are shown as '?'.
void copy_printable(char* out, const char* text)
{
    size_t i = 0;
    for (; text[i] != '\0' && i + 1 < NAME_BUFFER_SIZE; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = c < 0x20 || c == 0x7F ? '?' : text[i];
    }
    out[i] = '\0';
}

int close_output()
{
    int result = QUEUE_OK;
    if (g_run.output) {
        if (std::fclose(g_run.output) != 0) {
            report_write_failure(g_run.file.name);
            result = QUEUE_WRITE_FAILED;
        }
        g_run.output = nullptr;
    }
    if (g_run.file.tracked) {
        verify_file_done(&g_run.verify, &g_run.file);
        g_run.file.tracked = 0;
    }
    return result;
}

// An accepted frame 0: the previous file ends, the file named in its header area
// starts (or is skipped until the "-startfile" name comes).
int start_file(const uint8_t* plane, const FrameRecord* record)
{
    if (close_output() != QUEUE_OK)
        return QUEUE_WRITE_FAILED;

    RestorePath path;
    restore_path_from_plane(plane, g_run.recurse, &path);
    if (path.verdict == PATH_OK)
        std::memcpy(g_run.current_name, path.output, sizeof g_run.current_name);
    else
        copy_printable(g_run.current_name, path.stored);
    if (g_run.recurse && path.verdict == PATH_OK && path.directory[0] != '\0')
        mkdir_recursive(path.directory);

    if (!g_run.output_started && !names_equal_nocase(path.compare_name, g_run.start_name))
        return QUEUE_OK;
    g_run.output_started = 1;

    RestoredFile* file = &g_run.file;
    std::memset(file, 0, sizeof *file);
    file->tracked = 1;
    file->path_verdict = path.verdict;
    std::memcpy(file->name, g_run.current_name, sizeof file->name);
    // The classifier split the announced size into this plane's bytes and the rest.
    file->announced = record->bytes_remaining + record->RealBytes;
    if (path.verdict != PATH_OK) {
        file->state = OUTPUT_REFUSED;
        emit("\ndump_eccblock() : refusing stored path '%s' (%s); nothing is written for it\n", g_run.current_name,
             path_verdict_text(path.verdict));
        return QUEUE_OK;
    }
    g_run.output = std::fopen(path.output, "wb");
    if (!g_run.output) {
        file->state = OUTPUT_OPEN_FAILED;
        std::printf("Error opening output file '%s'!\n", path.output);
        return QUEUE_OK;
    }
    file->state = OUTPUT_WRITING;
    return QUEUE_OK;
}

void print_mark(const FrameRecord* r, int32_t previous_index)
{
    const int number_due = r->frame_index != previous_index &&
                           (r->frame_index == r->last_frame_index ||
                            (r->frame_index != 0 && r->frame_index % FRAME_NUMBER_STEP == 0));
    const int damaged = r->sum_computed != r->sum_stored;
    if (r->frame_code == FRAME0_ACCEPTED) {
        emit("\nWriting to %s (%d Frames): 0", g_run.current_name, r->last_frame_index + 1);
    } else if (r->frame_code == FRAME_NEXT) {
        if (damaged)
            emit("*");
        else if (number_due)
            emit("%d", r->frame_index);
        else
            emit(".");
    } else if (is_drop_count(r->frame_code)) {
        if (g_run.log)
            std::fprintf(g_run.log, "\ndump_eccblock() : Dropped_frame %d", static_cast<int>(r->frame_code));
        emit_dashes(r->frame_code < MAX_DASHES_PER_MARK ? r->frame_code : MAX_DASHES_PER_MARK);
        if (damaged)
            emit("*");
        else if (number_due)
            emit("%d", r->frame_index);
        else if (r->frame_index != 0)
            emit(".");
    }
}

int write_plane(const QueueEntry* entry, const uint8_t* plane, const BlockHealth* health)
{
    int start = 0;
    int32_t count = bytes_to_write(entry, &g_run.file, &start);
    if (count <= 0)
        return QUEUE_OK;
    if (std::fwrite(plane + start, 1, static_cast<size_t>(count), g_run.output) != static_cast<size_t>(count)) {
        report_write_failure(g_run.file.name);
        return QUEUE_WRITE_FAILED;
    }
    g_run.file.written += count;
    verify_plane(&g_run.file, entry, plane, health);
    return QUEUE_OK;
}

}  // namespace

int32_t bytes_to_write(const QueueEntry* entry, const RestoredFile* file, int* start)
{
    const FrameRecord* record = &entry->record;
    *start = record->frame_code == FRAME0_ACCEPTED ? HEADER_AREA_SIZE : 0;
    int64_t count = entry->filler ? PLANE_SIZE : record->RealBytes;
    if (count > PLANE_SIZE - *start)
        count = PLANE_SIZE - *start;
    if (count > file->announced - file->written)
        count = file->announced - file->written;
    return count > 0 ? static_cast<int32_t>(count) : 0;
}

int add2queue(const uint8_t* plane, const FrameRecord* record, int filler)
{
    uint8_t* buffer = nullptr;
    if (ecc_decoder_get_rcv_buffer(&g_run.decoder, &buffer) != 0 ||
        buffer != g_run.decoder.pReceivedPlanes[g_ecc_n]) {
        std::printf("\nadd2queue() : CATASTROPHIC ERROR!");
        return QUEUE_CATASTROPHIC;
    }
    std::memcpy(buffer, plane, PLANE_SIZE);
    ecc_decoder_syn1(&g_run.decoder, buffer);
    g_run.block[g_ecc_n].record = *record;
    g_run.block[g_ecc_n].filler = filler;
    if (++g_ecc_n < ECC_N)
        return QUEUE_OK;
    g_ecc_n = 0;
    ecc_decoder_correct(&g_run.decoder, g_run.correct);
    return dump_eccblock(g_run.block);
}

int dump_eccblock(const QueueEntry* records)
{
    std::printf("\ndump_eccblock():");
    const BlockHealth health = block_health(records, &g_run.decoder, g_run.correct);
    int32_t previous_index = -1;
    for (int i = 0; i < ECC_K; ++i) {
        uint8_t* plane = nullptr;
        if (ecc_decoder_get_out_buffer(&g_run.decoder, &plane) != 0) {
            std::printf("\nadd2queue() : CATASTROPHIC ERROR!");
            return QUEUE_CATASTROPHIC;
        }
        const QueueEntry* entry = &records[i];
        const FrameRecord* r = &entry->record;
        if (r->frame_code == FRAME0_ACCEPTED && start_file(plane, r) != QUEUE_OK)
            return QUEUE_WRITE_FAILED;
        print_mark(r, previous_index);
        if (r->Zerobytes > 0 && g_run.output)
            std::printf("\nZerobytes = %d, RealBytes = %d", static_cast<int>(r->Zerobytes),
                        static_cast<int>(r->RealBytes));
        if (g_run.output && write_plane(entry, plane, &health) != QUEUE_OK)
            return QUEUE_WRITE_FAILED;
        previous_index = r->frame_index;
    }
    return QUEUE_OK;
}

int finish_output() { return close_output(); }

void report_unwritten_block()
{
    for (int i = 0; i < g_ecc_n; ++i) {
        if (g_run.block[i].record.frame_code != FRAME0_ACCEPTED)
            continue;
        RestorePath path;
        restore_path_from_plane(g_run.decoder.pReceivedPlanes[i], g_run.recurse, &path);
        if (!g_run.output_started && !names_equal_nocase(path.compare_name, g_run.start_name))
            continue;
        g_run.output_started = 1;
        RestoredFile file{};
        file.state = OUTPUT_NOT_REACHED;
        file.path_verdict = path.verdict;
        if (path.verdict == PATH_OK)
            std::memcpy(file.name, path.output, sizeof file.name);
        else
            copy_printable(file.name, path.stored);
        verify_file_done(&g_run.verify, &file);
    }
}
