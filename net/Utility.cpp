#include "net/Utility.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <netdb.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "net/Base64.h"
#include "net/Ipv4Address.h"
#include "net/Parse.h"

std::string Utility::m_host;
std::string Utility::m_addr;
unsigned long Utility::m_ip = 0;
bool Utility::m_local_resolved = false;

namespace {
std::atomic<Utility::ClockFunction> g_clock{nullptr};

void clear(sockaddr_in& sa) {
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
}

// One backtrace_symbols line with its mangled name demangled:
// "file(name+off) [addr]" becomes "demangled+off [addr]".
std::string frameText(const char* symbol) {
    std::string line(symbol);
    size_t open = line.find('(');
    if (open == std::string::npos) return line;
    std::string name = line.substr(open + 1);
    std::string tail;
    std::string offset;
    size_t close = name.find(')');
    if (close != std::string::npos) {
        tail = name.substr(close + 1);
        name.erase(close);
    }
    size_t plus = name.find('+');
    if (plus != std::string::npos) {
        offset = name.substr(plus);
        name.erase(plus);
    }
    int status = 0;
    // A null buffer: the demangler allocates what it needs and we free it.
    char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr) {
        free(demangled);
        return line;
    }
    std::string text = std::string(demangled) + offset + tail;
    free(demangled);
    return text;
}
}  // namespace

std::string Utility::l2string(long n) {
    char buf[100];
    snprintf(buf, sizeof buf, "%ld", n);
    return buf;
}

bool Utility::isipv4(const std::string& s) {
    if (s.empty()) return false;
    int dots = 0;
    for (char c : s) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3;
}

bool Utility::u2ip(const std::string& host, sockaddr_in& sa, int flags) {
    clear(sa);
    if (!(flags & AI_NUMERICHOST) && !isipv4(host)) {
        hostent he;
        hostent* result = nullptr;
        char buf[2000];
        int herr = 0;
        int rc = gethostbyname_r(host.c_str(), &he, buf, sizeof buf, &result, &herr);
        if (rc != 0 || result == nullptr || result->h_addr_list == nullptr || result->h_addr_list[0] == nullptr ||
            result->h_addrtype != AF_INET || result->h_length != static_cast<int>(sizeof sa.sin_addr))
            return false;
        memcpy(&sa.sin_addr, result->h_addr_list[0], sizeof sa.sin_addr);
        return true;
    }
    Parse pa(host, ".");
    unsigned char bytes[4];
    for (unsigned char& b : bytes) {
        long v = pa.getvalue();
        b = static_cast<unsigned char>(((v % 256) + 256) % 256);
    }
    memcpy(&sa.sin_addr, bytes, sizeof bytes);
    return true;
}

bool Utility::u2ip(const std::string& host, unsigned long& address) {
    sockaddr_in sa;
    bool ok = u2ip(host, sa, 0);
    address = sa.sin_addr.s_addr;
    return ok;
}

bool Utility::reverse(sockaddr* sa, socklen_t, std::string& hostname, std::string& service, int flags) {
    hostname.clear();
    service.clear();
    if (sa == nullptr || sa->sa_family != AF_INET) return false;
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(sa);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
    if (flags & NI_NUMERICHOST) {
        char buf[20];
        snprintf(buf, sizeof buf, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
        hostname = buf;
        return true;
    }
    // getnameinfo keeps no static state: look-ups may run in several threads.
    char host[NI_MAXHOST];
    if (getnameinfo(sa, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) return false;
    hostname = host;
    return true;
}

bool Utility::reverse(sockaddr* sa, socklen_t len, std::string& hostname, int flags) {
    std::string service;
    return reverse(sa, len, hostname, service, flags);
}

void Utility::l2ip(unsigned long address, std::string& text) {
    sockaddr_in sa;
    clear(sa);
    sa.sin_addr.s_addr = static_cast<in_addr_t>(address);
    reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, text, NI_NUMERICHOST);
}

void Utility::l2ip(const in_addr& address, std::string& text) {
    sockaddr_in sa;
    clear(sa);
    sa.sin_addr = address;
    reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, text, NI_NUMERICHOST);
}

std::string Utility::Stack() {
    void* frames[255];
    int n = backtrace(frames, 255);
    if (n <= 0) return std::string();
    char** symbols = backtrace_symbols(frames, n);
    if (symbols == nullptr) return std::string();
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += frameText(symbols[i]);
        text += "\n";
    }
    free(symbols);
    return text;
}

void Utility::Sleep(int ms) {
    if (ms <= 0) return;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    select(0, nullptr, nullptr, nullptr, &tv);
}

int Utility::GetTime(timeval* tv) { return gettimeofday(tv, nullptr); }

time_t Utility::Now() {
    ClockFunction clock = g_clock.load();
    return clock ? clock() : time(nullptr);
}

void Utility::SetClock(ClockFunction clock) { g_clock.store(clock); }

// ---- Toolbox

namespace {
// Hex digit value, or -1.
int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

unsigned char asciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool hasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

std::string decimal(unsigned long v) {
    char buf[24];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return std::string(p, buf + sizeof buf);
}
}  // namespace

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

uint64_t Utility::atoi64(const std::string& s) {
    uint64_t v = 0;
    for (unsigned char c : s) {
        // Wide enough for any step; clamping keeps a long or odd text from
        // wrapping into a plausible small value.
        __int128 next = static_cast<__int128>(v) * 10 + (static_cast<int>(c) - 48);
        if (next < 0) next = 0;
        if (next > static_cast<__int128>(UINT64_MAX)) next = UINT64_MAX;
        v = static_cast<uint64_t>(next);
    }
    return v;
}

