// Numbers as text and back, ASCII case, and the random number generator.

#include "net/Utility.h"

#include <cstdio>

#include "net/UtilityChars.h"

using utilitychars::asciiLower;

namespace {
std::string decimal(unsigned long v) {
    char buf[24];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return std::string(p, buf + sizeof buf);
}
}  // namespace

std::string Utility::l2string(long n) {
    char buf[100];
    snprintf(buf, sizeof buf, "%ld", n);
    return buf;
}

uint64_t Utility::atoi64(const std::string& s) {
    uint64_t v = 0;
    for (unsigned char c : s) {
        // Wide enough for any step; clamping keeps a long or odd text from
        // wrapping into a plausible small value.
        __int128 next = static_cast<__int128>(v) * 10 + (static_cast<int>(c) - 48);
        if (next < 0) next = 0;
        if (next > static_cast<__int128>(UINT64_MAX)) next = UINT64_MAX;
        v = static_cast<uint64_t>(next);
    }
    return v;
}

unsigned int Utility::hex2unsigned(const std::string& s) {
    unsigned int v = 0;
    for (unsigned char c : s) {
        int digit = c < 'A' ? c - 48 : c < 'a' ? c - 55 : c - 87;
        v = v * 16 + static_cast<unsigned int>(digit);
    }
    return v;
}

std::string Utility::bigint2string(long v) {
    // Negated in unsigned arithmetic, so LONG_MIN has a magnitude too.
    if (v < 0) return "-" + decimal(0ul - static_cast<unsigned long>(v));
    return decimal(static_cast<unsigned long>(v));
}

std::string Utility::bigint2string(unsigned long v) { return decimal(v); }

std::string Utility::ToLower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return out;
}

std::string Utility::ToUpper(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string Utility::ToString(double d) {
    char buf[100];
    snprintf(buf, sizeof buf, "%f", d);
    return buf;
}

bool Utility::ncmap_compare::operator()(const std::string& a, const std::string& b) const {
    // Not strcasecmp: that would stop at an embedded NUL and merge keys.
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = asciiLower(static_cast<unsigned char>(a[i]));
        const unsigned char y = asciiLower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

uint64_t Utility::Rnd() {
    static Rng generator(static_cast<uint64_t>(time(nullptr)));
    return generator.Get();
}

Utility::Rng::Rng(uint64_t seed) {
    m_state[0] = seed & 0xFFFFFFFFu;
    for (int i = 1; i < kSize; ++i)
        m_state[i] = 1812433253u * (m_state[i - 1] ^ (m_state[i - 1] >> 30)) + static_cast<uint64_t>(i);
}

uint64_t Utility::Rng::Get() {
    const uint64_t word = m_state[m_index++];
    if (m_index == kSize) {
        Regenerate();
        m_index = 0;
    }
    return word;
}

void Utility::Rng::Regenerate() {
    for (int i = 0; i < kSize; ++i) {
        const uint64_t y = (m_state[i] & 0x80000000u) | (m_state[(i + 1) % kSize] & 0x7FFFFFFFu);
        m_state[i] = m_state[(i + 397) % kSize] ^ (y >> 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
}
