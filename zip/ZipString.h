#pragma once
// The library's narrow string: a std::string with the helpers the archive
// code uses. Bytes are characters; no encoding is assumed.
#include <cstddef>
#include <locale>
#include <string>

namespace ZipLib {
// A locale made on first use: building the user's locale can fail (an
// unknown LANG), so it is never built during static initialisation and a
// name that cannot be built falls back to the classic locale.
class CLazyLocale {
public:
    enum Kind { current, global, classic };
    explicit CLazyLocale(Kind kind) : m_kind(kind) {}
    const std::locale& Get() const;
    operator const std::locale&() const { return Get(); }
private:
    Kind m_kind;
};
}  // namespace ZipLib

class CZipString : public std::string {
public:
    // The user's preferred locale, the global locale as at start-up and the
    // classic "C" locale.
    static const ZipLib::CLazyLocale m_gCurrentLocale;
    static const ZipLib::CLazyLocale m_gGlobalLocale;
    static const ZipLib::CLazyLocale m_gClassicLocale;

    CZipString() = default;
    CZipString(char ch, int count) : std::string(count > 0 ? size_t(count) : 0, ch) {}
    CZipString(const char* text) : std::string(text ? text : "") {}
    CZipString(const std::string& s) : std::string(s) {}
    CZipString(const CZipString&) = default;
    CZipString(CZipString&&) = default;
    CZipString& operator=(const CZipString&) = default;
    CZipString& operator=(CZipString&&) = default;
    CZipString& operator=(const char* text) { assign(text ? text : ""); return *this; }
    CZipString& operator=(const std::string& s) { assign(s); return *this; }
    CZipString& operator=(char c) { assign(1, c); return *this; }

    operator const char*() const { return c_str(); }

    int GetLength() const { return int(size()); }
    bool IsEmpty() const { return empty(); }
    void Empty() { clear(); }

    // Bounds-checked: out of range raises std::out_of_range.
    char operator[](int i) const { return at(size_t(i)); }
    char& operator[](int i) { return at(size_t(i)); }
    char operator[](size_t i) const { return at(i); }
    char& operator[](size_t i) { return at(i); }

    void TrimLeft(char c);
    void TrimLeft(const char* set);
    void TrimRight(char c);
    void TrimRight(const char* set);

    CZipString& operator+=(char c) { push_back(c); return *this; }
    CZipString& operator+=(const char* text) { if (text) append(text); return *this; }
    CZipString& operator+=(const CZipString& s) { append(s); return *this; }

    // printf-style; the text is cut to 7166 bytes when it is longer.
    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    void MakeLower();
    CZipString Left(int n) const;
    CZipString Mid(int start) const;

    int Compare(const char* text) const;
    bool operator==(const char* text) const { return Compare(text) == 0; }
    bool operator!=(const char* text) const { return Compare(text) != 0; }
    int CompareNoCase(const char* text) const;
    int Collate(const char* text) const;
    int CollateNoCase(const char* text) const;

    // Grows to at least n bytes and returns the first byte for writing.
    char* GetBuffer(int n);
    // Sets the length to n, or up to the first zero byte when n < 0.
    void ReleaseBuffer(int n = -1);
    int Replace(char from, char to);

    static size_t zslen(const char* text);
};

inline CZipString operator+(const CZipString& a, const CZipString& b) { CZipString r(a); r += b; return r; }
inline CZipString operator+(const CZipString& a, const char* b) { CZipString r(a); r += b; return r; }
inline CZipString operator+(const char* a, const CZipString& b) { CZipString r(a); r += b; return r; }
inline CZipString operator+(const CZipString& a, char b) { CZipString r(a); r += b; return r; }

// A comparison member of CZipString for entry names.
typedef int (CZipString::*ZIPSTRINGCOMPARE)(const char*) const;
ZIPSTRINGCOMPARE GetCZipStrCompFunc(bool caseSensitive, bool collate = true);

namespace ZipLib {
// No byte has its top bit set.
bool IsStringAscii(const CZipString& s);
}
