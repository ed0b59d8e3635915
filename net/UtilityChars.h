#pragma once
// Byte classes shared by the text helpers of Utility (ASCII only, whatever
// the locale).

namespace utilitychars {

// Hex digit value, or -1.
inline int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline bool isAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

}  // namespace utilitychars
