#include "native_path.h"
#include "restored_names.h"

#include <unistd.h>

const char* const UNSAFE_NAME_CHARACTERS = "/";
const char* const UNSAFE_NAME_ENDINGS = "";

// Devices live under /dev, which a path below the current directory cannot reach.
int is_device_name(const char*, size_t)
{
    return 0;
}

int restore_names_fold_case() { return 0; }

int flush_to_disk(FILE* stream) { return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0; }
