#include "ZipString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <strings.h>
#include <vector>

namespace ZipLib {
const std::locale& CLazyLocale::Get() const {
    switch (m_kind) {
    case current: {
        static const std::locale user = [] {
            try {
                return std::locale("");
            } catch (const std::runtime_error&) {
                return std::locale::classic();
            }
        }();
        return user;
    }
    case global: {
        static const std::locale startGlobal;
        return startGlobal;
    }
    case classic:
    default:
        return std::locale::classic();
    }
}
}  // namespace ZipLib

const ZipLib::CLazyLocale CZipString::m_gCurrentLocale(ZipLib::CLazyLocale::current);
const ZipLib::CLazyLocale CZipString::m_gGlobalLocale(ZipLib::CLazyLocale::global);
const ZipLib::CLazyLocale CZipString::m_gClassicLocale(ZipLib::CLazyLocale::classic);

void CZipString::TrimLeft(char c) {
    size_t i = find_first_not_of(c);
    if (i == npos) clear(); else erase(0, i);
}

void CZipString::TrimLeft(const char* set) {
    if (!set) return;
    size_t i = find_first_not_of(set);
    if (i == npos) clear(); else erase(0, i);
}

void CZipString::TrimRight(char c) {
    size_t i = find_last_not_of(c);
    if (i == npos) clear(); else erase(i + 1);
}

void CZipString::TrimRight(const char* set) {
    if (!set) return;
    size_t i = find_last_not_of(set);
    if (i == npos) clear(); else erase(i + 1);
}

void CZipString::Format(const char* fmt, ...) {
    const size_t step = 1024;
    const int tries = 7;
    std::vector<char> buf;
    for (int t = 1; t <= tries; ++t) {
        try {
            buf.assign(step * size_t(t), '\0');
        } catch (const std::bad_alloc&) {
            return;  // keep the old contents
        }
        va_list args;
        va_start(args, fmt);
        int n = vsnprintf(buf.data(), buf.size(), fmt, args);
        va_end(args);
        if (n < 0) return;
        // The scratch buffer keeps two bytes in reserve, so 1022 bytes fit
        // the first one and the longest kept text is 7166 bytes.
        if (size_t(n) <= buf.size() - 2) {
            assign(buf.data(), size_t(n));
            return;
        }
    }
    assign(buf.data(), buf.size() - 2);
}

void CZipString::MakeLower() {
    if (empty()) return;
    const std::ctype<char>& ct = std::use_facet<std::ctype<char>>(m_gCurrentLocale.Get());
    ct.tolower(&*begin(), &*begin() + size());
}

CZipString CZipString::Left(int n) const {
    if (n <= 0) return CZipString();
    return CZipString(substr(0, size_t(n)));
}

CZipString CZipString::Mid(int start) const {
    if (start < 0) start = 0;
    if (size_t(start) >= size()) return CZipString();
    return CZipString(substr(size_t(start)));
}

int CZipString::Compare(const char* text) const {
    return std::strcmp(c_str(), text ? text : "");
}

int CZipString::CompareNoCase(const char* text) const {
    return strcasecmp(c_str(), text ? text : "");
}

int CZipString::Collate(const char* text) const {
    return std::strcoll(c_str(), text ? text : "");
}

int CZipString::CollateNoCase(const char* text) const {
    if (m_gGlobalLocale.Get() == m_gClassicLocale.Get()) return CompareNoCase(text);
    CZipString a(*this), b(text);
    a.MakeLower();
    b.MakeLower();
    return a.Collate(b);
}

char* CZipString::GetBuffer(int n) {
    if (n > 0 && size() < size_t(n)) resize(size_t(n));
    return &(*this).std::string::operator[](0);
}

void CZipString::ReleaseBuffer(int n) {
    if (n < 0) resize(std::strlen(c_str()));
    else resize(size_t(n));
}

int CZipString::Replace(char from, char to) {
    int count = 0;
    for (char& c : static_cast<std::string&>(*this)) {
        if (c == from) { c = to; ++count; }
    }
    return count;
}

size_t CZipString::zslen(const char* text) { return text ? std::strlen(text) : 0; }

ZIPSTRINGCOMPARE GetCZipStrCompFunc(bool caseSensitive, bool collate) {
    if (collate) return caseSensitive ? &CZipString::Collate : &CZipString::CollateNoCase;
    return caseSensitive ? &CZipString::Compare : &CZipString::CompareNoCase;
}

namespace ZipLib {
bool IsStringAscii(const CZipString& s) {
    for (unsigned char c : static_cast<const std::string&>(s))
        if (c & 0x80) return false;
    return true;
}
}  // namespace ZipLib

namespace {
// The global locale is copied once at start-up; copying it cannot fail.
const bool s_globalTaken = (CZipString::m_gGlobalLocale.Get(), true);
}
