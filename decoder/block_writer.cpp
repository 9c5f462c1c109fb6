#include "block_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstring>

#include "classifier.h"
#include "native_path.h"
#include "tape_model.h"
#include "verify.h"

namespace {

constexpr int FRAME_NUMBER_STEP = 10;   // progress numbers at the multiples of 10
// Every queued copy of a drop record marks the drop with dashes; the count per
// copy is capped so that a long gap prints linearly many marks, not n * n.
constexpr uint32_t MAX_DASHES_PER_MARK = ECC_N;
// Blocks lost whole in a row whose marks are shown; the rest are counted.
constexpr int64_t LOST_BLOCKS_SHOWN = 2;
// Zero bytes of lost planes hashed in a row; a longer hole ends the file's hash.
constexpr int64_t HOLE_HASHED = int64_t{ECC_K} * PLANE_SIZE;
// Payload blocks holding the path field of a file's first plane.
constexpr int PATH_PAYLOAD_BLOCKS = (PATH_FIELD_SIZE + PAYLOAD_BLOCK_BYTES - 1) / PAYLOAD_BLOCK_BYTES;

// Zero bytes for positions that hold nothing usable. Static: never grows.
const uint8_t ZERO_PLANE[PLANE_SIZE] = {};

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
    g_run.output_failed = 1;
    emit("\ndump_eccblock() : cannot write '%s': %s\n", name, std::strerror(errno));
}

// Zero bytes for `count` bytes of the file that nothing restored: they become a
// hole, skipped over when the next bytes are written, so a gap that headers
// claim costs neither disk nor time. A short gap is hashed as zeros (the bytes
// stored may have been zeros); past HOLE_HASHED the file's hash is given up,
// and with it any claim that the file is intact.
void add_zeros(int64_t count)
{
    RestoredFile* file = &g_run.file;
    g_run.hole += count;
    if (file->hash_skipped)
        return;
    if (g_run.hole > HOLE_HASHED) {
        file->hash_skipped = 1;
        return;
    }
    for (int64_t left = count; left > 0;) {
        const size_t n = left < PLANE_SIZE ? static_cast<size_t>(left) : static_cast<size_t>(PLANE_SIZE);
        content_hash_update(&g_run.written, ZERO_PLANE, n);
        left -= static_cast<int64_t>(n);
    }
}

