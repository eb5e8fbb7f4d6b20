#include <cstdlib>  // defines __GLIBC__ where it applies

#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tavren::platform {

#if defined(__GLIBC__)
namespace {

// Buffers of 128 KiB and more get pages of their own, given back when they
// are freed. glibc otherwise raises that bound to the largest such buffer
// freed so far, after which a large folder's listing and snapshot bytes
// come from the heap and leave it fragmented; the watcher's memory would
// then grow with every look at a large folder.
const bool g_largeBuffersApart = ::mallopt(M_MMAP_THRESHOLD, 128 * 1024) != 0;

}  // namespace
#endif

void ReturnFreeMemory() {
#if defined(__GLIBC__)
    (void)g_largeBuffersApart;
    ::malloc_trim(0);
#endif
}

}  // namespace tavren::platform
