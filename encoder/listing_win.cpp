// Listing conventions of Windows: names compare without case, hidden and system
// files are left to explicit names, and paths go to tape from the root of their
// drive, without the drive letter.
#include "listing.h"

#include <windows.h>

#include <cctype>

namespace fs = std::filesystem;

namespace {
constexpr char TAPE_SEPARATOR = '\\';
constexpr char OTHER_SEPARATOR = '/';

int folded(char c) { return std::tolower(static_cast<unsigned char>(c)); }
}  // namespace

bool listing_fold_case() { return true; }

bool listing_is_separator(char c) { return c == TAPE_SEPARATOR || c == OTHER_SEPARATOR; }

bool listing_wildcard_visible(const fs::directory_entry& entry, const std::string&)
{
    const DWORD attributes = GetFileAttributesW(entry.path().c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

std::string listing_stored_form(const std::string& path)
{
    const fs::path native = fs::u8path(path);
    std::string stored = path.substr(native.root_name().string().size());
    for (char& c : stored)
        if (c == OTHER_SEPARATOR)
            c = TAPE_SEPARATOR;
    return stored;
}

bool listing_before(const std::string& a, const std::string& b)
{
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; i++)
        if (folded(a[i]) != folded(b[i]))
            return folded(a[i]) < folded(b[i]);
    if (a.size() != b.size())
        return a.size() < b.size();
    return a.compare(b) < 0;
}
