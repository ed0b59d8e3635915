// Decoding of every message type from messages built field by field after
// the ITU-R M.1371 tables, and of published real sentences.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ais/ais_parser.h"
#include "ais_builder.h"

namespace {

using ais_builder::BitWriter;

// One field of a message layout: where it stands, what is written, and how
// the decoded value is read back from the parser.
struct Field {
    const char* name;
    unsigned first;
    unsigned width;     // bits; a text field has 6 per character
    int64_t raw;        // written as `width` bits (two's complement if negative)
    int64_t expected;   // the stored value
    const char* text;   // non-null: a text field of width / 6 characters
    std::function<int64_t(const AISParser&)> num;
    std::function<std::string(const AISParser&)> str;
};

#define NUMX(rec, f, first, width, raw, expected)                                        \
    Field{#f, first, width, raw, expected, nullptr,                                      \
          [](const AISParser& p) { return static_cast<int64_t>((p.rec).f); }, nullptr}
#define NUM(rec, f, first, width, value) NUMX(rec, f, first, width, value, value)
// The same for the record that the template parameter R points to.
#define NUMR(f, first, width, value)                                                     \
    Field{#f, first, width, value, value, nullptr,                                       \
          [](const AISParser& p) { return static_cast<int64_t>((p.*R).f); }, nullptr}
#define TXT(rec, f, first, chars, value)                                                 \
    Field{#f, first, 6 * (chars), 0, 0, value, nullptr,                                  \
          [](const AISParser& p) { return std::string((p.rec).f); }}

struct TypeCase {
    int type;
    unsigned minBits;     // shortest form the decoder takes
    unsigned fullBits;    // length of the built message
    std::vector<Field> fields;
};

// Text as the decoder gives it: "@" dropped, at most the whole characters
// that `bits` bits hold.
std::string expectedText(const std::string& t, unsigned bits) {
    std::string out;
    for (size_t i = 0; i < t.size() && 6 * (i + 1) <= bits; ++i)
        if (t[i] != '@') out += t[i];
    return out;
}

// Type in bits 0-5, then the fields in order; bits the table does not list
// are ones, so that a decoder reading the wrong bits shows it.
BitWriter build(const TypeCase& c, int64_t mmsiOverride = -1) {
    BitWriter w;
    w.u(static_cast<uint64_t>(c.type), 6);
    for (const Field& f : c.fields) {
        EXPECT_LE(w.size(), f.first) << f.name << ": fields overlap";
        w.fill(f.first - w.size(), true);
        if (f.text) {
            w.text(f.text, f.width / 6);
        } else if (mmsiOverride >= 0 && f.first == 8 && f.width == 30) {
            w.u(static_cast<uint64_t>(mmsiOverride), 30);
        } else {
            w.s(f.raw, f.width);
        }
    }
    w.fill(c.fullBits - w.size(), true);
    return w;
}

int decode(AISParser& p, const BitWriter& w) {
    p.Clear();
    EXPECT_EQ(ais_builder::assembleAll(p, ais_builder::sentences(w)), 1);
    EXPECT_EQ(p.bitLength, w.size());
    return p.Parse();
}

// Checks every field against a message of `bits` bits: fields the message
// does not wholly hold must read 0 (texts: the characters it holds).
void expectFields(const AISParser& p, const TypeCase& c, unsigned bits) {
    for (const Field& f : c.fields) {
        if (f.text) {
            const unsigned held = bits > f.first ? bits - f.first : 0;
            EXPECT_EQ(f.str(p), expectedText(f.text, std::min(held, f.width))) << f.name;
        } else {
            EXPECT_EQ(f.num(p), f.first + f.width <= bits ? f.expected : 0) << f.name;
        }
    }
}

// Types 4 and 11 share one layout, as do 7 and 13.
template <int Type, TMessage4 AISParser::*R>
TypeCase baseStation() {
    return {Type, 168, 168, {
        NUMR(repeat, 6, 2, 1),
        NUMR(mmsi, 8, 30, 3669702),
        NUMR(year, 38, 14, 2007),
        NUMR(month, 52, 4, 5),
        NUMR(day, 56, 5, 14),
        NUMR(hour, 61, 5, 19),
        NUMR(minute, 66, 6, 57),
        NUMR(second, 72, 6, 39),
        NUMR(accuracy, 78, 1, 1),
        NUMR(lon, 79, 28, -45811417),
        NUMR(lat, 107, 27, -22130260),
        NUMR(epfd, 134, 4, 7),
        NUMR(spare, 138, 10, 0x2AA),
        NUMR(raim, 148, 1, 1),
        NUMR(syncState, 149, 2, 2),
        NUMR(slotTimeout, 151, 3, 4),
        NUMR(subMessage, 154, 14, 1503),
    }};
}

// The shortest form holds one destination (72 bits), the longest four.
template <int Type, TMessage7 AISParser::*R>
TypeCase acknowledge() {
    return {Type, 72, 168, {
        NUMR(repeat, 6, 2, 2),
        NUMR(mmsi, 8, 30, 2655651),
        NUMR(spare, 38, 2, 3),
        NUMR(destMmsi1, 40, 30, 265538450),
        NUMR(sequence1, 70, 2, 1),
        NUMR(destMmsi2, 72, 30, 0x3FFFFFFF),
        NUMR(sequence2, 102, 2, 2),
        NUMR(destMmsi3, 104, 30, 1),
        NUMR(sequence3, 134, 2, 3),
        NUMR(destMmsi4, 136, 30, 777777777),
        NUMR(sequence4, 166, 2, 1),
    }};
}

const std::vector<TypeCase>& typeCases() {
    static const std::vector<TypeCase> cases = [] {
        std::vector<TypeCase> v;
        for (int t : {1, 2, 3}) {
            v.push_back({t, 143, 168, {
                NUM(message123, repeat, 6, 2, 3),
                NUM(message123, mmsi, 8, 30, 477553000),
                NUM(message123, navStatus, 38, 4, 15),
                NUM(message123, rot, 42, 8, -5),
                NUM(message123, sog, 50, 10, 1022),
                NUM(message123, accuracy, 60, 1, 1),
                NUM(message123, lon, 61, 28, -73407500),
                NUM(message123, lat, 89, 27, 28549700),
                NUM(message123, cog, 116, 12, 3599),
                NUM(message123, heading, 128, 9, 511),
                NUM(message123, second, 137, 6, 60),
            }});
        }
        v.push_back(baseStation<4, &AISParser::message4>());
        v.push_back(baseStation<11, &AISParser::message11>());
        v.push_back({5, 420, 424, {
            NUM(message5, repeat, 6, 2, 0),
            NUM(message5, mmsi, 8, 30, 351759000),
            NUM(message5, aisVersion, 38, 2, 2),
            NUM(message5, imo, 40, 30, 9134270),
            TXT(message5, callsign, 70, 7, "3FOF8"),
            TXT(message5, name, 112, 20, "EVER DIADEM  "),  // kept: trailing spaces stay
            NUM(message5, shipType, 232, 8, 70),
            NUM(message5, toBow, 240, 9, 511),
            NUM(message5, toStern, 249, 9, 70),
            NUM(message5, toPort, 258, 6, 63),
            NUM(message5, toStarboard, 264, 6, 31),
            NUM(message5, epfd, 270, 4, 15),
            NUM(message5, eta, 274, 20, (5 << 16) | (15 << 11) | (14 << 6) | 30),
            NUM(message5, draught, 294, 8, 255),
            TXT(message5, destination, 302, 20, "NEW YORK@@@@@@@@@@@X"),
            NUM(message5, dte, 422, 1, 1),
            NUM(message5, spare, 423, 1, 1),
        }});
        v.push_back({6, 88, 88, {
            NUM(message6, repeat, 6, 2, 1),
            NUM(message6, mmsi, 8, 30, 123456789),
            NUM(message6, sequence, 38, 2, 3),
            NUM(message6, destMmsi, 40, 30, 987654321),
            NUM(message6, retransmit, 70, 1, 1),
            NUM(message6, spare, 71, 1, 1),
            NUM(message6, appId, 72, 16, (235 << 6) | 10),  // DAC 235, FI 10 as one value
            NUMX(message6, dataLength, 88, 0, 0, 0),
        }});
        v.push_back(acknowledge<7, &AISParser::message7>());
        v.push_back(acknowledge<13, &AISParser::message13>());
        v.push_back({8, 56, 56, {
            NUM(message8, repeat, 6, 2, 3),
            NUM(message8, mmsi, 8, 30, 3160048),
            NUM(message8, spare, 38, 2, 2),
            NUM(message8, appId, 40, 16, (1 << 6) | 31),
            NUMX(message8, dataLength, 56, 0, 0, 0),
        }});
        v.push_back({9, 149, 168, {
            NUM(message9, repeat, 6, 2, 0),
            NUM(message9, mmsi, 8, 30, 111232511),
            NUM(message9, altitude, 38, 12, 4095),
            NUM(message9, sog, 50, 10, 1023),
            NUM(message9, accuracy, 60, 1, 1),
            NUM(message9, lon, 61, 28, -3767306),
            NUM(message9, lat, 89, 27, -54000000),
            NUM(message9, cog, 116, 12, 1545),
            NUM(message9, second, 128, 6, 15),
            NUM(message9, regional, 134, 8, 0xA5),
            NUM(message9, dte, 142, 1, 1),
            NUM(message9, spare, 143, 3, 5),
            NUM(message9, assigned, 146, 1, 1),
            NUM(message9, raim, 147, 1, 0),
            NUM(message9, commSelector, 148, 1, 1),
        }});
        v.push_back({10, 72, 72, {
            NUM(message10, repeat, 6, 2, 1),
            NUM(message10, mmsi, 8, 30, 366814480),
            NUM(message10, spare, 38, 2, 2),
            NUM(message10, destMmsi, 40, 30, 366832740),
            NUM(message10, spare2, 70, 2, 3),
        }});
        v.push_back({12, 72, 72, {
            NUM(message12, repeat, 6, 2, 2),
            NUM(message12, mmsi, 8, 30, 351853000),
            NUM(message12, sequence, 38, 2, 1),
            NUM(message12, destMmsi, 40, 30, 316123456),
            NUM(message12, retransmit, 70, 1, 1),
            NUM(message12, spare, 71, 1, 0),
        }});
        v.push_back({14, 40, 40, {
            NUM(message14, repeat, 6, 2, 3),
            NUM(message14, mmsi, 8, 30, 351809000),
            NUM(message14, spare, 38, 2, 1),
        }});
        v.push_back({15, 88, 160, {
            NUM(message15, repeat, 6, 2, 1),
            NUM(message15, mmsi, 8, 30, 3669720),
            NUM(message15, spare, 38, 2, 2),
            NUM(message15, destMmsi1, 40, 30, 367014320),
            NUM(message15, msgType1_1, 70, 6, 3),
            NUM(message15, slotOffset1_1, 76, 12, 4095),
            NUM(message15, spare2, 88, 2, 1),
            NUM(message15, msgType1_2, 90, 6, 5),
            NUM(message15, slotOffset1_2, 96, 12, 2049),
            NUM(message15, spare3, 108, 2, 2),
            NUM(message15, destMmsi2, 110, 30, 211234560),
            NUM(message15, msgType2_1, 140, 6, 24),
            NUM(message15, slotOffset2_1, 146, 12, 1),
            NUM(message15, spare4, 158, 2, 3),
        }});
        v.push_back({17, 80, 120, {
            NUM(message17, repeat, 6, 2, 1),
            NUM(message17, mmsi, 8, 30, 2734450),
            NUM(message17, spare, 38, 2, 3),
            NUM(message17, lon, 40, 18, -131072),   // 1/10 minute
            NUM(message17, lat, 58, 17, 35547),
            NUM(message17, spare2, 75, 5, 21),
            NUM(message17, dgnssType, 80, 6, 9),
            NUM(message17, stationId, 86, 10, 1023),
            NUM(message17, zCount, 96, 13, 8191),
            NUM(message17, sequence, 109, 3, 5),
            NUMX(message17, wordCount, 112, 5, 0, 0),
            NUM(message17, health, 117, 3, 6),
            NUMX(message17, dataLength, 120, 0, 0, 0),
        }});
        v.push_back({18, 149, 168, {
            NUM(message18, repeat, 6, 2, 0),
            NUM(message18, mmsi, 8, 30, 338087471),
            NUM(message18, reserved, 38, 8, 0xC3),
            NUM(message18, sog, 46, 10, 1),
            NUM(message18, accuracy, 56, 1, 0),
            NUM(message18, lon, 57, 28, -44443279),
            NUM(message18, lat, 85, 27, 24410724),
            NUM(message18, cog, 112, 12, 796),
            NUM(message18, heading, 124, 9, 359),
            NUM(message18, second, 133, 6, 49),
            NUM(message18, regional, 139, 2, 2),
            NUM(message18, csUnit, 141, 1, 1),
            NUM(message18, display, 142, 1, 0),
            NUM(message18, dsc, 143, 1, 1),
            NUM(message18, band, 144, 1, 0),
            NUM(message18, msg22, 145, 1, 1),
            NUM(message18, assigned, 146, 1, 0),
            NUM(message18, raim, 147, 1, 1),
            NUM(message18, commSelector, 148, 1, 0),
        }});
        v.push_back({19, 312, 312, {
            NUM(message19, repeat, 6, 2, 0),
            NUM(message19, mmsi, 8, 30, 367059850),
            NUM(message19, reserved, 38, 8, 0x81),
            NUM(message19, sog, 46, 10, 87),
            NUM(message19, accuracy, 56, 1, 1),
            NUM(message19, lon, 57, 28, -53914730),
            NUM(message19, lat, 85, 27, 17358426),
            NUM(message19, cog, 112, 12, 3310),
            NUM(message19, heading, 124, 9, 511),
            NUM(message19, second, 133, 6, 46),
            NUM(message19, regional, 139, 4, 9),
            TXT(message19, name, 143, 20, "CAPT.J.RIMES"),
            NUM(message19, shipType, 263, 8, 70),
            NUM(message19, toBow, 271, 9, 5),
            NUM(message19, toStern, 280, 9, 21),
            NUM(message19, toPort, 289, 6, 4),
            NUM(message19, toStarboard, 295, 6, 4),
            NUM(message19, epfd, 301, 4, 1),
            NUM(message19, raim, 305, 1, 1),
            NUM(message19, dte, 306, 1, 0),
            NUM(message19, assignedSpare, 307, 5, 0x11),
        }});
        v.push_back({20, 72, 160, {
            NUM(message20, repeat, 6, 2, 1),
            NUM(message20, mmsi, 8, 30, 3669145),
            NUM(message20, spare, 38, 2, 2),
            NUM(message20, offset1, 40, 12, 2049),
            NUM(message20, slotCount1, 52, 4, 5),
            NUM(message20, timeout1, 56, 3, 7),
            NUM(message20, increment1, 59, 11, 2047),
            NUM(message20, offset2, 70, 12, 4095),
            NUM(message20, slotCount2, 82, 4, 1),
            NUM(message20, timeout2, 86, 3, 3),
            NUM(message20, increment2, 89, 11, 225),
            NUM(message20, offset3, 100, 12, 1),
            NUM(message20, slotCount3, 112, 4, 15),
            NUM(message20, timeout3, 116, 3, 1),
            NUM(message20, increment3, 119, 11, 1125),
            NUM(message20, offset4, 130, 12, 3000),
            NUM(message20, slotCount4, 142, 4, 2),
            NUM(message20, timeout4, 146, 3, 6),
            NUM(message20, increment4, 149, 11, 1),
        }});
        v.push_back({21, 272, 272, {
            NUM(message21, repeat, 6, 2, 0),
            NUM(message21, mmsi, 8, 30, 993672085),
            NUM(message21, aidType, 38, 5, 31),
            TXT(message21, name, 43, 20, "NORTH SEA@NO 5"),   // kept: "@" drops out mid-text too
            NUM(message21, accuracy, 163, 1, 1),
            NUM(message21, lon, 164, 28, 2148000),
            NUM(message21, lat, 192, 27, -31924440),
            NUM(message21, toBow, 219, 9, 300),
            NUM(message21, toStern, 228, 9, 12),
            NUM(message21, toPort, 237, 6, 7),
            NUM(message21, toStarboard, 243, 6, 63),
            NUM(message21, epfd, 249, 4, 7),
            NUM(message21, second, 253, 6, 61),
            NUM(message21, offPosition, 259, 1, 1),
            NUM(message21, regional, 260, 8, 0x5A),
            NUM(message21, raim, 268, 1, 1),
            NUM(message21, virtualAid, 269, 1, 0),
            NUM(message21, assigned, 270, 1, 1),
            NUM(message21, spare, 271, 1, 0),
        }});
        v.push_back({22, 38, 168, {
            NUM(message22, repeat, 6, 2, 2),
            NUM(message22, mmsi, 8, 30, 3160097),
        }});
        v.push_back({23, 160, 160, {
            NUM(message23, repeat, 6, 2, 1),
            NUM(message23, mmsi, 8, 30, 2268120),
            NUM(message23, spare, 38, 2, 3),
            NUM(message23, neLon, 40, 18, -1),      // all 18 bits set
            NUM(message23, neLat, 58, 17, 30654),
            NUM(message23, swLon, 75, 18, 131071),
            NUM(message23, swLat, 93, 17, -65536),
            NUM(message23, stationType, 110, 4, 6),
            NUM(message23, shipType, 114, 8, 70),
            NUM(message23, spare2, 122, 22, 0x2AAAAA),
            NUM(message23, txRxMode, 144, 2, 1),
            NUM(message23, interval, 146, 4, 9),
            NUM(message23, quietTime, 150, 4, 15),
            NUM(message23, spare3, 154, 6, 33),
        }});
        // kept: long-range positions are scaled to the units of types 1-3.
        v.push_back({27, 96, 96, {
            NUM(message27, mmsi, 8, 30, 206914217),
            NUM(message27, accuracy, 38, 1, 1),
            NUM(message27, navStatus, 40, 4, 2),
            NUMX(message27, lon, 44, 18, 108600, 108600000),  // 181 degrees
            NUMX(message27, lat, 62, 17, -54000, -54000000),  // 90 degrees south
            NUMX(message27, sog, 79, 6, 63, 630),
            NUMX(message27, cog, 85, 9, 511, 5110),
        }});
        return v;
    }();
    return cases;
}

class DecodeTypes : public ::testing::TestWithParam<size_t> {
protected:
    const TypeCase& c() const { return typeCases()[GetParam()]; }
    AISParser p;
};

TEST_P(DecodeTypes, EveryField) {
    const BitWriter w = build(c());
    ASSERT_EQ(w.size(), c().fullBits);
    EXPECT_EQ(decode(p, w), c().type);
    EXPECT_EQ(p.messageType, c().type);
    expectFields(p, c(), c().fullBits);
}

// The shortest form decodes, with the fields it lacks as 0; one bit less is
// refused and leaves the record as it was, while type and MMSI are set.
TEST_P(DecodeTypes, LengthBoundaries) {
    const unsigned min = c().minBits;
    BitWriter w = build(c());
    w.resize(min);
    EXPECT_EQ(decode(p, w), c().type);
    expectFields(p, c(), min);

    ASSERT_EQ(decode(p, build(c())), c().type);  // full values again
    w = build(c(), 12345);
    w.resize(min - 1);
    EXPECT_EQ(decode(p, w), 0);
    if (min - 1 >= AISParser::kHeaderBits) {
        EXPECT_EQ(p.messageType, c().type);
        EXPECT_EQ(p.mmsi, 12345u);
    } else {
        EXPECT_EQ(p.messageType, 0);  // no whole header: type 0
        EXPECT_EQ(p.mmsi, 0u);
    }
    expectFields(p, c(), c().fullBits);  // record untouched
}

INSTANTIATE_TEST_SUITE_P(AllTypes, DecodeTypes, ::testing::Range<size_t>(0, typeCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& i) {
                             return "Type" + std::to_string(typeCases()[i.param].type);
                         });

TEST(Decode, TypesWithoutDecoderReturnTheirNumber) {
    AISParser p;
    for (int t : {0, 25, 26, 28, 40, 63}) {
        BitWriter w;
        w.u(static_cast<uint64_t>(t), 6).u(1, 2).u(244660000u + static_cast<uint32_t>(t), 30).fill(130, true);
        EXPECT_EQ(decode(p, w), t);
        EXPECT_EQ(p.messageType, t);
        EXPECT_EQ(p.mmsi, 244660000u + static_cast<uint32_t>(t));
    }
}

TEST(Decode, ShorterThanHeaderIsTypeZero) {
    AISParser p;
    BitWriter w;
    w.u(1, 6).u(0, 2).u(0x3FFFFFFF, 30);
    w.resize(37);
    EXPECT_EQ(decode(p, w), 0);
    EXPECT_EQ(p.messageType, 0);
    EXPECT_EQ(p.mmsi, 0u);
}

TEST(Decode, RateOfTurn) {
    struct Case { unsigned raw; int expected; };
    const Case cases[] = {
        {0x00, 0}, {0x7F, 127},
        {0x80, 128},   // kept: "no turn information" stays +128 (common decoders: -128)
        {0x81, -127}, {0xFF, -1},
    };
    AISParser p;
    for (const Case& c : cases) {
        BitWriter w;
        w.u(1, 6).u(0, 2).u(1, 30).u(0, 4).u(c.raw, 8).fill(118);
        ASSERT_EQ(decode(p, w), 1);
        EXPECT_EQ(p.message123.rot, c.expected) << c.raw;
    }
}

TEST(Decode, Type16OneOrTwoDestinations) {
    auto build16 = [](unsigned bits) {
        BitWriter w;
        w.u(16, 6).u(1, 2).u(2053501, 30).u(0, 2).u(224251000, 30).u(200, 12).u(1023, 10);
        if (bits >= 144)
            w.u(244730000, 30).u(4095, 12).u(7, 10);
        else
            w.u(0xA, 4);  // spare of the one-destination form
        return w.resize(bits);
    };
    AISParser p;
    ASSERT_EQ(decode(p, build16(144)), 16);
    EXPECT_EQ(p.message16.repeat, 1);
    EXPECT_EQ(p.message16.mmsi, 2053501u);
    EXPECT_EQ(p.message16.destMmsiA, 224251000u);
    EXPECT_EQ(p.message16.offsetA, 200);
    EXPECT_EQ(p.message16.incrementA, 1023);
    EXPECT_EQ(p.message16.destMmsiB, 244730000u);
    EXPECT_EQ(p.message16.offsetB, 4095);
    EXPECT_EQ(p.message16.incrementB, 7);
    EXPECT_EQ(p.message16.spare2, 0);  // no spare in the two-destination form

    ASSERT_EQ(decode(p, build16(96)), 16);
    EXPECT_EQ(p.message16.destMmsiA, 224251000u);
    EXPECT_EQ(p.message16.incrementA, 1023);
    EXPECT_EQ(p.message16.destMmsiB, 0u);
    EXPECT_EQ(p.message16.offsetB, 0);
    EXPECT_EQ(p.message16.incrementB, 0);
    EXPECT_EQ(p.message16.spare2, 0xA);

    EXPECT_EQ(decode(p, build16(95)), 0);
    EXPECT_EQ(p.message16.spare2, 0xA);
}

TEST(Decode, Type24PartsAAndB) {
    auto partA = [](unsigned part, unsigned bits) {
        BitWriter w;
        w.u(24, 6).u(1, 2).u(271041815, 30).u(part, 2).text("PROGUY", 20).fill(8, true);
        return w.resize(bits);
    };
    auto partB = [](unsigned part, unsigned mmsi, unsigned bits) {
        BitWriter w;
        w.u(24, 6).u(2, 2).u(mmsi, 30).u(part, 2).u(60, 8).text("1D00014", 7).text("TC6163", 7)
            .u(511, 9).u(15, 9).u(63, 6).u(5, 6).u(0x2A, 6);
        return w.resize(bits);
    };
    AISParser p;
    ASSERT_EQ(decode(p, partA(0, 160)), 24);
    EXPECT_EQ(p.message24.repeat, 1);
    EXPECT_EQ(p.message24.mmsi, 271041815u);
    EXPECT_EQ(p.message24.partNumber, 0);
    EXPECT_STREQ(p.message24.name, "PROGUY");

    // Part B; kept: the reserved part number 3 is read as part B too.
    for (unsigned part : {1u, 3u}) {
        ASSERT_EQ(decode(p, partB(part, 271041815, 168)), 24);
        EXPECT_EQ(p.message24.repeat, 2);
        EXPECT_EQ(p.message24.partNumber, part);
        EXPECT_EQ(p.message24.shipType, 60);
        EXPECT_STREQ(p.message24.vendorId, "1D00014");
        EXPECT_STREQ(p.message24.callsign, "TC6163");
        EXPECT_EQ(p.message24.toBow, 511);
        EXPECT_EQ(p.message24.toStern, 15);
        EXPECT_EQ(p.message24.toPort, 63);
        EXPECT_EQ(p.message24.toStarboard, 5);
        EXPECT_EQ(p.message24.spare, 0x2A);
        EXPECT_STREQ(p.message24.name, "PROGUY");  // part B leaves the name
    }
    // kept: an auxiliary craft (98xxxxxxx) has its mothership MMSI in the
    // dimension bits; they are still read as dimensions.
    ASSERT_EQ(decode(p, partB(1, 981234567, 168)), 24);
    EXPECT_EQ(p.message24.toBow, 511);

    // Too short: the header fields are written, the part's fields are not.
    EXPECT_EQ(decode(p, partA(0, 159)), 0);
    EXPECT_EQ(p.message24.partNumber, 0);
    EXPECT_EQ(p.message24.mmsi, 271041815u);
    EXPECT_STREQ(p.message24.name, "PROGUY");
    EXPECT_EQ(decode(p, partB(1, 111, 167)), 0);
    EXPECT_EQ(p.message24.mmsi, 111u);
    EXPECT_EQ(p.message24.shipType, 60);
    EXPECT_EQ(decode(p, partB(1, 222, 39)), 0);  // fewer than 40 bits: nothing
    EXPECT_EQ(p.message24.mmsi, 111u);
}

TEST(Decode, FieldsOfOneTypeLeaveOtherRecordsAlone) {
    AISParser p;
    ASSERT_EQ(ais_builder::assembleAll(p, {"!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C"}), 1);
    ASSERT_EQ(p.Parse(), 1);
    p.Clear();
    ASSERT_EQ(ais_builder::assembleAll(p, {"!AIVDM,1,1,,A,403OviQuMGCqWrRO9>E6fE700@GO,0*4D"}), 1);
    ASSERT_EQ(p.Parse(), 4);
    EXPECT_EQ(p.message123.mmsi, 477553000u);
    EXPECT_EQ(p.message4.mmsi, 3669702u);
}

// Published sentences; the values are those that common decoders report,
// in the stored units (1/10000 minute, 1/10 knot, 1/10 degree).
struct Check {
    const char* name;
    std::function<int64_t(const AISParser&)> num;
    int64_t value;
    std::function<std::string(const AISParser&)> str;
    const char* text;
};
#define CHK(rec, f, v) Check{#f, [](const AISParser& p) { return int64_t(p.rec.f); }, v, nullptr, nullptr}
#define CHKS(rec, f, v) Check{#f, nullptr, 0, [](const AISParser& p) { return std::string(p.rec.f); }, v}

struct RealCase {
    const char* what;
    std::vector<std::string> lines;
    int type;
    std::vector<Check> checks;
};

TEST(Decode, PublishedSentences) {
    const RealCase cases[] = {
        {"type 1", {"!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C"}, 1, {
            CHK(message123, mmsi, 477553000), CHK(message123, navStatus, 5),
            CHK(message123, rot, 0), CHK(message123, sog, 0), CHK(message123, accuracy, 0),
            CHK(message123, lon, -73407500),   // -122.345833
            CHK(message123, lat, 28549700),    // 47.582833
            CHK(message123, cog, 510), CHK(message123, heading, 181),
            CHK(message123, second, 15)}},
        {"type 1, no turn information", {"!AIVDM,1,1,,B,15NG6V0P01G?cFhE`R2IU?wn28R>,0*05"}, 1, {
            CHK(message123, mmsi, 367380120), CHK(message123, navStatus, 0),
            CHK(message123, rot, 128),         // kept: common decoders give -128
            CHK(message123, sog, 1), CHK(message123, accuracy, 0),
            CHK(message123, lon, -73442600),   // -122.404333
            CHK(message123, lat, 22684169),    // 37.806948
            CHK(message123, cog, 2452), CHK(message123, heading, 511),
            CHK(message123, second, 59)}},
        {"type 4", {"!AIVDM,1,1,,A,403OviQuMGCqWrRO9>E6fE700@GO,0*4D"}, 4, {
            CHK(message4, mmsi, 3669702), CHK(message4, year, 2007), CHK(message4, month, 5),
            CHK(message4, day, 14), CHK(message4, hour, 19), CHK(message4, minute, 57),
            CHK(message4, second, 39), CHK(message4, accuracy, 1),
            CHK(message4, lon, -45811417),     // -76.352362
            CHK(message4, lat, 22130260),      // 36.883767
            CHK(message4, epfd, 7)}},
        {"type 5 in two sentences",
         {"!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C",
          "!AIVDM,2,2,1,A,88888888880,2*25"}, 5, {
            CHK(message5, mmsi, 351759000), CHK(message5, aisVersion, 0),
            CHK(message5, imo, 9134270), CHKS(message5, callsign, "3FOF8  "),
            CHKS(message5, name, "EVER DIADEM         "),  // kept: trailing spaces stay
            CHK(message5, shipType, 70), CHK(message5, toBow, 225), CHK(message5, toStern, 70),
            CHK(message5, toPort, 1), CHK(message5, toStarboard, 31), CHK(message5, epfd, 1),
            CHK(message5, eta, (5 << 16) | (15 << 11) | (14 << 6)),  // 05-15 14:00
            CHK(message5, draught, 122),
            CHKS(message5, destination, "NEW YORK            "), CHK(message5, dte, 0)}},
        {"type 9", {"!AIVDM,1,1,,B,91b55wi;hbOS@OdQAC062Ch2089h,0*30"}, 9, {
            CHK(message9, mmsi, 111232511), CHK(message9, altitude, 303), CHK(message9, sog, 42),
            CHK(message9, lon, -3767306),      // -6.278843
            CHK(message9, lat, 34886400),      // 58.144
            CHK(message9, cog, 1545), CHK(message9, second, 15), CHK(message9, dte, 1)}},
        {"type 18", {"!AIVDM,1,1,,A,B52K>;h00Fc>jpUlNV@ikwpUoP06,0*4C"}, 18, {
            CHK(message18, mmsi, 338087471), CHK(message18, sog, 1),
            CHK(message18, lon, -44443279),    // -74.072132
            CHK(message18, lat, 24410724),     // 40.684540
            CHK(message18, cog, 796), CHK(message18, heading, 511), CHK(message18, second, 49),
            CHK(message18, csUnit, 1), CHK(message18, display, 0), CHK(message18, dsc, 1),
            CHK(message18, band, 1), CHK(message18, msg22, 1), CHK(message18, assigned, 0),
            CHK(message18, raim, 1)}},
        {"type 24 part A", {"!AIVDM,1,1,,A,H42O55i18tMET00000000000000,2*6D"}, 24, {
            CHK(message24, mmsi, 271041815), CHK(message24, partNumber, 0),
            CHKS(message24, name, "PROGUY")}},
        {"type 24 part B", {"!AIVDM,1,1,,A,H42O55lti4hhhilD3nink000?050,0*40"}, 24, {
            CHK(message24, mmsi, 271041815), CHK(message24, partNumber, 1),
            CHK(message24, shipType, 60), CHKS(message24, vendorId, "1D00014"),
            CHKS(message24, callsign, "TC6163"), CHK(message24, toBow, 0),
            CHK(message24, toStern, 15), CHK(message24, toPort, 0),
            CHK(message24, toStarboard, 5)}},
        // Published payload; checksum computed here.
        {"type 27", {"!AIVDM,1,1,,B,KC5E2b@U19PFdLbL,0*00"}, 27, {
            CHK(message27, mmsi, 206914217), CHK(message27, navStatus, 2),
            CHK(message27, accuracy, 0),
            CHK(message27, lon, 82214000),     // kept: scaled, 137.023333
            CHK(message27, lat, 2904000),      // 4.84
            CHK(message27, sog, 570), CHK(message27, cog, 1670)}},
    };
    for (const RealCase& c : cases) {
        SCOPED_TRACE(c.what);
        AISParser p;
        ASSERT_EQ(ais_builder::assembleAll(p, c.lines), 1);
        ASSERT_EQ(p.Parse(), c.type);
        for (const Check& k : c.checks) {
            if (k.text)
                EXPECT_EQ(k.str(p), k.text) << k.name;
            else
                EXPECT_EQ(k.num(p), k.value) << k.name;
        }
    }
}

}  // namespace
