#include "net/Utility.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <netdb.h>
#include <sys/select.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
