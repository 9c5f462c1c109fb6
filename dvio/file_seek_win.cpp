#include "file_seek.h"

bool seek_forward(FILE* stream, int64_t count) { return _fseeki64(stream, count, SEEK_CUR) == 0; }
