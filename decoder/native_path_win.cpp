#include "native_path.h"

// "/" separates names as "\\" does, and "C:name" reaches another drive (or, on
// NTFS, a hidden stream of a file). The rest are characters that Windows refuses
// in file names: wildcards, redirections, quotes and control characters.
const char* const UNSAFE_NAME_CHARACTERS =
    "/:*?\"<>|"
    "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f";
