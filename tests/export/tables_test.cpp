#include "export/ship_tables.h"
#include "export/xml_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ShipTypes, TextsAndCategories) {
    struct Case {
        int type;
        const char* text;
        uint16_t category;
    };
    const Case cases[] = {
        {0, "Unknown", 0},
        {1, "Unknown (HAZ-A)", 7},
        {10, "Unknown", 0},
        {11, "Unknown (HAZ-A)", 7},
        {19, "Unknown", 0},
        {20, "WIG", 5},
        {24, "WIG (HAZ-D)", 7},
        {30, "Fishing vessel", 1},
        {32, "Towing vessel (tow>200)", 1},
        {33, "Dredging or UW ops", 7},
        {35, "Military ops", 7},
        {36, "Sailing vessel", 3},
        {37, "Pleasure craft", 3},
        {39, "Unknown", 0},
        {45, "HSC", 5},
        {50, "Pilot", 1},
        {51, "SAR", 1},
        {54, "Anti-polution", 7},
        {55, "Law enforcment", 7},
        {57, "Local type", 1},
        {59, "Resolution 18 ship", 1},
        {60, "Passenger ship", 3},
        {63, "Passenger ship (HAZ-C)", 7},
        {72, "Cargo ship (HAZ-B)", 7},
        {75, "Cargo ship", 4},
        {80, "Tanker", 6},
        {84, "Tanker (HAZ-D)", 7},
        {91, "Other type (HAZ-A)", 7},
        {99, "Other type", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shipTypes[c.type].text, c.text) << c.type;
        EXPECT_EQ(shipTypes[c.type].category, c.category) << c.type;
    }
    for (const TShipType& t : shipTypes) {
        EXPECT_FALSE(t.text.empty());
        EXPECT_NE(t.category, CategoryUnused);
    }
}

TEST(NavStatus, Texts) {
    const char* const expected[16] = {
        "Underway", "At anchor", "Not under command", "Restricted mnvr.", "Constraigned", "Moored",
        "Aground", "Fishing", "Underway", "Reserved HSC", "Reserved WIG", "Unknown",
        "Unknown", "Unknown", "Unknown", "Unknown",
    };
    for (int i = 0; i < 16; ++i) EXPECT_EQ(navStatus[i], expected[i]) << i;
}

TEST(XmlEscape, EachOperationReplacesItsCharacterInPlace) {
    struct Case {
        std::string (*op)(std::string&);
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {XmlEscapeAmp, "a&&b&", "a&amp;&amp;b&amp;"},
        {XmlEscapeAmp, "&amp;", "&amp;amp;"},
        {XmlEscapeLt, "<<x<", "&lt;&lt;x&lt;"},
        {XmlEscapeGt, "]]>", "]]&gt;"},
        {XmlEscapeApos, "''", "&apos;&apos;"},
        {XmlEscapeQuot, "\"q\"", "&quot;q&quot;"},
        {XmlEscapeLt, "no hit & \"", "no hit & \""},
        {XmlEscapeQuot, "", ""},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        const std::string result = c.op(s);
        EXPECT_EQ(result, c.out) << c.in;
        EXPECT_EQ(s, c.out) << c.in;
    }
}

TEST(XmlEscape, FixedOrderEscapesEveryAmpersandOnce) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"PLAIN TEXT 123", "PLAIN TEXT 123"},
        {"<&''", "&lt;&amp;&apos;&apos;"},
        {"A&B", "A&amp;B"},
        {"&&", "&amp;&amp;"},
        {"&lt;", "&amp;lt;"},
        {"]]><\"'&", "]]&gt;&lt;&quot;&apos;&amp;"},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        XmlEscapeAmp(s);
        XmlEscapeLt(s);
        XmlEscapeGt(s);
        XmlEscapeApos(s);
        EXPECT_EQ(XmlEscapeQuot(s), c.out) << c.in;
        std::string onePass = "x";
        AppendXmlEscaped(onePass, c.in);
        EXPECT_EQ(onePass, std::string("x") + c.out) << c.in;
    }
}

TEST(StrReplace, ResumesAfterTheReplacement) {
    struct Case {
        const char* in;
        const char* search;
        const char* replace;
        const char* out;
    };
    const Case cases[] = {
        {"aaa", "a", "aa", "aaaaaa"},
        {"abcabc", "bc", "X", "aXaX"},
        {"abc", "abc", "", ""},
        {"xyz", "q", "r", "xyz"},
        {"", "a", "b", ""},
    };
    for (const Case& c : cases) {
        std::string s = c.in;
        EXPECT_EQ(StrReplace(s, c.search, c.replace), c.out) << c.in;
        EXPECT_EQ(s, c.out) << c.in;
    }
}

}  // namespace
