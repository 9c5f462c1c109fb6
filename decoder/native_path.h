// What the file system of the platform treats specially in a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Characters that may not appear inside one stored name, because the platform
// would read them as separators or drive markers (NUL-terminated list).
extern const char* const UNSAFE_NAME_CHARACTERS;

// Characters that may not end a name, because the platform would drop them and
// so write a file of another name (NUL-terminated list; empty where none).
extern const char* const UNSAFE_NAME_ENDINGS;

// True if the name `name` (`length` bytes, not NUL-terminated) opens a device
// rather than a file on this platform.
bool is_device_name(const char* name, size_t length);

// Hands what `stream` holds to the disk (flush, then the system's sync of the
// file), so that a capture it came from can be deleted. False on failure.
[[nodiscard]] bool flush_to_disk(FILE* stream);

// The identity of the existing file at `path` (UTF-8): device and file number,
// hashed, so that two names of one file (case on a case-insensitive volume,
// Unicode forms, short names) compare equal. False when there is no
// such file or the system cannot tell.
[[nodiscard]] bool file_identity(const char* path, uint64_t* identity);

// Renames `from` to `to`, replacing a file of that name. False on failure (errno set).
[[nodiscard]] bool replace_file(const char* from, const char* to);

// Gives the file at `path` (UTF-8) the modification time `seconds`.`nanoseconds`
// after the epoch and, where the platform has them, the permission bits of
// `mode`. False when the system refuses.
[[nodiscard]] bool set_file_metadata(const char* path, int64_t seconds, uint32_t nanoseconds, uint32_t mode);
