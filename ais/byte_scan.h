#pragma once
// Searches over the bytes of a line, eight bytes a step. A sentence is some
// eighty bytes and is looked at several times on its way through; a byte
// loop, or a memchr call per search, costs more than the work on the line.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace byte_scan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = kOnes * 0x80;
constexpr uint64_t kLow7 = kOnes * 0x7F;

// Eight bytes with the first of them lowest, whatever the machine: a
// borrow in the flag tests below then only runs towards later bytes.
inline uint64_t Load(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    return w;
}

// Flags (bit 7 of the byte) the bytes of w equal to c. Flags above the first
// true one may be false, so only the lowest flag may be used.
inline uint64_t FirstFlags(uint64_t w, char c) {
    const uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
    return (x - kOnes) & ~x & kHighs;
}

// Flags exactly the bytes of w equal to c.
inline uint64_t ExactFlags(uint64_t w, char c) {
    const uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// The index of the byte of the lowest flag.
inline size_t LowestByte(uint64_t flags) { return static_cast<size_t>(__builtin_ctzll(flags)) / 8; }

// The index of the first byte of [p, p + n) equal to any of `cs`, else n.
template <char... cs>
size_t FindFirstOf(const char* p, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t w = Load(p + i);
        const uint64_t flags = (FirstFlags(w, cs) | ...);
        if (flags) return i + LowestByte(flags);
    }
    for (; i < n; ++i)
        if (((p[i] == cs) || ...)) return i;
    return n;
}

// The index of the last byte of [p, p + n) equal to c, else n.
inline size_t FindLast(const char* p, size_t n, char c) {
    size_t end = n;
    for (; end >= 8; end -= 8) {
        const uint64_t flags = ExactFlags(Load(p + end - 8), c);
        if (flags) return end - 8 + static_cast<size_t>(63 - __builtin_clzll(flags)) / 8;
    }
    while (end > 0)
        if (p[--end] == c) return end;
    return n;
}

// The index of the first byte of [p, p + n) equal to c, else n; `sum` is
// the XOR of the bytes before it. One pass for both.
inline size_t XorUpTo(const char* p, size_t n, char c, unsigned char& sum) {
    uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t w = Load(p + i);
        if (FirstFlags(w, c)) break;
        wide ^= w;
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    sum = static_cast<unsigned char>(wide);
    for (; i < n && p[i] != c; ++i) sum ^= static_cast<unsigned char>(p[i]);
    return i;
}

}  // namespace byte_scan
