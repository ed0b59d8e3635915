#pragma once
// Static helpers of the socket library: IPv4 text and name conversion, number
// text, the stack-trace text, sleeping and the clock. IPv4 only; name look-ups
// are synchronous and block the caller. Then the toolbox: local host,
// environment, Base64, URL and path texts, UTF-8, case, random numbers.
// Defined by topic: UtilityAddress.cpp, UtilityText.cpp (text and numbers),
// UtilityEncoding.cpp (URL and encodings), UtilityPath.cpp (paths and
// environment), UtilityTime.cpp, UtilityStack.cpp.

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "net/SocketAddress.h"

class Utility {
public:
    Utility() = delete;

    static std::string l2string(long n);

    // True for 1 to kMaxHostText bytes none of which is a control byte
    // (0-31, 127), a space or a backslash, checked over the whole length
    // (a NUL included): the only texts ever looked up. Any other byte is
    // left to the system's resolver.
    static constexpr size_t kMaxHostText = 255;
    static bool isHostText(const std::string& s);

    // True when inet_aton reads the whole text as an address: "1" (0.0.0.1),
    // "10.1" (10.0.0.1), "1.2.3" (1.2.0.3), "0x7f.1" and "017.0.0.1" count;
    // a part out of range ("256.1.1.1"), "...", or anything after the
    // address ("1.2.3.4x", "1.2.3.4.") do not.
    static bool isipv4(const std::string& s);

    // Clears `sa` to AF_INET and fills in the address of `host`. An IPv4
    // text (isipv4) is read as such, never looked up; true. Any other text
    // fails with AI_NUMERICHOST in `flags`, or when it is no host text (no
    // look-up either); otherwise it is a name, looked up as it is with
    // gethostbyname_r: false when it doesn't resolve, or when its answer
    // needs more than 1 MiB. Address 0 on failure.
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

    // ---- Toolbox. Every text routine takes any bytes, NULs included, and
    // never reads past the end of its input.

    static std::string base64(const std::string& s);   // no line breaks
    static std::string base64d(const std::string& s);
    // Decimal digits, no sign and no check: each byte adds (code - 48).
    // Unsigned, clamped to 0 and UINT64_MAX instead of wrapping.
    static uint64_t atoi64(const std::string& s);
    // Hex digits of either case, no check; wraps modulo 2^32.
    static unsigned int hex2unsigned(const std::string& s);
    // Letters and digits stay, a blank becomes "+", every other byte "%XX".
    static std::string rfc1738_encode(const std::string& s);
    // "%XX" becomes the byte, "+" a blank; a "%" without two hex digits after
    // it stays as it is.
    static std::string rfc1738_decode(const std::string& s);
    // Loose: groups of 1 to 4 hex digits between ":" and "."; at most 7
    // colons and 0 or 3 dots. "" and "10.1.2.3" pass.
    static bool isipv6(const std::string& s);

    static std::string GetEnv(const std::string& name);  // "" when not set
    static int SetEnv(const std::string& name, const std::string& value);  // setenv's result

    // An Ipv4Address for a 16-byte AF_INET address, else null.
    static std::unique_ptr<SocketAddress> CreateAddress(sockaddr* sa, unsigned int length);
    // Fills the local-host cache: gethostname, then its address. Not
    // thread-safe: call it before other threads start.
    static void ResolveLocal();
    static std::string GetLocalHostname();
    static unsigned long GetLocalIP();  // network byte order, 0 when unknown
    static std::string GetLocalAddress();  // dotted, "" when unknown
    // "a.b.c.d:port" for AF_INET, else "".
    static std::string Sa2String(sockaddr* sa);
    // Services are not looked up: always false.
    static bool u2service(const std::string& name, int& service, int flags);
    static pthread_t ThreadID();

    // ASCII only; every other byte is copied.
    static std::string ToLower(const std::string& s);
    static std::string ToUpper(const std::string& s);
    static std::string ToString(double d);  // "%f", at most 99 characters

    // Process-wide generator, seeded with the time on first use; advanced
    // without a lock.
    static uint64_t Rnd();

    // Key order for case-insensitive maps (ASCII), over the whole key.
    struct ncmap_compare {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    // The raw words of a Mersenne Twister state, untempered.
    class Rng {
    public:
        explicit Rng(uint64_t seed);
        uint64_t Get();

    private:
        void Regenerate();

        static const int kSize = 624;
        uint64_t m_state[kSize];
        int m_index = 0;
    };

    // The parts of a URL text: [protocol://][user[:password]@]host[:port]/path[?query].
    class Uri {
    public:
        explicit Uri(const std::string& url);

        const std::string& Url() const { return m_url; }
        const std::string& Path() const { return m_path; }  // without the query
        const std::string& QueryString() const { return m_query; }
        const std::string& Protocol() const { return m_protocol; }  // lower case
        const std::string& Host() const { return m_host; }
        int Port() const { return m_port; }  // 80 for http, 443 for https, else 0 unless given
        const std::string& PathWithQuery() const { return m_uri; }
        const std::string& FileName() const { return m_file; }
        const std::string& Extension() const { return m_ext; }
        const std::string& User() const { return m_user; }
        const std::string& Password() const { return m_password; }

    private:
        std::string m_url;
        std::string m_path;
        std::string m_query;
        std::string m_protocol;
        std::string m_host;
        int m_port = 0;
        std::string m_uri;
        std::string m_file;
        std::string m_ext;
        std::string m_user;
        std::string m_password;
    };

    // A file path with backslashes read as "/": directory (with its trailing
    // "/"), file name, extension. An existing directory is all directory.
    class Path {
    public:
        explicit Path(const std::string& text);

        const std::string& Directory() const { return m_dir; }
        const std::string& FileName() const { return m_file; }
        const std::string& Extension() const { return m_ext; }

    private:
        std::string m_dir;
        std::string m_file;
        std::string m_ext;
    };

    // UTF-8 to Latin-1: two-byte sequences become their low 8 bits; every
    // other byte, valid or not, is copied.
    static std::string FromUtf8(const std::string& s);
    // Latin-1 to UTF-8.
    static std::string ToUtf8(const std::string& s);

    static Path CurrentDirectory();  // "." when getcwd fails
    static bool ChangeDirectory(const Path& path);  // chdir to its directory

    static std::string bigint2string(long v);
    static std::string bigint2string(unsigned long v);

protected:
    // Local-host cache, filled once by ResolveLocal.
    static std::string m_host;
    static std::string m_addr;
    static unsigned long m_ip;
    static bool m_local_resolved;
};
