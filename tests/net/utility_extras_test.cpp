#include "net/Utility.h"

#include <arpa/inet.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "net/SocketAddress.h"
#include "temp_dir.h"

namespace {

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
}

TEST(UtilityExtras, Rfc1738) {
    struct Case {
        std::string plain;
        std::string coded;
    } encodes[] = {
        {"a b/c", "a+b%2Fc"},
        {"Az09", "Az09"},
        {"-_.~", "%2D%5F%2E%7E"},
        {std::string("\0\xff", 2), "%00%FF"},
        {"", ""},
    };
    for (const Case& c : encodes) EXPECT_EQ(c.coded, Utility::rfc1738_encode(c.plain)) << c.coded;

    // A "%" without two hex digits after it stays as it is, at the end too.
    Case decodes[] = {
        {"J%zz ", "%4a%zz+"},
        {"J", "%4A"},
        {"%", "%"},
        {"%4", "%4"},
        {"a%", "a%"},
        {"%4g", "%4g"},
        {"%A", "%%41"},
        {std::string("\0", 1), "%00"},
        {std::string("a\0 ", 3), std::string("a\0+", 3)},
        {"\xff", "\xff"},
    };
    for (const Case& c : decodes) EXPECT_EQ(c.plain, Utility::rfc1738_decode(c.coded)) << c.coded;

    EXPECT_EQ(AllBytes(), Utility::rfc1738_decode(Utility::rfc1738_encode(AllBytes())));
}

TEST(UtilityExtras, Numbers) {
    struct Case {
        std::string text;
        uint64_t value;
    } decimals[] = {
        {"12", 12},
        {"", 0},
        {"18446744073709551615", UINT64_MAX},
        // Past the top and below zero clamp instead of wrapping.
        {"18446744073709551616", UINT64_MAX},
        {"99999999999999999999999", UINT64_MAX},
        {"/", 0},
        {" 5", 5},
        // No check: a byte adds its code minus 48.
        {"1/", 9},
        {"12a", 169},
    };
    for (const Case& c : decimals) EXPECT_EQ(c.value, Utility::atoi64(c.text)) << c.text;

    struct HexCase {
        std::string text;
        unsigned int value;
    } hexes[] = {{"ff", 255}, {"FF", 255}, {"", 0}, {"7fA0", 0x7FA0}, {"ffffffff", 0xFFFFFFFF}, {"100000000", 0}};
    for (const HexCase& c : hexes) EXPECT_EQ(c.value, Utility::hex2unsigned(c.text)) << c.text;

    struct BigCase {
        long value;
        std::string text;
    } bigs[] = {{-120, "-120"}, {0, "0"}, {7, "7"}, {LONG_MAX, "9223372036854775807"},
                {LONG_MIN, "-9223372036854775808"}};
    for (const BigCase& c : bigs) EXPECT_EQ(c.text, Utility::bigint2string(c.value)) << c.text;
    EXPECT_EQ("18446744073709551615", Utility::bigint2string(ULONG_MAX));
    EXPECT_EQ("0", Utility::bigint2string(0ul));

    EXPECT_EQ("1.500000", Utility::ToString(1.5));
    EXPECT_EQ("-0.000001", Utility::ToString(-0.000001));
    EXPECT_EQ(99u, Utility::ToString(1e300).size());
}

