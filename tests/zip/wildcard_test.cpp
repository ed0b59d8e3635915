// Wildcard patterns: result codes, pattern checks, hostile patterns and
// selecting archive entries by pattern.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "zip/Wildcard.h"
#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

using ZipLib::CWildcard;

namespace {

struct MatchCase {
    const char* pattern;
    const char* text;
    int code;
};

const MatchCase kMatchCases[] = {
    {"a*c", "abbc", 1},
    {"a?c", "ac", 3},
    {"abc", "abcd", 2},
    {"[!a-c]x", "bx", 4},
    {"a[]", "ab", 6},
    {"abc", "abc", 1},
    {"abd", "abc", 6},
    {"", "", 1},
    {"", "a", 2},
    {"*", "", 1},
    {"**", "", 3},  // only a single trailing star matches the end of the text
    {"a*", "a", 1},
    {"a**", "ab", 1},
    {"*.txt", "notes.txt", 1},
    {"*.txt", "notes.txt.gz", 3},
    {"*a*b", "xxaxxbxxb", 1},
    {"*?", "", 3},
    {"*?", "a", 1},
    {"*??", "a", 3},
    {"[a-c]", "b", 1},
    {"[c-a]", "b", 1},  // a range in either order
    {"[^a-c]", "d", 1},
    {"[!a]", "a", 4},
    {"[ab]c", "bc", 1},
    {"[\\]]", "]", 1},
    {"[a\\-z]", "-", 1},
    {"[a\\-z]", "m", 4},
    {"\\*", "*", 1},
    {"\\*", "a", 6},
    {"a\\", "ab", 6},  // escape cut off
    {"[ab", "a", 6},   // set not closed
    {"[a-]", "a", 6},  // range without an upper bound
    {"[!]", "a", 6},
    {"*\\", "abc", 6},
    {"*[xb]c", "abc", 1},
    {"*[xy]c", "abc", 3},
    {"*a[", "xa", 3},
};

TEST(Wildcard, MatchCodes) {
    for (const MatchCase& c : kMatchCases)
        EXPECT_EQ(CWildcard::Match(c.pattern, c.text), c.code) << c.pattern << " / " << c.text;
}

TEST(Wildcard, PatternChecks) {
    const struct {
        const char* pattern;
        int error;
    } cases[] = {
        {"", 0},        {"*.txt", 0},   {"[a-z]?", 0},   {"[\\]]", 0},   {"\\[", 0},    {"[a-\\]]", 0},
        {"a\\", -1},    {"[a\\", -1},   {"[a-\\", -1},   {"[a-]", -2},   {"[a-", -2},   {"[abc", -3},
        {"[", -3},      {"[]", -4},     {"[!]", -4},     {"x[]y", -4},
    };
    for (const auto& c : cases) {
        int error = 99;
        EXPECT_EQ(CWildcard::IsPatternValid(c.pattern, &error), c.error == 0) << c.pattern;
        EXPECT_EQ(error, c.error) << c.pattern;
    }
    EXPECT_TRUE(CWildcard::IsPattern("a?b"));
    EXPECT_TRUE(CWildcard::IsPattern("a\\b"));
    EXPECT_TRUE(CWildcard::IsPattern("[ab]"));
    EXPECT_FALSE(CWildcard::IsPattern("plain.txt"));
}

TEST(Wildcard, CaseInsensitiveMatching) {
    CWildcard lower("*.TXT", false);
    int code = 0;
    EXPECT_TRUE(lower.IsMatch("readme.txt", &code));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(lower.IsMatch("README.Txt"));
    CWildcard exact("*.TXT", true);
    EXPECT_FALSE(exact.IsMatch("readme.txt", &code));
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(exact.IsMatch("README.TXT"));
}

// The plain recursive reading of the matching rules: every star tries every
// later position. Exponential, so only for short inputs.
int ReferenceMatch(const char* p, const char* t);

int ReferenceSet(const char*& p, unsigned char c) {
    const char* q = p + 1;
    bool invert = *q == '!' || *q == '^';
    if (invert) ++q;
    if (*q == ']') return 6;
    bool member = false;
    while (!member && *q != ']') {
        if (*q == '\\') ++q;
        if (!*q) return 6;
        unsigned char lo = (unsigned char)*q++, hi = lo;
        if (*q == '-') {
            ++q;
            if (!*q || *q == ']') return 6;
            if (*q == '\\' && !*++q) return 6;
            hi = (unsigned char)*q++;
        }
        member = (c >= lo && c <= hi) || (c >= hi && c <= lo);
    }
    if (member == invert) return 4;
    for (; *q != ']'; ++q) {
        if (!*q) return 6;
        if (*q == '\\' && !*++q) return 6;
    }
    p = q;
    return 1;
}

int ReferenceAfterStar(const char* p, const char* t) {
    for (; *p == '*' || *p == '?'; ++p)
        if (*p == '?' && !*t++) return 3;
    if (!*p) return 1;
    char next = *p == '\\' ? p[1] : *p;
    if (!next) return 6;
    for (;; ++t) {
        if ((next == *t || next == '[') && ReferenceMatch(p, t) == 1) return 1;
        if (!*t) return 3;
    }
}

int ReferenceMatch(const char* p, const char* t) {
    for (; *p; ++p, ++t) {
        if (!*t) return std::string(p) == "*" ? 1 : 3;
        if (*p == '*') return ReferenceAfterStar(p, t);
        if (*p == '?') continue;
        if (*p == '[') {
            int r = ReferenceSet(p, (unsigned char)*t);
            if (r != 1) return r;
            continue;
        }
        if (*p == '\\' && !*++p) return 6;
        if (*p != *t) return 6;
    }
    return *t ? 2 : 1;
}

TEST(Wildcard, AgreesWithTheRecursiveRulesOnRandomInputs) {
    std::mt19937 rng(7);
    const std::string patternChars = "ab*?*[]!-\\";
    const std::string textChars = "ab-]";
    for (int i = 0; i < 200000; ++i) {
        std::string pattern, text;
        for (size_t n = rng() % 9; n > 0; --n) pattern += patternChars[rng() % patternChars.size()];
        for (size_t n = rng() % 9; n > 0; --n) text += textChars[rng() % textChars.size()];
        ASSERT_EQ(CWildcard::Match(pattern.c_str(), text.c_str()), ReferenceMatch(pattern.c_str(), text.c_str()))
            << "pattern " << pattern << " text " << text;
    }
}

TEST(Wildcard, HostilePatternsFinishQuickly) {
    // Backtracking over every star would need years for these.
    const std::string name(200, 'a');
    std::string stars;
    for (int i = 0; i < 60; ++i) stars += "*a";
    const struct {
        std::string pattern;
        int code;
    } cases[] = {
        {stars + "*b", 3},
        {stars + "b", 3},
        {stars + "[b]", 3},
        {stars + "*", 1},
        {stars, 1},
        {std::string(100, '*') + "?" + std::string(100, '*') + "b", 3},
    };
    auto start = std::chrono::steady_clock::now();
    for (const auto& c : cases)
        for (int i = 0; i < 10; ++i) ASSERT_EQ(CWildcard::Match(c.pattern.c_str(), name.c_str()), c.code);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Wildcard, FindMatchesSelectsEntries) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    CZipArray<unsigned short> found;
    zip.FindMatches("*", found);
    EXPECT_TRUE(found.empty());  // closed archive
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    for (const char* name : {"docs/", "docs/Readme.TXT", "docs/notes.txt", "src/main.cpp", "txt/"}) {
        CZipMemFile data(1024);
        data.Write("x", 1);
        if (name[std::string(name).size() - 1] == '/') {
            CZipFileHeader dir;
            dir.SetFileName(name);
            dir.SetSystemAttr(ZipPlatform::GetDefaultDirAttributes());
            ASSERT_TRUE(zip.OpenNewFile(dir, 0));
            ASSERT_TRUE(zip.CloseNewFile());
        } else {
            ASSERT_TRUE(zip.AddNewFile(data, name));
        }
    }
    const struct {
        const char* pattern;
        bool fullPath;
        bool caseSensitive;
        std::vector<unsigned short> indexes;
    } cases[] = {
        {"*.txt", true, true, {2}},
        {"*.txt", true, false, {1, 2}},
        {"docs/*", true, true, {0, 1, 2}},
        {"*.txt", false, false, {1, 2}},
        {"txt", false, true, {4}},  // a directory by its own name
        {"docs", false, true, {0}},
        {"main.cpp", true, true, {}},
        {"[ns]*", false, true, {2}},
    };
    for (const auto& c : cases) {
        zip.SetCaseSensitivity(c.caseSensitive);
        CZipArray<unsigned short> indexes;
        zip.FindMatches(c.pattern, indexes, c.fullPath);
        EXPECT_EQ(std::vector<unsigned short>(indexes.begin(), indexes.end()), c.indexes) << c.pattern;
    }
    zip.Close();
}

}  // namespace