// Skips over the hole before the next bytes (`at_end`: ends the file with it).
int close_hole(int at_end)
{
    if (g_run.hole == 0)
        return QUEUE_OK;
    const int64_t skip = at_end ? g_run.hole - 1 : g_run.hole;
    g_run.hole = 0;
    if (!seek_forward(g_run.output, skip) || (at_end && std::fputc(0, g_run.output) == EOF)) {
        report_write_failure(g_run.file.name);
        return QUEUE_WRITE_FAILED;
    }
    return QUEUE_OK;
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

void name_by_number(char* out, const FileTrack* t)
{
    std::snprintf(out, NAME_BUFFER_SIZE, "file #%d of %d", static_cast<int>(t->file_index),
                  static_cast<int>(t->file_count));
}

int close_output()
{
    int result = QUEUE_OK;
    if (g_run.output) {
        if (close_hole(1) != QUEUE_OK)
            result = QUEUE_WRITE_FAILED;
        const int synced = !g_run.sync_outputs || flush_to_disk(g_run.output);
        if (std::fclose(g_run.output) != 0 || !synced) {
            report_write_failure(g_run.file.name);
            result = QUEUE_WRITE_FAILED;
        }
        g_run.output = nullptr;
    }
    RestoredFile* file = &g_run.file;
    if (file->tracked) {
        const FileTrack* t = track_of(file->track);
        if (t->id == file->track) {
            file->announced = t->size;
            file->inconsistent |= t->inconsistent;
        }
        if (file->state == OUTPUT_WRITING)
            file->digest = content_hash_digest(&g_run.written);
        verify_file_done(&g_run.verify, file);
        file->tracked = 0;
    }
    return result;
}

// Starts the bookkeeping of the file `t` for the report.
RestoredFile* track_file(const FileTrack* t, int state)
{
    RestoredFile* file = &g_run.file;
    std::memset(file, 0, sizeof *file);
    file->tracked = 1;
    file->track = t->id;
    file->state = state;
    file->announced = -1;
    file->file_index = t->file_index;
    file->file_count = t->file_count;
    name_by_number(file->name, t);
    return file;
}

// The output name `output` is booked for this file; a name restored before in
// this run is not written over.
int claim_name(RestoredFile* file, const char* output)
{
    const NameClaim claim = claim_restored_name(&g_run.names, output);
    if (claim == NameClaim::NEW)
        return 1;
    file->state = OUTPUT_NAME_TAKEN;
    file->recursed = g_run.recurse;
    g_run.keep_captures = 1;
    if (claim == NameClaim::TAKEN)
        std::snprintf(file->taken_by, sizeof file->taken_by, "%s", output);
    return 0;
}

// The file record tells the file's size, checked, where headers only claim it:
// its last plane's length need not be inferred, and headers that claim another
// size are not followed.
void learn_size_from_record(const RestoredFile* file, FileTrack* t)
{
    if (file->record_state != RecordState::VALID || file->record.size > static_cast<uint64_t>(MAX_TAPE_FILE_BYTES))
        return;
    const int64_t size = static_cast<int64_t>(file->record.size);
    if (t->size >= 0 && t->size != size)
        t->inconsistent = 1;
    t->size = size;
}

// A file's frame 0 whose plane is usable: the file named in its header area
// starts here (or is skipped until the "-startfile" name comes).
void start_file(const uint8_t* plane, FileTrack* t, RecordState record_state, const FileRecord* record)
{
    RestorePath path;
    restore_path_from_plane(plane, g_run.recurse, &path);
    if (path.verdict == PATH_OK && names_capture_of_run(path.output, g_run.capture_name))
        path.verdict = PATH_CAPTURE_FILE;
    if (path.verdict == PATH_OK && names_log_file(path.output, LOG_FILE_NAME))
        path.verdict = PATH_LOG_FILE;
    if (path.verdict == PATH_OK)
        std::memcpy(g_run.current_name, path.output, sizeof g_run.current_name);
    else
        copy_printable(g_run.current_name, path.stored);
    if (g_run.recurse && path.verdict == PATH_OK && path.directory[0] != '\0')
        mkdir_recursive(path.directory);

    if (!g_run.output_started && !names_equal_nocase(path.compare_name, g_run.start_name))
        return;
    g_run.output_started = 1;

    RestoredFile* file = track_file(t, OUTPUT_WRITING);
    file->path_verdict = path.verdict;
    file->record_state = record_state;
    file->record = *record;
    learn_size_from_record(file, t);
    std::memcpy(file->name, g_run.current_name, sizeof file->name);
    if (path.verdict != PATH_OK) {
        file->state = OUTPUT_REFUSED;
        g_run.keep_captures = 1;
        emit("\ndump_eccblock() : refusing stored path '%s' (%s); nothing is written for it\n", g_run.current_name,
             path_verdict_text(path.verdict));
        return;
    }
    if (!claim_name(file, path.output)) {
        // Named by its stored path: the output name is the one it shares.
        copy_printable(file->name, path.stored);
        return;
    }
    content_hash_reset(&g_run.written);
    g_run.output = std::fopen(path.output, "wb");
    if (!g_run.output) {
        file->state = OUTPUT_OPEN_FAILED;
        g_run.output_failed = 1;
        std::printf("Error opening output file '%s'!\n", path.output);
        return;
    }
    book_restored_file(&g_run.names, path.output);
    // Planes are written whole, straight from the decoder's buffers: a stream
    // buffer would only split each write in two and add a copy.
    std::setvbuf(g_run.output, nullptr, _IONBF, 0);
}

// The writer reaches the first position of file `t` held in the queue. Returns
// 1 when the file starts here: its frame 0 is known right, or at least its path
// field is (a damaged path could name any file).
int enter_file(const QueueEntry* e, FileTrack* t, const uint8_t* plane, int intact)
{
    if (e->frame_index == 0 && (intact || !e->path_suspect)) {
        FileRecord record{};
        const RecordState state = read_file_record(plane, &record);
        if (state != RecordState::DAMAGED) {
            start_file(plane, t, state, &record);
            return 1;
        }
        // The record does not check, so neither does the path it covers.
        g_run.keep_captures = 1;
        if (g_run.output_started)
            track_file(t, OUTPUT_FIRST_LOST);
        return 0;
    }
    // A file lost whole between two files seen; or its frame 0 lies before the
    // capture, or was lost beyond repair: its name and so where it goes are unknown.
    if (t->assumed)
        report_missing_files(t->file_index, t->file_index, t->file_count);
    else if (g_run.output_started)
        track_file(t, e->frame_index != 0 || t->before_capture ? OUTPUT_CUT : OUTPUT_FIRST_LOST);
    return 0;
}

void print_mark(const QueueEntry* e, int32_t previous_index, int starts_file, const FileTrack* t)
{
    const FrameRecord* r = &e->record;
    const int number_due = r->frame_index != previous_index &&
                           (r->frame_index == r->last_frame_index ||
                            (r->frame_index != 0 && r->frame_index % FRAME_NUMBER_STEP == 0));
    const int damaged = r->sum_computed != r->sum_stored;
    if (starts_file) {
        emit("\nWriting to %s (%d Frames): 0", g_run.current_name, t->last + 1);
    } else if (is_drop_count(r->frame_code)) {
        // Every copy queued for a gap carries its own marks; past MAX_DASHES_PER_MARK lost
        // frames only the frame that ended the gap does, so that a header claiming a huge
        // gap cannot flood the console and the log.
        if (e->filler && r->frame_code > MAX_DASHES_PER_MARK)
            return;
        if (g_run.log)
            std::fprintf(g_run.log, "\ndump_eccblock() : Dropped_frame %d", static_cast<int>(r->frame_code));
        emit_dashes(r->frame_code < MAX_DASHES_PER_MARK ? r->frame_code : MAX_DASHES_PER_MARK);
        if (damaged)
            emit("*");
        else if (number_due)
            emit("%d", r->frame_index);
        else if (r->frame_index != 0)
            emit(".");
    } else if (e->filler) {
        // A loss that the classifier could not see (the frame after it was no
        // drop): one dash per lost frame.
        emit("-");
    } else if (r->frame_code == FRAME_NEXT) {
        if (damaged)
            emit("*");
        else if (number_due)
            emit("%d", r->frame_index);
        else
            emit(".");
    }
}

// A position beyond the data of the recording's last file: a padding frame
// received as such, or a plane of zero bytes.
int holds_padding(const QueueEntry& e, const uint8_t* plane)
{
    if (!e.filler)
        return e.remaining == 0;
    return std::memcmp(plane, ZERO_PLANE, PLANE_SIZE) == 0;
}

// What data position i of the block holds of its file `t`, whose size no
// header told (PlaneRole). A file before the recording's last has its planes at
// the data positions up to its last frame; the last file's planes are followed
// by padding in the block its last frame closes.
int plane_role(const QueueEntry* entries, uint8_t* const* planes, int i, const FileTrack* t)
{
    const int64_t g = t->start + entries[i].frame_index;
    const int64_t d = data_positions_between(t->start, g);
    if (t->file_index < t->file_count) {
        const int64_t planes_of_file = data_positions_between(t->start, t->start + t->last + 1);
        return d < planes_of_file - 1 ? PLANE_FULL : d == planes_of_file - 1 ? PLANE_LAST : PLANE_NONE;
    }
    if (block_base(g) < block_base(t->start + t->last))
        return PLANE_FULL;
    if (holds_padding(entries[i], planes[i]))
        return PLANE_NONE;
    for (int j = i + 1; j < ECC_K; ++j)
        if (entries[j].track == t->id && !holds_padding(entries[j], planes[j]))
            return PLANE_FULL;
    return PLANE_LAST;
}

// Appends what position i holds of the file being written.
int write_position(const QueueEntry* entries, uint8_t* const* planes, int i, FileTrack* t, const uint8_t* previous,
                   int intact)
{
    const QueueEntry* e = &entries[i];
    const uint8_t* plane = planes[i];
    RestoredFile* file = &g_run.file;
    int inferred = 0;
    const int role = t->size < 0 ? plane_role(entries, planes, i, t) : PLANE_FULL;
    PositionBytes b = position_bytes(t, e->frame_index, plane, previous, role, &inferred);
    if (b.count <= 0)
        return QUEUE_OK;
    if (inferred) {
        file->size_inferred = 1;
        t->size = b.offset + b.count;
    }
    if (b.offset < file->written)
        return QUEUE_OK;   // already written: positions come in file order, so this cannot happen
    if (b.offset > file->written) {
        // Planes never handed to the writer; keep the later bytes at their offsets.
        add_zeros(b.offset - file->written);
        file->written = b.offset;
        ++file->planes_failed;
    }
    file->written += b.count;
    if (plane == ZERO_PLANE) {
        add_zeros(b.count);   // a block lost whole
    } else {
        const size_t n = static_cast<size_t>(b.count);
        if (!file->hash_skipped)
            content_hash_update(&g_run.written, plane + b.plane_start, n);
        if (close_hole(0) != QUEUE_OK)
            return QUEUE_WRITE_FAILED;
        if (std::fwrite(plane + b.plane_start, 1, n, g_run.output) != n) {
            report_write_failure(file->name);
            return QUEUE_WRITE_FAILED;
        }
    }
    if (!intact)
        ++file->planes_failed;
    return QUEUE_OK;
}

// The data plane before position i of the block, when it is at hand and known right.
const uint8_t* previous_plane(const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact, int i)
{
    if (i > 0)
        return intact[i - 1] ? planes[i - 1] : nullptr;
    const QueueEntry& e = entries[0];
    if (e.track == NO_TRACK || g_run.previous_plane_at < 0)
        return nullptr;
    const int64_t g = track_of(e.track)->start + e.frame_index;
    return g_run.previous_plane_at == g - ECC_NMK - 1 ? g_run.correction.previous_plane : nullptr;
}

// Keeps the block's last data plane for the next block's first position.
void keep_last_plane(const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact)
{
    const QueueEntry& e = entries[ECC_K - 1];
    g_run.previous_plane_at = -1;
    if (e.track == NO_TRACK || !intact[ECC_K - 1])
        return;
    std::memcpy(g_run.correction.previous_plane, planes[ECC_K - 1], PLANE_SIZE);
    g_run.previous_plane_at = track_of(e.track)->start + e.frame_index;
}

// Marks and writes the 64 data positions of a block, `planes` holding each one's
// plane; each file with data here takes the block's verdict `check`. With
// `quiet` nothing is printed.
int write_block(const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact, const BlockCheck* check,
                int quiet)
{
    int32_t previous_index = -1;
    for (int i = 0; i < ECC_K; ++i) {
        const QueueEntry* e = &entries[i];
        FileTrack* t = e->track == NO_TRACK ? nullptr : track_of(e->track);
        int starts_file = 0;
        if (e->track != g_run.writer_track) {
            if (close_output() != QUEUE_OK)
                return QUEUE_WRITE_FAILED;
            g_run.writer_track = e->track;
            if (t)
                starts_file = enter_file(e, t, planes[i], intact[i]);
        }
        if (!quiet)
            print_mark(e, previous_index, starts_file, t);
        RestoredFile* file = &g_run.file;
        if (t && file->tracked && file->track == e->track) {
            file->parity_disagrees |= check->disagrees;
            file->unverified |= check->unverified;
        }
        const FrameRecord* r = &e->record;
        if (r->Zerobytes > 0 && g_run.output && !quiet)
            std::printf("\nZerobytes = %lld, RealBytes = %lld", static_cast<long long>(r->Zerobytes),
                        static_cast<long long>(r->RealBytes));
        if (t && g_run.output &&
            write_position(entries, planes, i, t, previous_plane(entries, planes, intact, i), intact[i]) != QUEUE_OK)
            return QUEUE_WRITE_FAILED;
        previous_index = r->frame_index;
    }
    keep_last_plane(entries, planes, intact);
    return QUEUE_OK;
}

}  // namespace

