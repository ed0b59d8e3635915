#include "ais/ais_parser.h"

#include "ais/byte_scan.h"

#include <cstring>

namespace {

int16_t digitValue(char c) { return c >= '0' && c <= '9' ? static_cast<int16_t>(c - '0') : 0; }

}  // namespace

AISParser::AISParser() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        crcTable[i] = r;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = crcTable[i];
        for (int k = 0; k < 3; ++k) {
            r = (r << 8) ^ crcTable[r >> 24];
            crcSlices_[k][i] = r;
        }
    }
    std::memset(bits, 0, sizeof bits);
    bitLength = 0;
    Clear();
}

void AISParser::Clear() {
    // Every bit from bitLength on is zero already: clearing the bytes in use
    // empties the whole buffer without touching all 2000 bytes per message.
    std::memset(bits, 0, bitLength < kMaxBits ? (bitLength + 7) / 8 : sizeof bits);
    bitLength = 0;
    nextFragment_ = 0;
    pendingCount_ = 0;
}

void AISParser::Refuse() {
    // Drop the whole message: later fragments must not decode on their own.
    Clear();
}

int AISParser::Assemble(const char* sentence) { return Assemble(sentence, sentence ? std::strlen(sentence) : 0); }

int AISParser::Assemble(const char* sentence, size_t n) {
    if (n < 18) {  // shorter than any line checkVDM lets through
        Refuse();
        return 0;
    }
    fragmentCount = digitValue(sentence[7]);
    fragmentNumber = digitValue(sentence[9]);
    sequenceId = digitValue(sentence[11]);
    channel = fragmentCount == 1 ? sentence[12] : sentence[13];

    if (fragmentNumber == 1) {
        if (bitLength != 0) Clear();
        nextFragment_ = 1;
        pendingCount_ = fragmentCount;
    } else if (nextFragment_ == 0 || fragmentNumber != nextFragment_ ||
               fragmentCount != pendingCount_) {
        Refuse();
        return 0;
    }

    // ",payload,f*hh": the payload ends 6 characters before the end.
    const size_t last = n - 6;
    const char fillChar = sentence[n - 4];
    if (sentence[last] == ',' || fillChar < '0' || fillChar > '0' + kMaxFillBits) {
        Refuse();
        return 0;
    }
    // The payload starts after the last comma before it, and holds at most
    // kMaxPayloadChars characters.
    const size_t floor = last >= static_cast<size_t>(kMaxPayloadChars) ? last - kMaxPayloadChars : 0;
    const size_t comma = byte_scan::FindLast(sentence + floor, last - floor, ',');
    if (comma == last - floor) {
        Refuse();
        return 0;
    }
    const size_t start = floor + comma + 1;
    const int m = static_cast<int>(last - start + 1);
    const unsigned d = 6u * static_cast<unsigned>(m) - static_cast<unsigned>(fillChar - '0');
    if (bitLength + d > kMaxBits) {
        Refuse();
        return 0;
    }

    unsigned char sixBit[kMaxPayloadChars];
    unsigned char packed[kMaxPayloadChars / 4 * 3];
    std::memcpy(sixBit, sentence + start, static_cast<size_t>(m));
    convertchars(sixBit, m);
    convert628(sixBit, packed, m);

    // Copy d bits to bit offset bitLength; bits after the last one stay zero.
    const unsigned nbytes = (d + 7) / 8;
    if (d % 8) packed[nbytes - 1] &= static_cast<unsigned char>(0xFF << (8 - d % 8));
    uint8_t* dst = bits + bitLength / 8;
    const unsigned shift = bitLength % 8;
    if (shift == 0) {
        std::memcpy(dst, packed, nbytes);
    } else {
        const unsigned lastByte = (shift + d - 1) / 8;  // nbytes - 1 or nbytes
        dst[0] &= static_cast<uint8_t>(0xFF << (8 - shift));
        for (unsigned i = 0; i < nbytes; ++i) {
            dst[i] |= static_cast<uint8_t>(packed[i] >> shift);
            if (i + 1 <= lastByte) dst[i + 1] = static_cast<uint8_t>(packed[i] << (8 - shift));
        }
    }
    bitLength += d;

    if (fragmentNumber == fragmentCount) {
        nextFragment_ = 0;
        return 1;
    }
    nextFragment_ = static_cast<int16_t>(fragmentNumber + 1);
    return 0;
}

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

uint32_t AISParser::CRC32() const {
    const uint32_t n = (bitLength + 7) / 8;
    if (n < 4) return 0;
    uint32_t reg = ~bigEndian32(bits);
    uint32_t i = 4;
    // Four bytes at a time: the register times x^32, plus the four bytes;
    // the four look-ups don't wait for each other as the byte steps do.
    for (; i + 4 <= n; i += 4) {
        reg = bigEndian32(bits + i) ^ crcSlices_[2][reg >> 24] ^ crcSlices_[1][(reg >> 16) & 0xFF] ^
              crcSlices_[0][(reg >> 8) & 0xFF] ^ crcTable[reg & 0xFF];
    }
    for (; i < n; ++i) reg = ((reg << 8) | bits[i]) ^ crcTable[reg >> 24];
    return ~reg;
}
