// Six-bit de-armouring and packing, the bit field readers and the CRC-32.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "ais/ais_parser.h"

namespace {

TEST(Dearmour, MapsAlphabetAndOutsiders) {
    struct Case { unsigned char in; unsigned char out; };
    const Case cases[] = {
        {'0', 0}, {'9', 9}, {':', 10}, {'W', 39}, {'`', 40}, {'w', 63},
        {'X', 40},   // outside the alphabet: whatever the rule gives
        {0xFF, 15}, {0x00, 16},
    };
    for (const Case& c : cases) {
        unsigned char v = c.in;
        AISParser::convertchars(&v, 1);
        EXPECT_EQ(v, c.out) << "char " << int(c.in);
    }
}

TEST(Pack, FourValuesToThreeBytesAndPadsShortGroup) {
    const unsigned char in[] = {1, 2, 3, 4, 63};
    unsigned char out[6];
    std::memset(out, 0xAA, sizeof out);
    AISParser::convert628(in, out, 5);
    const unsigned char want[] = {0x04, 0x20, 0xC4, 0xFC, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(out, want, sizeof want));

    unsigned char untouched = 0xAA;
    AISParser::convert628(in, &untouched, 0);
    EXPECT_EQ(untouched, 0xAA);
}

TEST(FieldReaders, UnsignedAndSignedAtAnyOffset) {
    const uint8_t data[] = {0x80, 0x00, 0x00, 0x0F, 0xFF, 0xFF, 0xFF, 0xE1, 0x23, 0x45};
    struct Case { unsigned s, w; uint32_t u; int32_t sgn; };
    const Case cases[] = {
        {0, 1, 1, -1},
        {1, 1, 0, 0},
        {0, 28, 0x8000000, -134217728},   // only the top bit: -2^27
        {28, 28, 0xFFFFFFF, -1},          // all set
        {7, 32, 0x000007FF, 2047},        // 32 bits over five bytes
        {0, 32, 0x8000000F, INT32_MIN + 15},
        {56, 12, 0xE12, -494},
        {64, 16, 0x2345, 0x2345},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AISParser::convertUnsigned(data, c.s, c.w), c.u) << c.s << "/" << c.w;
        EXPECT_EQ(AISParser::convertSigned(data, c.s, c.w), c.sgn) << c.s << "/" << c.w;
    }
}

TEST(FieldReaders, SixBitTextDropsZeroKeepsSpaces) {
    // 1, 0, 2, 32 -> "A", dropped, "B", " "; then 31 -> "_" and 63 -> "?".
    uint8_t data[8] = {};
    const unsigned values[] = {1, 0, 2, 32, 31, 63};
    for (unsigned i = 0; i < 6; ++i)
        for (unsigned b = 0; b < 6; ++b)
            if (values[i] & (32 >> b)) data[(6 * i + b) / 8] |= uint8_t(0x80 >> ((6 * i + b) % 8));
    char out[16];
    AISParser::convert6bit(data, 0, 24, out);
    EXPECT_STREQ(out, "AB ");
    AISParser::convert6bit(data, 0, 36, out);
    EXPECT_STREQ(out, "AB _?");
    AISParser::convert6bit(data, 0, 29, out);  // four whole characters
    EXPECT_STREQ(out, "AB ");
    AISParser::convert6bit(data, 0, 5, out);
    EXPECT_STREQ(out, "");
}

class Crc : public ::testing::Test {
protected:
    void setBytes(std::initializer_list<uint8_t> bytes, uint32_t bitLength) {
        p.Clear();
        std::copy(bytes.begin(), bytes.end(), p.bits);
        p.bitLength = bitLength;
    }
    AISParser p;
};

TEST_F(Crc, TableIsTheUnreflectedPolynomial) {
    EXPECT_EQ(p.crcTable[0], 0u);
    EXPECT_EQ(p.crcTable[1], 0x04C11DB7u);
    EXPECT_EQ(p.crcTable[2], 0x09823B6Eu);
    EXPECT_EQ(p.crcTable[4], 0x130476DCu);
    for (unsigned i = 0; i < 256; ++i)  // a CRC table is linear
        for (unsigned j = 0; j < 256; ++j)
            ASSERT_EQ(p.crcTable[i ^ j], p.crcTable[i] ^ p.crcTable[j]) << i << "," << j;
}

TEST_F(Crc, HandComputedCases) {
    struct Case { std::initializer_list<uint8_t> bytes; uint32_t bitLength; uint32_t crc; };
    const Case cases[] = {
        {{0xDE, 0xAD, 0xBE, 0xEF}, 24, 0},               // 3 bytes or fewer: 0
        {{0xDE, 0xAD, 0xBE, 0x80}, 25, 0xDEADBE80u},     // 4 bytes: inverted twice
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x5A}, 40, 0xFFFFFFA5u},  // register 0, shifts in 0x5A
        {{0xFE, 0xFF, 0xFF, 0xFF, 0x00}, 33, 0xFB3EE248u},  // ~table[1]
        {{0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00}, 48, 0x2DE63E23u},
    };
    for (const Case& c : cases) {
        setBytes(c.bytes, c.bitLength);
        EXPECT_EQ(p.CRC32(), c.crc) << "bitLength " << c.bitLength;
    }
}

// The register form byte by byte, as the key is defined; CRC32 takes
// several bytes per step and must agree at every length and content.
TEST_F(Crc, AgreesWithTheByteByByteForm) {
    uint32_t seed = 12345;
    for (uint32_t bitLength = 0; bitLength <= AISParser::kMaxBits; ++bitLength) {
        p.Clear();
        for (uint32_t i = 0; i < (bitLength + 7) / 8; ++i) {
            seed = seed * 1103515245u + 12345u;
            p.bits[i] = static_cast<uint8_t>(seed >> 16);
        }
        p.bitLength = bitLength;
        const uint32_t n = (bitLength + 7) / 8;
        uint32_t want = 0;
        if (n >= 4) {
            uint32_t reg = ~((uint32_t{p.bits[0]} << 24) | (uint32_t{p.bits[1]} << 16) |
                             (uint32_t{p.bits[2]} << 8) | p.bits[3]);
            for (uint32_t i = 4; i < n; ++i) reg = ((reg << 8) | p.bits[i]) ^ p.crcTable[reg >> 24];
            want = ~reg;
        }
        ASSERT_EQ(p.CRC32(), want) << "bitLength " << bitLength;
    }
}

TEST_F(Crc, EveryOneBitChangeGivesAnotherKey) {
    const std::initializer_list<uint8_t> msg = {0x04, 0x77, 0x1A, 0x9C, 0x00, 0x42, 0x55, 0xF0,
                                                0x13, 0x37, 0xC0, 0xDE, 0x01, 0x02, 0x03, 0x04,
                                                0x05, 0x06, 0x07, 0x08, 0x09};
    setBytes(msg, 168);
    const uint32_t base = p.CRC32();
    EXPECT_EQ(p.CRC32(), base);  // changes nothing
    EXPECT_EQ(p.bitLength, 168u);
    std::set<uint32_t> keys{base};
    for (unsigned k = 0; k < 168; ++k) {
        setBytes(msg, 168);
        p.bits[k / 8] ^= uint8_t(0x80 >> (k % 8));
        keys.insert(p.CRC32());
    }
    EXPECT_EQ(keys.size(), 169u);
}

}  // namespace