PositionBytes position_bytes(const FileTrack* track, int32_t frame_index, const uint8_t* plane,
                             const uint8_t* previous, int role, int* inferred)
{
    const PlaneSpan span = plane_span(track->start, track->size, track->start + frame_index);
    PositionBytes b{span.offset, span.count, span.plane_start};
    if (span.count >= 0)
        return b;
    b.count = role == PLANE_NONE ? 0 : plane_capacity(span.data_index);
    if (role != PLANE_LAST)
        return b;
    // Behind the file's data the plane keeps the previous data plane's bytes, so
    // its data ends at its last byte that differs from them.
    *inferred = 1;
    if (!previous)
        return b;
    int last_differing = PLANE_SIZE - 1;
    while (last_differing >= b.plane_start && plane[last_differing] == previous[last_differing])
        --last_differing;
    b.count = last_differing >= b.plane_start ? last_differing - b.plane_start + 1 : 1;
    return b;
}

int add2queue(const uint8_t* plane, const QueueEntry* entry, const uint16_t* concealed, int concealed_count)
{
    uint8_t* buffer = nullptr;
    if (ecc_decoder_get_rcv_buffer(&g_run.decoder, &buffer) != 0 ||
        buffer != g_run.decoder.pReceivedPlanes[g_ecc_n]) {
        std::printf("\nadd2queue() : CATASTROPHIC ERROR!");
        return QUEUE_CATASTROPHIC;
    }
    if (plane != buffer)
        std::memcpy(buffer, plane ? plane : ZERO_PLANE, PLANE_SIZE);
    ecc_decoder_syn1(&g_run.decoder, buffer);
    QueueEntry* slot = &g_run.block[g_ecc_n];
    *slot = *entry;
    slot->marked = concealed_count > 0 && !slot->bad;
    slot->path_suspect = slot->bad;
    if (slot->marked) {
        mark_concealed(g_ecc_n, concealed, concealed_count);
        for (int i = 0; i < concealed_count; ++i)
            slot->path_suspect |= concealed[i] < PATH_PAYLOAD_BLOCKS;
    }
    if (++g_ecc_n < ECC_N)
        return QUEUE_OK;
    g_ecc_n = 0;
    uint8_t intact[ECC_K];
    BlockCheck check{};
    correct_block(g_run.block, g_run.correct, intact, &check);
    return dump_eccblock(intact, &check);
}

