#pragma once
// Storage of large, randomly accessed tables: 2 MiB aligned and marked for
// huge pages, so that a look-up among hundreds of thousands of entries costs
// a cache miss but no page-table walk as well. Small blocks come from malloc.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

constexpr size_t kHugePage = size_t(2) << 20;

// A block of at least `bytes`, huge-page backed when it is that large; never null.
inline void* AllocateLarge(size_t bytes) {
    void* p = nullptr;
    if (bytes >= kHugePage) {
        bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        p = std::aligned_alloc(kHugePage, bytes);
        if (p) madvise(p, bytes, MADV_HUGEPAGE);
    } else {
        p = std::malloc(bytes ? bytes : 1);
    }
    if (!p) throw std::bad_alloc();
    return p;
}

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T* p, size_t) { std::free(p); }
    bool operator==(const HugePageAllocator&) const { return true; }
    bool operator!=(const HugePageAllocator&) const { return false; }
};
