// The asynchronous resolver: requests from a handler's sockets, the wire
// replies of its loopback server (malformed requests included), the
// bounded, expiring answer cache, and what a port held by another program,
// a hung name server, a descriptor-starved server end and a burst of
// requests do to it. Every look-up goes to a private name service.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/Ipv4Address.h"
#include "net/ResolvSocket.h"
#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "net/Utility.h"
#include "net_test_support.h"
#include "private_names.h"
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

const char* const kHosts = "127.0.0.1 localhost\n10.1.2.3 known.test\n";

// Runs in a child with private names: its name server answers "no such
// name" to every query unless a test says otherwise.
class Resolver : public ::testing::Test {
protected:
    // The resolver on a port the system picks; ready at once.
    void Start() {
        ResolvSocket::ClearCache();
        handler.EnableResolver(0);
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

    nettest::RecordingLog log;
    SocketHandler handler{&log};
};

#define START_RESOLVER(hosts)          \
    PRIVATE_NAMES(hosts);              \
    privatenames::NameServer dns;      \
    dns.Answer();                      \
    ASSERT_NO_FATAL_FAILURE(Start())

TEST_F(Resolver, AnswersRequestsOfItsSockets) {
    START_RESOLVER(kHosts);
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
    START_RESOLVER(kHosts);
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
             // The name is all after the first space, colons included.
             Case{"gethostbyname ::1\n", "Failed\n\n"},
             Case{"gethostbyname :10.1.2.3\n", "Failed\n\n"},
             Case{"gethostbyname  localhost\n", "Failed\n\n"},
             Case{"gethostbyname local\\host\n", "Failed\n\n"},
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

// A name of `n` characters: labels of at most 63 letters, then ".test".
std::string NameOfLength(size_t n) {
    std::string body;
    while (body.size() < n - 5) {
        if (!body.empty()) body += '.';
        body += std::string(std::min<size_t>(63, n - 5 - body.size()), 'a');
    }
    return body + ".test";
}

// glibc's answer for a name, asked here: "A <first address>" or "Failed";
// `count` takes the number of addresses.
std::string Glibc(const std::string& name, int* count = nullptr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return "Failed";
    std::string dotted;
    Utility::l2ip(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, dotted);
    if (count != nullptr) {
        *count = 0;
        for (addrinfo* a = found; a != nullptr; a = a->ai_next) ++*count;
    }
    freeaddrinfo(found);
    return "A " + dotted;
}

// Every name is answered for exactly itself, as glibc answers it, by the
// resolver and by the synchronous look-up alike, and the cache holds that
// answer under the whole name or nothing at all.
TEST_F(Resolver, EveryNameIsAnsweredAsGlibcAnswersIt) {
    const std::string name253 = NameOfLength(253);
    const std::string name256 = NameOfLength(256);
    std::string hosts = std::string(kHosts) + "10.4.0.253 " + name253 + "\n10.4.1.0 " + name256 + "\n";
    for (int i = 0; i < 200; ++i)
        hosts += "10.5." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " many.test\n";
    hosts += "10.6.0.1 aliased.test";
    for (int i = 0; i < 300; ++i) hosts += " alias" + std::to_string(i) + ".test";
    hosts += "\n";
    START_RESOLVER(hosts);
    int many = 0;
    ASSERT_EQ("A 10.5.0.0", Glibc("many.test", &many));
    ASSERT_EQ(200, many) << "glibc gives one address of a name in /etc/hosts";

    struct Row {
        std::string name;
        // Null: glibc's answer is asked for; else the answer is "Failed",
        // for the reason given.
        const char* fixed;
        // The cache then holds the answer under the name; else nothing.
        bool cached;
    };
    const Row rows[] = {
        {"known.test", nullptr, true},
        {"localhost\nx", nullptr, false},
        {"localhost\n", nullptr, false},
        {"localhost\rx", nullptr, false},
        {"localhost\r", nullptr, false},
        {"localhost\tx", nullptr, false},
        {"localhost\t", nullptr, false},
        {std::string("localhost\0x", 11), "glibc would be asked for the text before the NUL", false},
        {std::string("localhost\0", 10), "glibc would be asked for the text before the NUL", false},
        {"local host", nullptr, false},
        {"localhos\\t", nullptr, false},  // glibc asks the name server for "localhost"
        {"::1", nullptr, true},
        {":10.1.2.3", nullptr, true},
        {"10.1.2.3:80", nullptr, true},
        {"1", nullptr, true},
        {"10.1", nullptr, true},
        {"1.2.3", nullptr, true},
        {"0x7f.0.0.1", nullptr, true},
        {"017.0.0.1", nullptr, true},
        {"256.1.1.1", nullptr, true},
        {"1.2.3.4x", nullptr, true},
        {"1.2.3.4.", nullptr, true},
        {"", nullptr, false},
        {name253, nullptr, true},
        {name256, "longer than any host name; glibc answers it from /etc/hosts", false},
        {"many.test", nullptr, true},      // 200 addresses
        {"alias299.test", nullptr, true},  // the last of 300 aliases
    };
    std::vector<std::string> answers;
    Asker asker(handler, answers);
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.name.substr(0, 40)) + " (" + std::to_string(row.name.size()) +
                     " bytes)" + (row.fixed ? std::string(": ") + row.fixed : std::string()));
        ASSERT_TRUE(row.fixed != nullptr || row.name.find('\0') == std::string::npos);
        const std::string expected = row.fixed ? "Failed" : Glibc(row.name);
        ResolvSocket::ClearCache();
        answers.clear();
        const int id = asker.Resolve(row.name, 80);
        ASSERT_TRUE(Pump([&] { return !answers.empty(); }));
        EXPECT_EQ(std::to_string(id) + " " + expected + (expected == "Failed" ? "" : ":80"), answers[0]);

