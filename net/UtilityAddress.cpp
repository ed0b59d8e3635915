// IPv4 addresses in text and numbers, name look-ups (synchronous), the
// local host's name and address.

#include "net/Utility.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "net/Ipv4Address.h"
#include "net/Parse.h"
#include "net/UtilityChars.h"

using utilitychars::hexDigit;

std::string Utility::m_host;
std::string Utility::m_addr;
unsigned long Utility::m_ip = 0;
bool Utility::m_local_resolved = false;

namespace {
const size_t kFirstLookupBuffer = 8192;
const size_t kMaxLookupBuffer = 1 << 20;

void clear(sockaddr_in& sa) {
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
}

// The whole text as inet_aton reads an address, as getaddrinfo does: one to
// four parts, decimal, octal or hex, the last filling the bytes left, none
// out of range. A host text holds no blank, after which inet_aton would
// ignore the rest. `a` is left alone when the text is no address.
bool readDotted(const std::string& text, in_addr& a) {
    in_addr read;
    if (!Utility::isHostText(text) || inet_aton(text.c_str(), &read) == 0) return false;
    a = read;
    return true;
}
}  // namespace

bool Utility::isHostText(const std::string& s) {
    if (s.empty() || s.size() > kMaxHostText) return false;
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        // The C string would end at a NUL, the resolver's request line at a
        // CR or LF, and glibc reads a backslash as an escape ("localhos\t"
        // asks for "localhost"): each would answer for another name.
        if (c <= ' ' || c == 0x7f || c == '\\') return false;
    }
    return true;
}

bool Utility::isipv4(const std::string& s) {
    in_addr a;
    return readDotted(s, a);
}

bool Utility::u2ip(const std::string& host, sockaddr_in& sa, int flags) {
    clear(sa);
    if (readDotted(host, sa.sin_addr)) return true;
    if ((flags & AI_NUMERICHOST) || !isHostText(host)) return false;
    // Many addresses or aliases need more room than a first guess: asked
    // again with twice the room, up to a bound.
    std::vector<char> buf(kFirstLookupBuffer);
    for (;;) {
        hostent he;
        hostent* result = nullptr;
        int herr = 0;
        const int rc = gethostbyname_r(host.c_str(), &he, buf.data(), buf.size(), &result, &herr);
        if (rc == ERANGE && buf.size() < kMaxLookupBuffer) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr || result->h_addr_list == nullptr || result->h_addr_list[0] == nullptr ||
            result->h_addrtype != AF_INET || result->h_length != static_cast<int>(sizeof sa.sin_addr))
            return false;
        memcpy(&sa.sin_addr, result->h_addr_list[0], sizeof sa.sin_addr);
        return true;
    }
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
    return text + ":" + std::to_string(ntohs(in->sin_port));
}

bool Utility::u2service(const std::string&, int&, int) { return false; }
