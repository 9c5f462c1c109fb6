#include "native_path.h"
#include "restored_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "content_hash.h"

const char* const UNSAFE_NAME_CHARACTERS = "/";
const char* const UNSAFE_NAME_ENDINGS = "";

// Devices live under /dev, which a path below the current directory cannot reach.
bool is_device_name(const char*, size_t)
{
    return 0;
}

bool restore_names_fold_case() { return 0; }

bool flush_to_disk(FILE* stream) { return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0; }

bool file_identity(const char* path, uint64_t* identity)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    const uint64_t parts[2] = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    *identity = check_value_of(parts, sizeof parts);
    return 1;
}

bool replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool set_file_metadata(const char* path, int64_t seconds, uint32_t nanoseconds, uint32_t mode)
{
    constexpr uint32_t PERMISSION_BITS = 0777;   // never set-user-ID, set-group-ID or sticky from tape
    constexpr uint32_t NANOSECONDS_PER_SECOND = 1000000000u;
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                      {static_cast<time_t>(seconds),
                                       static_cast<long>(nanoseconds % NANOSECONDS_PER_SECOND)}};
    const bool timed = utimensat(AT_FDCWD, path, times, 0) == 0;
    return chmod(path, static_cast<mode_t>(mode & PERMISSION_BITS)) == 0 && timed;
}

