#include "listing.h"

#include <algorithm>
#include <system_error>

#include "glob.h"

namespace fs = std::filesystem;

// Names are held as narrow text in the encoding that fopen takes (UTF-8 on
// Windows, where the programs run with the UTF-8 code page); fs::u8path reads them
// as such, while fs::path would go through the C locale and garble them there.

namespace {

constexpr char JOIN_SEPARATOR = '/';  // accepted as a separator on every platform

// Splits `pattern` after its last separator into directory part (with the
// separator, or empty) and name part.
void split_pattern(const std::string& pattern, std::string* dir, std::string* name)
{
    size_t cut = pattern.size();
    while (cut > 0 && !listing_is_separator(pattern[cut - 1]))
        cut--;
    *dir = pattern.substr(0, cut);
    *name = pattern.substr(cut);
}

bool is_regular(const fs::directory_entry& entry)
{
    std::error_code ec;
    return entry.is_regular_file(ec);  // follows symbolic links
}

bool name_matches(const fs::directory_entry& entry, const std::string& pattern)
{
    const std::string name = entry.path().filename().string();
    if (name == pattern)
        return true;
    return listing_wildcard_visible(entry, pattern) && glob_match(pattern.c_str(), name.c_str(), listing_fold_case());
}

// Appends to `dirs` every directory that the directory pattern `rest` names below
// `prefix` (each with its trailing separator, the current directory as "").
void expand_dirs(const std::string& prefix, const std::string& rest, std::vector<std::string>* dirs)
{
    if (rest.empty()) {
        dirs->push_back(prefix);
        return;
    }
    size_t end = 0;
    while (end < rest.size() && !listing_is_separator(rest[end]))
        end++;
    const std::string part = rest.substr(0, end);
    const std::string tail = end < rest.size() ? rest.substr(end + 1) : std::string();
    const char separator = end < rest.size() ? rest[end] : JOIN_SEPARATOR;
    if (!has_wildcards(part.c_str())) {
        expand_dirs(prefix + part + separator, tail, dirs);
        return;
    }
    std::error_code ec;
    for (fs::directory_iterator it(prefix.empty() ? fs::path(".") : fs::u8path(prefix), ec), last;
         !ec && it != last; it.increment(ec)) {
        std::error_code dir_ec;
        if (it->is_directory(dir_ec) && name_matches(*it, part))
            expand_dirs(prefix + it->path().filename().string() + separator, tail, dirs);
    }
}

// Lists the files of one directory that match `name`, by the path as given.
void list_in_directory(const std::string& dir, const std::string& name, std::vector<ListedFile>* files)
{
    std::error_code ec;
    if (!has_wildcards(name.c_str())) {
        const std::string path = dir + name;
        if (fs::is_regular_file(fs::u8path(path), ec))
            files->push_back({path, listing_stored_form(path)});
        return;
    }
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::u8path(dir), ec), last;
         !ec && it != last; it.increment(ec)) {
        if (is_regular(*it) && name_matches(*it, name)) {
            const std::string path = dir + it->path().filename().string();
            files->push_back({path, listing_stored_form(path)});
        }
    }
}

// Lists the files named `name` in `dir` and every directory below it, by absolute path.
void list_recursively(const std::string& dir, const std::string& name, std::vector<ListedFile>* files)
{
    std::error_code ec;
    fs::path start = dir.empty() ? fs::current_path(ec) : fs::absolute(fs::u8path(dir), ec);
    if (ec)
        return;
    start = start.lexically_normal();
    fs::recursive_directory_iterator it(start, fs::directory_options::skip_permission_denied, ec);
    for (fs::recursive_directory_iterator last; !ec && it != last; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code kind_ec;
        if (entry.is_directory(kind_ec)) {
            if (!listing_wildcard_visible(entry, name))
                it.disable_recursion_pending();
            continue;
        }
        if (is_regular(entry) && name_matches(entry, name)) {
            const std::string path = entry.path().string();
            files->push_back({path, listing_stored_form(path)});
        }
    }
}

}  // namespace

int list_input_files(const std::vector<std::string>& patterns, bool recurse, std::vector<ListedFile>* files,
                     EventSink* sink)
{
    const size_t first = files->size();
    std::vector<std::string> dirs;
    for (const std::string& pattern : patterns) {
        const size_t before = files->size();
        std::string dir_pattern;
        std::string name;
        split_pattern(pattern, &dir_pattern, &name);
        dirs.clear();
        if (!name.empty())
            expand_dirs(std::string(), dir_pattern, &dirs);
        for (const std::string& dir : dirs) {
            if (recurse)
                list_recursively(dir, name, files);
            else
                list_in_directory(dir, name, files);
        }
        if (files->size() == before)
            tell(sink, Severity::Progress, "(No input file matches %s)\n", pattern.c_str());
    }
    std::sort(files->begin() + static_cast<std::ptrdiff_t>(first), files->end(),
              [](const ListedFile& a, const ListedFile& b) { return listing_before(a.path, b.path); });
    return static_cast<int>(files->size() - first);
}
