// brim read and brim list: a capture pushed through a Decoder, the files
// restored (or only verified), and the report as text or JSON.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "brim.h"
#include "capture_run.h"
#include "decode_report.h"
#include "merge.h"
#include "tape_health.h"
#include "restore_path.h"
#include "verify.h"

namespace fs = std::filesystem;

namespace {

constexpr int MAX_CAPTURE_FILES = 100000;   // successor names measured for the progress line
constexpr const char* KEEP_APART = "restoring without --flat keeps their directories apart";

// How each verdict is shown as it comes.
struct Report {
    const BrimOptions* options;
    bool list;
    BrimSink* sink;
    bool first = true;   // no file object written yet (JSON)
    TapeHealth* health;
};

void take_block(void* context, const BlockHealth& block)
{
    tape_health_block(static_cast<Report*>(context)->health, block);
}

const char* status_of(const RestoredFile& f)
{
    if (file_intact(&f))
        return "intact";
    if (f.state == OUTPUT_MISSING)
        return "missing";
    if (f.state != OUTPUT_WRITING)
        return "not written";
    return file_unverified(&f) ? "not verified" : "damaged";
}

// The size the tape gives the file, or -1 when it gives none.
int64_t size_of(const RestoredFile& f)
{
    if (f.record_state == RecordState::VALID)
        return static_cast<int64_t>(f.record.size);
    return f.announced;
}

// `text` as a JSON string: quotes, backslashes and control characters escaped,
// and bytes that are not UTF-8 (names come from tape) as the code points of their values.
void put_json_string(const char* text)
{
    std::putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const unsigned char c = *p;
        int follow = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        bool valid = c < 0x80 || follow > 0;
        for (int i = 1; valid && i <= follow; ++i)
            valid = (p[i] & 0xC0) == 0x80;
        if (c == '"' || c == '\\') {
            std::printf("\\%c", c);
        } else if (c < 0x20 || !valid) {
            std::printf("\\u%04x", c);
        } else {
            std::fwrite(p, 1, static_cast<size_t>(follow) + 1, stdout);
            p += follow;
        }
    }
    std::putchar('"');
}

void show_verdict(void* context, const RestoredFile& f)
{
    Report* r = static_cast<Report*>(context);
    tape_health_file(r->health, f);
    char name[NAME_BUFFER_SIZE];
    report_name_of(&f, name, sizeof name);
    char reason[REASON_SIZE] = "";
    if (!file_intact(&f))
        describe_file(&f, reason, KEEP_APART);
    r->sink->end_progress();
    const int64_t size = size_of(f);
    if (r->options->json) {
        std::fputs(r->first ? "\n    {\"name\": " : ",\n    {\"name\": ", stdout);
        r->first = false;
        put_json_string(name);
        if (size >= 0)
            std::printf(", \"size\": %" PRId64, size);
        else
            std::fputs(", \"size\": null", stdout);
        std::printf(", \"status\": \"%s\", \"reason\": ", status_of(f));
        put_json_string(reason);
        std::putchar('}');
    } else if ((r->list && r->options->verbosity > 0) || r->options->verbosity > 1) {
        char shown_size[24] = "?";
        if (size >= 0)
            std::snprintf(shown_size, sizeof shown_size, "%" PRId64, size);
        std::printf("%-12s %14s  %s\n", status_of(f), shown_size, name);
    }
}

struct ProgressState {
    BrimSink* sink;
    int64_t total_bytes;
    int64_t frames_read;
    int captures;          // captures read side by side: each position moves through all of them
};

void show_merge_progress(void* context, const Decoder& d);

void show_progress(void* context, const Decoder& d, const FrameReader&) { show_merge_progress(context, d); }

// After every frame pushed (a position of a merge counts as one frame).
void show_merge_progress(void* context, const Decoder& d)
{
    ProgressState* p = static_cast<ProgressState*>(context);
    ++p->frames_read;
    // Frames are counted at the recording's size: a close estimate of the bytes read.
    const VideoSystem& system = *d.intake.system;
    const int64_t bytes = p->frames_read * system.chunk_size * p->captures;
    p->sink->set_system(system);
    p->sink->progress(bytes, p->total_bytes, bytes, decoder_frames_decoded(d));
}

