// The asynchronous resolver: requests from a handler's sockets, the wire
// replies of its loopback server (malformed requests included), and the
// bounded, expiring answer cache.

#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "net/ResolvSocket.h"
#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "net/Utility.h"
#include "net_test_support.h"
#include "tcp_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const char* const kNoSuchHost = "no-such-host.invalid";

// Records the answers it gets.
class Asker : public Socket {
public:
    Asker(ISocketHandler& h, std::vector<std::string>& answers) : Socket(h), m_answers(answers) {}
    void OnOptions(int, int, int, int) override {}
    void OnResolved(int id, unsigned long a, unsigned short port) override {
        std::string dotted;
        Utility::l2ip(a, dotted);
        m_answers.push_back(std::to_string(id) + " A " + dotted + ":" + std::to_string(port));
    }
    void OnReverseResolved(int id, const std::string& name) override {
        m_answers.push_back(std::to_string(id) + " Name " + name);
    }
    void OnResolveFailed(int id) override { m_answers.push_back(std::to_string(id) + " Failed"); }

private:
    std::vector<std::string>& m_answers;
};

class Resolver : public ::testing::Test {
protected:
    void SetUp() override {
        ResolvSocket::ClearCache();
        handler.EnableResolver(0);  // the system picks the port
        const auto start = Clock::now();
        while (!handler.ResolverReady() && SecondsSince(start) < 5) handler.Select(0, 10000);
        ASSERT_TRUE(handler.ResolverReady());
    }

    bool Pump(const std::function<bool()>& done, double seconds = 10) {
        const auto start = Clock::now();
        while (!done() && SecondsSince(start) < seconds) handler.Select(0, 10000);
        return done();
    }

    // The server's whole reply to one raw request.
    std::string Ask(const std::string& request) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = nettest::Loopback();
        sa.sin_port = htons(handler.GetResolverPort());
        if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            close(s);
            return "no connection";
        }
        (void)!write(s, request.data(), request.size());
        std::string out;
        char buf[512];
        const auto start = Clock::now();
        while (SecondsSince(start) < 10) {
            pollfd p{s, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            ssize_t n = read(s, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        close(s);
        return out;
    }

    SocketHandler handler;
};

TEST_F(Resolver, AnswersRequestsOfItsSockets) {
    std::string reverse;
    sockaddr_in sa{};
    ASSERT_TRUE(Utility::u2ip("127.0.0.1", sa, AI_NUMERICHOST));
    const bool named = Utility::reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, reverse, 0);

    std::vector<std::string> answers;
    Asker asker(handler, answers);
    EXPECT_EQ(1, asker.Resolve("localhost", 80));
    EXPECT_EQ(2, asker.Resolve(nettest::Loopback()));
    EXPECT_EQ(3, asker.Resolve(kNoSuchHost, 80));
    EXPECT_TRUE(handler.Resolving(&asker));
    ASSERT_TRUE(Pump([&] { return answers.size() == 3; })) << answers.size();
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ((std::vector<std::string>{"1 A 127.0.0.1:80", named ? "2 Name " + reverse : "2 Failed", "3 Failed"}),
              answers);

    // The same again comes from the cache, with the same answers.
    answers.clear();
    EXPECT_EQ(4, asker.Resolve("localhost", 81));
    EXPECT_EQ(5, asker.Resolve(kNoSuchHost, 80));
    ASSERT_TRUE(Pump([&] { return answers.size() == 2; }));
    std::sort(answers.begin(), answers.end());
    EXPECT_EQ((std::vector<std::string>{"4 A 127.0.0.1:81", "5 Failed"}), answers);
    EXPECT_EQ("Cached\nA: 127.0.0.1\n\n", Ask("gethostbyname localhost\n"));
    EXPECT_EQ("Cached\nFailed\n\n", Ask(std::string("gethostbyname ") + kNoSuchHost + "\n"));
}

TEST_F(Resolver, WireRepliesToEveryKindOfRequest) {
    struct Case {
        const char* request;
        const char* reply;
    };
    const std::string reverseFailed = "Failed: ipv4 reverse lookup of 192.0.2.1\n\n";
    for (const Case& k : {
             Case{"gethostbyname localhost\n", "A: 127.0.0.1\n\n"},
             Case{"gethostbyname no-such-host.invalid\n", "Failed\n\n"},
             Case{"gethostbyaddr letters\n", "Failed: malformed address\n\n"},
             Case{"frobnicate localhost\n", "Unknown\n\n"},
             Case{"\n", "Failed\n\n"},
             Case{"gethostbyname\n", "Failed\n\n"},
             Case{"gethostbyname   \r\n", "Failed\n\n"},
             Case{"gethostbyaddr 1.2.3\n", "Failed: malformed address\n\n"},
         }) {
        SCOPED_TRACE(k.request);
        EXPECT_EQ(k.reply, Ask(k.request));
    }
    // A name far longer than any host name is not looked up.
    EXPECT_EQ("Failed\n\n", Ask("gethostbyname " + std::string(300, 'a') + "\n"));
    // A line over the line limit closes the connection unanswered.
    EXPECT_EQ("", Ask("gethostbyname " + std::string(9000, 'a') + "\n"));
    // One query per connection: a second line changes nothing.
    EXPECT_EQ("Unknown\n\n", Ask("what\ngethostbyname localhost\n"));
    // The server is still there.
    EXPECT_EQ("A: 127.0.0.1\n\n", Ask("gethostbyname localhost\n"));
}

