#pragma once
// Storage of large, randomly accessed tables: 2 MiB aligned and marked for
// huge pages, so that a look-up among hundreds of thousands of entries costs
// a cache miss but no page-table walk as well. Large blocks are mapped and
// unmapped directly, so a table that shrinks gives its memory back to the
// system at once (malloc would keep it in its heap). Small blocks come from
// malloc.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

constexpr size_t kHugePage = size_t(2) << 20;

// A block of at least `bytes`, huge-page backed when it is that large; never
// null. Release it with ReleaseLarge and the same `bytes`.
inline void* AllocateLarge(size_t bytes) {
    if (bytes < kHugePage) {
        void* p = std::malloc(bytes ? bytes : 1);
        if (!p) throw std::bad_alloc();
        return p;
    }
    bytes = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    // Map one huge page more than asked and trim both ends to the alignment.
    void* raw = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const size_t tail = kHugePage - (aligned - start);
    if (tail) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    void* p = reinterpret_cast<void*>(aligned);
    madvise(p, bytes, MADV_HUGEPAGE);
    return p;
}

inline void ReleaseLarge(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < kHugePage) {
        std::free(p);
        return;
    }
    munmap(p, (bytes + kHugePage - 1) & ~(kHugePage - 1));
}

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T* p, size_t n) { ReleaseLarge(p, n * sizeof(T)); }
    bool operator==(const HugePageAllocator&) const { return true; }
    bool operator!=(const HugePageAllocator&) const { return false; }
};
