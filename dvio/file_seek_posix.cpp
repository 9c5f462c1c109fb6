#include "file_seek.h"

#include <sys/types.h>

bool seek_forward(FILE* stream, int64_t count) { return fseeko(stream, static_cast<off_t>(count), SEEK_CUR) == 0; }
