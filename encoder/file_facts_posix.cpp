#include "file_facts.h"

#include <sys/stat.h>

constexpr uint32_t PERMISSION_BITS = 07777;

void read_file_facts(FILE* stream, FileFacts* facts)
{
    *facts = FileFacts{};
    struct stat st;
    if (fstat(fileno(stream), &st) != 0)
        return;
    facts->mtime_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    facts->mtime_nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    facts->mode = static_cast<uint32_t>(st.st_mode) & PERMISSION_BITS;
}
