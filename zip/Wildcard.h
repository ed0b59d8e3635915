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

    // Nothing of these throws but the standard allocation failure; a null
    // pattern or text counts as the empty string.
    //
    // Keeps the pattern (lower-cased when not case-sensitive) for IsMatch.
    void SetPattern(const char* pattern, bool caseSensitive);
    // Whether the whole text matches the kept pattern; code, when given,
    // receives Match's result.
    bool IsMatch(const char* text, int* code = nullptr);
    // Whether the text holds any of * ? [ \ (false for null).
    static bool IsPattern(const char* text);
    // True for a well-formed pattern; error, when given, receives
    // patternValid or the first fault: patternEsc (a \ at the end),
    // patternEmpty ("[]"), patternClose (a set never closed), patternRange
    // (a range without its end).
    static bool IsPatternValid(const char* pattern, int* error = nullptr);
    // matchValid when the whole text matches, else why not (Match codes:
    // matchEnd text left over, matchAbort text ended first, matchRange a
    // set failed, matchLiteral a character failed or the pattern is
    // malformed). Case-sensitive.
    static int Match(const char* pattern, const char* text);

protected:
    static int MatchAfterStar(const char* pattern, const char* text);

    bool m_bCaseSensitive = true;
    CZipString m_szPattern;
};
}  // namespace ZipLib
