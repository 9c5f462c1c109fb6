#include "tape_health.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iterator>

#include "brim.h"
#include "decode_report.h"

namespace {

constexpr int SECONDS_PER_MINUTE = 60;
constexpr int MINUTES_PER_HOUR = 60;

// The map: a row of cells per tape minute under a legend; each row has room
// above its cells for the names of the files that start in it.
constexpr int CELL_W = 2;
constexpr int CELL_H = 14;
constexpr int ROW_PITCH = 30;
constexpr int LEFT = 56;
constexpr int TOP = 48;
constexpr int RIGHT = 16;
constexpr int HEIGHT_DIGITS = 10;
constexpr int LEGEND_BOX = 12;
constexpr int LEGEND_STEP = 130;

struct StateStyle {
    char cls;
    const char* colour;
    const char* label;
};
// Indexed by FrameState.
constexpr StateStyle STATE_STYLES[FRAME_STATES] = {
    {'i', "#3a9d5d", "intact"},   {'r', "#3b6fd8", "rebuilt"},        {'c', "#e0b400", "concealed"},
    {'l', "#f07f1a", "lost"},     {'x', "#d62728", "beyond repair"},
};
constexpr const char* CAPTURE_COLOURS[MAX_HEALTH_CAPTURES] = {"#1f77b4", "#9467bd", "#17becf", "#8c564b",
                                                               "#e377c2", "#bcbd22", "#7f7f7f", "#2ca02c"};
constexpr const char* NO_CAPTURE_COLOUR = "#000000";

// Frames of tape minute `minute` start at this position.
int64_t minute_start(const VideoSystem& v, int64_t minute)
{
    const int64_t frames_per_minute_times_scale = int64_t{SECONDS_PER_MINUTE} * v.rate;
    return (minute * frames_per_minute_times_scale + v.scale - 1) / v.scale;
}

int64_t minute_of(const VideoSystem& v, int64_t g) { return g * v.scale / (int64_t{SECONDS_PER_MINUTE} * v.rate); }

int frames_per_minute(const VideoSystem& v)
{
    return static_cast<int>(minute_start(v, 1) - minute_start(v, 0) + 1);
}

int cell_x(const VideoSystem& v, int64_t g)
{
    return LEFT + static_cast<int>(g - minute_start(v, minute_of(v, g))) * CELL_W;
}

int64_t row_top(int64_t row) { return TOP + row * ROW_PITCH + (ROW_PITCH - CELL_H); }

void write_map_start(TapeHealth* h)
{
    const VideoSystem& v = *h->system;
    const int width = LEFT + frames_per_minute(v) * CELL_W + RIGHT;
    std::fprintf(h->map, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                         "width=\"%d\" height=\"",
                 width);
    h->height_at = std::ftell(h->map);
    std::fprintf(h->map, "%0*d\" font-family=\"sans-serif\" font-size=\"10\">\n<style>", HEIGHT_DIGITS, 0);
    for (const StateStyle& s : STATE_STYLES)
        std::fprintf(h->map, ".%c{fill:%s}", s.cls, h->colouring == MapColouring::STATE ? s.colour : NO_CAPTURE_COLOUR);
    for (int k = 0; k < MAX_HEALTH_CAPTURES; ++k)
        std::fprintf(h->map, ".k%d{fill:%s}", k, CAPTURE_COLOURS[k]);
    std::fprintf(h->map, "</style>\n<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
    // The legend: the states, or the captures with the positions none gave.
    int x = LEFT;
    if (h->colouring == MapColouring::STATE) {
        for (const StateStyle& s : STATE_STYLES) {
            std::fprintf(h->map, "<rect x=\"%d\" y=\"8\" width=\"%d\" height=\"%d\" fill=\"%s\"/><text x=\"%d\" "
                                 "y=\"18\">%s</text>\n",
                         x, LEGEND_BOX, LEGEND_BOX, s.colour, x + LEGEND_BOX + 4, s.label);
            x += LEGEND_STEP;
        }
    } else {
        for (int k = 0; k < h->captures; ++k) {
            std::fprintf(h->map, "<rect x=\"%d\" y=\"8\" width=\"%d\" height=\"%d\" fill=\"%s\"/><text x=\"%d\" "
                                 "y=\"18\">capture %c</text>\n",
                         x, LEGEND_BOX, LEGEND_BOX, CAPTURE_COLOURS[k], x + LEGEND_BOX + 4, 'A' + k);
            x += LEGEND_STEP;
        }
        std::fprintf(h->map, "<rect x=\"%d\" y=\"8\" width=\"%d\" height=\"%d\" fill=\"%s\"/><text x=\"%d\" "
                             "y=\"18\">none</text>\n",
                     x, LEGEND_BOX, LEGEND_BOX, NO_CAPTURE_COLOUR, x + LEGEND_BOX + 4);
    }
    std::fprintf(h->map, "<text x=\"%d\" y=\"38\">tape time (a row per minute; files named where their first frame "
                         "is)</text>\n",
                 LEFT);
}

// A new row: its minute on the time axis.
void write_row(TapeHealth* h, int64_t row)
{
    std::fprintf(h->map, "<text x=\"4\" y=\"%" PRId64 "\">%02" PRId64 ":%02" PRId64 ":00</text>\n", row_top(row) + 11,
                 row / MINUTES_PER_HOUR, row % MINUTES_PER_HOUR);
}

void write_cell(TapeHealth* h, const BlockHealth& b, int p)
{
    const VideoSystem& v = *b.system;
    const int64_t g = b.first_position + p;
    const int64_t row = minute_of(v, g);
    while (h->rows <= row)
        write_row(h, h->rows++);
    const FrameState state = b.state[p];
    char cls[4] = {STATE_STYLES[static_cast<int>(state)].cls, '\0'};
    // Coloured by capture, a position keeps its state's class where no capture gave it intact.
    if (h->colouring == MapColouring::CAPTURE && b.source[p] >= 0 && b.source[p] < MAX_HEALTH_CAPTURES &&
        state != FrameState::BEYOND_REPAIR)
        std::snprintf(cls, sizeof cls, "k%d", b.source[p]);
    std::fprintf(h->map, "<rect x=\"%d\" y=\"%" PRId64 "\" width=\"%d\" height=\"%d\" class=\"%s\"/>\n",
                 cell_x(v, g), row_top(row), CELL_W, CELL_H, cls);
    if (b.file_starts[p] > 0 && h->start_count < MAP_FILE_SLOTS) {
        h->starts[h->start_count++] = {b.file_starts[p], g};
        std::fprintf(h->map, "<rect x=\"%d\" y=\"%" PRId64 "\" width=\"1\" height=\"%d\" fill=\"#000000\"/>\n",
                     cell_x(v, g), row_top(row) - 4, CELL_H + 4);
    }
}

// `text` with the characters XML gives meaning escaped.
void write_xml_text(FILE* out, const char* text)
{
    for (const char* c = text; *c; ++c) {
        switch (*c) {
        case '<': std::fputs("&lt;", out); break;
        case '>': std::fputs("&gt;", out); break;
        case '&': std::fputs("&amp;", out); break;
        case '"': std::fputs("&quot;", out); break;
        default:
            if (static_cast<unsigned char>(*c) >= 0x20)
                std::fputc(*c, out);
        }
    }
}

void note_weak(TapeHealth* h, const BlockHealth& b, int bad, bool beyond)
{
    const WeakBlock w{b.index, b.first_position, bad, b.margin, beyond};
    auto weaker = [](const WeakBlock& x, const WeakBlock& y) {
        return x.beyond != y.beyond ? x.beyond : x.bad > y.bad;
    };
    if (bad == 0)
        return;
    int at = h->weak_count < WEAKEST_SHOWN ? h->weak_count++ : WEAKEST_SHOWN;
    if (at == WEAKEST_SHOWN) {
        if (!weaker(w, h->weakest[WEAKEST_SHOWN - 1]))
            return;
        at = WEAKEST_SHOWN - 1;
    }
    while (at > 0 && weaker(w, h->weakest[at - 1])) {
        h->weakest[at] = h->weakest[at - 1];
        --at;
    }
    h->weakest[at] = w;
}

}  // namespace

std::string tape_time_code(const VideoSystem& v, int64_t g)
{
    const int64_t seconds = g * v.scale / v.rate;
    const int64_t second_start = (seconds * v.rate + v.scale - 1) / v.scale;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ":%02" PRId64,
                  seconds / (SECONDS_PER_MINUTE * MINUTES_PER_HOUR), seconds / SECONDS_PER_MINUTE % MINUTES_PER_HOUR,
                  seconds % SECONDS_PER_MINUTE, g - second_start);
    return text;
}