        unsigned long a = 0;
        std::string dotted;
        const bool found = Utility::u2ip(row.name, a);
        Utility::l2ip(a, dotted);
        EXPECT_EQ(expected, found ? "A " + dotted : "Failed");

        std::string cached;
        if (row.cached) {
            EXPECT_EQ(1u, ResolvSocket::CacheSize());
            EXPECT_TRUE(ResolvSocket::CacheGet("gethostbyname", row.name, cached));
            EXPECT_EQ(expected == "Failed" ? "" : expected.substr(2), cached);
        } else {
            EXPECT_EQ(0u, ResolvSocket::CacheSize());
        }
    }
}

// A request's socket, connected to a stand-in for the resolver server that
// sends it one reply: only a well-formed answer of the kind asked for
// reaches the asker as an answer, and only a fresh one is cached; anything
// else fails the request and stores nothing. No look-up is made.
class ResolverAnswer : public Resolver {};

TEST_F(ResolverAnswer, OnlyAWellFormedAnswerIsReportedAndStored) {
    struct Case {
        bool reverse;
        const char* reply;
        const char* answer;
        const char* stored;  // null: nothing
    };
    const Case cases[] = {
        {false, "A: 10.1.2.3\n\n", "7 A 10.1.2.3:80", "10.1.2.3"},
        {false, "A: 1.2\n\n", "7 Failed", nullptr},
        {false, "A: not-an-address\n\n", "7 Failed", nullptr},
        {false, "A: 10.1.2.3x\n\n", "7 Failed", nullptr},
        {false, "A: 10.1.2.256\n\n", "7 Failed", nullptr},
        {false, "A: 010.1.2.3\n\n", "7 Failed", nullptr},
        {false, "A:10.1.2.3\n\n", "7 Failed", nullptr},
        {false, "A: \n\n", "7 Failed", nullptr},
        {false, "Name: host.test\n\n", "7 Failed", nullptr},  // not the kind asked for
        {false, "Failed\n\n", "7 Failed", ""},
        {false, "Cached\nA: 10.1.2.3\n\n", "7 A 10.1.2.3:80", nullptr},  // the server has it already
        {false, "Cached\nA: 1.2\n\n", "7 Failed", nullptr},
        {false, "Unknown\n\n", "7 Failed", nullptr},
        {false, "\nA: 10.1.2.3\n\n", "7 Failed", nullptr},
        {false, "", "7 Failed", nullptr},  // closed without a reply
        {true, "Name: host.test\n\n", "7 Name host.test", "host.test"},
        {true, "Name: \n\n", "7 Failed", nullptr},
        {true, "Name: a b\n\n", "7 Failed", nullptr},
        {true, "A: 10.1.2.3\n\n", "7 Failed", nullptr},
        {true, "Failed: ipv4 reverse lookup of 10.9.8.7\n\n", "7 Failed", ""},
    };
    std::vector<std::string> answers;
    Asker asker(handler, answers);
    asker.Attach(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));  // one the handler knows
    handler.Add(&asker);
    tcptest::Listener server;
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(k.reply)) + (k.reverse ? " to a reverse request" : ""));
        ResolvSocket::ClearCache();
        answers.clear();
        ResolvSocket* r = k.reverse ? new ResolvSocket(handler, &asker, inet_addr("10.9.8.7"))
                                    : new ResolvSocket(handler, &asker, "name.test", 80);
        r->SetId(7);
        r->SetDeleteByHandler();
        Ipv4Address to(nettest::Loopback(), server.port);
        ASSERT_TRUE(r->Open(to));
        handler.Add(r);
        const int s = server.Accept();
        ASSERT_NE(-1, s);
        std::string request;
        ASSERT_TRUE(Pump([&] {
            char c;
            while (read(s, &c, 1) == 1) request += c;
            return !request.empty() && request.back() == '\n';
        }));
        EXPECT_EQ(k.reverse ? "gethostbyaddr 10.9.8.7\n" : "gethostbyname name.test\n", request);
        (void)!write(s, k.reply, strlen(k.reply));
        close(s);
        ASSERT_TRUE(Pump([&] { return !answers.empty() && handler.GetCount() == 1; }));
        EXPECT_EQ((std::vector<std::string>{k.answer}), answers);
        std::string stored;
        if (k.stored != nullptr) {
            EXPECT_TRUE(ResolvSocket::CacheGet(k.reverse ? "gethostbyaddr" : "gethostbyname",
                                               k.reverse ? "10.9.8.7" : "name.test", stored));
            EXPECT_EQ(k.stored, stored);
        }
        EXPECT_EQ(k.stored != nullptr ? 1u : 0u, ResolvSocket::CacheSize());
    }
}

