// The variable-length parts: binary data (6, 8), safety text (12, 14),
// DGNSS data words (17) and the aid-to-navigation name extension (21).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ais/ais_parser.h"
#include "ais_builder.h"

namespace {

using ais_builder::BitWriter;

std::vector<uint8_t> someBytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 37 + 1);
    return v;
}

class VariableParts : public ::testing::Test {
protected:
    int decode(const BitWriter& w) {
        p.Clear();
        EXPECT_EQ(ais_builder::assembleAll(p, ais_builder::sentences(w)), 1);
        return p.Parse();
    }
    AISParser p;
};

TEST_F(VariableParts, BinaryDataOfTypes6And8) {
    struct Case { int type; unsigned header; size_t dataBits; uint16_t length; };
    const Case cases[] = {
        {6, 88, 0, 0},
        {6, 88, 12, 1},           // trailing bits that fill no byte are dropped
        {6, 88, 8 * 121, 121},
        {6, 88, 8 * 130, 121},    // at most 121 bytes
        {8, 56, 0, 0},
        {8, 56, 1008 - 56, 119},
        {8, 56, 8 * 200, 121},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.dataBits));
        const std::vector<uint8_t> data = someBytes((c.dataBits + 7) / 8);
        BitWriter w;
        w.u(static_cast<uint64_t>(c.type), 6).u(1, 2).u(211000000, 30).fill(c.header - 38, true);
        w.bytes(data).resize(c.header + c.dataBits);
        ASSERT_EQ(decode(w), c.type);
        const uint16_t length = c.type == 6 ? p.message6.dataLength : p.message8.dataLength;
        const uint8_t* got = c.type == 6 ? p.message6.data : p.message8.data;
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(std::vector<uint8_t>(got, got + length),
                  std::vector<uint8_t>(data.begin(), data.begin() + c.length));
        EXPECT_EQ(got[length], 0);
    }
}

TEST_F(VariableParts, SafetyTextOfTypes12And14) {
    struct Case { int type; unsigned textStart; std::string text; size_t bits; std::string expected; };
    const std::string longText(200, 'Z');
    const Case cases[] = {
        {12, 72, "", 0, ""},
        {12, 72, "A", 5, ""},                     // fewer than six text bits
        {12, 72, "A", 6, "A"},
        {12, 72, "@", 6, ""},                     // value 0 gives no character
        {12, 72, longText, 6 * 200, std::string(157, 'Z')},
        // kept: a 0 ("@") in the middle is dropped and the text closes up
        // (common decoders end the text there); trailing spaces stay.
        {14, 40, "HELLO@WORLD ", 6 * 12, "HELLOWORLD "},
        {14, 40, longText, 6 * 200, std::string(166, 'Z')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + ": " + c.expected);
        BitWriter w;
        w.u(static_cast<uint64_t>(c.type), 6).u(0, 2).u(244123456, 30).fill(c.textStart - 38, true);
        w.text(c.text, static_cast<unsigned>(c.text.size())).resize(c.textStart + c.bits);
        ASSERT_EQ(decode(w), c.type);
        EXPECT_EQ(std::string(c.type == 12 ? p.message12.text : p.message14.text), c.expected);
    }
}

TEST_F(VariableParts, DgnssWordsOfType17) {
    struct Case { unsigned wordCount; size_t wordsSent; size_t extraBits; uint16_t length; };
    const Case cases[] = {
        {0, 0, 0, 0},
        {3, 3, 0, 9},
        {29, 29, 0, 87},
        {31, 31, 0, 87},   // at most 29 words
        {5, 2, 10, 6},     // only the words the message holds
        {5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.wordCount) + " words, " + std::to_string(c.wordsSent) + " sent");
        const std::vector<uint8_t> data = someBytes(3 * c.wordsSent);
        BitWriter w;
        w.u(17, 6).u(0, 2).u(2734450, 30).u(0, 2).s(-1, 18).s(1, 17).u(0, 5)
            .u(9, 6).u(100, 10).u(1000, 13).u(2, 3).u(c.wordCount, 5).u(0, 3);
        w.bytes(data).fill(c.extraBits, true);
        ASSERT_EQ(decode(w), 17);
        EXPECT_EQ(p.message17.wordCount, c.wordCount);
        EXPECT_EQ(p.message17.dataLength, c.length);
        EXPECT_EQ(std::vector<uint8_t>(p.message17.data, p.message17.data + c.length),
                  std::vector<uint8_t>(data.begin(), data.begin() + c.length));
        EXPECT_EQ(p.message17.data[c.length], 0);
    }
}

TEST_F(VariableParts, NameExtensionOfType21) {
    struct Case { size_t bits; std::string extension; unsigned extensionBits; };
    const std::string ext = "ABCDEFGHIJKLMN";   // 14 characters, 84 bits
    const Case cases[] = {
        {272, "", 0},
        {280, "A", 0x3},                 // one character and two bits
        {356, ext, 0},
        {360, ext, 0xA},                 // 14 characters and four bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        BitWriter w;
        w.u(21, 6).u(0, 2).u(993672085, 30).fill(272 - 38, false);
        const size_t chars = (c.bits - 272) / 6;
        w.text(ext, static_cast<unsigned>(chars));
        const size_t tail = (c.bits - 272) % 6;
        w.u(c.extensionBits, static_cast<unsigned>(tail));
        ASSERT_EQ(w.size(), c.bits);
        ASSERT_EQ(decode(w), 21);
        EXPECT_STREQ(p.message21.nameExtension, c.extension.c_str());
        EXPECT_EQ(p.message21.extensionBits, c.extensionBits);
    }
}

}  // namespace
