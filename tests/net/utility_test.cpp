#include "net/Utility.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

// External linkage and no inlining, so that the exported symbol shows up in
// the stack text.
namespace stacktest {
__attribute__((noinline)) std::string TakeStack() {
    std::string s = Utility::Stack();
    asm volatile("" ::: "memory");
    return s;
}
}  // namespace stacktest

namespace {

std::string dotted(const sockaddr_in& sa) {
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf);
    return buf;
}

TEST(Utility, HostText) {
    struct Case {
        std::string text;
        bool expect;
    };
    const Case cases[] = {
        {"known.test", true},
        {"a!b~c_d-e", true},                    // left to the system's resolver
        {"a\x80\xff", true},
        {"", false},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {std::string("a\0b", 3), false},
        {std::string("a\0", 2), false},
        {"a\x01", false},
        {"a\x1f", false},
        {"a\tb", false},
        {"a\nb", false},
        {"a\r", false},
        {"a b", false},
        {"a\x7f", false},
        {"a\\b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expect, Utility::isHostText(c.text)) << ::testing::PrintToString(c.text);
}

TEST(Utility, IsIpv4) {
    // What inet_aton reads as a whole, and nothing else.
    struct Case {
        std::string text;
        bool expect;
    };
    const Case cases[] = {
        {"10.0.0.1", true},     {"10.0.0", true},      {"10.1", true},       {"1", true},
        {"0x7f.1", true},       {"017.0.0.1", true},   {"4294967295", true}, {"...", false},
        {"999.1.1.1", false},   {"256.1.1.1", false},  {"09.1.1.1", false},  {"4294967296", false},
        {"", false},            {"10.0.0.1a", false},  {"1.2.3.4.", false},  {"1.2.3.4 x", false},
        {std::string("1.2.3.4\0x", 9), false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expect, Utility::isipv4(c.text)) << ::testing::PrintToString(c.text);
}

TEST(Utility, U2ip) {
    struct Case {
        const char* host;
        int flags;
        bool ok;
        const char* address;
    } cases[] = {
        {"256.1.1.1", AI_NUMERICHOST, false, "0.0.0.0"},  // a part out of range: no address
        {"1.2.3", AI_NUMERICHOST, true, "1.2.0.3"},       // the last part fills the bytes left
        {"...", AI_NUMERICHOST, false, "0.0.0.0"},
        {"localhost", AI_NUMERICHOST, false, "0.0.0.0"},  // a name, not looked up
        {"0x7f.1", 0, true, "127.0.0.1"},
        {"127.0.0.1", 0, true, "127.0.0.1"},
        {"localhost", 0, true, "127.0.0.1"},
        {"no..such", 0, false, "0.0.0.0"},
    };
    for (const Case& c : cases) {
        sockaddr_in sa;
        sa.sin_port = 77;
        EXPECT_EQ(c.ok, Utility::u2ip(c.host, sa, c.flags)) << c.host;
        EXPECT_EQ(AF_INET, sa.sin_family) << c.host;
        EXPECT_EQ(0, sa.sin_port) << c.host;
        EXPECT_EQ(c.address, dotted(sa)) << c.host;
    }
}

TEST(Utility, U2ipToNumberSetsZeroOnFailure) {
    unsigned long a = 12345;
    EXPECT_FALSE(Utility::u2ip("no..such", a));
    EXPECT_EQ(0u, a);
    EXPECT_TRUE(Utility::u2ip("10.0.0.1", a));
    EXPECT_EQ(inet_addr("10.0.0.1"), a);
}

TEST(Utility, NumberAndAddressTexts) {
    EXPECT_EQ("-42", Utility::l2string(-42));
    EXPECT_EQ("0", Utility::l2string(0));
    std::string text;
    Utility::l2ip(inet_addr("192.168.1.20"), text);
    EXPECT_EQ("192.168.1.20", text);
    in_addr a;
    a.s_addr = inet_addr("10.9.8.7");
    Utility::l2ip(a, text);
    EXPECT_EQ("10.9.8.7", text);
}

TEST(Utility, Reverse) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr("127.0.0.1");
    std::string host = "x";
    std::string service = "y";
    EXPECT_TRUE(Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, service, NI_NUMERICHOST));
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ("", service);
    EXPECT_TRUE(Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, 0));
    EXPECT_EQ("localhost", host);

    sockaddr_in other = sa;
    other.sin_family = AF_UNIX;
    EXPECT_FALSE(Utility::reverse(reinterpret_cast<sockaddr*>(&other), sizeof other, host, NI_NUMERICHOST));
    EXPECT_EQ("", host);
}

TEST(Utility, StackDemanglesFrameNames) {
    std::string stack = stacktest::TakeStack();
    ASSERT_FALSE(stack.empty());
    EXPECT_EQ('\n', stack.back());
    EXPECT_NE(std::string::npos, stack.find("stacktest::TakeStack")) << stack;
    EXPECT_EQ(std::string::npos, stack.find("_ZN9stacktest")) << stack;
}

TEST(Utility, SleepWaitsAtLeastTheTime) {
    auto t0 = std::chrono::steady_clock::now();
    Utility::Sleep(30);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 29);
    EXPECT_LT(ms, 1000);
    Utility::Sleep(-5);  // nothing to wait for
}

time_t fixedClock() { return 4242; }

TEST(Utility, ClockCanBeReplaced) {
    Utility::SetClock(&fixedClock);
    EXPECT_EQ(4242, Utility::Now());
    Utility::SetClock(nullptr);
    EXPECT_LE(std::abs(Utility::Now() - time(nullptr)), 1);
    timeval tv{};
    EXPECT_EQ(0, Utility::GetTime(&tv));
    EXPECT_GT(tv.tv_sec, 0);
}

}  // namespace