// A TcpSocket opened by name on a handler with the resolver connects once
// the answer comes, even when it was added before.
TEST_F(Resolver, TcpSocketOpensByNameThroughTheResolver) {
    START_RESOLVER(kHosts);
    tcptest::Listener listener;
    std::vector<std::string> trace;
    // A client the handler owns, opened by `host` and added before its answer.
    auto opened = [&](const char* host) {
        trace.clear();
        tcptest::Client* c = new tcptest::Client(handler, trace);
        c->SetDeleteByHandler();
        EXPECT_TRUE(c->Open(host, listener.port));
        EXPECT_EQ(-1, c->GetSocket());  // waits for its answer
        handler.Add(c);
        return c;
    };
    // It connects; closed, it is dropped and freed once.
    auto connectsAndEnds = [&](tcptest::Client* c) {
        int server = -1;
        ASSERT_TRUE(Pump([&] {
            if (server == -1) server = listener.Accept(0);
            return server != -1 && tcptest::Has(trace, "connect");
        })) << log.Dump();
        c->SetCloseAndDelete();
        ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));
        EXPECT_EQ(1, tcptest::Count(trace, "delete"));
        close(server);
    };
    connectsAndEnds(opened("localhost"));

    // A name that doesn't resolve: OnConnectFailed, and the socket stays
    // aside, neither refused nor freed, until its owner acts; closed, it is
    // dropped and freed once.
    tcptest::Client* c = opened(kNoSuchHost);
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "failed"); }));
    for (int i = 0; i < 5; ++i) handler.Select(0, 1000);
    EXPECT_EQ((std::vector<std::string>{"failed"}), trace);
    EXPECT_FALSE(handler.Valid(c));
    c->SetCloseAndDelete();
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));
    EXPECT_EQ((std::vector<std::string>{"failed", "delete", "freed"}), trace);

    // Or its owner opens it again, by a name that resolves: it connects.
    c = opened(kNoSuchHost);
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "failed"); }));
    ASSERT_TRUE(c->Open("localhost", listener.port));
    connectsAndEnds(c);
}

