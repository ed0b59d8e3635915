#include "net/UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/SocketHandler.h"
#include "net_test_support.h"

namespace {

using nettest::RecordingLog;

class Receiver : public UdpSocket {
public:
    Receiver(ISocketHandler& h, int ibufsz = 16384, int retries = 0) : UdpSocket(h, ibufsz, false, retries) {}

    void OnRawData(const char* buf, size_t len, sockaddr* sa, socklen_t sa_len) override {
        got.emplace_back(buf, len);
        from_len = sa_len;
        from_port = ntohs(reinterpret_cast<sockaddr_in*>(sa)->sin_port);
    }
    void OnRawData(const char* buf, size_t len, sockaddr*, socklen_t, timeval* ts) override {
        stamped.emplace_back(buf, len);
        stamp = *ts;
    }

    std::vector<std::string> got;
    std::vector<std::string> stamped;
    socklen_t from_len = 0;
    unsigned short from_port = 0;
    timeval stamp{};
};

class Udp : public testing::Test {
protected:
    // A receiver on 127.0.0.1 and a kernel-chosen port, registered with the loop.
    unsigned short Listen(Receiver& r) {
        unsigned short port = 0;
        EXPECT_EQ(0, r.Bind("127.0.0.1", port, 0));
        handler.Add(&r);
        return port;
    }
    // One turn that returns as soon as something is readable (at most 1 s).
    void Turn() { handler.Select(1, 0); }

