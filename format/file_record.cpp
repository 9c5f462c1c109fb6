#include "file_record.h"

#include <cstring>

#include "byte_order.h"

namespace {

constexpr uint8_t RECORD_MAGIC[4] = {'B', 'R', 'F', 'R'};
// The record's fields after its magic.
constexpr int AT_VERSION = 4;
constexpr int AT_ID = 8;
constexpr ByteField HASH_LOW{24, 8};
constexpr ByteField HASH_HIGH{32, 8};
constexpr ByteField SIZE{40, 8};
constexpr ByteField MTIME{48, 8};
constexpr ByteField MTIME_NS{56, 4};
constexpr ByteField MODE{60, 4};
constexpr ByteField CHECK{64, 8};
constexpr int AT_CHECK = CHECK.offset;
static_assert(CHECK.offset + CHECK.bytes == FILE_RECORD_SIZE, "the check value closes the record");

// The check value of the record at `record` in the first plane `plane`.
uint64_t check_of(const uint8_t* plane, const uint8_t* record)
{
    uint8_t covered[PATH_FIELD_SIZE + AT_CHECK];
    std::memcpy(covered, plane, PATH_FIELD_SIZE);
    std::memcpy(covered + PATH_FIELD_SIZE, record, AT_CHECK);
    return check_value_of(covered, sizeof covered);
}

}  // namespace

void write_file_record(uint8_t* plane, const FileRecord* record)
{
    uint8_t* out = plane + FILE_RECORD_OFFSET;
    std::memset(out, 0, FILE_RECORD_SIZE);
    std::memcpy(out, RECORD_MAGIC, sizeof RECORD_MAGIC);
    out[AT_VERSION] = FILE_RECORD_VERSION;
    std::memcpy(out + AT_ID, record->recording_id, RECORDING_ID_SIZE);
    put_field(out, HASH_LOW, record->hash.low);
    put_field(out, HASH_HIGH, record->hash.high);
    put_field(out, SIZE, record->size);
    put_field(out, MTIME, static_cast<uint64_t>(record->mtime_seconds));
    put_field(out, MTIME_NS, record->mtime_nanoseconds);
    put_field(out, MODE, record->mode);
    put_field(out, CHECK, check_of(plane, out));
}

RecordState read_file_record(const uint8_t* plane, FileRecord* record)
{
    const uint8_t* in = plane + FILE_RECORD_OFFSET;
    uint8_t any = 0;
    for (int i = 0; i < FILE_RECORD_SIZE; ++i)
        any |= in[i];
    if (any == 0)
        return RecordState::ABSENT;
    if (std::memcmp(in, RECORD_MAGIC, sizeof RECORD_MAGIC) != 0 || in[AT_VERSION] != FILE_RECORD_VERSION ||
        get_field(in, CHECK) != check_of(plane, in))
        return RecordState::DAMAGED;
    std::memcpy(record->recording_id, in + AT_ID, RECORDING_ID_SIZE);
    record->hash = Digest128{get_field(in, HASH_LOW), get_field(in, HASH_HIGH)};
    record->size = get_field(in, SIZE);
    record->mtime_seconds = static_cast<int64_t>(get_field(in, MTIME));
    record->mtime_nanoseconds = static_cast<uint32_t>(get_field(in, MTIME_NS));
    record->mode = static_cast<uint32_t>(get_field(in, MODE));
    return RecordState::VALID;
}

uint16_t recording_tag(const uint8_t* id)
{
    const uint64_t mixed = check_value_of(id, RECORDING_ID_SIZE);
    const uint16_t tag = static_cast<uint16_t>(mixed);
    if (tag == UNTAGGED_FIELD)
        return UNTAGGED_FIELD - 1;
    return tag == NO_RECORDING_TAG ? NO_RECORDING_TAG + 1 : tag;
}
