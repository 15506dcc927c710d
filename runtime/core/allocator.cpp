#include "runtime/core/allocator.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pennaro {

void keepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // Page-sized blocks from the heap rather than fresh mappings, and no trimming below 64 MiB.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}

} // namespace pennaro