    RecordingLog log;
    SocketHandler handler{&log};
    UdpSocket sender{handler, 16384, false, 0};
};

TEST_F(Udp, PortZeroBindsTheKernelsChoice) {
    Receiver r(handler);
    EXPECT_EQ(0, r.GetPort());
    EXPECT_FALSE(r.IsBound());
    unsigned short port = 0;
    ASSERT_EQ(0, r.Bind("127.0.0.1", port, 10));
    EXPECT_NE(0, port);
    EXPECT_EQ(port, r.GetPort());
    EXPECT_EQ(port, r.GetSockPort());
    EXPECT_TRUE(r.IsBound());
    int flags = fcntl(r.GetSocket(), F_GETFL);
    EXPECT_TRUE(flags & O_NONBLOCK);

    Receiver any(handler);
    unsigned short p2 = 0;
    ASSERT_EQ(0, any.Bind(p2, 0));
    EXPECT_EQ(p2, any.GetSockPort());
    EXPECT_EQ("0.0.0.0", any.GetSockAddress());
    Receiver num(handler);
    unsigned short p3 = 0;
    ASSERT_EQ(0, num.Bind(nettest::Loopback(), p3, 0));
    EXPECT_EQ(p3, num.GetSockPort());
}

// Ports P and P + 1 held by raw sockets of the test; P + 2 free.
struct TakenPorts {
    TakenPorts() {
        for (int attempt = 0; attempt < 50 && base == 0; ++attempt) {
            unsigned short p = 0;
            int a = nettest::BindRaw(0, &p);
            if (a == -1 || p > 65000) {
                if (a != -1) close(a);
                continue;
            }
            int b = nettest::BindRaw(static_cast<unsigned short>(p + 1));
            int c = nettest::BindRaw(static_cast<unsigned short>(p + 2));
            if (b == -1 || c == -1) {
                for (int fd : {a, b, c})
                    if (fd != -1) close(fd);
                continue;
            }
            close(c);
            fds[0] = a;
            fds[1] = b;
            base = p;
        }
    }
    ~TakenPorts() {
        for (int fd : fds)
            if (fd != -1) close(fd);
    }
    unsigned short base = 0;
    int fds[2] = {-1, -1};
};

TEST_F(Udp, BindSkipsTakenPortsOfTheRange) {
    TakenPorts taken;
    ASSERT_NE(0, taken.base);
    Receiver r(handler);
    unsigned short port = taken.base;
    ASSERT_EQ(0, r.Bind("127.0.0.1", port, 2));
    EXPECT_EQ(taken.base + 2, port);
    EXPECT_EQ(port, r.GetPort());
    EXPECT_EQ(port, r.GetSockPort());
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(Udp, BindThrowsWhenTheWholeRangeIsTaken) {
    TakenPorts taken;
    ASSERT_NE(0, taken.base);
    for (int range : {0, 1}) {  // range 0: the given port only
        log.entries.clear();
        Receiver r(handler);
        unsigned short port = taken.base;
        try {
            r.Bind("127.0.0.1", port, range);
            FAIL() << "no exception, range " << range;
        } catch (const Exception& e) {
            EXPECT_EQ("bind() failed for UdpSocket, port:range: " + std::to_string(taken.base + range) + ":" +
                          std::to_string(range),
                      e.ToString());
        }
        EXPECT_EQ(taken.base, port);  // not written back
        EXPECT_FALSE(r.IsBound());
        EXPECT_TRUE(r.CloseAndDelete());
        const nettest::LogEntry* e = log.FindLabel("bind");
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(EADDRINUSE, e->code);
        EXPECT_EQ(loglevel_fatal, e->level);
        EXPECT_EQ(1, log.Count("bind"));
    }
}

TEST_F(Udp, RangeEndsAt65535) {
    int top = nettest::BindRaw(65535);
    if (top == -1) GTEST_SKIP() << "port 65535 in use elsewhere";
    Receiver r(handler);
    unsigned short port = 65535;
    try {
        r.Bind("127.0.0.1", port, 10);  // must not wrap to port 0, which would bind
        FAIL() << "bound port " << r.GetPort();
    } catch (const Exception& e) {
        EXPECT_EQ("bind() failed for UdpSocket, port:range: 65535:10", e.ToString());
    }
    close(top);
}

TEST_F(Udp, BindToAnUnresolvableHost) {
    Receiver r(handler);
    unsigned short port = 4000;
    EXPECT_EQ(-1, r.Bind("no..such", port, 10));
    EXPECT_TRUE(r.CloseAndDelete());
    EXPECT_EQ(-1, r.GetSocket());
    EXPECT_EQ(4000, port);
}

TEST_F(Udp, ReceivesRetriesPlusOneDatagramsPerTurn) {
    // More datagrams than one system call takes, of lengths that differ,
    // so that a slot's text never runs into the next.
    struct Case {
        int retries;
        int sent;
        std::vector<size_t> perTurn;  // total delivered after each turn
    } cases[] = {
        {0, 5, {1, 2, 3, 4, 5}},
        {2, 5, {3, 5}},
        {-1, 5, {5}},
        {UdpSocket::kReadBatch + 8, 2 * UdpSocket::kReadBatch + 20,
         {UdpSocket::kReadBatch + 9, 2 * UdpSocket::kReadBatch + 18, 2 * UdpSocket::kReadBatch + 20}},
        {-1, 3 * UdpSocket::kReadBatch + 1, {3 * UdpSocket::kReadBatch + 1}},
    };
    for (const Case& c : cases) {
        Receiver r(handler, 16384, c.retries);
        unsigned short port = Listen(r);
        std::vector<std::string> sent;
        for (int i = 0; i < c.sent; ++i) {
            sent.push_back("d" + std::to_string(i) + std::string(static_cast<size_t>(i % 7), '.'));
            sender.SendTo("127.0.0.1", port, sent.back(), 0);
        }
        for (size_t total : c.perTurn) {
            Turn();
            EXPECT_EQ(total, r.got.size()) << "retries " << c.retries;
        }
        EXPECT_EQ(sent, r.got) << "retries " << c.retries;
        EXPECT_EQ(16u, r.from_len);
        EXPECT_EQ(sender.GetSockPort(), r.from_port);
    }
    EXPECT_EQ(nullptr, log.FindLabel("recvfrom")) << log.Dump();
}

// An empty datagram carries nothing; the ones behind it in the same read
// are delivered all the same.
TEST_F(Udp, EmptyDatagramIsConsumedAndNotDelivered) {
    Receiver r(handler, 16384, -1);
    unsigned short port = Listen(r);
    sender.SendTo("127.0.0.1", port, "a", 0);
    sender.SendTo("127.0.0.1", port, "", 0);
    sender.SendTo("127.0.0.1", port, "b", 0);
    Turn();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), r.got);
}

// A datagram that doesn't fit the input buffer is dropped whole, never cut.
TEST_F(Udp, OversizedDatagramIsLoggedAndDropped) {
    for (bool stamped : {false, true}) {
        log.entries.clear();
        Receiver r(handler, 16, -1);
        r.SetTimestamp(stamped);
        unsigned short port = Listen(r);
        sender.SendTo("127.0.0.1", port, std::string(20, 'x'), 0);
        sender.SendTo("127.0.0.1", port, std::string(16, 'y'), 0);
        const std::vector<std::string>& got = stamped ? r.stamped : r.got;
        for (int i = 0; i < 2 && got.empty(); ++i) Turn();  // the stamped path reads one per turn
        EXPECT_EQ(std::vector<std::string>{std::string(16, 'y')}, got) << "stamped " << stamped;
        const nettest::LogEntry* e = log.FindLabel("recvfrom");
        ASSERT_NE(nullptr, e) << "stamped " << stamped;
        EXPECT_EQ(20, e->code);
        EXPECT_EQ(loglevel_warning, e->level);
    }
}