unsigned int Utility::hex2unsigned(const std::string& s) {
    unsigned int v = 0;
    for (unsigned char c : s) {
        int digit = c < 'A' ? c - 48 : c < 'a' ? c - 55 : c - 87;
        v = v * 16 + static_cast<unsigned int>(digit);
    }
    return v;
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

bool Utility::isipv6(const std::string& s) {
    if (!s.empty()) {
        size_t dots = 0;
        size_t colons = 0;
        for (char c : s) {
            if (c == '.') ++dots;
            if (c == ':') ++colons;
        }
        if (colons > 7 || (dots != 0 && dots != 3)) return false;
    }
    Parse pa(s, ":.");
    std::string word = pa.getword();
    while (!word.empty() && word.size() <= 4) {
        for (char c : word)
            if (hexDigit(static_cast<unsigned char>(c)) < 0) return false;
        word = pa.getword();
    }
    return word.empty();
}

std::string Utility::GetEnv(const std::string& name) {
    // A name with a NUL would look up a shorter, different variable.
    if (hasNul(name)) return std::string();
    const char* value = getenv(name.c_str());
    return value ? value : std::string();
}

int Utility::SetEnv(const std::string& name, const std::string& value) {
    // Refused rather than truncated: a NUL would set a different variable or value.
    if (hasNul(name) || hasNul(value)) {
        errno = EINVAL;
        return -1;
    }
    return setenv(name.c_str(), value.c_str(), 1);
}

std::unique_ptr<SocketAddress> Utility::CreateAddress(sockaddr* sa, unsigned int length) {
    if (sa == nullptr || sa->sa_family != AF_INET || length != sizeof(sockaddr_in)) return nullptr;
    return std::make_unique<Ipv4Address>(*reinterpret_cast<sockaddr_in*>(sa));
}

void Utility::ResolveLocal() {
    char name[256];
    if (gethostname(name, sizeof name) != 0) name[0] = '\0';
    name[sizeof name - 1] = '\0';
    m_host = name;
    m_addr.clear();
    if (u2ip(m_host, m_ip)) l2ip(m_ip, m_addr);
    m_local_resolved = true;
}

std::string Utility::GetLocalHostname() {
    if (!m_local_resolved) ResolveLocal();
    return m_host;
}

unsigned long Utility::GetLocalIP() {
    if (!m_local_resolved) ResolveLocal();
    return m_ip;
}

std::string Utility::GetLocalAddress() {
    if (!m_local_resolved) ResolveLocal();
    return m_addr;
}

std::string Utility::Sa2String(sockaddr* sa) {
    if (sa == nullptr || sa->sa_family != AF_INET) return std::string();
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(sa);
    std::string text;
    l2ip(in->sin_addr, text);
    return text + ":" + decimal(ntohs(in->sin_port));
}

bool Utility::u2service(const std::string&, int&, int) { return false; }

pthread_t Utility::ThreadID() { return pthread_self(); }

std::string Utility::ToLower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return out;
}

std::string Utility::ToUpper(const std::string& s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

std::string Utility::ToString(double d) {
    char buf[100];
    snprintf(buf, sizeof buf, "%f", d);
    return buf;
}

uint64_t Utility::Rnd() {
    static Rng generator(static_cast<uint64_t>(time(nullptr)));
    return generator.Get();
}

bool Utility::ncmap_compare::operator()(const std::string& a, const std::string& b) const {
    // Not strcasecmp: that would stop at an embedded NUL and merge keys.
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = asciiLower(static_cast<unsigned char>(a[i]));
        const unsigned char y = asciiLower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

Utility::Rng::Rng(uint64_t seed) {
    m_state[0] = seed & 0xFFFFFFFFu;
    for (int i = 1; i < kSize; ++i)
        m_state[i] = 1812433253u * (m_state[i - 1] ^ (m_state[i - 1] >> 30)) + static_cast<uint64_t>(i);
}

uint64_t Utility::Rng::Get() {
    const uint64_t word = m_state[m_index++];
    if (m_index == kSize) {
        Regenerate();
        m_index = 0;
    }
    return word;
}

void Utility::Rng::Regenerate() {
    for (int i = 0; i < kSize; ++i) {
        const uint64_t y = (m_state[i] & 0x80000000u) | (m_state[(i + 1) % kSize] & 0x7FFFFFFFu);
        m_state[i] = m_state[(i + 397) % kSize] ^ (y >> 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
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

Utility::Path::Path(const std::string& text) {
    std::string t(text);
    for (char& c : t)
        if (c == '\\') c = '/';
    struct stat st;
    // A text with a NUL can't name a file: stat would see a shorter path.
    if (!hasNul(t) && stat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        m_dir = t;
        return;
    }
    const size_t slash = t.rfind('/');
    if (slash != std::string::npos) {
        m_dir = t.substr(0, slash + 1);
        m_file = t.substr(slash + 1);
    } else {
        m_file = t;
    }
    const size_t dot = m_file.rfind('.');
    if (dot != std::string::npos) m_ext = m_file.substr(dot + 1);
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

Utility::Path Utility::CurrentDirectory() {
    std::vector<char> buf(32000);
    if (getcwd(buf.data(), buf.size()) == nullptr) return Path(".");
    return Path(buf.data());
}

bool Utility::ChangeDirectory(const Path& path) {
    const std::string& dir = path.Directory();
    if (hasNul(dir)) return false;
    return chdir(dir.c_str()) == 0;
}

std::string Utility::bigint2string(long v) {
    // Negated in unsigned arithmetic, so LONG_MIN has a magnitude too.
    if (v < 0) return "-" + decimal(0ul - static_cast<unsigned long>(v));
    return decimal(static_cast<unsigned long>(v));
}

std::string Utility::bigint2string(unsigned long v) { return decimal(v); }