// A TcpSocket the application owns, opened by a name that fails and never
// added, is the application's to delete: no warning, nothing left behind.
TEST_F(Resolver, FailedNameOfAnApplicationSocket) {
    START_RESOLVER(kHosts);
    std::vector<std::string> trace;
    {
        tcptest::Client c(handler, trace);
        ASSERT_TRUE(c.Open(kNoSuchHost, 80));
        handler.Add(&c);
        ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "failed"); }));
    }
    EXPECT_EQ(nullptr, log.Find("Socket destructor called while still in use")) << log.Dump();
    EXPECT_TRUE(Pump([&] { return handler.GetCount() == 0; }));
}

// A socket that asked and is gone before the answer gets nothing; the
// answer is still cached.
TEST_F(Resolver, AskerGoneBeforeTheAnswer) {
    START_RESOLVER(kHosts);
    std::vector<std::string> answers;
    auto* asker = new Asker(handler, answers);
    asker->Resolve("localhost", 80);
    delete asker;
    std::string cached;
    ASSERT_TRUE(Pump([&] { return ResolvSocket::CacheGet("gethostbyname", "localhost", cached); }));
    EXPECT_EQ("127.0.0.1", cached);
    EXPECT_TRUE(answers.empty());
}

// A resolver that cannot listen on its port asks nobody: the program that
// holds the port gets no connection, its words are never cached, and every
// request fails; the bind failure goes to the handler that enabled it.
TEST_F(Resolver, APortHeldByAnotherProgramIsNeverAsked) {
    PRIVATE_NAMES("10.1.2.3 victim.test\n");
    privatenames::NameServer dns;
    dns.Answer();
    ResolvSocket::ClearCache();
    tcptest::Listener impostor;
    ASSERT_NE(0, impostor.port);
    handler.EnableResolver(impostor.port);
    EXPECT_TRUE(handler.ResolverEnabled());
    EXPECT_FALSE(handler.ResolverReady());
    EXPECT_EQ(0, handler.GetResolverPort());
    const nettest::LogEntry* bind = log.FindLabel("bind");
    ASSERT_NE(nullptr, bind) << log.Dump();
    EXPECT_EQ(EADDRINUSE, bind->code);
    EXPECT_EQ(loglevel_fatal, bind->level);

    std::vector<std::string> answers;
    Asker asker(handler, answers);
    const int id = asker.Resolve("victim.test", 80);
    std::vector<std::string> trace;
    tcptest::Client* c = new tcptest::Client(handler, trace);
    c->SetDeleteByHandler();
    ASSERT_TRUE(c->Open("victim.test", 80));
    handler.Add(c);
    ASSERT_TRUE(Pump([&] { return answers.size() == 1 && tcptest::Has(trace, "failed"); }));
    EXPECT_EQ(std::to_string(id) + " Failed", answers[0]);
    EXPECT_EQ(-1, impostor.Accept(0));
    std::string cached;
    EXPECT_FALSE(ResolvSocket::CacheGet("gethostbyname", "victim.test", cached)) << cached;
    c->SetCloseAndDelete();
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));

    // A resolver that does listen answers with the name's own address.
    SocketHandler other;
    other.EnableResolver(0);
    ASSERT_TRUE(other.ResolverReady());
    std::vector<std::string> fresh;
    Asker otherAsker(other, fresh);
    const int otherId = otherAsker.Resolve("victim.test", 80);
    const auto start = Clock::now();
    while (fresh.empty() && SecondsSince(start) < 10) other.Select(0, 10000);
    EXPECT_EQ((std::vector<std::string>{std::to_string(otherId) + " A 10.1.2.3:80"}), fresh);
}

