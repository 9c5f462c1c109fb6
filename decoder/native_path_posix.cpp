#include "native_path.h"

const char* const UNSAFE_NAME_CHARACTERS = "/";