TEST(UtilityExtras, IsIpv6) {
    struct Case {
        const char* text;
        bool expect;
    } cases[] = {
        {"::1", true},          {"fe80::1", true},    {"10.1.2.3", true},   {"", true},
        {"::", true},           {"FE80::abcd", true}, {"12345::1", false},  {"1.2.3", false},
        {"g::1", false},        {"1:2:3:4:5:6:7:8:9", false}, {"1:2:3:4:5:6:7:8", true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expect, Utility::isipv6(c.text)) << c.text;
}

TEST(UtilityExtras, Uri) {
    struct Case {
        std::string url, protocol, user, password, host;
        int port;
        std::string pathWithQuery, path, query, file, ext;
    } cases[] = {
        {"HTTP://us:pw@10.0.0.5:8080/dir/file.txt?x=1", "http", "us", "pw", "10.0.0.5", 8080,
         "/dir/file.txt?x=1", "/dir/file.txt", "x=1", "file.txt", "txt"},
        {"https://host/a", "https", "", "", "host", 443, "/a", "/a", "", "a", ""},
        {"ftp://me@h:21", "ftp", "me", "", "h", 21, "", "", "", "", ""},
        // No path: the path is empty, and a query may follow the host.
        {"http://h", "http", "", "", "h", 80, "", "", "", "", ""},
        {"http://h?b=/c", "http", "", "", "h", 80, "?b=/c", "", "b=/c", "", ""},
        {"http://h:8a/", "http", "", "", "h", 8, "/", "/", "", "", ""},
        {"http://h:99999999999/", "http", "", "", "h", INT_MAX, "/", "/", "", "", ""},
        // Without "://" the whole text is path; the extension may come from
        // a directory name.
        {"/dir.d/file?q", "", "", "", "", 0, "/dir.d/file?q", "/dir.d/file", "q", "file", "d/file"},
        {"name", "", "", "", "", 0, "name", "name", "", "", ""},
        {"", "", "", "", "", 0, "", "", "", "", ""},
        {std::string("http://a\0b/c\0.x", 15), "http", "", "", std::string("a\0b", 3), 80,
         std::string("/c\0.x", 5), std::string("/c\0.x", 5), "", std::string("c\0.x", 4), "x"},
    };
    for (const Case& c : cases) {
        Utility::Uri u(c.url);
        EXPECT_EQ(c.url, u.Url());
        EXPECT_EQ(c.protocol, u.Protocol()) << c.url;
        EXPECT_EQ(c.user, u.User()) << c.url;
        EXPECT_EQ(c.password, u.Password()) << c.url;
        EXPECT_EQ(c.host, u.Host()) << c.url;
        EXPECT_EQ(c.port, u.Port()) << c.url;
        EXPECT_EQ(c.pathWithQuery, u.PathWithQuery()) << c.url;
        EXPECT_EQ(c.path, u.Path()) << c.url;
        EXPECT_EQ(c.query, u.QueryString()) << c.url;
        EXPECT_EQ(c.file, u.FileName()) << c.url;
        EXPECT_EQ(c.ext, u.Extension()) << c.url;
    }
}

TEST(UtilityExtras, Path) {
    TempDir dir;
    struct Case {
        std::string text, directory, file, ext;
    } cases[] = {
        {"dir\\sub\\name.tar.gz", "dir/sub/", "name.tar.gz", "gz"},
        {"name", "", "name", ""},
        {"/a.b/c", "/a.b/", "c", ""},
        {"x/", "x/", "", ""},
        {"", "", "", ""},
        {dir.path(), dir.path(), "", ""},  // an existing directory is all directory
        {dir.path() + std::string("\0.z", 3), dir.path().substr(0, dir.path().rfind('/') + 1),
         dir.path().substr(dir.path().rfind('/') + 1) + std::string("\0.z", 3), "z"},
    };
    for (const Case& c : cases) {
        Utility::Path p(c.text);
        EXPECT_EQ(c.directory, p.Directory()) << c.text;
        EXPECT_EQ(c.file, p.FileName()) << c.text;
        EXPECT_EQ(c.ext, p.Extension()) << c.text;
    }
}

TEST(UtilityExtras, WorkingDirectory) {
    char before[4096];
    ASSERT_NE(nullptr, getcwd(before, sizeof before));
    EXPECT_EQ(before, Utility::CurrentDirectory().Directory());

    TempDir dir;
    ASSERT_TRUE(Utility::ChangeDirectory(Utility::Path(dir.path() + "/file.txt")));
    EXPECT_EQ(dir.path() + "/", Utility::CurrentDirectory().Directory() + "/");
    EXPECT_FALSE(Utility::ChangeDirectory(Utility::Path(dir.path() + "/none/file.txt")));
    EXPECT_FALSE(Utility::ChangeDirectory(Utility::Path(std::string("/\0tmp/x", 7))));
    ASSERT_EQ(0, chdir(before));
}

TEST(UtilityExtras, Utf8) {
    struct Case {
        std::string in, out;
    } toUtf8[] = {
        {"\xe9", "\xc3\xa9"},
        {std::string("a\0\x80\xff", 4), std::string("a\0\xc2\x80\xc3\xbf", 6)},
        {"", ""},
    };
    for (const Case& c : toUtf8) EXPECT_EQ(c.out, Utility::ToUtf8(c.in));

    Case fromUtf8[] = {
        {"\xc3\xa9", "\xe9"},
        {"\xc2\x80", "\x80"},
        {"\xc4\x80", std::string("\0", 1)},          // U+0100 keeps its low 8 bits
        {"\xe2\x82\xac", "\xe2\x82\xac"},            // three-byte sequences pass
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"\xc3", "\xc3"},                            // truncated at the end
        {"a\xc3", "a\xc3"},
        {"\xc3" "A", "\xc3" "A"},
        {"\xc3\xc3\xa9", "\xc3\xe9"},
        {"\x80\xbf", "\x80\xbf"},                    // lone continuation bytes
        {std::string("\0\xc3\xa9\0", 4), std::string("\0\xe9\0", 3)},
        {std::string("\xc3\0", 2), std::string("\xc3\0", 2)},
    };
    for (const Case& c : fromUtf8) EXPECT_EQ(c.out, Utility::FromUtf8(c.in));

    EXPECT_EQ(AllBytes(), Utility::FromUtf8(Utility::ToUtf8(AllBytes())));
}

