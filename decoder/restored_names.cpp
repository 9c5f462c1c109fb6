#include "restored_names.h"

#include <cstdlib>
#include <cstring>

#include "content_hash.h"
#include "native_path.h"
#include "restore_path.h"

bool restored_names_init(RestoredNames* names)
{
    if (!names->slots)
        names->slots = static_cast<uint64_t*>(std::calloc(RESTORED_NAME_SLOTS, sizeof(uint64_t)));
    else
        std::memset(names->slots, 0, RESTORED_NAME_SLOTS * sizeof(uint64_t));
    names->count = 0;
    return names->slots != nullptr;
}

void restored_names_clear(RestoredNames* names)
{
    if (names->slots)
        std::memset(names->slots, 0, RESTORED_NAME_SLOTS * sizeof(uint64_t));
    names->count = 0;
}

void restored_names_release(RestoredNames* names)
{
    std::free(names->slots);
    names->slots = nullptr;
    names->count = 0;
}

namespace {

// Keys of file identities are kept apart from keys of names.
constexpr uint64_t IDENTITY_KEYS = 0x9E3779B97F4A7C15ull;

// Looks `key` up; books it when `book` is set and it is new. Returns the claim.
NameClaim find_or_book(RestoredNames* names, uint64_t key, int book)
{
    if (key == 0)
        key = 1;   // 0 marks an empty slot
    size_t at = static_cast<size_t>(key) & (RESTORED_NAME_SLOTS - 1);
    while (names->slots[at] != 0) {
        if (names->slots[at] == key)
            return NameClaim::TAKEN;
        at = (at + 1) & (RESTORED_NAME_SLOTS - 1);
    }
    if (!book)
        return NameClaim::NEW;
    if (names->count >= RESTORED_NAME_LIMIT)
        return NameClaim::FULL;
    names->slots[at] = key;
    ++names->count;
    return NameClaim::NEW;
}

}  // namespace

void book_restored_file(RestoredNames* names, const char* name)
{
    uint64_t identity = 0;
    if (file_identity(name, &identity))
        find_or_book(names, identity ^ IDENTITY_KEYS, 1);
}

NameClaim claim_restored_name(RestoredNames* names, const char* name)
{
    uint64_t identity = 0;
    if (file_identity(name, &identity) && find_or_book(names, identity ^ IDENTITY_KEYS, 0) == NameClaim::TAKEN)
        return NameClaim::TAKEN;
    char folded[NAME_BUFFER_SIZE];
    size_t n = 0;
    const int fold = restore_names_fold_case();
    for (; name[n] != '\0' && n + 1 < sizeof folded; ++n) {
        const char c = name[n];
        folded[n] = fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return find_or_book(names, check_value_of(folded, n), 1);
}
