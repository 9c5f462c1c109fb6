#include "plane_store.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

uint8_t* ecc_store_alloc(size_t bytes)
{
    // Committed pages read as zeros and are backed on first touch.
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void ecc_store_release(uint8_t* store, size_t)
{
    if (store != nullptr)
        VirtualFree(store, 0, MEM_RELEASE);
}
