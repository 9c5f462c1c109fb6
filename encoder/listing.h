// The input listing: expands the command line's patterns into the regular files
// they name, in the order and the path forms that the encode plan takes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "events.h"

struct ListedFile {
    std::string path;    // native path used to open the file, as listed
    std::string stored;  // the same path in the form it goes to tape (backslash-separated)
};

// Expands every pattern of `patterns` (shell-style wildcards; a name equal to the
// pattern always matches, so names holding wildcard characters can be given
// literally) into the regular files it names, symbolic links to regular files
// included. Without `recurse` a file is listed by the path as given (the
// pattern's directory part plus the matched name); with it, the name part is
// matched in the pattern's directory (the current one when it has none) and every
// directory below it, and files are listed by absolute path. Appends the results
// of all patterns to `files` and sorts the whole listing; tells `sink` every
// pattern that matched no file. Returns the number of files listed.
int list_input_files(const std::vector<std::string>& patterns, bool recurse, std::vector<ListedFile>* files,
                     EventSink* sink);

// Platform part (listing_posix.cpp, listing_win.cpp).

// Whether file names compare without regard to case.
bool listing_fold_case();
// Whether `c` separates the components of a path.
bool listing_is_separator(char c);
// Whether a wildcard pattern may match the entry: hidden entries must be named
// explicitly (and are not descended into by the recursive listing).
bool listing_wildcard_visible(const std::filesystem::directory_entry& entry, const std::string& pattern);
// The tape form of a listed path: without any drive, separators as backslashes.
std::string listing_stored_form(const std::string& path);
// Order of the sorted listing: whether `a` sorts before `b`.
bool listing_before(const std::string& a, const std::string& b);
