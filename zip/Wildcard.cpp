#include "Wildcard.h"

#include <utility>

namespace ZipLib {

namespace {

// Run stopped at a '*' of the pattern; never returned to callers.
const int kAtStar = -1;

// One "[...]" set (p at '[') against one character. On a match, *end is the
// set's closing ']'. The closing ']' found does not depend on the character,
// so every successful try of a pattern item moves the pattern alike.
int MatchSet(const char* p, unsigned char c, const char** end) {
    ++p;
    bool invert = false;
    if (*p == '!' || *p == '^') {
        invert = true;
        ++p;
    }
    if (*p == ']') return CWildcard::matchLiteral;
    bool member = false;
    while (*p != ']') {
        if (*p == '\\') ++p;
        if (!*p) return CWildcard::matchLiteral;
        unsigned char lo = (unsigned char)*p++, hi = lo;
        if (*p == '-') {
            ++p;
            if (!*p || *p == ']') return CWildcard::matchLiteral;
            if (*p == '\\' && !*++p) return CWildcard::matchLiteral;
            hi = (unsigned char)*p++;
        }
        if (lo > hi) std::swap(lo, hi);
        if (c >= lo && c <= hi) {
            member = true;
            break;
        }
    }
    if (member == invert) return CWildcard::matchRange;
    // Skip what is left of a set that already matched; it may still be cut off.
    while (*p != ']') {
        if (!*p) return CWildcard::matchLiteral;
        if (*p == '\\' && !*++p) return CWildcard::matchLiteral;
        ++p;
    }
    *end = p;
    return CWildcard::matchValid;
}

// Matches pattern items one text character each until the pattern ends or
// reaches a '*' (kAtStar, with p at the '*' and t at its text position).
int Run(const char*& p, const char*& t) {
    for (; *p; ++p, ++t) {
        if (!*t) return (p[0] == '*' && p[1] == '\0') ? CWildcard::matchValid : CWildcard::matchAbort;
        switch (*p) {
        case '*':
            return kAtStar;
        case '?':
            break;
        case '[': {
            const char* end = nullptr;
            int r = MatchSet(p, (unsigned char)*t, &end);
            if (r != CWildcard::matchValid) return r;
            p = end;
            break;
        }
        case '\\':
            if (!*++p) return CWildcard::matchLiteral;
            if (*p != *t) return CWildcard::matchLiteral;
            break;
        default:
            if (*p != *t) return CWildcard::matchLiteral;
        }
    }
    return *t ? CWildcard::matchEnd : CWildcard::matchValid;
}

}  // namespace

void CWildcard::SetPattern(const char* pattern, bool caseSensitive) {
    m_szPattern = pattern;
    m_bCaseSensitive = caseSensitive;
    if (!caseSensitive) m_szPattern.MakeLower();
}

bool CWildcard::IsMatch(const char* text, int* code) {
    CZipString subject(text);
    if (!m_bCaseSensitive) subject.MakeLower();
    int r = Match(m_szPattern, subject);
    if (code) *code = r;
    return r == matchValid;
}

bool CWildcard::IsPattern(const char* text) {
    if (!text) return false;
    for (; *text; ++text)
        if (*text == '*' || *text == '?' || *text == '[' || *text == '\\') return true;
    return false;
}

bool CWildcard::IsPatternValid(const char* pattern, int* error) {
    int code = patternValid;
    const char* p = pattern ? pattern : "";
    while (*p && code == patternValid) {
        if (*p == '\\') {
            if (!p[1]) code = patternEsc;
            else p += 2;
            continue;
        }
        if (*p++ != '[') continue;
        if (*p == '!' || *p == '^') ++p;
        if (*p == ']') {
            code = patternEmpty;
            break;
        }
        while (*p != ']') {
            if (!*p) {
                code = patternClose;
                break;
            }
            if (*p == '\\' && !*++p) {
                code = patternEsc;
                break;
            }
            if (*++p != '-') continue;
            ++p;
            if (!*p || *p == ']') {
                code = patternRange;
                break;
            }
            if (*p == '\\' && !*++p) {
                code = patternEsc;
                break;
            }
            ++p;
        }
        if (code == patternValid) ++p;
    }
    if (error) *error = code;
    return code == patternValid;
}

int CWildcard::Match(const char* pattern, const char* text) {
    const char* p = pattern ? pattern : "";
    const char* t = text ? text : "";
    int r = Run(p, t);
    return r == kAtStar ? MatchAfterStar(p, t) : r;
}

// Each text segment between two stars is matched at its leftmost possible
// position and never retried: a later start ends later and leaves the rest
// less text, so it cannot succeed where the leftmost failed. That keeps the
// cost at pattern length times text length, whatever the number of stars.
int CWildcard::MatchAfterStar(const char* pattern, const char* text) {
    const char* p = pattern ? pattern : "";
    const char* t = text ? text : "";
    for (bool first = true;; first = false) {
        for (; *p == '*' || *p == '?'; ++p)
            if (*p == '?' && !*t++) return matchAbort;
        if (!*p) return matchValid;
        char next = *p;
        if (next == '\\') {
            next = p[1];
            // A cut-off escape behind a later star only fails that try.
            if (!next) return first ? matchLiteral : matchAbort;
        }
        for (;; ++t) {
            if (next == *t || next == '[') {
                const char* sp = p;
                const char* st = t;
                int r = Run(sp, st);
                if (r == matchValid) return matchValid;
                if (r == kAtStar) {
                    p = sp;
                    t = st;
                    break;
                }
            }
            if (!*t) return matchAbort;
        }
    }
}

}  // namespace ZipLib