// A TcpSocket opened by name on a handler with the resolver connects once
// the answer comes, even when it was added before.
TEST_F(Resolver, TcpSocketOpensByNameThroughTheResolver) {
    tcptest::Listener listener;
    std::vector<std::string> trace;
    tcptest::Client* c = new tcptest::Client(handler, trace);
    c->SetDeleteByHandler();
    ASSERT_TRUE(c->Open("localhost", listener.port));
    EXPECT_EQ(-1, c->GetSocket());  // waits for its answer
    handler.Add(c);
    int server = -1;
    ASSERT_TRUE(Pump([&] {
        if (server == -1) server = listener.Accept(0);
        return server != -1 && tcptest::Has(trace, "connect");
    }));
    c->SetCloseAndDelete();
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));
    EXPECT_EQ(1, tcptest::Count(trace, "delete"));
    close(server);

    // A name that doesn't resolve: the socket is refused and freed once.
    trace.clear();
    c = new tcptest::Client(handler, trace);
    c->SetDeleteByHandler();
    ASSERT_TRUE(c->Open(kNoSuchHost, listener.port));
    handler.Add(c);
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));
    EXPECT_EQ((std::vector<std::string>{"delete", "freed"}), trace);
}

// A socket that asked and is gone before the answer gets nothing; the
// answer is still cached.
TEST_F(Resolver, AskerGoneBeforeTheAnswer) {
    std::vector<std::string> answers;
    auto* asker = new Asker(handler, answers);
    asker->Resolve("localhost", 80);
    delete asker;
    std::string cached;
    ASSERT_TRUE(Pump([&] { return ResolvSocket::CacheGet("gethostbyname", "localhost", cached); }));
    EXPECT_EQ("127.0.0.1", cached);
    EXPECT_TRUE(answers.empty());
}

TEST(ResolverCache, AnswersExpireFailuresSoonerAndTheSizeIsBounded) {
    ResolvSocket::ClearCache();
    nettest::FakeClock clock(5000000);
    ResolvSocket::CachePut("gethostbyname", "found", "10.0.0.1");
    ResolvSocket::CachePut("gethostbyname", "lost", "");
    struct Case {
        time_t after;
        bool found;
        bool lost;
    };
    for (const Case& k : {Case{ResolvSocket::kFailureTtl - 1, true, true}, Case{ResolvSocket::kFailureTtl, true, false},
                          Case{ResolvSocket::kAnswerTtl - 1, true, false}, Case{ResolvSocket::kAnswerTtl, false, false}}) {
        SCOPED_TRACE(k.after);
        nettest::FakeClock::now = 5000000 + k.after;
        std::string answer = "x";
        EXPECT_EQ(k.found, ResolvSocket::CacheGet("gethostbyname", "found", answer));
        if (k.found) {
            EXPECT_EQ("10.0.0.1", answer);
        }
        EXPECT_EQ(k.lost, ResolvSocket::CacheGet("gethostbyname", "lost", answer));
        if (k.lost) {
            EXPECT_EQ("", answer);
        }
    }

    // Full: the expired go first, then the oldest.
    ResolvSocket::ClearCache();
    nettest::FakeClock::now = 6000000;
    ResolvSocket::CachePut("gethostbyname", "oldest", "10.0.0.2");
    ResolvSocket::CachePut("gethostbyname", "failed", "");
    nettest::FakeClock::now += ResolvSocket::kFailureTtl;  // the failure has expired
    for (size_t i = 2; i < ResolvSocket::kCacheMax; ++i) ResolvSocket::CachePut("gethostbyaddr", std::to_string(i), "n");
    ASSERT_EQ(ResolvSocket::kCacheMax, ResolvSocket::CacheSize());
    std::string answer;
    ResolvSocket::CachePut("gethostbyname", "new1", "10.0.0.3");  // takes the failure's room
    EXPECT_EQ(ResolvSocket::kCacheMax, ResolvSocket::CacheSize());
    EXPECT_TRUE(ResolvSocket::CacheGet("gethostbyname", "oldest", answer));
    ResolvSocket::CachePut("gethostbyname", "new2", "10.0.0.4");  // takes the oldest's
    EXPECT_EQ(ResolvSocket::kCacheMax, ResolvSocket::CacheSize());
    EXPECT_FALSE(ResolvSocket::CacheGet("gethostbyname", "oldest", answer));
    EXPECT_TRUE(ResolvSocket::CacheGet("gethostbyname", "new1", answer));
    EXPECT_TRUE(ResolvSocket::CacheGet("gethostbyname", "new2", answer));
    ResolvSocket::ClearCache();
}

TEST(ResolverServer, ListensOnLoopbackOnlyAndStopsInBoundedTime) {
    auto h = std::make_unique<SocketHandler>();
    h->EnableResolver(0);
    h->EnableResolver(1);  // the first server stays
    const auto start = Clock::now();
    while (!h->ResolverReady() && SecondsSince(start) < 5) h->Select(0, 10000);
    ASSERT_TRUE(h->ResolverReady());
    const unsigned short port = h->GetResolverPort();
    EXPECT_NE(0, port);
    EXPECT_NE(1, port);
    // Bound to 127.0.0.1, not to every interface.
    std::string address;
    FILE* f = fopen("/proc/net/tcp", "r");
    ASSERT_NE(nullptr, f);
    char line[512];
    char hex[16];
    snprintf(hex, sizeof hex, ":%04X ", port);
    while (fgets(line, sizeof line, f) != nullptr) {
        std::string l(line);
        size_t at = l.find(hex);
        if (at != std::string::npos && at < 30 && l.find(" 0A ") != std::string::npos) address = l.substr(at - 8, 8);
    }
    fclose(f);
    EXPECT_EQ("0100007F", address);  // 127.0.0.1, little-endian hex
    const auto stop = Clock::now();
    h.reset();
    EXPECT_LT(SecondsSince(stop), 3.0);
}

}  // namespace
