#include "block_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "block_queue.h"
#include "classifier.h"
#include "file_seek.h"
#include "placement.h"
#include "native_path.h"
#include "tape_model.h"
#include "verify.h"

// Zero bytes for positions that hold nothing usable. Static: never grows.
const uint8_t ZERO_PLANE[MAX_PLANE_SIZE] = {};

namespace {

constexpr const char* TEMP_SUFFIX = ".brim-part";
constexpr int FRAME_NUMBER_STEP = 10;   // progress numbers at the multiples of 10
// Every queued copy of a drop record marks the drop with dashes; the count per
// copy is capped so that a long gap prints linearly many marks, not n * n.
constexpr uint32_t MAX_DASHES_PER_MARK = ECC_N;
// Zero bytes of lost planes hashed in a row (a block's data planes); a longer
// hole ends the file's hash.
int64_t hole_hashed(const Decoder& d) { return int64_t{ECC_K} * block_system(d).plane_size; }

void emit_dashes(Decoder& d, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        tell_mark(d.sink, "-");
}

void report_write_failure(Decoder& d, const char* name)
{
    d.writer.output_failed = true;
    tell(d.sink, Severity::Error, "\ndump_eccblock() : cannot write '%s': %s\n", name, std::strerror(errno));
}

// Zero bytes for `count` bytes of the file that nothing restored: they become a
// hole, skipped over when the next bytes are written, so a gap that headers
// claim costs neither disk nor time. A short gap is hashed as zeros (the bytes
// stored may have been zeros); past hole_hashed the file's hash is given up,
// and with it any claim that the file is intact.
void add_zeros(Decoder& d, int64_t count)
{
    RestoredFile* file = &d.writer.file;
    d.writer.hole += count;
    if (file->hash_skipped)
        return;
    if (d.writer.hole > hole_hashed(d)) {
        file->hash_skipped = true;
        return;
    }
    for (int64_t left = count; left > 0;) {
        const size_t n = left < MAX_PLANE_SIZE ? static_cast<size_t>(left) : static_cast<size_t>(MAX_PLANE_SIZE);
        content_hash_update(&d.writer.written, ZERO_PLANE, n);
        left -= static_cast<int64_t>(n);
    }
}

// Skips over the hole before the next bytes (`at_end`: ends the file with it,
// once every write queued behind is done).
DecodeStatus close_hole(Decoder& d, int at_end)
{
    if (d.writer.hole == 0)
        return DecodeStatus::Ok;
    const int64_t skip = at_end ? d.writer.hole - 1 : d.writer.hole;
    d.writer.hole = 0;
    if (d.writer.behind_active && !at_end) {
        write_behind_queue(d.writer.behind, d.writer.output, nullptr, skip);
        return DecodeStatus::Ok;
    }
    if (!seek_forward(d.writer.output, skip) || (at_end && std::fputc(0, d.writer.output) == EOF)) {
        report_write_failure(d, d.writer.file.name);
        return DecodeStatus::WriteFailed;
    }
    return DecodeStatus::Ok;
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

bool path_exists(const char* path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(std::filesystem::u8path(path), ignored));
}

// `dir/.name.brim-part` beside `dir/name`: a hidden name no stored file is
// likely to have, in the same directory, so that the rename stays on one volume.
void temporary_name_for(const char* output, char* out, size_t size)
{
    const char* base = std::strrchr(output, NATIVE_SEPARATOR);
    base = base ? base + 1 : output;
    std::snprintf(out, size, "%.*s.%s%s", static_cast<int>(base - output), output, base, TEMP_SUFFIX);
}

void name_by_number(char* out, const FileTrack* t)
{
    std::snprintf(out, NAME_BUFFER_SIZE, "file #%d of %d", static_cast<int>(t->file_index),
                  static_cast<int>(t->file_count));
}

// A file written under a temporary name takes its final name once complete; a
// failed one leaves neither. Then the time and permission bits of its record.
DecodeStatus settle_output(Decoder& d, DecodeStatus written)
{
    FileWriter& w = d.writer;
    if (w.temp_name[0] != '\0') {
        if (written == DecodeStatus::Ok && !replace_file(w.temp_name, w.final_name)) {
            report_write_failure(d, w.final_name);
            written = DecodeStatus::WriteFailed;
        }
        if (written != DecodeStatus::Ok)
            std::remove(w.temp_name);
        else
            book_restored_file(&w.names, w.final_name);
        w.temp_name[0] = '\0';
    }
    const FileRecord& r = w.file.record;
    if (written == DecodeStatus::Ok && d.options.restore_metadata && w.file.record_state == RecordState::VALID &&
        !set_file_metadata(w.final_name, r.mtime_seconds, r.mtime_nanoseconds, r.mode))
        tell(d.sink, Severity::Warning, "\ncannot set the time and permissions of '%s': %s\n", w.final_name,
             std::strerror(errno));
    return written;
}

DecodeStatus close_output(Decoder& d)
{
    DecodeStatus result = DecodeStatus::Ok;
    d.writer.writing = false;
    if (d.writer.output) {
        if (d.writer.behind_active && writer_wait(d, write_behind_mark(d.writer.behind)) != DecodeStatus::Ok)
            result = DecodeStatus::WriteFailed;
        if (result == DecodeStatus::Ok && close_hole(d, 1) != DecodeStatus::Ok)
            result = DecodeStatus::WriteFailed;
        const int synced = !d.options.sync_outputs || flush_to_disk(d.writer.output);
        if (std::fclose(d.writer.output) != 0 || !synced) {
            report_write_failure(d, d.writer.file.name);
            result = DecodeStatus::WriteFailed;
        }
        d.writer.output = nullptr;
        result = settle_output(d, result);
    }
    RestoredFile* file = &d.writer.file;
    if (file->tracked) {
        const FileTrack* t = track_of(d.place, file->track);
        if (t->id == file->track) {
            file->announced = t->size;
            file->inconsistent |= t->inconsistent;
        }
        if (file->state == OUTPUT_WRITING)
            file->digest = content_hash_digest(&d.writer.written);
        verify_file_done(&d.verify, file);
        if (d.options.keep_captures_unless_intact && !file_intact(file))
            d.writer.keep_captures = true;
        if (d.sink)
            d.sink->file_verdict(*file);
        file->tracked = false;
    }
    return result;
}

// Starts the bookkeeping of the file `t` for the report.
RestoredFile* track_file(Decoder& d, const FileTrack* t, OutputState state)
{
    RestoredFile* file = &d.writer.file;
    std::memset(file, 0, sizeof *file);
    file->tracked = true;
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
bool claim_name(Decoder& d, RestoredFile* file, const char* output)
{
    const NameClaim claim = claim_restored_name(&d.writer.names, output);
    if (claim == NameClaim::NEW)
        return true;
    file->state = OUTPUT_NAME_TAKEN;
    file->recursed = d.options.recurse;
    d.writer.keep_captures = true;
    if (claim == NameClaim::TAKEN)
        std::snprintf(file->taken_by, sizeof file->taken_by, "%s", output);
    return false;
}

// The file record tells the file's size, checked, where headers only claim it:
// its last plane's length need not be inferred, and headers that claim another
// size are not followed.
void learn_size_from_record(Decoder& d, const RestoredFile* file, const FileTrack* t)
{
    if (file->record_state != RecordState::VALID || file->record.size > static_cast<uint64_t>(MAX_TAPE_FILE_BYTES))
        return;
    placement_learn_size(d, t->id, static_cast<int64_t>(file->record.size));
}

// A file's frame 0 whose plane is usable: the file named in its header area
// starts here (or is skipped until the "-startfile" name comes).
void start_file(Decoder& d, const uint8_t* plane, const FileTrack* t, RecordState record_state, const FileRecord* record)
{
    RestorePath path;
    restore_path_from_plane(plane, d.options.recurse, &path);
    if (path.verdict == PATH_OK && names_capture_of_run(path.output, d.options.capture_name))
        path.verdict = PATH_CAPTURE_FILE;
    if (path.verdict == PATH_OK && d.options.log_name && names_log_file(path.output, d.options.log_name))
        path.verdict = PATH_LOG_FILE;
    if (path.verdict == PATH_OK)
        std::memcpy(d.writer.current_name, path.output, sizeof d.writer.current_name);
    else
        copy_printable(d.writer.current_name, path.stored);
    if (d.options.recurse && path.verdict == PATH_OK && path.directory[0] != '\0')
        mkdir_recursive(path.directory, d.sink);

    if (!d.writer.output_started && !names_equal_nocase(path.compare_name, d.options.start_name)) {
        if (d.options.keep_captures_unless_intact)
            d.writer.keep_captures = true;   // a capture holding it may be wanted again
        return;
    }
    d.writer.output_started = true;

    RestoredFile* file = track_file(d, t, OUTPUT_WRITING);
    file->path_verdict = path.verdict;
    file->record_state = record_state;
    file->record = *record;
    learn_size_from_record(d, file, t);
    std::memcpy(file->name, d.writer.current_name, sizeof file->name);
    if (path.verdict != PATH_OK) {
        file->state = OUTPUT_REFUSED;
        d.writer.keep_captures = true;
        tell(d.sink, Severity::Info, "\ndump_eccblock() : refusing stored path '%s' (%s); nothing is written for it\n", d.writer.current_name,
             path_verdict_text(path.verdict));
        return;
    }
    if (!claim_name(d, file, path.output)) {
        // Named by its stored path: the output name is the one it shares.
        copy_printable(file->name, path.stored);
        return;
    }
    if (d.options.keep_existing && path_exists(path.output)) {
        file->state = OUTPUT_EXISTS;
        d.writer.keep_captures = true;
        return;
    }
    content_hash_reset(&d.writer.written);
    d.writer.writing = true;
    if (d.options.dry_run)
        return;
    std::snprintf(d.writer.final_name, sizeof d.writer.final_name, "%s", path.output);
    if (d.options.temporary_names)
        temporary_name_for(path.output, d.writer.temp_name, sizeof d.writer.temp_name);
    d.writer.output = std::fopen(d.options.temporary_names ? d.writer.temp_name : path.output, "wb");
    if (!d.writer.output) {
        file->state = OUTPUT_OPEN_FAILED;
        d.writer.output_failed = true;
        d.writer.writing = false;
        d.writer.temp_name[0] = '\0';
        tell(d.sink, Severity::Failure, "Error opening output file '%s'!\n", path.output);
        return;
    }
    if (!d.options.temporary_names)
        book_restored_file(&d.writer.names, path.output);
    // Planes are written whole, straight from the decoder's buffers: a stream
    // buffer would only split each write in two and add a copy.
    std::setvbuf(d.writer.output, nullptr, _IONBF, 0);
}

// The writer reaches the first position of file `t` held in the queue. Returns
// true when the file starts here: its frame 0 is known right, or at least its path
// field is (a damaged path could name any file).
bool enter_file(Decoder& d, const QueueEntry* e, const FileTrack* t, const uint8_t* plane, bool intact)
{
    if (e->frame_index == 0 && (intact || !e->path_suspect)) {
        FileRecord record{};
        const RecordState state = read_file_record(plane, &record);
        if (state != RecordState::DAMAGED) {
            start_file(d, plane, t, state, &record);
            return true;
        }
        // The record does not check, so neither does the path it covers.
        d.writer.keep_captures = true;
        if (d.writer.output_started)
            track_file(d, t, OUTPUT_FIRST_LOST);
        return false;
    }
    // A file lost whole between two files seen; or its frame 0 lies before the
    // capture, or was lost beyond repair: its name and so where it goes are unknown.
    if (t->assumed)
        report_missing_files(d, t->file_index, t->file_index, t->file_count);
    else if (d.writer.output_started)
        track_file(d, t, e->frame_index != 0 || t->before_capture ? OUTPUT_CUT : OUTPUT_FIRST_LOST);
    return false;
}

void print_mark(Decoder& d, const QueueEntry* e, int32_t previous_index, bool starts_file, const FileTrack* t)
{
    const FrameRecord* r = &e->record;
    const int number_due = r->frame_index != previous_index &&
                           (r->frame_index == r->last_frame_index ||
                            (r->frame_index != 0 && r->frame_index % FRAME_NUMBER_STEP == 0));
    const int damaged = r->sum_computed != r->sum_stored;
    if (starts_file) {
        tell(d.sink, Severity::Info, "\nWriting to %s (%d Frames): 0", d.writer.current_name, t->last + 1);
    } else if (is_drop_count(r->frame_code)) {
        // Every copy queued for a gap carries its own marks; past MAX_DASHES_PER_MARK lost
        // frames only the frame that ended the gap does, so that a header claiming a huge
        // gap cannot flood the console and the log.
        if (e->filler && r->frame_code > MAX_DASHES_PER_MARK)
            return;
        tell(d.sink, Severity::Detail, "\ndump_eccblock() : Dropped_frame %d", static_cast<int>(r->frame_code));
        emit_dashes(d, r->frame_code < MAX_DASHES_PER_MARK ? r->frame_code : MAX_DASHES_PER_MARK);
        if (damaged)
            tell_mark(d.sink, "*");
        else if (number_due)
            tell_mark(d.sink, "%d", r->frame_index);
        else if (r->frame_index != 0)
            tell_mark(d.sink, ".");
    } else if (e->filler) {
        // A loss that the classifier could not see (the frame after it was no
        // drop): one dash per lost frame.
        tell_mark(d.sink, "-");
    } else if (r->frame_code == FRAME_NEXT) {
        if (damaged)
            tell_mark(d.sink, "*");
        else if (number_due)
            tell_mark(d.sink, "%d", r->frame_index);
        else
            tell_mark(d.sink, ".");
    }
}

// A position beyond the data of the recording's last file: a padding frame
// received as such, or a plane of zero bytes.
int holds_padding(const QueueEntry& e, const uint8_t* plane, int plane_size)
{
    if (!e.filler)
        return e.remaining == 0;
    return std::memcmp(plane, ZERO_PLANE, static_cast<size_t>(plane_size)) == 0;
}

// What data position i of the block holds of its file `t`, whose size no
// header told (PlaneRole). A file before the recording's last has its planes at
// the data positions up to its last frame; the last file's planes are followed
// by padding in the block its last frame closes.
int plane_role(const QueueEntry* entries, uint8_t* const* planes, int i, const FileTrack* t, int plane_size)
{
    const int64_t g = t->start + entries[i].frame_index;
    const int64_t d = data_positions_between(t->start, g);
    if (t->file_index < t->file_count) {
        const int64_t planes_of_file = data_positions_between(t->start, t->start + t->last + 1);
        return d < planes_of_file - 1 ? PLANE_FULL : d == planes_of_file - 1 ? PLANE_LAST : PLANE_NONE;
    }
    if (block_base(g) < block_base(t->start + t->last))
        return PLANE_FULL;
    if (holds_padding(entries[i], planes[i], plane_size))
        return PLANE_NONE;
    for (int j = i + 1; j < ECC_K; ++j)
        if (entries[j].track == t->id && !holds_padding(entries[j], planes[j], plane_size))
            return PLANE_FULL;
    return PLANE_LAST;
}

// Appends what position i holds of the file being written.
DecodeStatus write_position(Decoder& d, const QueueEntry* entries, uint8_t* const* planes, int i, const FileTrack* t,
                            const uint8_t* previous, bool intact)
{
    const QueueEntry* e = &entries[i];
    const uint8_t* plane = planes[i];
    RestoredFile* file = &d.writer.file;
    int inferred = 0;
    const VideoSystem& v = block_system(d);
    const int role = t->size < 0 ? plane_role(entries, planes, i, t, v.plane_size) : PLANE_FULL;
    PositionBytes b = position_bytes(v, t, e->frame_index, plane, previous, role, &inferred);
    if (b.count <= 0)
        return DecodeStatus::Ok;
    if (inferred) {
        file->size_inferred = true;
        placement_learn_size(d, t->id, b.offset + b.count);
    }
    if (b.offset < file->written)
        return DecodeStatus::Ok;   // already written: positions come in file order, so this cannot happen
    if (b.offset > file->written) {
        // Planes never handed to the writer; keep the later bytes at their offsets.
        add_zeros(d, b.offset - file->written);
        file->written = b.offset;
        ++file->planes_failed;
    }
    file->written += b.count;
    if (plane == ZERO_PLANE) {
        add_zeros(d, b.count);   // a block lost whole
    } else {
        const size_t n = static_cast<size_t>(b.count);
        if (!file->hash_skipped)
            content_hash_update(&d.writer.written, plane + b.plane_start, n);
        if (!d.writer.output)
            return DecodeStatus::Ok;   // a dry run: hashed, not written
        if (close_hole(d, 0) != DecodeStatus::Ok)
            return DecodeStatus::WriteFailed;
        if (d.writer.behind_active) {
            write_behind_queue(d.writer.behind, d.writer.output, plane + b.plane_start, b.count);
        } else if (std::fwrite(plane + b.plane_start, 1, n, d.writer.output) != n) {
            report_write_failure(d, file->name);
            return DecodeStatus::WriteFailed;
        }
    }
    if (!intact)
        ++file->planes_failed;
    return DecodeStatus::Ok;
}

// The data plane before position i of the block, when it is at hand and known right.
const uint8_t* previous_plane(Decoder& d, const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact, int i)
{
    if (i > 0)
        return intact[i - 1] ? planes[i - 1] : nullptr;
    const QueueEntry& e = entries[0];
    if (e.track == NO_TRACK || d.writer.previous_plane_at < 0)
        return nullptr;
    const int64_t g = track_of(d.place, e.track)->start + e.frame_index;
    return d.writer.previous_plane_at == g - ECC_NMK - 1 ? d.writer.previous_plane : nullptr;
}

// Keeps the block's last data plane for the next block's first position.
void keep_last_plane(Decoder& d, const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact)
{
    const QueueEntry& e = entries[ECC_K - 1];
    d.writer.previous_plane_at = -1;
    if (e.track == NO_TRACK || !intact[ECC_K - 1])
        return;
    std::memcpy(d.writer.previous_plane, planes[ECC_K - 1], static_cast<size_t>(block_system(d).plane_size));
    d.writer.previous_plane_at = track_of(d.place, e.track)->start + e.frame_index;
}

}  // namespace

DecodeStatus write_block(Decoder& d, const QueueEntry* entries, uint8_t* const* planes, const uint8_t* intact,
                         const BlockCheck* check, bool quiet)
{
    int32_t previous_index = -1;
    for (int i = 0; i < ECC_K; ++i) {
        const QueueEntry* e = &entries[i];
        const FileTrack* t = e->track == NO_TRACK ? nullptr : track_of(d.place, e->track);
        bool starts_file = false;
        if (e->track != d.writer.writer_track) {
            if (close_output(d) != DecodeStatus::Ok)
                return DecodeStatus::WriteFailed;
            d.writer.writer_track = e->track;
            if (t)
                starts_file = enter_file(d, e, t, planes[i], intact[i] != 0);
        }
        if (!quiet)
            print_mark(d, e, previous_index, starts_file, t);
        RestoredFile* file = &d.writer.file;
        if (t && file->tracked && file->track == e->track) {
            file->parity_disagrees |= check->disagrees;
            file->unverified |= check->unverified;
        }
        const FrameRecord* r = &e->record;
        if (r->Zerobytes > 0 && d.writer.writing && !quiet)
            tell(d.sink, Severity::Progress, "\nZerobytes = %lld, RealBytes = %lld",
                 static_cast<long long>(r->Zerobytes), static_cast<long long>(r->RealBytes));
        if (t && d.writer.writing &&
            write_position(d, entries, planes, i, t, previous_plane(d, entries, planes, intact, i), intact[i] != 0) !=
                DecodeStatus::Ok)
            return DecodeStatus::WriteFailed;
        previous_index = r->frame_index;
    }
    keep_last_plane(d, entries, planes, intact);
    return DecodeStatus::Ok;
}

PositionBytes position_bytes(const VideoSystem& v, const FileTrack* track, int32_t frame_index, const uint8_t* plane,
                             const uint8_t* previous, int role, int* inferred)
{
    const PlaneSpan span = plane_span(v, track->start, track->size, track->start + frame_index);
    PositionBytes b{span.offset, span.count, span.plane_start};
    if (span.count >= 0)
        return b;
    b.count = role == PLANE_NONE ? 0 : plane_capacity(v, span.data_index);
    if (role != PLANE_LAST)
        return b;
    // Behind the file's data the plane keeps the previous data plane's bytes, so
    // its data ends at its last byte that differs from them.
    *inferred = 1;
    if (!previous)
        return b;
    int last_differing = v.plane_size - 1;
    while (last_differing >= b.plane_start && plane[last_differing] == previous[last_differing])
        --last_differing;
    b.count = last_differing >= b.plane_start ? last_differing - b.plane_start + 1 : 1;
    return b;
}

bool writer_allocate(FileWriter& w)
{
    w.previous_plane = static_cast<uint8_t*>(std::calloc(1, MAX_PLANE_SIZE));
    w.behind = new (std::nothrow) WriteBehind();
    return w.previous_plane && w.behind && content_hash_init(&w.written) && restored_names_init(&w.names);
}

void writer_release(FileWriter& w)
{
    if (w.behind_active)
        (void)write_behind_wait(w.behind, write_behind_mark(w.behind));
    if (w.output)
        std::fclose(w.output);
    w.output = nullptr;
    if (w.behind)
        write_behind_stop(w.behind);
    delete w.behind;
    w.behind = nullptr;
    std::free(w.previous_plane);
    content_hash_release(&w.written);
    restored_names_release(&w.names);
}

void writer_reset(FileWriter& w, const DecoderOptions& options)
{
    FileWriter kept = w;
    std::memset(&w, 0, sizeof w);
    w.previous_plane = kept.previous_plane;
    w.written = kept.written;
    w.names = kept.names;
    w.behind = kept.behind;
    restored_names_clear(&w.names);
    w.output_started = options.start_name[0] == '\0';
    w.writer_track = NO_TRACK;
    w.previous_plane_at = -1;
}

void writer_stop(FileWriter& w)
{
    // What is queued behind is written (or passed over after a failure) before the file closes.
    if (w.behind_active)
        (void)write_behind_wait(w.behind, write_behind_mark(w.behind));
    if (w.output)
        std::fclose(w.output);
    w.output = nullptr;
    w.writing = false;
    if (w.temp_name[0] != '\0')
        std::remove(w.temp_name);
    w.temp_name[0] = '\0';
}

DecodeStatus finish_output(Decoder& d)
{
    end_lost_run(d);
    const DecodeStatus result = close_output(d);
    d.writer.writer_track = NO_TRACK;
    return result;
}

int64_t writer_file_start(const Decoder& d)
{
    if (!d.writer.writing || !d.writer.file.tracked)
        return INT64_MAX;
    const FileTrack* t = track_of(d.place, d.writer.file.track);
    return t->id == d.writer.file.track ? t->start : 0;
}

void writer_start_behind(Decoder& d)
{
    FileWriter& w = d.writer;
    w.behind_active = d.options.write_behind && !d.options.dry_run &&
                      ecc_decoder_add_data_set(&d.queue.ecc) == 0 && write_behind_start(w.behind);
    w.behind_failure_told = false;
    d.queue.other_set_mark = 0;
}

DecodeStatus writer_wait(Decoder& d, int64_t mark)
{
    FileWriter& w = d.writer;
    const int error = write_behind_wait(w.behind, mark);
    if (error == 0)
        return DecodeStatus::Ok;
    if (!w.behind_failure_told) {
        w.behind_failure_told = true;
        errno = error;
        report_write_failure(d, w.file.name);
    }
    return DecodeStatus::WriteFailed;
}
