#include "net/Parse.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct WordCase {
    const char* name;
    std::string text;
    std::string splits;
    std::vector<std::string> words;  // then one empty word
};

void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class ParseWords : public testing::TestWithParam<WordCase> {};

TEST_P(ParseWords, GivesWordsThenEmpty) {
    const WordCase& c = GetParam();
    Parse pa(c.text, c.splits);
    for (const std::string& w : c.words) EXPECT_EQ(w, pa.getword());
    EXPECT_EQ("", pa.getword());
    EXPECT_EQ("", pa.getword());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseWords,
    testing::Values(WordCase{"dotted", "192.168.0.7", ".", {"192", "168", "0", "7"}},
                    WordCase{"runsOfSplitsSeparateLikeOne", "fe80::1", ":.", {"fe80", "1"}},
                    WordCase{"shortDotted", "1.2.3", ".", {"1", "2", "3"}},
                    WordCase{"threeDots", "...", ".", {}},
                    WordCase{"whiteSpace", " a\tb\r\nc ", "", {"a", "b", "c"}},
                    WordCase{"embeddedNulEndsWord", std::string("ab\0cd", 5), "", {"ab", "cd"}}),
    [](const testing::TestParamInfo<WordCase>& i) { return i.param.name; });

TEST(Parse, ValuesOfDotsAloneAreZero) {
    Parse pa("...", ".");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(0, pa.getvalue());
}

TEST(Parse, ValuesAreDecimal) {
    Parse pa("10.020.x.-3", ".");
    EXPECT_EQ(10, pa.getvalue());
    EXPECT_EQ(20, pa.getvalue());
    EXPECT_EQ(0, pa.getvalue());
    EXPECT_EQ(-3, pa.getvalue());
}

TEST(Parse, RestAfterWordSkipsBlanks) {
    Parse pa("GET  a b");
    EXPECT_EQ("GET", pa.getword());
    EXPECT_EQ(3u, pa.getrestlen());
    EXPECT_EQ("a b", pa.getrest());
    EXPECT_EQ("a b", pa.getrest());  // the position stays at the rest
    EXPECT_EQ("a", pa.getword());
}

TEST(Parse, RestIsEmptyAtEnd) {
    Parse pa("word");
    pa.getword();
    EXPECT_EQ("", pa.getrest());
    EXPECT_EQ(0u, pa.getrestlen());
}

TEST(Parse, LinesEndAtCrLfOrLf) {
    Parse crlf("first\r\nsecond");
    EXPECT_EQ("first", crlf.getline());
    EXPECT_EQ("second", crlf.getline());
    EXPECT_EQ("", crlf.getline());

    Parse lf("a\nb\rc");
    EXPECT_EQ("a", lf.getline());
    EXPECT_EQ("b", lf.getline());
    EXPECT_EQ("c", lf.getline());
    EXPECT_EQ("", lf.getline());
}

TEST(Parse, RightAlignedWord) {
    struct Case {
        int width;
        std::string fill;
        std::string expect;
    } cases[] = {{3, "0", "007"}, {1, "0", "7"}, {3, "", "7"}, {3, "ab", "ab7"}, {4, "ab", "abab7"}};
    for (const Case& c : cases) {
        Parse pa("7");
        std::string s = "junk";
        std::string fill = c.fill;
        pa.getword(s, fill, c.width);
        EXPECT_EQ(c.expect, s) << "width " << c.width << " fill '" << c.fill << "'";
    }
}

TEST(Parse, BreakCharacter) {
    Parse ab("a;b");
    ab.setbreak(';');
    EXPECT_EQ("a", ab.getword());
    EXPECT_EQ("b", ab.getword());

    Parse b(";b");
    b.setbreak(';');
    EXPECT_EQ(1u, b.getwordlen());
    EXPECT_EQ("", b.getword());
    EXPECT_EQ("b", b.getword());
}

TEST(Parse, SplitOnlyModeKeepsBlanksInWords) {
    Parse pa("a b,,c d", ",", 1);
    EXPECT_EQ("a b", pa.getword());
    EXPECT_EQ("c d", pa.getword());
    EXPECT_EQ("", pa.getword());

    Parse brk("x;y", ",", 1);
    brk.setbreak(';');
    EXPECT_EQ("x", brk.getword());
    EXPECT_EQ("", brk.getword());  // the break character stays where it is
    EXPECT_EQ("", brk.getword());
}

TEST(Parse, KeyValueTokens) {
    Parse pa("a=b c", " ");
    EXPECT_EQ("a", pa.getsplit());
    EXPECT_EQ("=", pa.getsplit());
    EXPECT_EQ("b", pa.getsplit());
    EXPECT_EQ("c", pa.getsplit());
    EXPECT_EQ("", pa.getsplit());
}

TEST(Parse, SplitCharacters) {
    Parse pa("", ",;");
    EXPECT_TRUE(pa.issplit(','));
    EXPECT_TRUE(pa.issplit(';'));
    EXPECT_FALSE(pa.issplit(' '));
    EXPECT_FALSE(pa.issplit('\0'));
}

TEST(Parse, WordLengthLeavesPosition) {
    Parse pa("  hello world");
    EXPECT_EQ(5u, pa.getwordlen());
    EXPECT_EQ("hello", pa.getword());
    EXPECT_EQ(5u, pa.getwordlen());
}

}  // namespace
