#pragma once
// Static helpers of the socket library: IPv4 text and name conversion, number
// text, the stack-trace text, sleeping and the clock. IPv4 only; name look-ups
// are synchronous and block the caller.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <ctime>
#include <string>

class Utility {
public:
    Utility() = delete;

    static std::string l2string(long n);

    // True for a text of digits and dots holding exactly three dots
    // (nothing else is checked: "..." and "999.1.1.1" count).
    static bool isipv4(const std::string& s);

    // Clears `sa` to AF_INET and fills in the address of `host`. Without
    // AI_NUMERICHOST in `flags` a name that isn't an IPv4 text is looked up
    // with gethostbyname_r (false when it doesn't resolve); otherwise the text
    // is read as four dotted numbers, each modulo 256, and never fails.
    static bool u2ip(const std::string& host, sockaddr_in& sa, int flags);
    // `address` (network byte order) is set in every case, 0 on failure.
    static bool u2ip(const std::string& host, unsigned long& address);

    // Host name of an IPv4 address: dotted with NI_NUMERICHOST in `flags`,
    // else by getnameinfo (thread-safe). False, with empty texts, for other families or
    // a failed look-up. `service` is always left empty.
    static bool reverse(sockaddr* sa, socklen_t len, std::string& hostname, std::string& service, int flags);
    static bool reverse(sockaddr* sa, socklen_t len, std::string& hostname, int flags);

    static void l2ip(unsigned long address, std::string& text);
    static void l2ip(const in_addr& address, std::string& text);

    // One line per frame, innermost first, C++ names demangled.
    static std::string Stack();

    static void Sleep(int ms);
    static int GetTime(timeval* tv);

    // Seconds clock behind every time-out, close time and uptime of the
    // library. Tests install their own to pass time without sleeping;
    // nullptr restores time(NULL).
    using ClockFunction = time_t (*)();
    static time_t Now();
    static void SetClock(ClockFunction clock);

protected:
    // Local-host cache. The local-host helpers that are to fill it are not
    // built yet, so it stays empty.
    static std::string m_host;
    static std::string m_addr;
    static unsigned long m_ip;
    static bool m_local_resolved;
};