bool tape_health_open(TapeHealth* h, const std::string& map_path, MapColouring colouring, int captures)
{
    h->captures = captures < MAX_HEALTH_CAPTURES ? captures : MAX_HEALTH_CAPTURES;
    h->records = std::tmpfile();
    if (!h->records) {
        brim_error("cannot make a temporary file for the block records: %s", std::strerror(errno));
        return false;
    }
    h->colouring = colouring;
    h->map_path = map_path;
    if (map_path.empty())
        return true;
    h->map = std::fopen(map_path.c_str(), "wb");
    if (!h->map) {
        brim_error("%s: %s", map_path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void tape_health_block(TapeHealth* h, const BlockHealth& b)
{
    const bool first = h->blocks == 0;
    h->system = b.system;
    ++h->blocks;
    const int bad = b.lost + b.damaged;
    const bool beyond = std::any_of(std::begin(b.state), std::end(b.state),
                                    [](FrameState s) { return s == FrameState::BEYOND_REPAIR; });
    ++h->by_bad[bad < BAD_CLASSES - 1 ? bad : BAD_CLASSES - 1];
    if (beyond)
        ++h->beyond;
    else if (bad >= SAFE_BAD_FRAMES)
        ++h->last_margin;
    note_weak(h, b, bad, beyond);
    for (int p = 0; p < ECC_N; ++p) {
        const int64_t minute = minute_of(*b.system, b.first_position + p);
        if (minute != h->minute) {
            h->minute = minute;
            h->minute_bad = 0;
        }
        const int8_t source = b.source[p];
        if (source >= 0 && source < MAX_HEALTH_CAPTURES) {
            ++h->given[source];
            h->given_bad[source] += b.state[p] != FrameState::INTACT;
        }
        if (b.state[p] == FrameState::INTACT)
            continue;
        if (++h->minute_bad > h->worst_minute_bad) {
            h->worst_minute_bad = h->minute_bad;
            h->worst_minute = minute;
        }
    }
    std::fprintf(h->records,
                 "%s\n    {\"index\": %" PRId64 ", \"tape_time\": \"%s\", \"lost\": %d, \"damaged\": %d, "
                 "\"concealed\": %d, \"rebuilt\": %d, \"unsolved\": %u, \"margin\": %d}",
                 first ? "" : ",", b.index, tape_time_code(*b.system, b.first_position).c_str(), b.lost, b.damaged,
                 b.concealed, b.rebuilt, b.unsolved, b.margin);
    if (!h->map)
        return;
    if (first)
        write_map_start(h);
    for (int p = 0; p < ECC_N; ++p)
        write_cell(h, b, p);
}

void tape_health_file(TapeHealth* h, const RestoredFile& f)
{
    if (!h->map)
        return;
    for (int i = 0; i < h->start_count; ++i) {
        if (h->starts[i].file_index != f.file_index)
            continue;
        const int64_t g = h->starts[i].position;
        const VideoSystem& v = *h->system;
        char name[NAME_BUFFER_SIZE];
        report_name_of(&f, name, sizeof name);
        std::fprintf(h->map, "<text x=\"%d\" y=\"%" PRId64 "\" font-size=\"8\">", cell_x(v, g),
                     row_top(minute_of(v, g)) - 6);
        write_xml_text(h->map, name);
        std::fputs("</text>\n", h->map);
        h->starts[i] = h->starts[--h->start_count];
        return;
    }
}

void tape_health_print_text(const TapeHealth& h, const std::vector<std::string>& captures)
{
    if (h.blocks == 0)
        return;
    std::printf("tape health: %" PRId64 " blocks read; bad frames per block: none %" PRId64 ", one %" PRId64
                ", two %" PRId64 ", three %" PRId64 ", more %" PRId64 "\n",
                h.blocks, h.by_bad[0], h.by_bad[1], h.by_bad[2], h.by_bad[3], h.by_bad[4]);
    if (h.weak_count > 0) {
        std::printf("weakest blocks:");
        for (int i = 0; i < h.weak_count; ++i) {
            const WeakBlock& w = h.weakest[i];
            std::printf("%s #%" PRId64 " at %s (%d bad, %s)", i == 0 ? "" : ",", w.index,
                        tape_time_code(*h.system, w.first_position).c_str(), w.bad,
                        w.beyond ? "beyond repair" : w.margin == 0 ? "no margin left" : "margin left");
        }
        std::printf("\n");
        std::printf("bad frames per tape minute at their worst: %" PRId64 " (minute %" PRId64 ")\n",
                    h.worst_minute_bad, h.worst_minute);
    }
    for (size_t k = 0; k < captures.size() && k < static_cast<size_t>(MAX_HEALTH_CAPTURES); ++k)
        std::printf("capture %s: %" PRId64 " positions given, %" PRId64 " of them not received intact\n",
                    captures[k].c_str(), h.given[k], h.given_bad[k]);
    if (h.last_margin > 0)
        std::printf("%" PRId64 " block%s one bad frame away from loss: copy this tape\n", h.last_margin,
                    h.last_margin == 1 ? " is" : "s are");
}

void tape_health_print_json(TapeHealth* h)
{
    std::printf("  \"health\": {\"blocks_read\": %" PRId64 ", \"bad_frames_per_block\": [%" PRId64 ", %" PRId64
                ", %" PRId64 ", %" PRId64 ", %" PRId64 "], \"beyond_repair\": %" PRId64
                ", \"one_bad_frame_from_loss\": %" PRId64 ", \"worst_minute\": {\"minute\": %" PRId64
                ", \"bad_frames\": %" PRId64 "}, \"weakest\": [",
                h->blocks, h->by_bad[0], h->by_bad[1], h->by_bad[2], h->by_bad[3], h->by_bad[4], h->beyond,
                h->last_margin, h->worst_minute, h->worst_minute_bad);
    for (int i = 0; i < h->weak_count; ++i) {
        const WeakBlock& w = h->weakest[i];
        std::printf("%s{\"index\": %" PRId64 ", \"tape_time\": \"%s\", \"bad\": %d, \"margin\": %d, "
                    "\"beyond_repair\": %s}",
                    i == 0 ? "" : ", ", w.index, tape_time_code(*h->system, w.first_position).c_str(), w.bad,
                    w.margin, w.beyond ? "true" : "false");
    }
    std::printf("]},\n  \"blocks\": [");
    if (h->records) {
        std::fflush(h->records);
        std::rewind(h->records);
        char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, h->records)) > 0)
            std::fwrite(buffer, 1, n, stdout);
    }
    std::printf("\n  ],\n");
}

bool tape_health_close(TapeHealth* h)
{
    if (h->records)
        std::fclose(h->records);
    h->records = nullptr;
    if (!h->map)
        return true;
    bool ok = true;
    if (h->blocks == 0)
        std::fputs("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240\" height=\"30\"><text x=\"4\" y=\"18\">"
                   "no block of a recording was read</text></svg>\n",
                   h->map);
    if (h->blocks > 0) {
        std::fputs("</svg>\n", h->map);
        const int64_t height = TOP + h->rows * ROW_PITCH + RIGHT;
        ok = std::fseek(h->map, h->height_at, SEEK_SET) == 0 &&
             std::fprintf(h->map, "%0*" PRId64, HEIGHT_DIGITS, height) == HEIGHT_DIGITS;
    }
    ok = !std::ferror(h->map) && ok;
    ok = std::fclose(h->map) == 0 && ok;
    h->map = nullptr;
    if (!ok)
        brim_error("%s: the map could not be written: %s", h->map_path.c_str(), std::strerror(errno));
    return ok;
}
