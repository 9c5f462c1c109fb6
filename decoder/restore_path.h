// Where a restored file goes: the stored path (from tape, untrusted) is turned
// into a path below the current directory, or refused.
#pragma once

#include "events.h"

#include <cstdint>

#include "frame_layout.h"

// Text buffers for names given on the command line and for output paths.
constexpr int NAME_BUFFER_SIZE = 256;   // at most 255 characters and the NUL

// Separator of stored paths, and of paths on this platform.
constexpr char STORED_SEPARATOR = '\\';
#ifdef _WIN32
constexpr char NATIVE_SEPARATOR = '\\';
#else
constexpr char NATIVE_SEPARATOR = '/';
#endif

// Why a stored path is refused; PATH_OK when it is usable.
enum PathVerdict {
    PATH_OK = 0,
    PATH_UNTERMINATED,   // no NUL in the path field
    PATH_EMPTY_NAME,     // an empty path, base name or directory name
    PATH_DOT_NAME,       // "." or ".." as the name of the file
    PATH_PARENT,         // a ".." directory would lead outside the current directory
    PATH_BAD_CHARACTER,  // a name holds a character that file names here cannot hold
    PATH_CAPTURE_FILE,   // it names a capture file of this run
    PATH_LOG_FILE,       // it names this run's log file
    PATH_DEVICE_NAME,    // a name opens a device here rather than a file
    PATH_BAD_ENDING,     // a name ends in a character that would be dropped here
};

struct RestorePath {
    char stored[PATH_FIELD_SIZE + 1];       // the stored path as text (cut at 228 bytes)
    const char* base;                       // its base name, inside `stored`
    const char* compare_name;               // what "-startfile" is compared with
    char output[NAME_BUFFER_SIZE];          // native path of the output file, relative
    char directory[NAME_BUFFER_SIZE];       // native directory part, ending in a separator, or ""
    PathVerdict verdict;
};

// Reads the path field of a first plane (the first PATH_FIELD_SIZE bytes) and
// fills `out`. With `recurse` the whole stored path is restored below the current
// directory (a leading separator dropped), else only the base name is used.
void restore_path_from_plane(const uint8_t* plane, bool recurse, RestorePath* out);

// A short reason for a refused path, for messages.
const char* path_verdict_text(PathVerdict verdict);

// Creates every directory along `path` (UTF-8, native separators, relative), one prefix
// at a time, telling `sink` of each (the console shows them). Failures are ignored
// here: opening the file below them reports them.
void mkdir_recursive(const char* path, EventSink* sink);

// True if the output path `output` names the run's first capture file `capture` or
// one of its successors (read already, or still to be read): the two paths,
// made absolute, differ only in their digits (in how many, too: successor names
// widen), and the digits of `output` read as one number are not smaller. Letters
// are compared without regard to case.
bool names_capture_of_run(const char* output, const char* capture);

// True if `output` is the same path as `log_name` (both relative to the current directory).
bool names_log_file(const char* output, const char* log_name);

// True if `a` and `b` are equal without regard to ASCII case.
bool names_equal_nocase(const char* a, const char* b);
