// Reader of captured files: finds every DV frame in a plain byte stream by a
// masked 16-byte signature, file after file along the successor-name rule.
#pragma once

#include <cstdint>
#include <cstdio>

#include "frame_layout.h"

constexpr int SYNC_LENGTH = 16;
extern const uint8_t SYNC_PATTERN[SYNC_LENGTH];
extern const uint8_t SYNC_MASK[SYNC_LENGTH];

struct FrameReader;  // the reader's own window over the open file

// Delivers the next DV frame into `frame` (DV_FRAME_SIZE bytes). `name` is the
// current file name (changed in place to step to the successor). Returns 1 with a
// frame, 0 when the file due next cannot be opened (end of input).
int ReadDVFrame(uint8_t* frame, FrameReader** reader, char* name, int inplace, FILE* log);

// Counts the decimal digits of `name` up by one, in place. Returns 1 if the name
// holds a digit (it has a successor), 0 otherwise.
int successor_name(char* name);
