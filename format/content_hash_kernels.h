// Internal to the content hash: its update step built for a wider vector unit.
#pragma once

#include <cstddef>

#if defined(BRIM_HASH_AVX2)
// XXH3-128's update of `state` (an XXH3_state_t) compiled with AVX2.
void content_hash_update_avx2(void* state, const void* data, size_t count);
#endif
