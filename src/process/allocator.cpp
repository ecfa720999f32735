// The C library's allocator set for the road's pattern of large buffers.
#include <cstdlib>  // defines __GLIBC__ on glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "kwsignal/process.h"

namespace kw {

// glibc maps every buffer above 128 KiB (one trace of 17,000 samples)
// afresh and unmaps it on release, and trims the top of the heap as eagerly.
// The road makes and drops such buffers hundreds of times per run, and the
// page faults cost it about a sixth of its time.
bool keepLargeBuffers() {
#if defined(__GLIBC__)
    return mallopt(M_MMAP_THRESHOLD, 64 << 20) == 1 && mallopt(M_TRIM_THRESHOLD, 256 << 20) == 1;
#else
    return false;
#endif
}

}  // namespace kw
