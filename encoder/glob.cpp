#include "glob.h"

namespace {

unsigned char fold(unsigned char c, bool fold_case)
{
    return fold_case && c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Matches `c` against the set that starts after "[" at `p`. Returns the position
// after the closing "]" and sets `*hit`, or null when the set is not closed.
const char* match_set(const char* p, unsigned char c, bool fold_case, bool* hit)
{
    const bool negated = *p == '!' || *p == '^';
    if (negated)
        p++;
    bool found = false;
    const char* start = p;
    while (*p && (*p != ']' || p == start)) {
        unsigned char low = fold(static_cast<unsigned char>(*p), fold_case);
        unsigned char high = low;
        if (p[1] == '-' && p[2] && p[2] != ']') {
            high = fold(static_cast<unsigned char>(p[2]), fold_case);
            p += 2;
        }
        if (c >= low && c <= high)
            found = true;
        p++;
    }
    if (*p != ']')
        return nullptr;
    *hit = found != negated;
    return p + 1;
}

}  // namespace

bool has_wildcards(const char* pattern)
{
    for (; *pattern; pattern++)
        if (*pattern == '*' || *pattern == '?' || *pattern == '[')
            return true;
    return false;
}

bool glob_match(const char* pattern, const char* name, bool fold_case)
{
    // Backtracking point: the last "*" seen and the name position it covers up to.
    const char* star = nullptr;
    const char* star_name = nullptr;
    const char* p = pattern;
    const char* n = name;
    while (*n) {
        const unsigned char c = fold(static_cast<unsigned char>(*n), fold_case);
        if (*p == '*') {
            star = ++p;
            star_name = n;
            continue;
        }
        if (*p == '?') {
            p++;
            n++;
            continue;
        }
        if (*p == '[') {
            bool hit = false;
            const char* after = match_set(p + 1, c, fold_case, &hit);
            if (after && hit) {
                p = after;
                n++;
                continue;
            }
            if (!after && c == '[') {
                p++;
                n++;
                continue;
            }
        } else if (*p && fold(static_cast<unsigned char>(*p), fold_case) == c) {
            p++;
            n++;
            continue;
        }
        if (!star)
            return false;
        p = star;
        n = ++star_name;
    }
    while (*p == '*')
        p++;
    return *p == '\0';
}
