#pragma once
// Starts loading the cache line at `p`. __builtin_prefetch alone lets GCC
// take a function that only prefetches for a pure one and drop every call
// to it; the empty volatile asm keeps the call.

inline void PrefetchLine(const void* p, bool forWrite = false) {
    if (forWrite) {
        __builtin_prefetch(p, 1);
    } else {
        __builtin_prefetch(p, 0);
    }
    asm volatile("" : : "r"(p));
}
