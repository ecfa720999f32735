// The C library's allocator set for the road's pattern of large buffers.
#include <cstdlib>  // defines __GLIBC__ on glibc
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#endif

#include "kwsignal/process.h"

namespace kw {

namespace {

#if defined(__GLIBC__)
constexpr std::uintptr_t kHugePage = 2 << 20;

// A capillary's buffers take a few MiB, and each page of them is faulted in
// by the kernel when it is first written: on a virtual machine a fault costs
// microseconds, and a process that handles one run of a 3730 spends about
// a third of its time on its 1,300 faults. The heap is grown in steps of
// kHeapStep, and its whole 2 MiB pages are offered to the kernel for huge
// pages (where it gives them only on request; elsewhere the advice changes
// nothing): a handful of faults instead of a thousand.
constexpr std::size_t kHeapStep = 32 << 20;

void growHeapOnHugePages() {
    if (mallopt(M_TOP_PAD, static_cast<int>(kHeapStep)) != 1) return;
    // A block from the heap makes it reach kHeapStep beyond the block; the
    // block, freed, stays with the heap (the trim threshold is higher).
    void* block = std::malloc(1 << 20);
    if (block == nullptr) return;
    const auto from = reinterpret_cast<std::uintptr_t>(block);
    const auto to = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(block);
    const std::uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1),
                         last = to & ~(kHugePage - 1);
    // Only a block just below the top of the heap it grew is advised: an
    // allocator of another kind (a sanitizer's, a preloaded one) hands out
    // blocks elsewhere, and other mappings are not this one's to advise.
    if (to == static_cast<std::uintptr_t>(-1) || to < from || to - from > 2 * kHeapStep) return;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
#endif

}  // namespace

// glibc maps every buffer above 128 KiB (one trace of 17,000 samples)
// afresh and unmaps it on release, and trims the top of the heap as eagerly.
// The road makes and drops such buffers hundreds of times per run, and the
// page faults cost it about a sixth of its time.
bool keepLargeBuffers() {
#if defined(__GLIBC__)
    const bool kept =
        mallopt(M_MMAP_THRESHOLD, 64 << 20) == 1 && mallopt(M_TRIM_THRESHOLD, 256 << 20) == 1;
    if (kept) growHeapOnHugePages();
    return kept;
#else
    return false;
#endif
}

}  // namespace kw
