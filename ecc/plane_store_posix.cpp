#include "plane_store.h"

#include <sys/mman.h>

namespace {

// Large pages are handed out only for ranges aligned to their size.
constexpr size_t LARGE_PAGE = size_t{2} << 20;

// Whole large pages, so that both ends of the region lie on page boundaries.
size_t region_size(size_t bytes)
{
    return (bytes + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
}

}  // namespace

uint8_t* ecc_store_alloc(size_t requested)
{
    const size_t bytes = region_size(requested);
    const size_t mapped = bytes + LARGE_PAGE;
    void* region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(region);
    const uintptr_t aligned = (start + LARGE_PAGE - 1) & ~(uintptr_t{LARGE_PAGE} - 1);
    const size_t head = aligned - start;
    const size_t tail = mapped - head - bytes;
    if (head > 0)
        munmap(region, head);
    if (tail > 0)
        munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    uint8_t* store = reinterpret_cast<uint8_t*>(aligned);
#ifdef MADV_HUGEPAGE
    // Only advice: without large pages the region works the same.
    madvise(store, bytes, MADV_HUGEPAGE);
#endif
    return store;
}

void ecc_store_release(uint8_t* store, size_t bytes)
{
    if (store != nullptr)
        munmap(store, region_size(bytes));
}
