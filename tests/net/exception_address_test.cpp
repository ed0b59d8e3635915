#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>

#include "net/Exception.h"
#include "net/Ipv4Address.h"

// A frame whose demangled name runs far past 1,000 bytes while its mangled
// name stays short: the nested type is spelled out once per level when
// demangled, but refers back to earlier parts when mangled.
namespace deepstack {
template <typename T>
struct Deep {};
template <int N>
struct Nest {
    using type = Deep<typename Nest<N - 1>::type>;
};
template <>
struct Nest<0> {
    using type = int;
};
constexpr int kDepth = 80;
template <typename T>
__attribute__((noinline)) void Throw() {
    throw Exception("deep");
}
}  // namespace deepstack

namespace {

TEST(Exception, CarriesTextAndStack) {
    try {
        throw Exception("bind() failed");
    } catch (const Exception& e) {
        EXPECT_EQ("bind() failed", e.ToString());
        EXPECT_FALSE(e.Stack().empty());
    }
}

TEST(Exception, StackKeepsDemangledNamesLongerThanAThousandBytes) {
    std::string stack;
    try {
        deepstack::Throw<deepstack::Nest<deepstack::kDepth>::type>();
    } catch (const Exception& e) {
        stack = e.Stack();
    }
    const size_t at = stack.find("deepstack::Throw<");
    ASSERT_NE(std::string::npos, at) << stack;
    const size_t begin = stack.rfind('\n', at) + 1;  // npos + 1 is 0
    const std::string line = stack.substr(begin, stack.find('\n', at) - begin);
    EXPECT_GT(line.size(), 1000u);
    int levels = 0;
    for (size_t p = line.find("deepstack::Deep<"); p != std::string::npos; p = line.find("deepstack::Deep<", p + 1))
        ++levels;
    EXPECT_EQ(deepstack::kDepth, levels) << line;
    EXPECT_EQ(std::string::npos, line.find("_ZN")) << line;
}

TEST(Ipv4Address, UnresolvableHostIsNotValid) {
    Ipv4Address a(std::string("no..such"), 80);
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(80, a.GetPort());
    EXPECT_EQ("0.0.0.0:80", a.Convert(true));
    EXPECT_EQ(AF_INET, a.GetFamily());
}

TEST(Ipv4Address, ConvertsNetworkOrderBytes) {
    unsigned char bytes[4] = {127, 0, 0, 1};
    unsigned long n = 0;
    memcpy(&n, bytes, 4);  // the low 32 bits hold the address in network order
    Ipv4Address a(n, 8080);
    EXPECT_TRUE(a.IsValid());
    EXPECT_EQ("127.0.0.1", a.Convert(false));
    EXPECT_EQ("127.0.0.1:8080", a.Convert(true));
    EXPECT_EQ(16u, static_cast<unsigned int>(a));
    const sockaddr_in* sa = reinterpret_cast<const sockaddr_in*>(static_cast<sockaddr*>(a));
    EXPECT_EQ(htons(8080), sa->sin_port);
}

TEST(Ipv4Address, Constructors) {
    Ipv4Address any(static_cast<unsigned short>(53));
    EXPECT_TRUE(any.IsValid());
    EXPECT_EQ("0.0.0.0:53", any.Convert(true));

    Ipv4Address named(std::string("localhost"), 9);
    EXPECT_TRUE(named.IsValid());
    EXPECT_EQ("127.0.0.1:9", named.Convert(true));

    in_addr ia;
    ia.s_addr = inet_addr("10.1.2.3");
    Ipv4Address fromIn(ia, 7);
    EXPECT_EQ("10.1.2.3:7", fromIn.Convert(true));

    sockaddr_in sa{};
    sa.sin_family = AF_UNIX;
    EXPECT_FALSE(Ipv4Address(sa).IsValid());
    sa.sin_family = AF_INET;
    EXPECT_TRUE(Ipv4Address(sa).IsValid());
}

TEST(Ipv4Address, EqualityIgnoresValidity) {
    Ipv4Address invalid(std::string("no..such"), 80);
    Ipv4Address zero(0UL, 80);
    EXPECT_TRUE(zero == invalid);
    EXPECT_TRUE(invalid == zero);
    Ipv4Address otherPort(0UL, 81);
    EXPECT_FALSE(zero == otherPort);
    Ipv4Address otherAddr(inet_addr("1.2.3.4"), 80);
    EXPECT_FALSE(zero == otherAddr);
}

TEST(Ipv4Address, CopyPortAndSetAddress) {
    Ipv4Address a(inet_addr("10.0.0.9"), 1);
    a.SetPort(65535);
    EXPECT_EQ(65535, a.GetPort());
    std::unique_ptr<SocketAddress> copy = a.GetCopy();
    EXPECT_TRUE(*copy == a);
    EXPECT_TRUE(copy->IsValid());

    Ipv4Address b(std::string("no..such"), 0);
    b.SetAddress(a);
    EXPECT_EQ("10.0.0.9:65535", b.Convert(true));
    EXPECT_FALSE(b.IsValid());  // SetAddress leaves validity alone
}

TEST(Ipv4Address, StaticResolveAndConvert) {
    in_addr a;
    EXPECT_TRUE(Ipv4Address::Resolve("localhost", a));
    EXPECT_EQ(inet_addr("127.0.0.1"), a.s_addr);
    EXPECT_FALSE(Ipv4Address::Resolve("no..such", a));
    EXPECT_EQ(0u, a.s_addr);
    EXPECT_TRUE(Ipv4Address::Resolve("0x2c.2.3.4", a));
    EXPECT_EQ("44.2.3.4", Ipv4Address::Convert(a));
    EXPECT_FALSE(Ipv4Address::Resolve("300.2.3.4", a));  // a part out of range
    EXPECT_EQ(0u, a.s_addr);

    in_addr lo;
    lo.s_addr = inet_addr("127.0.0.1");
    std::string name;
    EXPECT_TRUE(Ipv4Address::Reverse(lo, name));
    EXPECT_EQ("localhost", name);
    EXPECT_EQ("localhost", Ipv4Address(lo, 0).Reverse());
}

}  // namespace
