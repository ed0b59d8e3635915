#include <algorithm>
#include <cstring>

#include "ais/ais_parser.h"

void AISParser::convertchars(unsigned char* p, int len) {
    for (int i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i] + 40);
        c = static_cast<unsigned char>(c > 128 ? c + 32 : c + 40);
        p[i] = c & 0x3F;
    }
}

void AISParser::convert628(const unsigned char* in, unsigned char* out, int len) {
    for (int i = 0; i < len; i += 4) {
        const unsigned a = in[i];
        const unsigned b = i + 1 < len ? in[i + 1] : 0;
        const unsigned c = i + 2 < len ? in[i + 2] : 0;
        const unsigned d = i + 3 < len ? in[i + 3] : 0;
        *out++ = static_cast<unsigned char>((a << 2) | (b >> 4));
        *out++ = static_cast<unsigned char>((b << 4) | (c >> 2));
        *out++ = static_cast<unsigned char>((c << 6) | d);
    }
}

void AISParser::convert6bit(const uint8_t* data, unsigned s, unsigned nbits, char* out) {
    const unsigned n = nbits / 6;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned v = convertUnsigned(data, s + 6 * i, 6);
        if (v == 0) continue;  // "@" is padding wherever it stands
        *out++ = static_cast<char>(v < 32 ? v + 64 : v);
    }
    *out = '\0';
}

void AISParser::Text(unsigned s, unsigned maxChars, char* out) const {
    const unsigned held = bitLength > s ? (bitLength - s) / 6 : 0;
    convert6bit(bits, s, 6 * std::min(maxChars, held), out);
}

uint16_t AISParser::Bytes(unsigned s, unsigned maxBytes, uint8_t* out) const {
    const unsigned held = bitLength > s ? (bitLength - s) / 8 : 0;
    const unsigned n = std::min(maxBytes, held);
    std::memcpy(out, bits + s / 8, n);
    out[n] = 0;
    return static_cast<uint16_t>(n);
}
