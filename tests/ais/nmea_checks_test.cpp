#include "ais/nmea_checks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Appends "*hh" with the correct checksum of everything after index 0.
std::string withSum(const std::string& body) {
    unsigned char sum = 0;
    for (size_t i = 1; i < body.size(); ++i) sum ^= static_cast<unsigned char>(body[i]);
    char tail[4];
    snprintf(tail, sizeof tail, "*%02X", sum);
    return body + tail;
}

struct CrcCase {
    const char* name;
    std::string line;
    int expected;
};

TEST(CheckCrc, Table) {
    const std::string good = "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C";
    const CrcCase cases[] = {
        {"published sentence", good, kCrcValid},
        {"empty", "", kCrcTooShort},
        {"eight chars", "$A*BCDEF", kCrcTooShort},
        {"eight chars with star", "!ABCD*00", kCrcTooShort},
        {"nine chars no star", "$ABCDEFGH", kCrcNoField},
        {"nine chars valid", withSum("$ABCDE"), kCrcValid},
        {"mismatch", "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5D", kCrcMismatch},
        {"index 0 ignored", "*" + withSum("$GPGLL,1,2").substr(1), kCrcValid},
    };
    for (const auto& c : cases) EXPECT_EQ(checkCRC(c.line.c_str()), c.expected) << c.name;
}

TEST(CheckCrc, DigitsMustBeUpperCaseHex) {
    // A checksum digit outside 0-9/A-F never matches, not even as a 0.
    const std::string body = "$PAAAA";  // XORs to 0x50
    EXPECT_EQ(checkCRC((body + "*50").c_str()), kCrcValid);
    EXPECT_EQ(checkCRC((body + "*5G").c_str()), kCrcMismatch);
    EXPECT_EQ(checkCRC((body + "*5,").c_str()), kCrcMismatch);
    // "J" XORs to 0x4A: only the upper-case digits match.
    EXPECT_EQ(checkCRC("$JAAAA*4A"), kCrcValid);
    EXPECT_EQ(checkCRC("$JAAAA*4a"), kCrcMismatch);
}

TEST(CheckCrc, FirstStarDecides) {
    // The digits after the first "*" are compared; the "*" at n-3 only
    // satisfies the shape test.
    std::string first = withSum("$AB");  // "$AB*hh"
    std::string line = first + "xyz*00";
    EXPECT_EQ(checkCRC(line.c_str()), kCrcValid);
    line[first.size() - 1] ^= 1;  // spoil the first digits
    EXPECT_EQ(checkCRC(line.c_str()), kCrcMismatch);
}

TEST(CheckCrc, FirstStarAtEveryPosition) {
    // Wherever the first "*" falls within a word of the line, the sum stops
    // there and its digits decide.
    for (size_t len = 6; len < 30; ++len) {  // 9 characters and more
        std::string body = "$";
        for (size_t i = 1; i < len; ++i) body += static_cast<char>('A' + i % 26);
        const std::string first = withSum(body);
        EXPECT_EQ(checkCRC(first.c_str()), kCrcValid) << len;
        EXPECT_EQ(checkCRC((first + ",x*00").c_str()), kCrcValid) << len;
        std::string spoiled = first + ",x*00";
        spoiled[len - 1] ^= 1;
        EXPECT_EQ(checkCRC(spoiled.c_str()), kCrcMismatch) << len;
    }
}

TEST(CheckCrc, LongLineIsWalkedToTheStar) {
    std::string body = "$";
    for (int i = 0; i < 296; ++i) body += static_cast<char>('A' + i % 26);
    const std::string line = withSum(body);
    ASSERT_EQ(line.size(), 300u);
    EXPECT_EQ(checkCRC(line.c_str()), kCrcValid);
}

struct VdmCase {
    const char* line;
    bool expected;
};

TEST(CheckVdm, Table) {
    const VdmCase cases[] = {
        {"!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C", true},
        {"$BSVDM,2,1,3,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C", true},
        {"!AIVDO,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C", false},
        {"!AIVDM,11,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C", false},
        {"!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH*5C", false},
        {"!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,00*5C", false},
        {"!aivdm,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C", false},
        {"!AIVDM,1,1,,,0*00", false},           // 17 characters
        {"!AIVDM,1,1,,,,0*00", true},           // 18 characters, every position holds
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(checkVDM(c.line), c.expected) << c.line;
}

}  // namespace
