// The output names restored in one run, so that a second stored file with the
// same output name (two directories' x.txt restored flat, or two recordings of
// one file in one capture) is never written over the first. Names are kept as
// 64-bit hashes in one table allocated once; names that the platform's file
// system does not tell apart (case, on Windows) hash alike.
#pragma once

#include <cstdint>

constexpr int RESTORED_NAME_SLOTS = 1 << 18;
constexpr int RESTORED_NAME_LIMIT = RESTORED_NAME_SLOTS / 4 * 3;   // names one run can hold

struct RestoredNames {
    uint64_t* slots;   // RESTORED_NAME_SLOTS hashes, 0 = empty
    int count;
};

enum class NameClaim {
    NEW,     // the name was not restored before in this run; it is now booked
    TAKEN,   // a file of this name was restored earlier in this run
    FULL,    // the table holds RESTORED_NAME_LIMIT names: no more can be checked
};

// Allocates the table (once) and empties it. False when memory is short.
[[nodiscard]] bool restored_names_init(RestoredNames* names);
// Forgets every name (the table stays allocated); release frees it.
void restored_names_clear(RestoredNames* names);
void restored_names_release(RestoredNames* names);

// Books the output path `name` (UTF-8, relative to the current directory). A
// name whose file exists already is looked up by the file's identity as well:
// a restored file reached under another spelling is TAKEN too.
NameClaim claim_restored_name(RestoredNames* names, const char* name);

// Books the identity of the file just created at `name`.
void book_restored_file(RestoredNames* names, const char* name);

// True when the platform's file names compare without regard to case.
bool restore_names_fold_case();
