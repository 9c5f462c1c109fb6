// Listing conventions of POSIX systems: case-sensitive names, dot files hidden,
// byte-order sorting, and '/' separators that go to tape as backslashes.
#include "listing.h"

namespace fs = std::filesystem;

namespace {
constexpr char NATIVE_SEPARATOR = '/';
constexpr char TAPE_SEPARATOR = '\\';
constexpr char HIDDEN_PREFIX = '.';
}  // namespace

bool listing_fold_case() { return false; }

bool listing_is_separator(char c) { return c == NATIVE_SEPARATOR; }

bool listing_wildcard_visible(const fs::directory_entry& entry, const std::string& pattern)
{
    const std::string name = entry.path().filename().string();
    return name.empty() || name[0] != HIDDEN_PREFIX || (!pattern.empty() && pattern[0] == HIDDEN_PREFIX);
}

std::string listing_stored_form(const std::string& path)
{
    std::string stored = path;
    for (char& c : stored)
        if (c == NATIVE_SEPARATOR)
            c = TAPE_SEPARATOR;
    return stored;
}

bool listing_before(const std::string& a, const std::string& b)
{
    return a.compare(b) < 0;  // std::string compares as unsigned bytes, like LC_ALL=C sort
}
