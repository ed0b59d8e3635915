#pragma once
// Little-endian field codec: every multi-byte ZIP field goes through it, so
// archives are the same on every host.

namespace ZipLib {
class CBytesWriter {
public:
    // dst = 0, then its low count bytes from src, least significant first.
    static void ReadBytes(unsigned short& dst, const char* src, int count = 2) {
        dst = 0;
        for (int i = count - 1; i >= 0; --i) dst = (unsigned short)((dst << 8) | (unsigned char)src[i]);
    }
    static void ReadBytes(unsigned int& dst, const char* src, int count = 4) {
        dst = 0;
        for (int i = count - 1; i >= 0; --i) dst = (dst << 8) | (unsigned char)src[i];
    }
    static void WriteBytes(char* dst, unsigned short value) {
        dst[0] = char(value & 0xFF);
        dst[1] = char(value >> 8);
    }
    static void WriteBytes(char* dst, unsigned int value, int count = 4) {
        for (int i = 0; i < count; ++i) {
            dst[i] = char(value & 0xFF);
            value >>= 8;
        }
    }
    static unsigned int WriteSafeU32(unsigned long long value) { return (unsigned int)value; }
    static unsigned short WriteSafeU16(unsigned long long value) { return (unsigned short)value; }
};
}  // namespace ZipLib