// The bytes of the capture files from `first` on, for the progress line (0 for a pipe).
int64_t capture_bytes(const std::string& first)
{
    if (first == STDIN_NAME)
        return 0;
    char name[CAPTURE_NAME_CAPACITY];
    std::snprintf(name, sizeof name, "%s", first.c_str());
    int64_t total = 0;
    for (int i = 0; i < MAX_CAPTURE_FILES; ++i) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(fs::u8path(name), ec);
        if (ec)
            break;
        total += static_cast<int64_t>(size);
        if (!next_capture_name(name))
            break;
    }
    return total;
}

// What each capture of a merge gave (null: one capture).
void print_json_captures(const Merger* m, const Decoder& d, const std::vector<std::string>& names)
{
    if (!m)
        return;
    std::printf("  \"captures\": [");
    for (int i = 0; i < m->count; ++i) {
        const MergeCapture& c = m->captures[i];
        std::printf("%s\n    {\"name\": ", i == 0 ? "" : ",");
        put_json_string(names[static_cast<size_t>(i)].c_str());
        std::printf(", \"refused\": %s, \"frames_read\": %" PRId64 ", \"positions_given\": %" PRId64
                    ", \"frames_of_another_recording\": %" PRId64 "}",
                    c.refused ? "true" : "false", c.frames_read, c.contributed, c.foreign);
    }
    std::printf("\n  ],\n  \"positions\": {\"merged\": %" PRId64 ", \"not_intact_in_any_capture\": %" PRId64
                ", \"lost_in_every_capture\": %" PRId64 "},\n",
                m->positions, m->not_intact + d.intake.stats.dropped, d.intake.stats.dropped);
}

void print_text_captures(const Merger* m, const Decoder& d, const std::vector<std::string>& names)
{
    if (!m)
        return;
    for (int i = 0; i < m->count; ++i) {
        const MergeCapture& c = m->captures[i];
        const char* name = names[static_cast<size_t>(i)].c_str();
        if (c.refused)
            std::printf("capture %s: left out (another recording)\n", name);
        else
            std::printf("capture %s: %" PRId64 " frames read, gave %" PRId64 " of %" PRId64 " positions\n", name,
                        c.frames_read, c.contributed, m->positions);
    }
    std::printf("positions no capture had intact: %" PRId64 " (%" PRId64 " lost in every capture)\n",
                m->not_intact + d.intake.stats.dropped, d.intake.stats.dropped);
}

void print_json_tail(const Decoder& d, const Merger* m, const std::vector<std::string>& names, TapeHealth* health)
{
    const VerifyTotals& v = d.verify;
    const DecodeStats& s = d.intake.stats;
    std::printf("\n  ],\n  \"totals\": {\"files\": %" PRId64 ", \"intact\": %" PRId64 ", \"not_intact\": %" PRId64
                ", \"frames_of_another_recording\": %" PRId64 "},\n",
                v.files, v.intact, v.files - v.intact, v.foreign_frames);
    print_json_captures(m, d, names);
    tape_health_print_json(health);
    std::printf("  \"capture\": {\"frames_decoded\": %" PRId64 ", \"dropped\": %" PRId64 ", \"longest_drop\": %u"
                ", \"duplicated\": %" PRId64 ", \"corrupted\": %" PRId64 ", \"unrecognizable\": %" PRId64
                ", \"bytes\": %" PRId64 "}\n}\n",
                s.decoded, s.dropped, s.longest_drop, s.duplicated, s.corrupted, s.unrecognizable, s.bytes);
}