TEST(UtilityExtras, CaseMapping) {
    const std::string mixed("AbZz\xc4\xe4@[`{\0Q", 12);
    EXPECT_EQ(std::string("abzz\xc4\xe4@[`{\0q", 12), Utility::ToLower(mixed));
    EXPECT_EQ(std::string("ABZZ\xc4\xe4@[`{\0Q", 12), Utility::ToUpper(mixed));

    std::map<std::string, int, Utility::ncmap_compare> m;
    m["Key"] = 1;
    m["KEY"] = 2;
    m[std::string("a\0b", 3)] = 3;
    m[std::string("A\0c", 3)] = 4;
    m["a"] = 5;
    EXPECT_EQ(4u, m.size());
    EXPECT_EQ(2, m["key"]);
    EXPECT_EQ(3, m[std::string("A\0B", 3)]);
    EXPECT_EQ("a", m.begin()->first);  // a prefix sorts first
}

TEST(UtilityExtras, Environment) {
    const std::string name = "AISB_UTILITY_EXTRAS_TEST";
    unsetenv(name.c_str());
    EXPECT_EQ("", Utility::GetEnv(name));
    EXPECT_EQ(0, Utility::SetEnv(name, "one"));
    EXPECT_EQ(0, Utility::SetEnv(name, "two"));
    EXPECT_EQ("two", Utility::GetEnv(name));
    // A NUL would name a different variable or cut the value.
    EXPECT_EQ(-1, Utility::SetEnv(name + std::string("\0X", 2), "three"));
    EXPECT_EQ(-1, Utility::SetEnv(name, std::string("fo\0ur", 5)));
    EXPECT_EQ("two", Utility::GetEnv(name));
    EXPECT_EQ("", Utility::GetEnv(name + std::string("\0X", 2)));
    unsetenv(name.c_str());
}

TEST(UtilityExtras, Addresses) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(8080);
    in.sin_addr.s_addr = inet_addr("127.0.0.1");
    sockaddr* sa = reinterpret_cast<sockaddr*>(&in);

    EXPECT_EQ("127.0.0.1:8080", Utility::Sa2String(sa));
    std::unique_ptr<SocketAddress> copy = Utility::CreateAddress(sa, sizeof in);
    ASSERT_NE(nullptr, copy);
    EXPECT_TRUE(copy->IsValid());
    EXPECT_EQ("127.0.0.1:8080", copy->Convert(true));
    EXPECT_EQ(nullptr, Utility::CreateAddress(sa, sizeof in - 1));
    EXPECT_EQ(nullptr, Utility::CreateAddress(nullptr, sizeof in));

    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    EXPECT_EQ("", Utility::Sa2String(reinterpret_cast<sockaddr*>(&un)));
    EXPECT_EQ(nullptr, Utility::CreateAddress(reinterpret_cast<sockaddr*>(&un), sizeof in));

    int service = 7;
    EXPECT_FALSE(Utility::u2service("http", service, 0));
}

TEST(UtilityExtras, LocalHost) {
    char name[256] = {};
    ASSERT_EQ(0, gethostname(name, sizeof name - 1));
    EXPECT_EQ(name, Utility::GetLocalHostname());
    std::string dotted;
    if (Utility::GetLocalIP() != 0) Utility::l2ip(Utility::GetLocalIP(), dotted);
    EXPECT_EQ(dotted, Utility::GetLocalAddress());
}

// The generator's refill is Mersenne Twister's: on the low 32 bits its
// words must be the standard engine's outputs before tempering.
uint32_t Untemper(uint32_t y) {
    y ^= y >> 18;
    y ^= (y << 15) & 0xEFC60000u;
    uint32_t x = y;
    for (int i = 0; i < 5; ++i) x = y ^ ((x << 7) & 0x9D2C5680u);
    y = x;
    for (int i = 0; i < 3; ++i) x = y ^ (x >> 11);
    return x;
}

TEST(UtilityExtras, RngRefillIsMersenneTwister) {
    Utility::Rng rng(0x1234567887654321ull);
    EXPECT_EQ(0x87654321ull, rng.Get());  // the seed's low 32 bits come first
    std::ostringstream state;
    state << 0x87654321u;
    for (int i = 1; i < 624; ++i) state << ' ' << static_cast<uint32_t>(rng.Get());
    state << " 624";  // libstdc++ also reads its position: all words used
    std::mt19937 reference;
    std::istringstream(state.str()) >> reference;
    for (int i = 0; i < 2 * 624; ++i) {
        const uint32_t expect = Untemper(static_cast<uint32_t>(reference()));
        ASSERT_EQ(expect, static_cast<uint32_t>(rng.Get())) << "word " << i;
    }
    EXPECT_NE(Utility::Rnd(), Utility::Rnd());
}

}  // namespace
