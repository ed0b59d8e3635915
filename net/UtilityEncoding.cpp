// Text encodings: Base64, URL escapes and URL parts, Latin-1 and UTF-8.

#include "net/Utility.h"

#include <climits>
#include <cstdlib>

#include "net/Base64.h"
#include "net/UtilityChars.h"

using utilitychars::hexDigit;
using utilitychars::isAsciiAlnum;

std::string Utility::base64(const std::string& s) {
    std::string out;
    Base64().encode(s, out, false);
    return out;
}

std::string Utility::base64d(const std::string& s) {
    std::string out;
    Base64().decode(s, out);
    return out;
}

std::string Utility::rfc1738_encode(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() * 3);
    for (unsigned char c : s) {
        if (isAsciiAlnum(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string Utility::rfc1738_decode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const size_t n = s.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = s[i];
        if (c == '%' && i + 2 < n) {
            const int hi = hexDigit(static_cast<unsigned char>(s[i + 1]));
            const int lo = hexDigit(static_cast<unsigned char>(s[i + 2]));
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += c == '+' ? ' ' : c;
    }
    return out;
}

Utility::Uri::Uri(const std::string& url) : m_url(url), m_uri(url) {
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        m_protocol = ToLower(url.substr(0, scheme));
        m_port = m_protocol == "http" ? 80 : m_protocol == "https" ? 443 : 0;
        m_host = url.substr(scheme + 3);
        // The host ends at the path or, without one, at the query; a URL
        // with neither has an empty path, not the whole text as its path.
        const size_t slash = m_host.find_first_of("/?");
        m_uri = slash != std::string::npos ? m_host.substr(slash) : std::string();
        if (slash != std::string::npos) m_host.erase(slash);
        const size_t at = m_host.find('@');
        if (at != std::string::npos) {
            m_user = m_host.substr(0, at);
            m_host.erase(0, at + 1);
            const size_t colon = m_user.find(':');
            if (colon != std::string::npos) {
                m_password = m_user.substr(colon + 1);
                m_user.erase(colon);
            }
        }
        const size_t colon = m_host.find(':');
        if (colon != std::string::npos) {
            // strtol stops at the first non-digit, a NUL included; the
            // clamp keeps a huge number from narrowing oddly.
            const long port = strtol(m_host.c_str() + colon + 1, nullptr, 10);
            m_port = port > INT_MAX ? INT_MAX : port < INT_MIN ? INT_MIN : static_cast<int>(port);
            m_host.erase(colon);
        }
    }
    const size_t query = m_uri.find('?');
    if (query != std::string::npos) {
        m_path = m_uri.substr(0, query);
        m_query = m_uri.substr(query + 1);
    } else {
        m_path = m_uri;
    }
    if (!m_path.empty()) {
        const size_t slash = m_path.rfind('/');
        if (slash != std::string::npos) m_file = m_path.substr(slash + 1);
        const size_t dot = m_path.rfind('.');
        if (dot != std::string::npos) m_ext = m_path.substr(dot + 1);
    }
}

std::string Utility::FromUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const size_t n = s.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        if ((lead & 0xE0) == 0xC0 && i + 1 < n) {
            const unsigned char next = static_cast<unsigned char>(s[i + 1]);
            if ((next & 0xC0) == 0x80) {
                out += static_cast<char>(((lead << 6) | (next & 0x3F)) & 0xFF);
                ++i;
                continue;
            }
        }
        out += static_cast<char>(lead);
    }
    return out;
}

std::string Utility::ToUtf8(const std::string& s) {
    std::string out;
    out.reserve(s.size() * 2);
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
