// Moving forward in an open file with 64-bit offsets, which the C library's
// fseek does not give on every platform: the one positioning the input and
// output files need beyond a rewind.
#pragma once

#include <cstdint>
#include <cstdio>

// Moves the position of `stream` `count` bytes on (a write there leaves a hole,
// sparse where the file system allows). False on failure.
[[nodiscard]] bool seek_forward(FILE* stream, int64_t count);
