// The bulk of the content hash compiled for AVX2 (this file alone is built with
// -mavx2); content_hash.cpp calls it only where the processor has AVX2. XXH3's
// state has the same layout whatever vector width updates it.
#include "content_hash_kernels.h"

#if defined(BRIM_HASH_AVX2)
#define XXH_INLINE_ALL
#include "xxhash.h"

void content_hash_update_avx2(void* state, const void* data, size_t count)
{
    XXH3_128bits_update(static_cast<XXH3_state_t*>(state), data, count);
}
#endif
