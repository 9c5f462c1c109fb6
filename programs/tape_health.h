// brim's tape health: how close each ECC block came to loss, gathered from the
// decoder's block events into a summary, per-block JSON records and an SVG map
// of every frame position. Memory is fixed: the records are spooled to a
// temporary file and the map is written as the blocks come.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder_state.h"

constexpr int WEAKEST_SHOWN = 5;       // weakest blocks named in the summary
constexpr int BAD_CLASSES = 5;         // blocks with 0, 1, 2, 3 and more known-bad frames
constexpr int MAX_HEALTH_CAPTURES = 8;
constexpr int MAP_FILE_SLOTS = 256;    // files whose first frame is on the map and whose name is still due

enum class MapColouring : uint8_t { STATE, CAPTURE };

// One of the weakest blocks.
struct WeakBlock {
    int64_t index;
    int64_t first_position;
    int bad;
    int margin;
    bool beyond;   // not every data plane came back
};

// A file whose first frame is on the map, waiting for its name.
struct MapFileStart {
    int32_t file_index;
    int64_t position;
};

struct TapeHealth {
    const VideoSystem* system = nullptr;   // of the last block
    int64_t blocks = 0;
    int64_t by_bad[BAD_CLASSES] = {};
    int64_t beyond = 0;                    // blocks not rebuilt whole
    int64_t last_margin = 0;               // rebuilt whole with the whole margin used
    WeakBlock weakest[WEAKEST_SHOWN] = {};
    int weak_count = 0;
    int64_t minute = -1;                   // tape minute being counted
    int64_t minute_bad = 0;
    int64_t worst_minute = -1;
    int64_t worst_minute_bad = 0;
    int64_t given[MAX_HEALTH_CAPTURES] = {};      // positions each capture gave
    int64_t given_bad[MAX_HEALTH_CAPTURES] = {};  // of them, not received intact
    FILE* records = nullptr;               // per-block JSON records, spooled
    FILE* map = nullptr;
    std::string map_path;
    MapColouring colouring = MapColouring::STATE;
    int captures = 1;                      // captures read (the map's legend by capture)
    long height_at = -1;                   // where the map's height is patched in
    int64_t rows = 0;                      // tape minutes on the map
    MapFileStart starts[MAP_FILE_SLOTS] = {};
    int start_count = 0;
    bool map_failed = false;
};

// Opens the spool and, with a non-empty `map_path`, the map of a run over
// `captures` captures. False, told on stderr, when either cannot be created.
[[nodiscard]] bool tape_health_open(TapeHealth* h, const std::string& map_path, MapColouring colouring, int captures);
// Takes one finished block.
void tape_health_block(TapeHealth* h, const BlockHealth& b);
// Takes a file's verdict: its name goes onto the map where its first frame is.
void tape_health_file(TapeHealth* h, const RestoredFile& f);
// The summary lines after the report (`captures`: names of a merge's captures, empty for one).
void tape_health_print_text(const TapeHealth& h, const std::vector<std::string>& captures);
// The "health" object and the "blocks" array, as members of the report's JSON object.
void tape_health_print_json(TapeHealth* h);
// Finishes and closes the map and the spool. False, told on stderr, when the map could not be written.
[[nodiscard]] bool tape_health_close(TapeHealth* h);
// hh:mm:ss:ff of global position `g` of a recording of system `v`.
std::string tape_time_code(const VideoSystem& v, int64_t g);
