#include "net/Parse.h"

#include <cstdlib>

Parse::Parse() = default;

Parse::Parse(const std::string& text) : m_text(text) {}

Parse::Parse(const std::string& text, const std::string& splits) : m_text(text), m_splits(splits) {}

Parse::Parse(const std::string& text, const std::string& splits, short)
    : m_text(text), m_splits(splits), m_splitonly(1) {}

bool Parse::issplit(char c) const {
    return c != '\0' && m_splits.find(c) != std::string::npos;
}

void Parse::setbreak(char c) { m_break = c; }

bool Parse::endsword(char c) const {
    return c == '\0' || isspace_(c) || issplit(c) || (m_break && c == m_break);
}

std::string Parse::getword() {
    if (m_splitonly) {
        while (issplit(at(m_pos))) ++m_pos;
        size_t x = m_pos;
        while (at(m_pos) != '\0' && !issplit(at(m_pos)) && !(m_break && at(m_pos) == m_break)) ++m_pos;
        m_last = x < m_text.size() ? m_text.substr(x, m_pos - x) : std::string();
        return m_last;
    }
    if (m_break && at(m_pos) == m_break) {
        ++m_pos;
        m_last.clear();
        return m_last;
    }
    while (isspace_(at(m_pos)) || issplit(at(m_pos))) ++m_pos;
    size_t x = m_pos;
    while (!endsword(at(m_pos))) ++m_pos;
    m_last = x < m_text.size() ? m_text.substr(x, m_pos - x) : std::string();
    ++m_pos;  // past the terminating character (a break character too)
    return m_last;
}

void Parse::getword(std::string& s) { s = getword(); }

void Parse::getword(std::string& s, std::string& fill, int width) {
    std::string word = getword();
    s.clear();
    if (!fill.empty()) {
        while (static_cast<long>(word.size() + s.size()) < width) s += fill;
    }
    s += word;
}

long Parse::getvalue() {
    std::string word = getword();
    return strtol(word.c_str(), nullptr, 10);
}

std::string Parse::getsplit() {
    if (at(m_pos) == '=') {
        ++m_pos;
        m_last = "=";
        return m_last;
    }
    while (issplit(at(m_pos))) ++m_pos;
    if (at(m_pos) == '=') {
        ++m_pos;
        m_last = "=";
        return m_last;
    }
    size_t x = m_pos;
    while (at(m_pos) != '\0' && !issplit(at(m_pos)) && at(m_pos) != '=') ++m_pos;
    m_last = x < m_text.size() ? m_text.substr(x, m_pos - x) : std::string();
    return m_last;
}

void Parse::getsplit(std::string& s) { s = getsplit(); }

std::string Parse::getrest() {
    while (at(m_pos) == ' ' || at(m_pos) == '\t' || issplit(at(m_pos))) ++m_pos;
    return m_pos < m_text.size() ? m_text.substr(m_pos) : std::string();
}

void Parse::getrest(std::string& s) { s = getrest(); }

std::string Parse::getline() {
    size_t x = m_pos;
    while (at(m_pos) != '\0' && at(m_pos) != '\r' && at(m_pos) != '\n') ++m_pos;
    m_last = x < m_text.size() ? m_text.substr(x, m_pos - x) : std::string();
    if (at(m_pos) == '\r') {
        ++m_pos;
        if (at(m_pos) == '\n') ++m_pos;
    } else if (at(m_pos) == '\n') {
        ++m_pos;
    }
    return m_last;
}

void Parse::getline(std::string& s) { s = getline(); }

size_t Parse::getwordlen() const {
    size_t p = m_pos;
    if (m_break && at(p) == m_break) return 1;
    while (isspace_(at(p)) || issplit(at(p))) ++p;
    size_t x = p;
    while (!endsword(at(p))) ++p;
    return p - x;
}

size_t Parse::getrestlen() const {
    size_t p = m_pos;
    while (at(p) == ' ' || at(p) == '\t' || issplit(at(p))) ++p;
    size_t x = p;
    while (at(p) != '\0') ++p;
    return p - x;
}
