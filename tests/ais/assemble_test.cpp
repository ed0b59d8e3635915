// Gathering the payload bits of one message from its sentences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ais/ais_parser.h"
#include "ais/nmea_checks.h"
#include "ais_builder.h"

namespace {

using ais_builder::BitWriter;
using ais_builder::sentence;

// A bit pattern with no regularity that an off-by-one shift would keep.
BitWriter pattern(size_t n) {
    BitWriter w;
    uint32_t x = 0x12345678;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        w.u((x >> 16) & 1, 1);
    }
    return w;
}

class Assemble : public ::testing::Test {
protected:
    // The whole buffer must equal the expected bits followed by zeros.
    void expectBits(const BitWriter& w) {
        ASSERT_EQ(p.bitLength, w.size());
        std::vector<uint8_t> want = w.packed();
        want.resize(AISParser::kBufferBytes, 0);
        EXPECT_EQ(std::vector<uint8_t>(p.bits, p.bits + AISParser::kBufferBytes), want);
    }
    void expectEmpty() { expectBits(BitWriter()); }

    AISParser p;
};

TEST_F(Assemble, OneSentenceMessage) {
    const BitWriter w = pattern(168);
    const auto lines = ais_builder::sentences(w, 60, 'B');
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(p.Assemble(lines[0].c_str()), 1);
    expectBits(w);
    EXPECT_EQ(p.fragmentCount, 1);
    EXPECT_EQ(p.fragmentNumber, 1);
    EXPECT_EQ(p.sequenceId, 0);   // empty field
    EXPECT_EQ(p.channel, 'B');
    EXPECT_EQ(p.GetMessageLength(), 168u);
}

TEST_F(Assemble, FragmentsJoinAtAnyBitOffset) {
    // Bit counts per fragment; a count that is no multiple of 6 carries fill
    // bits inside the message, so the next fragment starts mid-character.
    const std::vector<std::vector<size_t>> splits = {
        {366, 70},             // 61 chars, then 12 chars with fill 2
        {360, 76},
        {7, 429},              // first fragment of 2 chars with fill 5
        {100, 100, 100, 136},
        {1, 1, 1, 1, 1, 1, 1, 429},
    };
    const BitWriter w = pattern(436);
    for (const auto& split : splits) {
        SCOPED_TRACE(split.size());
        p.Clear();
        const auto lines = ais_builder::sentencesByBits(w, split, 'B', "7");
        for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(p.Assemble(lines[i].c_str()), 0);
        EXPECT_EQ(p.Assemble(lines.back().c_str()), 1);
        expectBits(w);
        EXPECT_EQ(p.sequenceId, 7);
        EXPECT_EQ(p.channel, 'B');  // after the sequence identifier
        EXPECT_EQ(p.fragmentNumber, static_cast<int16_t>(lines.size()));
    }
}

TEST_F(Assemble, FillBitsUpToFive) {
    // "w" is six one bits; fill f keeps 6 - f of them. Above 5 is refused.
    for (int f = 0; f <= 9; ++f) {
        SCOPED_TRACE(f);
        p.Clear();
        const std::string line = sentence(1, 1, "", 'A', "w", f);
        ASSERT_TRUE(checkVDM(line.c_str()));
        if (f <= AISParser::kMaxFillBits) {
            EXPECT_EQ(p.Assemble(line.c_str()), 1);
            BitWriter w;
            w.fill(6 - f, true);
            expectBits(w);
        } else {
            EXPECT_EQ(p.Assemble(line.c_str()), 0);
            expectEmpty();
        }
    }
}

TEST_F(Assemble, BufferAndPayloadLimits) {
    const std::string full(2000, 'w');  // 12,000 bits
    struct Case { std::vector<std::string> lines; int result; uint32_t bitLength; };
    const Case cases[] = {
        {{sentence(1, 1, "", 'A', full, 0)}, 1, 12000},
        {{sentence(1, 1, "", 'A', full + "w", 0)}, 0, 0},  // 2001 characters
        {{sentence(2, 1, "3", 'A', full, 0), sentence(2, 2, "3", 'A', std::string(667, 'w'), 2)},
         1, 16000},                                         // exactly full
        {{sentence(2, 1, "3", 'A', full, 0), sentence(2, 2, "3", 'A', std::string(667, 'w'), 1)},
         0, 0},                                             // one bit too many
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bitLength);
        p.Clear();
        EXPECT_EQ(ais_builder::assembleAll(p, c.lines), c.result);
        EXPECT_EQ(p.bitLength, c.bitLength);
    }
}

