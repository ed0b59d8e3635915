#pragma once
// Shell-style patterns: *, ?, [set], [!set], \ escapes.
#include "ZipString.h"

namespace ZipLib {
class CWildcard {
public:
    enum Match {
        matchNone = 0,
        matchValid = 1,
        matchEnd = 2,       // the pattern ended before the text
        matchAbort = 3,     // the text ended before the pattern
        matchRange = 4,     // a set did not match
        matchLiteral = 6,   // a literal did not match, or a malformed pattern
    };
    enum Pattern {
        patternValid = 0,
        patternEsc = -1,
        patternRange = -2,
        patternClose = -3,
        patternEmpty = -4,
    };

    CWildcard() = default;
    CWildcard(const char* pattern, bool caseSensitive) { SetPattern(pattern, caseSensitive); }
    virtual ~CWildcard() = default;

    void SetPattern(const char* pattern, bool caseSensitive);
    bool IsMatch(const char* text, int* code = nullptr);
    static bool IsPattern(const char* text);
    static bool IsPatternValid(const char* pattern, int* error = nullptr);
    static int Match(const char* pattern, const char* text);

protected:
    static int MatchAfterStar(const char* pattern, const char* text);

    bool m_bCaseSensitive = true;
    CZipString m_szPattern;
};
}  // namespace ZipLib