void print_text_tail(const Decoder& d, bool list, const Merger* m, const std::vector<std::string>& names)
{
    const VerifyTotals& v = d.verify;
    char reason[REASON_SIZE];
    char name[NAME_BUFFER_SIZE];
    for (int i = 0; !list && i < v.listed; ++i) {
        const RestoredFile* f = &v.damaged[i];
        describe_file(f, reason, KEEP_APART);
        report_name_of(f, name, sizeof name);
        // The reason of a file not written says so itself.
        if (f->state == OUTPUT_WRITING)
            std::printf("%s: %s: %s\n", name, status_of(*f), reason);
        else
            std::printf("%s: %s\n", name, reason);
    }
    if (!list && v.unlisted > 0)
        std::printf("%" PRId64 " more files not intact\n", v.unlisted);
    print_text_captures(m, d, names);
    const DecodeStats& s = d.intake.stats;
    std::printf("%" PRId64 " of %" PRId64 " files %s; frames: %" PRId64 " decoded, %" PRId64 " dropped, %" PRId64
                " damaged, %" PRId64 " unrecognizable%s\n",
                v.intact, v.files, list ? "would restore intact" : "intact", s.decoded, s.dropped, s.corrupted,
                s.unrecognizable, v.foreign_frames > 0 ? "; frames of another recording left out" : "");
}