TEST_F(Udp, TimeStampedReceive) {
    Receiver r(handler);
    unsigned short port = Listen(r);
    ASSERT_TRUE(r.SetSoTimestamp(true));
    r.SetTimestamp();
    timeval before;
    Utility::GetTime(&before);
    sender.SendTo("127.0.0.1", port, "stamp", 0);
    Turn();
    EXPECT_EQ(std::vector<std::string>{"stamp"}, r.stamped);
    EXPECT_TRUE(r.got.empty());
    EXPECT_LE(std::abs(r.stamp.tv_sec - before.tv_sec), 2);
}

TEST_F(Udp, SendsByNameAndByAddress) {
    Receiver r(handler, 16384, -1);
    unsigned short port = Listen(r);
    Ipv4Address target(nettest::Loopback(), port);
    const std::vector<std::pair<std::string, std::function<void()>>> sends = {
        {"by name", [&] { sender.SendTo("localhost", port, "by name", 0); }},
        {"by text", [&] { sender.SendTo("127.0.0.1", port, "by text", 0); }},
        {"by number", [&] { sender.SendTo(nettest::Loopback(), port, "by number", 0); }},
        {"by address", [&] { sender.SendTo(target, "by address", 0); }},
        {"buf by address", [&] { sender.SendToBuf(target, "buf by address", 14, 0); }},
        {"buf by number", [&] { sender.SendToBuf(nettest::Loopback(), port, "buf by number", 13, 0); }},
        {"buf by name", [&] { sender.SendToBuf("localhost", port, "buf by name", 11, 0); }},
    };
    for (const auto& s : sends) {
        s.second();
        EXPECT_EQ(static_cast<int>(s.first.size()), sender.GetLastSizeWritten()) << s.first;
        Turn();
        ASSERT_FALSE(r.got.empty()) << s.first;
        EXPECT_EQ(s.first, r.got.back());
    }
    EXPECT_EQ(sends.size(), r.got.size());
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(Udp, UnresolvableDestinationSendsNothingSilently) {
    Receiver r(handler);
    unsigned short port = Listen(r);
    sender.SendTo("127.0.0.1", port, "12345", 0);
    ASSERT_EQ(5, sender.GetLastSizeWritten());
    sender.SendTo("no..such", port, "lost", 0);
    EXPECT_EQ(5, sender.GetLastSizeWritten());
    EXPECT_TRUE(log.entries.empty());
}

// The forwarder's socket: never bound, never added; the first send makes a
// non-blocking descriptor, and failures are only logged.
TEST_F(Udp, SendFailuresAreLoggedNotThrown) {
    EXPECT_EQ(-1, sender.GetSocket());
    struct Case {
        const char* name;
        std::function<void()> send;
        int code;
    } cases[] = {
        {"too long", [&] { sender.SendTo(nettest::Loopback(), 9, std::string(70000, 'x'), 0); }, EMSGSIZE},
        {"broadcast not allowed", [&] { sender.SendTo("255.255.255.255", 9, "x", 0); }, EACCES},
        {"negative length", [&] { sender.SendToBuf(nettest::Loopback(), 9, "x", -1, 0); }, EINVAL},
    };
    for (const Case& c : cases) {
        log.entries.clear();
        EXPECT_NO_THROW(c.send()) << c.name;
        EXPECT_EQ(-1, sender.GetLastSizeWritten()) << c.name;
        ASSERT_EQ(1u, log.entries.size()) << c.name;
        EXPECT_EQ("sendto", log.entries[0].label);
        EXPECT_EQ(c.code, log.entries[0].code) << c.name;
        EXPECT_EQ(loglevel_error, log.entries[0].level);
    }
    ASSERT_NE(-1, sender.GetSocket());
    EXPECT_TRUE(fcntl(sender.GetSocket(), F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(sender.CloseAndDelete());

    // The kernel bound the descriptor on the first send: Bind now fails.
    unsigned short port = 0;
    EXPECT_THROW(sender.Bind("127.0.0.1", port, 0), Exception);
}

// A batch leaves as a prefix: it stops at the first datagram refused and
// names its error; the caller skips a datagram refused for its own sake and
// sends the rest. Only such a refusal is logged.
TEST_F(Udp, BatchStopsAtTheFirstRefusedDatagram) {
    Receiver r(handler, 16384, -1);
    const unsigned short port = Listen(r);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string tooLong(70000, 'x');
    const std::vector<std::string> texts = {"one", "two", tooLong, "four", "five"};
    std::vector<UdpSocket::Datagram> batch;
    for (const std::string& t : texts) batch.push_back(UdpSocket::Datagram{to, t.data(), t.size()});

    int error = -1;
    EXPECT_EQ(2u, sender.SendBatch(batch.data(), 5, error));
    EXPECT_EQ(EMSGSIZE, error);
    EXPECT_EQ(3, sender.GetLastSizeWritten());
    ASSERT_NE(nullptr, log.FindLabel("sendto"));
    EXPECT_EQ(2u, sender.SendBatch(batch.data() + 3, 2, error));
    EXPECT_EQ(0, error);
    EXPECT_EQ(0u, sender.SendBatch(batch.data(), 0, error));
    EXPECT_EQ(0, error);
    Turn();
    EXPECT_EQ((std::vector<std::string>{"one", "two", "four", "five"}), r.got);
}

TEST_F(Udp, ConnectedSocketSendsWithSendBuf) {
    Receiver r(handler);
    unsigned short port = Listen(r);
    UdpSocket c(handler);
    c.Send("early", 0);
    const nettest::LogEntry* e = log.Find("not connected", "SendBuf");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_error, e->level);

    EXPECT_FALSE(c.Open("no..such", port));
    EXPECT_FALSE(c.CloseAndDelete());
    ASSERT_TRUE(c.Open("127.0.0.1", port));
    EXPECT_TRUE(c.IsConnected());
    c.Send("hello", 0);
    EXPECT_EQ(5, c.GetLastSizeWritten());
    UdpSocket n(handler);
    ASSERT_TRUE(n.Open(nettest::Loopback(), port));
    n.SendBuf("num", 3, 0);
    Turn();
    Turn();
    EXPECT_EQ((std::vector<std::string>{"hello", "num"}), r.got);
}

// An error from the peer (port unreachable) is logged by the read and the
// socket stays open.
TEST_F(Udp, ReceiveErrorIsLoggedAndSocketStays) {
    unsigned short dead = 0;
    close(nettest::BindRaw(0, &dead));
    Receiver c(handler);
    ASSERT_TRUE(c.Open(nettest::Loopback(), dead));
    handler.Add(&c);
    c.Send("ping", 0);
    for (int i = 0; i < 3 && log.FindLabel("recvfrom") == nullptr; ++i) Turn();
    const nettest::LogEntry* e = log.FindLabel("recvfrom");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(ECONNREFUSED, e->code);
    EXPECT_EQ(loglevel_error, e->level);
    EXPECT_FALSE(c.CloseAndDelete());
    EXPECT_NE(-1, c.GetSocket());
}

TEST_F(Udp, BroadcastAndMulticastSettings) {
    struct Case {
        const char* name;
        std::function<void(UdpSocket&)> set;
        std::function<long(UdpSocket&)> get;
        long expect;
    } cases[] = {
        {"broadcast on", [](UdpSocket& s) { s.SetBroadcast(true); }, [](UdpSocket& s) { return s.IsBroadcast(); }, 1},
        {"broadcast off", [](UdpSocket& s) { s.SetBroadcast(false); }, [](UdpSocket& s) { return s.IsBroadcast(); }, 0},
        {"multicast ttl", [](UdpSocket& s) { s.SetMulticastTTL(3); }, [](UdpSocket& s) { return s.GetMulticastTTL(); }, 3},
        {"multicast loop off", [](UdpSocket& s) { s.SetMulticastLoop(false); },
         [](UdpSocket& s) { return s.IsMulticastLoop(); }, 0},
        {"multicast loop on", [](UdpSocket& s) { s.SetMulticastLoop(true); },
         [](UdpSocket& s) { return s.IsMulticastLoop(); }, 1},
    };
    for (const Case& c : cases) {
        UdpSocket s(handler);
        c.set(s);  // makes the descriptor first
        EXPECT_NE(-1, s.GetSocket()) << c.name;
        EXPECT_EQ(c.expect, c.get(s)) << c.name;
    }
    EXPECT_TRUE(log.entries.empty());

    UdpSocket m(handler);
    m.AddMulticastMembership("no..such", "127.0.0.1", 0);
    m.DropMulticastMembership("no..such", "127.0.0.1", 0);
    m.SetMulticastDefaultInterface("no..such", 0);
    EXPECT_TRUE(log.entries.empty());

    UdpSocket closed(handler);
    closed.SetMulticastDefaultInterface(nettest::Loopback(), 0);  // no descriptor is made for this one
    const nettest::LogEntry* e = log.FindLabel("SetMulticastDefaultInterface(ipv4)");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(EBADF, e->code);
    EXPECT_EQ(loglevel_warning, e->level);
}

TEST_F(Udp, ClosedByTheLoopOnRequest) {
    Receiver* r = new Receiver(handler);
    r->SetDeleteByHandler();
    unsigned short port = Listen(*r);
    handler.Select(0, 0);
    int fd = r->GetSocket();
    r->SetCloseAndDelete();
    handler.Select(0, 0);
    EXPECT_FALSE(nettest::IsOpen(fd));
    EXPECT_EQ(0u, handler.GetCount());
    sender.SendTo("127.0.0.1", port, "x", 0);  // nobody listens: no error for an unconnected sender
    EXPECT_EQ(1, sender.GetLastSizeWritten());
}

}  // namespace
