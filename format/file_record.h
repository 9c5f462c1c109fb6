// The file record: what a file's first plane says of the file besides its path,
// in the header area's bytes behind the path field (zero on tapes that carry no
// record). It ties every file to its recording and to a hash of its content, so
// a restored file can be called intact only when its bytes are the ones stored.
//
// Layout at FILE_RECORD_OFFSET of the first plane, little-endian:
//   0  4  magic "BRFR"             24 16 content hash (XXH3-128: low, high)
//   4  1  version (1)              40  8 size in bytes
//   5  3  zero                     48  8 modification time, seconds since 1970
//   8 16  recording ID             56  4 nanoseconds of it
//                                  60  4 permission bits
//                                  64  8 check value: XXH3-64 of the plane's
//                                        path field and record bytes 0..63
// The check value covers the path as well: a path damaged so that the plane's
// checksum still matches makes the record fail, and the name is not trusted.
#pragma once

#include <cstdint>

#include "content_hash.h"
#include "frame_layout.h"

constexpr int FILE_RECORD_OFFSET = 256;
constexpr int FILE_RECORD_SIZE = 72;
constexpr uint8_t FILE_RECORD_VERSION = 1;
constexpr int RECORDING_ID_SIZE = 16;
static_assert(FILE_RECORD_OFFSET >= PATH_FIELD_SIZE + 1 && FILE_RECORD_OFFSET + FILE_RECORD_SIZE <= HEADER_AREA_SIZE,
              "the record lies in the header area's unused bytes");

struct FileRecord {
    uint8_t recording_id[RECORDING_ID_SIZE];
    Digest128 hash;
    uint64_t size;
    int64_t mtime_seconds;
    uint32_t mtime_nanoseconds;
    uint32_t mode;             // permission bits (07777)
};

enum class RecordState {
    ABSENT,    // the bytes are zero: a tape without records
    VALID,
    DAMAGED,   // something is there, but not a record that checks
};

// Writes `record` into the header area of `plane` (a first plane whose path
// field is written already).
void write_file_record(uint8_t* plane, const FileRecord* record);

// Reads the record of the first plane `plane` into `record` (when VALID).
RecordState read_file_record(const uint8_t* plane, FileRecord* record);

// The 16-bit tag every frame of the recording `id` carries: never
// UNTAGGED_FIELD, never NO_RECORDING_TAG.
uint16_t recording_tag(const uint8_t* id);