// Any refusal drops the whole message: the later fragments are refused too,
// and no bit of it stays in the buffer.
TEST_F(Assemble, RefusedFragmentFailsWholeMessage) {
    const std::string good = "177KQJ5000G?tO`K>RA1wUbN0TKH";
    struct Case { const char* what; std::string payload; int fill; };
    const Case bad[] = {
        {"empty payload", "", 0},
        {"fill above 5", "w", 6},
        {"more fill than bits", "w", 7},
        {"payload of 2001 characters", std::string(2001, '0'), 0},
    };
    for (int badFragment = 1; badFragment <= 2; ++badFragment) {
        for (const Case& c : bad) {
            SCOPED_TRACE(std::string(c.what) + " in fragment " + std::to_string(badFragment));
            p.Clear();
            for (int n = 1; n <= 3; ++n) {
                const std::string line = n == badFragment
                    ? sentence(3, n, "7", 'A', c.payload, c.fill)
                    : sentence(3, n, "7", 'A', good, 0);
                const int r = p.Assemble(line.c_str());
                if (n < badFragment) {
                    EXPECT_EQ(r, 0);
                    EXPECT_GT(p.bitLength, 0u);
                } else {
                    EXPECT_EQ(r, 0) << "fragment " << n;  // also the last one
                    expectEmpty();
                }
            }
        }
    }
    // The example of the fault: an empty fragment 1, then a valid fragment 2.
    p.Clear();
    EXPECT_EQ(p.Assemble("!AIVDM,2,1,7,A,,0*12"), 0);
    EXPECT_EQ(p.Assemble(sentence(2, 2, "7", 'A', good, 0).c_str()), 0);
    expectEmpty();
    // A fragment 1 starts afresh after a refusal.
    EXPECT_EQ(p.Assemble(sentence(1, 1, "", 'A', good, 0).c_str()), 1);
    EXPECT_EQ(p.bitLength, 168u);
}

TEST_F(Assemble, FragmentsOutOfOrderAreRefused) {
    const std::string a = "177KQJ5000G?tO`K>RA1wUbN0TKH";
    struct Case { const char* what; std::vector<std::string> lines; };
    const Case cases[] = {
        {"2 without 1", {sentence(2, 2, "1", 'A', a, 0)}},
        {"1 of 3, then 3", {sentence(3, 1, "1", 'A', a, 0), sentence(3, 3, "1", 'A', a, 0)}},
        {"1 of 2, then 2 of 3", {sentence(2, 1, "1", 'A', a, 0), sentence(3, 2, "1", 'A', a, 0)}},
        {"2 after a complete message", {sentence(1, 1, "", 'A', a, 0), sentence(2, 2, "1", 'A', a, 0)}},
        {"fragment 0", {sentence(0, 0, "", 'A', a, 0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        p.Clear();
        EXPECT_EQ(ais_builder::assembleAll(p, c.lines), 0);
        expectEmpty();
    }
}

TEST_F(Assemble, FragmentOneStartsANewMessage) {
    const BitWriter first = pattern(600), second = pattern(168);
    const auto longMsg = ais_builder::sentences(first, 60);
    ASSERT_EQ(longMsg.size(), 2u);
    EXPECT_EQ(p.Assemble(longMsg[0].c_str()), 0);          // 360 bits pending
    const auto lines = ais_builder::sentences(second, 60);
    EXPECT_EQ(p.Assemble(lines[0].c_str()), 1);            // no Clear in between
    expectBits(second);                                    // nothing stale after bit 168
}

TEST_F(Assemble, OddLinesThatPassTheShapeCheck) {
    std::string longLine = "!AIVDM,1,1,,A," + std::string(100000, 'w') + ",0*00";
    std::string noComma = "!AIVDM,1,1," + std::string(3000, 'w') + ",0*00";
    noComma[10] = 'w';  // fails checkVDM, but Assemble must still stay in bounds
    struct Case { std::string line; int result; uint32_t bitLength; };
    const Case cases[] = {
        {"!AIVDM,1,1,ww,0*00", 1, 12},                     // shortest shape: payload at index 11
        {"$XXVDM,1,1,,A,w,0*00", 1, 6},                    // any start character and talker
        {"!AIVDM,1,1,,A,\x01\x7f\xff~,0*00", 1, 24},       // bytes outside the alphabet
        {"!AIVDM,1,1,,A,a,b,c,www,3*00", 1, 15},           // payload after the last comma
        {longLine, 0, 0},
        {noComma, 0, 0},
        {"!AIVDM,1,1,,A,w,", 0, 0},                        // too short for the shape
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        p.Clear();
        EXPECT_EQ(p.Assemble(c.line.c_str()), c.result);
        EXPECT_EQ(p.bitLength, c.bitLength);
    }
}

TEST_F(Assemble, PayloadOfEveryLengthAfterCommasAnywhere) {
    // The payload is what follows the last comma, wherever that falls.
    for (size_t m = 1; m <= 24; ++m) {
        for (const std::string& head : {std::string("!AIVDM,1,1,,A,"), std::string("!AIVDM,1,1,,A,,,x,")}) {
            const std::string line = head + std::string(m, 'w') + ",0*00";
            SCOPED_TRACE(line);
            p.Clear();
            EXPECT_EQ(p.Assemble(line.c_str()), 1);
            EXPECT_EQ(p.bitLength, 6 * m);
        }
    }
}

TEST_F(Assemble, ClearEmptiesBitsButKeepsRecords) {
    const std::string line = "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C";
    ASSERT_EQ(p.Assemble(line.c_str()), 1);
    ASSERT_EQ(p.Parse(), 1);
    p.Clear();
    expectEmpty();
    EXPECT_EQ(p.messageType, 1);
    EXPECT_EQ(p.mmsi, 477553000u);
    EXPECT_EQ(p.message123.mmsi, 477553000u);
    EXPECT_EQ(p.channel, 'B');
}

}  // namespace
