#include "native_path.h"

// "/" separates names as "\\" does, and "C:name" reaches another drive.
const char* const UNSAFE_NAME_CHARACTERS = "/:";
