// One zero-filled allocation holding many planes, from the platform's page
// allocator. Planes are touched page by page on first use; a single region lets
// the platform back it with large pages, which costs far fewer page faults than
// a plane-sized heap block each. Internal to the ecc library.
#pragma once

#include <cstddef>
#include <cstdint>

// `bytes` zero-filled bytes, or null when the platform refuses them.
uint8_t* ecc_store_alloc(size_t bytes);
// Returns a region from ecc_store_alloc of the same `bytes` to the platform.
void ecc_store_release(uint8_t* store, size_t bytes);
