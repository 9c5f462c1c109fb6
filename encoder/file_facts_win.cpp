#include "file_facts.h"

#include <sys/stat.h>
#include <sys/types.h>

// Windows keeps whole seconds here and no POSIX permission bits beyond the
// owner's read and write, which _S_IREAD and _S_IWRITE give.
constexpr uint32_t PERMISSION_BITS = 0777;

void read_file_facts(FILE* stream, FileFacts* facts)
{
    *facts = FileFacts{};
    struct _stat64 st;
    if (_fstat64(_fileno(stream), &st) != 0)
        return;
    facts->mtime_seconds = static_cast<int64_t>(st.st_mtime);
    facts->mode = static_cast<uint32_t>(st.st_mode) & PERMISSION_BITS;
}
