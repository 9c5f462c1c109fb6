#include "native_path.h"
#include "restored_names.h"

#include <io.h>
#include <windows.h>

#include <filesystem>

#include "content_hash.h"

#include <cctype>
#include <cstring>

// "/" separates names as "\\" does, and "C:name" reaches another drive (or, on
// NTFS, a hidden stream of a file). The rest are characters that Windows refuses
// in file names: wildcards, redirections, quotes and control characters.
const char* const UNSAFE_NAME_CHARACTERS =
    "/:*?\"<>|"
    "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f";

// Windows strips trailing dots and spaces from a name: "a." would be written as "a".
const char* const UNSAFE_NAME_ENDINGS = ". ";

namespace {

// Devices that every directory holds; their names are reserved in any case and
// with any extension ("nul", "Aux.txt"). CONIN$ and CONOUT$ open the console.
const char* const DEVICE_NAMES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
// Numbered devices: COM1-COM9 and LPT1-LPT9, and (as Windows reads them) with
// the superscript digits 1, 2 and 3, here in UTF-8.
const char* const NUMBERED_DEVICE_NAMES[] = {"COM", "LPT"};
const char* const DEVICE_NUMBERS[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
constexpr size_t DEVICE_STEM_LENGTH = 3;

int stem_is(const char* stem, size_t length, const char* device)
{
    if (length != std::strlen(device))
        return 0;
    for (size_t i = 0; i < length; ++i)
        if (std::toupper(static_cast<unsigned char>(stem[i])) != device[i])
            return 0;
    return 1;
}

}  // namespace

bool is_device_name(const char* name, size_t length)
{
    // The part before the first dot decides, less trailing spaces: "nul.tar.gz"
    // and "nul .txt" are NUL too.
    const void* dot = std::memchr(name, '.', length);
    size_t stem = dot ? static_cast<size_t>(static_cast<const char*>(dot) - name) : length;
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    for (const char* device : DEVICE_NAMES)
        if (stem_is(name, stem, device))
            return 1;
    if (stem <= DEVICE_STEM_LENGTH)
        return 0;
    const char* number = name + DEVICE_STEM_LENGTH;
    const size_t number_length = stem - DEVICE_STEM_LENGTH;
    for (const char* device : NUMBERED_DEVICE_NAMES) {
        if (!stem_is(name, DEVICE_STEM_LENGTH, device))
            continue;
        for (const char* digit : DEVICE_NUMBERS)
            if (std::strlen(digit) == number_length && std::memcmp(number, digit, number_length) == 0)
                return 1;
    }
    return 0;
}

bool restore_names_fold_case() { return 1; }

bool flush_to_disk(FILE* stream) { return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0; }

bool file_identity(const char* path, uint64_t* identity)
{
    const std::wstring wide = std::filesystem::u8path(path).wstring();
    HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!ok)
        return 0;
    const uint64_t parts[3] = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    *identity = check_value_of(parts, sizeof parts);
    return 1;
}

bool replace_file(const char* from, const char* to)
{
    const std::wstring a = std::filesystem::u8path(from).wstring();
    const std::wstring b = std::filesystem::u8path(to).wstring();
    if (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = EACCES;
    return false;
}

// Permission bits have no counterpart here beyond read-only, which would stop a
// later run from replacing the file: only the time is restored.
bool set_file_metadata(const char* path, int64_t seconds, uint32_t nanoseconds, uint32_t)
{
    constexpr int64_t TICKS_PER_SECOND = 10000000;   // FILETIME counts 100 ns from 1601
    constexpr int64_t EPOCH_TICKS = 116444736000000000;
    constexpr uint32_t NANOSECONDS_PER_TICK = 100;
    const int64_t ticks = seconds * TICKS_PER_SECOND + nanoseconds / NANOSECONDS_PER_TICK + EPOCH_TICKS;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    const std::wstring wide = std::filesystem::u8path(path).wstring();
    HANDLE h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool set = SetFileTime(h, nullptr, &time, &time) != 0;
    CloseHandle(h);
    return set;
}