int run_capture(const BrimOptions& o, bool list)
{
    BrimSink sink(o.verbosity);
    const std::string log_path = o.log.empty() ? std::string() : fs::absolute(fs::u8path(o.log)).u8string();
    const std::string map_path = o.map.empty() ? std::string() : fs::absolute(fs::u8path(o.map)).u8string();
    // Each operand is the first file of one capture of the tape.
    std::vector<std::string> captures;
    std::error_code ec;
    int pipes = 0;
    for (const std::string& operand : o.operands) {
        std::string capture = operand;
        if (capture == STDIN_NAME) {
            ++pipes;
        } else {
            if (!fs::exists(fs::u8path(capture), ec)) {
                brim_error("%s: no such file", capture.c_str());
                return BRIM_FAILED;
            }
            if (!list && !o.directory.empty())
                capture = fs::absolute(fs::u8path(capture), ec).u8string();
            const std::string absolute = fs::absolute(fs::u8path(capture)).u8string();
            if (!log_path.empty() && names_capture_of_run(log_path.c_str(), absolute.c_str())) {
                brim_error("%s: the log would write over a capture file", o.log.c_str());
                return BRIM_FAILED;
            }
            if (!map_path.empty() && names_capture_of_run(map_path.c_str(), absolute.c_str())) {
                brim_error("%s: the map would write over a capture file", o.map.c_str());
                return BRIM_FAILED;
            }
        }
        if (capture.size() >= NAME_BUFFER_SIZE) {
            brim_error("%s: name too long (at most %d bytes)", capture.c_str(), NAME_BUFFER_SIZE - 1);
            return BRIM_FAILED;
        }
        captures.push_back(capture);
    }
    const bool merged = captures.size() > 1;
    if (pipes > 1) {
        brim_error("standard input can be one capture only");
        return BRIM_FAILED;
    }
    if (captures.size() > static_cast<size_t>(MAX_MERGED_CAPTURES)) {
        brim_error("at most %d captures can be merged", MAX_MERGED_CAPTURES);
        return BRIM_FAILED;
    }
    if (merged && o.delete_captures) {
        brim_error("--delete-captures takes one capture");
        return BRIM_FAILED;
    }
    const std::string& capture = captures[0];
    const bool from_pipe = capture == STDIN_NAME;
    if (!log_path.empty() && !sink.open_log(log_path))
        return BRIM_FAILED;
    if (o.start.size() >= NAME_BUFFER_SIZE) {
        brim_error("%s: name too long (at most %d bytes)", o.start.c_str(), NAME_BUFFER_SIZE - 1);
        return BRIM_FAILED;
    }
    if (!list && !o.directory.empty()) {
        fs::create_directories(fs::u8path(o.directory), ec);
        if (!ec)
            fs::current_path(fs::u8path(o.directory), ec);
        if (ec) {
            brim_error("%s: %s", o.directory.c_str(), ec.message().c_str());
            return BRIM_FAILED;
        }
    }
    DecoderOptions options;
    options.correct = !o.no_correct;
    options.recurse = !o.flat;
    options.keep_existing = !o.overwrite && !list;
    options.temporary_names = true;
    options.restore_metadata = true;
    options.sync_outputs = o.delete_captures;
    options.keep_captures_unless_intact = true;
    options.dry_run = list;
    options.write_behind = threads_allowed();
    options.log_name = log_path.empty() ? nullptr : log_path.c_str();
    // Stored paths use the tape's separator; a name given with slashes matches
    // them. Without the stored directories, a file is known by its base name.
    std::string start = o.start;
    std::replace(start.begin(), start.end(), '/', STORED_SEPARATOR);
    if (o.flat && start.find_last_of(STORED_SEPARATOR) != std::string::npos)
        start = start.substr(start.find_last_of(STORED_SEPARATOR) + 1);
    std::snprintf(options.start_name, sizeof options.start_name, "%s", start.c_str());

    Decoder* d = decoder_create();
    CaptureRun* run = merged ? nullptr : new (std::nothrow) CaptureRun();
    Merger* merger = merged ? new (std::nothrow) Merger() : nullptr;
    if (!d || (!merged && (!run || !capture_run_init(run))) || (merged && (!merger || !merger_init(merger, static_cast<int>(captures.size()))))) {
        brim_error("not enough memory");
        return BRIM_FAILED;
    }
    remove_on_interrupt(d->writer.temp_name);
    TapeHealth health;
    // Opened before the run changes into -C's directory, as the captures are.
    if (!tape_health_open(&health, map_path, o.map_by_capture ? MapColouring::CAPTURE : MapColouring::STATE,
                          static_cast<int>(captures.size())))
        return BRIM_FAILED;
    Report report{&o, list, &sink, true, &health};
    sink.on_verdict = show_verdict;
    sink.on_block = take_block;
    sink.verdict_context = &report;
    int64_t total_bytes = 0;
    for (const std::string& c : captures)
        total_bytes += capture_bytes(c);
    ProgressState state{&sink, total_bytes, 0, static_cast<int>(captures.size())};
    if (o.json)
        std::fputs("{\n  \"files\": [", stdout);
    DecodeStatus status = DecodeStatus::Ok;
    if (merged) {
        std::vector<const char*> firsts;
        for (const std::string& c : captures)
            firsts.push_back(c.c_str());
        if (merger_start(merger, firsts.data(), static_cast<int>(firsts.size()), *d, options, &sink) == 0)
            brim_error("no capture holds the recording");
        status = merger_decode(merger, *d, &sink, show_merge_progress, &state);
    } else {
        run->delete_used = o.delete_captures && !list && !from_pipe;
        const CaptureProgress progress{show_progress, &state};
        capture_run_start(run, capture.c_str(), *d, options, &sink);
        status = capture_run_decode(run, *d, &sink, &progress);
    }
    sink.end_progress();
    int exit_status = BRIM_OK;
    if (status != DecodeStatus::Ok) {
        exit_status = BRIM_FAILED;
    } else if (decoder_frames_decoded(*d) == 0) {
        brim_error("%s: no frames of a brim recording found", merged ? "the captures" : o.operands[0].c_str());
        exit_status = BRIM_FAILED;
    } else if (!d->writer.output_started) {
        brim_error("no stored file named %s was found; nothing was restored", o.start.c_str());
        exit_status = BRIM_PARTIAL;
    } else if (d->verify.intact != d->verify.files) {
        exit_status = BRIM_PARTIAL;
    }
    if (o.json) {
        print_json_tail(*d, merger, o.operands, &health);
    } else if (exit_status != BRIM_FAILED) {
        print_text_tail(*d, list, merger, o.operands);
        if (o.verbosity > 0)
            tape_health_print_text(health, merged ? o.operands : std::vector<std::string>());
    }
    if (!tape_health_close(&health))
        exit_status = BRIM_FAILED;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        brim_error("cannot write the report: %s", std::strerror(errno));
        exit_status = BRIM_FAILED;
    }
    remove_on_interrupt(nullptr);
    decoder_stop(*d);
    if (run)
        capture_run_shutdown(run);
    delete run;
    if (merger)
        merger_shutdown(merger);
    delete merger;
    decoder_destroy(d);
    return exit_status;
}

}  // namespace

int brim_read(const BrimOptions& o) { return run_capture(o, false); }

int brim_list(const BrimOptions& o) { return run_capture(o, true); }
