// Large pages for buffers of millions of samples.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

// Asks the kernel for large pages over the whole 2 MB pages of a buffer of
// millions of samples: filling it then costs a page fault per 2 MB
// instead of per 4 KB. Only a hint; nothing changes where it is refused.
inline void adviseLargePages(const void* data, size_t bytes) {
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kLarge - 1);
    if (data && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
