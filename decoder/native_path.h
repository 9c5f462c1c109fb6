// What the file system of the platform treats specially in a name.
#pragma once

// Characters that may not appear inside one stored name, because the platform
// would read them as separators or drive markers (NUL-terminated list).
extern const char* const UNSAFE_NAME_CHARACTERS;
