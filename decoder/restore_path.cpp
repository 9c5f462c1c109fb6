#include "restore_path.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "native_path.h"

namespace {

constexpr int MKDIR_COMMAND_SIZE = NAME_BUFFER_SIZE + 16;   // "mkdir \"" prefix "\""

int has_unsafe_character(const char* name, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (std::strchr(UNSAFE_NAME_CHARACTERS, name[i]) != nullptr)
            return 1;
    return 0;
}

int has_unsafe_ending(const char* name, size_t length)
{
    // strchr would also find the terminator of the list.
    return length > 0 && name[length - 1] != '\0' && std::strchr(UNSAFE_NAME_ENDINGS, name[length - 1]) != nullptr;
}

int is_name(const char* name, size_t length, const char* text)
{
    return std::strlen(text) == length && std::memcmp(name, text, length) == 0;
}

// Checks each name of `relative` (stored separators) and writes the native path.
PathVerdict build_output(const char* relative, RestorePath* out)
{
    size_t used = 0;
    const char* name = relative;
    for (;;) {
        const char* end = std::strchr(name, STORED_SEPARATOR);
        const int is_last = end == nullptr;
        size_t length = is_last ? std::strlen(name) : static_cast<size_t>(end - name);
        if (length == 0)
            return PATH_EMPTY_NAME;
        if (has_unsafe_character(name, length))
            return PATH_BAD_CHARACTER;
        if (is_name(name, length, ".."))
            return is_last ? PATH_DOT_NAME : PATH_PARENT;
        if (is_last && is_name(name, length, "."))
            return PATH_DOT_NAME;
        // "." as a directory stays where it is; any other name must come back
        // as itself, not as a device or under a name the platform trims.
        if (!is_name(name, length, ".") && has_unsafe_ending(name, length))
            return PATH_BAD_ENDING;
        if (is_device_name(name, length))
            return PATH_DEVICE_NAME;
        std::memcpy(out->output + used, name, length);
        used += length;
        if (is_last)
            break;
        out->output[used++] = NATIVE_SEPARATOR;
        name = end + 1;
    }
    out->output[used] = '\0';
    const char* last = std::strrchr(out->output, NATIVE_SEPARATOR);
    size_t directory_length = last ? static_cast<size_t>(last - out->output) + 1 : 0;
    std::memcpy(out->directory, out->output, directory_length);
    out->directory[directory_length] = '\0';
    return PATH_OK;
}

// `path` (UTF-8) made absolute and normal, as UTF-8.
std::string absolute_utf8(const char* path)
{
    std::error_code ignored;
    return std::filesystem::absolute(std::filesystem::u8path(path), ignored).lexically_normal().u8string();
}

}  // namespace

static_assert(PATH_FIELD_SIZE < NAME_BUFFER_SIZE, "a stored path fits an output name");

void restore_path_from_plane(const uint8_t* plane, bool recurse, RestorePath* out)
{
    std::memcpy(out->stored, plane, PATH_FIELD_SIZE);
    out->stored[PATH_FIELD_SIZE] = '\0';
    out->output[0] = '\0';
    out->directory[0] = '\0';
    const char* last = std::strrchr(out->stored, STORED_SEPARATOR);
    out->base = last ? last + 1 : out->stored;
    out->compare_name = recurse ? out->stored : out->base;
    if (std::memchr(plane, 0, PATH_FIELD_SIZE) == nullptr) {
        out->verdict = PATH_UNTERMINATED;
        return;
    }
    // A leading separator makes the stored path absolute; it is restored below
    // the current directory instead, as careful archivers do.
    const char* relative = out->base;
    if (recurse)
        relative = out->stored[0] == STORED_SEPARATOR ? out->stored + 1 : out->stored;
    out->verdict = build_output(relative, out);
    if (out->verdict != PATH_OK) {
        out->output[0] = '\0';
        out->directory[0] = '\0';
    }
}

const char* path_verdict_text(PathVerdict verdict)
{
    switch (verdict) {
    case PATH_OK:
        return "usable";
    case PATH_UNTERMINATED:
        return "the path has no terminator";
    case PATH_EMPTY_NAME:
        return "the path holds an empty name";
    case PATH_DOT_NAME:
        return "the file name is \".\" or \"..\"";
    case PATH_PARENT:
        return "the path leads outside the current directory";
    case PATH_BAD_CHARACTER:
        return "a name holds a character that file names here cannot hold";
    case PATH_CAPTURE_FILE:
        return "it names a capture file of this run";
    case PATH_LOG_FILE:
        return "it names the log of this run";
    case PATH_DEVICE_NAME:
        return "a name is that of a device here";
    case PATH_BAD_ENDING:
        return "a name ends in a dot or a space, which file names here drop";
    default:
        return "the path is not usable";
    }
}

void mkdir_recursive(const char* path, EventSink* sink)
{
    char prefix[NAME_BUFFER_SIZE];
    char command[MKDIR_COMMAND_SIZE];
    size_t pos = 0;
    if (path[pos] == '\0')
        return;
    for (;;) {
        while (path[pos] != '\0' && path[pos] != NATIVE_SEPARATOR)
            ++pos;
        if (pos >= sizeof prefix)
            return;
        std::memcpy(prefix, path, pos);
        prefix[pos] = '\0';
        std::snprintf(command, sizeof command, "mkdir \"%s\"", prefix);
        tell(sink, Severity::Progress, "\nmkdir_recursive( '%s' ) : '%s'", path, command);
        std::error_code ignored;
        // The stored names are UTF-8; a narrow fs::path would read them in the
        // C locale's code page on Windows.
        std::filesystem::create_directory(std::filesystem::u8path(prefix), ignored);
        if (path[pos] == NATIVE_SEPARATOR)
            ++pos;
        if (path[pos] == '\0')
            return;
    }
}

namespace {

// The letters of `name` without its digits (lower case), and its digits read as
// one number (leading zeros dropped).
void split_digits(const std::string& name, std::string* letters, std::string* number)
{
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isdigit(u)) {
            if (!number->empty() || c != '0')
                number->push_back(c);
        } else {
            letters->push_back(static_cast<char>(std::tolower(u)));
        }
    }
}

}  // namespace

bool names_capture_of_run(const char* output, const char* capture)
{
    if (!capture || capture[0] == '\0' || output[0] == '\0')
        return 0;
    // Both names are UTF-8 (from tape, and from the command line through the
    // UTF-8 code page on Windows), and are compared as UTF-8.
    std::string letters_a, number_a, letters_b, number_b;
    split_digits(absolute_utf8(output), &letters_a, &number_a);
    split_digits(absolute_utf8(capture), &letters_b, &number_b);
    if (letters_a != letters_b)
        return 0;
    if (number_a.size() != number_b.size())
        return number_a.size() > number_b.size();
    return number_a >= number_b;
}

bool names_log_file(const char* output, const char* log_name)
{
    if (output[0] == '\0')
        return 0;
#ifdef _WIN32
    return names_equal_nocase(absolute_utf8(output).c_str(), absolute_utf8(log_name).c_str());
#else
    return absolute_utf8(output) == absolute_utf8(log_name);
#endif
}

bool names_equal_nocase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb)
            return 0;
        if (ca == '\0')
            return 1;
    }
}
