// What the file record keeps of an input file besides its bytes: its
// modification time and permission bits, read from the open stream.
#pragma once

#include <cstdint>
#include <cstdio>

struct FileFacts {
    int64_t mtime_seconds;
    uint32_t mtime_nanoseconds;
    uint32_t mode;   // permission bits (07777)
};

// Fills `facts` for the open file `stream`, leaving zero what the system cannot tell.
void read_file_facts(FILE* stream, FileFacts* facts);