// The system resolver waits 5 s twice for a silent name server; destroying
// the handler does not wait with it. The look-up's thread is left to end on
// its own once the name server answers.
TEST_F(Resolver, DestructionDoesNotWaitForAHungLookUp) {
    PRIVATE_NAMES(kHosts);
    privatenames::NameServer dns;  // silent
    const int threads = nettest::CountThreads();
    auto h = std::make_unique<SocketHandler>();
    h->EnableResolver(0);
    ASSERT_TRUE(h->ResolverReady());
    std::vector<std::string> answers;
    auto asker = std::make_unique<Asker>(*h, answers);
    asker->Resolve("hung.test", 80);
    auto start = Clock::now();
    while (dns.Queries() == 0 && SecondsSince(start) < 5) h->Select(0, 10000);
    ASSERT_NE(0, dns.Queries());  // the look-up hangs in the system resolver
    asker.reset();
    start = Clock::now();
    h.reset();
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_TRUE(answers.empty());

    dns.Answer();
    start = Clock::now();
    while (nettest::CountThreads() != threads && SecondsSince(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(threads, nettest::CountThreads());
}

// A request whose server end is refused for lack of a descriptor fails,
// but is not cached: the name answers as soon as descriptors are back.
TEST_F(Resolver, ARequestTheServerDroppedIsNotCached) {
    START_RESOLVER(kHosts);
    rlimit rl{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &rl));
    if (rl.rlim_max != RLIM_INFINITY && rl.rlim_max < FD_SETSIZE + 64) GTEST_SKIP() << "too few descriptors allowed";
    rl.rlim_cur = FD_SETSIZE + 64;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &rl));
    // Every descriptor below FD_SETSIZE taken but the last: the request
    // gets that one, the server end one that select() cannot hold.
    std::vector<int> filler;
    for (;;) {
        const int fd = dup(0);
        ASSERT_NE(-1, fd) << strerror(errno);
        if (fd >= FD_SETSIZE) {
            close(fd);
            break;
        }
        filler.push_back(fd);
    }
    close(filler.back());
    filler.pop_back();

    std::vector<std::string> answers;
    Asker asker(handler, answers);
    asker.Resolve("known.test", 80);
    const bool failed = Pump([&] { return answers.size() == 1; });
    for (int fd : filler) close(fd);
    ASSERT_TRUE(failed);
    EXPECT_EQ("1 Failed", answers[0]);
    std::string cached;
    EXPECT_FALSE(ResolvSocket::CacheGet("gethostbyname", "known.test", cached));

    asker.Resolve("known.test", 81);
    ASSERT_TRUE(Pump([&] { return answers.size() == 2; }));
    EXPECT_EQ("2 A 10.1.2.3:81", answers[1]);
}

// 1,000 requests at once on one handler: each is answered, half found in
// /etc/hosts, half refused by the name server, none for want of a
// descriptor.
TEST_F(Resolver, EveryRequestOfABurstIsAnswered) {
    const int kNames = 500;
    std::string hosts;
    for (int i = 0; i < kNames; ++i)
        hosts += "10.2." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " host" + std::to_string(i) + ".test\n";
    START_RESOLVER(hosts);
    std::vector<std::string> answers;
    std::vector<std::string> expected;
    Asker asker(handler, answers);
    for (int i = 0; i < kNames; ++i) {
        const int found = asker.Resolve("host" + std::to_string(i) + ".test", 80);
        expected.push_back(std::to_string(found) + " A 10.2." + std::to_string(i / 256) + "." +
                           std::to_string(i % 256) + ":80");
        const int lost = asker.Resolve("none" + std::to_string(i) + ".test", 80);
        expected.push_back(std::to_string(lost) + " Failed");
    }
    ASSERT_TRUE(Pump([&] { return answers.size() >= expected.size(); }, 60)) << answers.size();
    std::sort(answers.begin(), answers.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, answers);
    EXPECT_EQ(nullptr, log.Find("descriptor too large for select()"));
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
