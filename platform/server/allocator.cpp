#include "allocator.h"

#include <malloc.h>

namespace server {

void tuneAllocator()
{
    // An explicit threshold also stops glibc from moving it on its own.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    mallopt(M_ARENA_MAX, 8);
}

void giveBackFreedMemory()
{
    malloc_trim(0);
}

} // namespace server