uint8_t* queue_buffer() { return g_run.decoder.pReceivedPlanes[g_ecc_n]; }

// Ends a run of blocks lost whole: how many went unshown.
void end_lost_run()
{
    if (g_run.lost_unshown > 0)
        emit("\ndump_eccblock() : %lld more blocks lost whole", static_cast<long long>(g_run.lost_unshown));
    g_run.lost_unshown = 0;
    g_run.lost_in_row = 0;
}

int dump_eccblock(const uint8_t* intact, const BlockCheck* check)
{
    end_lost_run();
    std::printf("\ndump_eccblock():");
    uint8_t* planes[ECC_K];
    for (int i = 0; i < ECC_K; ++i) {
        if (ecc_decoder_get_out_buffer(&g_run.decoder, &planes[i]) != 0) {
            std::printf("\nadd2queue() : CATASTROPHIC ERROR!");
            return QUEUE_CATASTROPHIC;
        }
    }
    return write_block(g_run.block, planes, intact, check, 0);
}

int dump_lost_block(const QueueEntry* entries)
{
    // A long run of lost blocks shows its first blocks only: a gap claimed by
    // headers must not flood the console and the log.
    const int quiet = ++g_run.lost_in_row > LOST_BLOCKS_SHOWN;
    if (quiet)
        ++g_run.lost_unshown;
    else
        std::printf("\ndump_eccblock():");
    uint8_t* planes[ECC_K];
    uint8_t intact[ECC_K];
    for (int i = 0; i < ECC_K; ++i) {
        planes[i] = const_cast<uint8_t*>(ZERO_PLANE);
        intact[i] = 0;
    }
    const BlockCheck nothing_known{};
    return write_block(entries, planes, intact, &nothing_known, quiet);
}

int finish_output()
{
    end_lost_run();
    const int result = close_output();
    g_run.writer_track = NO_TRACK;
    return result;
}

int64_t writer_file_start()
{
    if (!g_run.output || !g_run.file.tracked)
        return INT64_MAX;
    const FileTrack* t = track_of(g_run.file.track);
    return t->id == g_run.file.track ? t->start : 0;
}

void report_missing_files(int32_t first, int32_t last, int32_t file_count)
{
    if (!g_run.output_started || first > last)
        return;
    RestoredFile file{};
    file.state = OUTPUT_MISSING;
    file.announced = -1;
    file.file_index = first;
    file.last_file_index = last;
    file.file_count = file_count;
    verify_missing_done(&g_run.verify, &file);
}
