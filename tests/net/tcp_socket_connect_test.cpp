// TcpSocket connect, retry, reconnect, output queue and close.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/Ipv4Address.h"
#include "net/TcpSocket.h"
#include "tcp_test_support.h"

namespace {

using nettest::FakeClock;
using nettest::Loopback;
using tcptest::Client;
using tcptest::Count;
using tcptest::Drain;
using tcptest::Has;
using tcptest::Listener;
using tcptest::TcpFixture;

using Trace = std::vector<std::string>;

class TcpConnect : public TcpFixture {
protected:
    // Fills the accept queue of a listener with backlog 0 and that never
    // accepts, so that further connects to it stay pending. False when this
    // kernel completes them all the same.
    bool FillBacklog(const Listener& listener) {
        m_filler = ConnectRaw(listener.port);
        if (!WaitWritable(m_filler, 2000)) return false;
        int probe = ConnectRaw(listener.port);
        bool pending = !WaitWritable(probe, 300);
        close(probe);
        return pending;
    }
    ~TcpConnect() override {
        if (m_filler != -1) close(m_filler);
    }

    static int ConnectRaw(unsigned short port) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = Loopback();
        sa.sin_port = htons(port);
        (void)!connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        return s;
    }
    static bool WaitWritable(int fd, int ms) {
        pollfd p{fd, POLLOUT, 0};
        return poll(&p, 1, ms) == 1;
    }

    // Lets a few loop turns pass.
    void Turns(int n) {
        for (int i = 0; i < n; ++i) handler.Select(0, 5000);
    }

    static std::string Pattern(size_t n) {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
        return s;
    }

    int m_filler = -1;
};

TEST_F(TcpConnect, RefusedConnectFails) {
    tcptest::RefusingPort refusing;
    Client* c = NewClient();
    bool opened = c->Open(Loopback(), refusing.port);
    handler.Add(c);
    ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    if (opened) {
        EXPECT_EQ((Trace{"failed", "delete", "freed"}), trace);
        const nettest::LogEntry* e = log.FindLabel("tcp: connect failed");
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(ECONNREFUSED, e->code);
        EXPECT_EQ(loglevel_fatal, e->level);
    } else {
        // Refused within connect() itself: no OnConnectFailed.
        EXPECT_EQ((Trace{"delete", "freed"}), trace);
    }
}

// A local address that a live connection to the same server already uses
// makes connect() fail at once (EADDRNOTAVAIL), and SO_ERROR stays 0.
TEST_F(TcpConnect, ConnectFailingAtOnce) {
    Listener listener;
    int first = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(first, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Bound before it connects: a port that connect() picks itself is not
    // always seen by a later bind to it, and the duplicate connect below
    // then succeeds now and then instead of failing with EADDRNOTAVAIL.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(first, reinterpret_cast<sockaddr*>(&any), sizeof any));
    Ipv4Address remote(Loopback(), listener.port);
    ASSERT_EQ(0, connect(first, remote, remote));
    int accepted = listener.Accept();
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(first, reinterpret_cast<sockaddr*>(&local), &len);
    Ipv4Address taken(local);

    for (bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect ? "reconnect on" : "reconnect off");
        trace.clear();
        log.entries.clear();
        const int fds = tcptest::CountFds();
        Client* c = NewClient();
        c->SetReconnect(reconnect);
        bool opened = c->Open(remote, taken);
        if (reconnect) {
            ASSERT_TRUE(opened);
            EXPECT_TRUE(c->Connecting());
            const nettest::LogEntry* e = log.FindLabel("connect: failed, reconnect pending");
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(EADDRNOTAVAIL, e->code);
            EXPECT_EQ(loglevel_info, e->level);
        } else {
            ASSERT_FALSE(opened);
            EXPECT_TRUE(c->CloseAndDelete());
            EXPECT_EQ(-1, c->GetSocket());
            EXPECT_EQ(fds, tcptest::CountFds());
            const nettest::LogEntry* e = log.FindLabel("connect: failed");
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(EADDRNOTAVAIL, e->code);
        }
        handler.Add(c);
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed") || Has(trace, "connect"); }));
        if (reconnect) {
            // Writable at once, SO_ERROR 0: still a failed connect.
            EXPECT_EQ((Trace{"failed", "delete", "freed"}), trace);
            const nettest::LogEntry* e = log.FindLabel("tcp: connect failed");
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(EADDRNOTAVAIL, e->code);
        } else {
            EXPECT_EQ((Trace{"delete", "freed"}), trace);
        }
        EXPECT_EQ(fds, tcptest::CountFds());
    }
    close(first);
    close(accepted);
}

TEST_F(TcpConnect, ConnectTimeoutAndRetries) {
    FakeClock clock(1000000);
    Listener listener(0);
    if (!FillBacklog(listener)) GTEST_SKIP() << "this kernel completes connects to a full listener";
    struct Case {
        int limit;
        int timeouts;
        bool fails;  // after the last time-out
    };
    for (const Case& k : {Case{0, 1, true}, Case{2, 3, true}, Case{-1, 4, false}}) {
        SCOPED_TRACE("retry limit " + std::to_string(k.limit));
        trace.clear();
        log.entries.clear();
        Client* c = NewClient();
        c->SetConnectionRetry(k.limit);
        ASSERT_TRUE(c->Open(Loopback(), listener.port));
        ASSERT_TRUE(c->Connecting());
        handler.Add(c);
        for (int i = 0; i < k.timeouts; ++i) {
            Turns(3);
            ASSERT_FALSE(Has(trace, "connect"));
            ASSERT_FALSE(Has(trace, "failed"));
            FakeClock::now += 6;  // past the 5-second connect time-out
            Turns(1);
        }
        EXPECT_EQ(k.timeouts, log.Count("connect"));
        Trace expected(k.fails ? k.timeouts - 1 : k.timeouts, "retry");
        // The owner gives up (a failed one is gone). Its request lands while
        // the retried socket waits in the add queue: dropped once all the same.
        if (!k.fails) c->SetCloseAndDelete();
        if (k.fails) expected.push_back("failed");
        expected.push_back("delete");
        expected.push_back("freed");
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        EXPECT_EQ(expected, trace);
    }
}

// A retry whose new connect fails at once (here: the handler is full) leaves
// the socket closing while it sits in the add queue again; it is dropped and
// freed once, and nothing touches it afterwards.
TEST_F(TcpConnect, RetryThatFailsAtOnceFreesTheSocketOnce) {
    FakeClock clock(1000000);
    Listener listener(0);
    if (!FillBacklog(listener)) GTEST_SKIP() << "this kernel completes connects to a full listener";
    struct Idle : Socket {
        using Socket::Socket;
        void OnOptions(int, int, int, int) override {}
    };
    std::vector<std::unique_ptr<Idle>> crowd;
    Client* c = NewClient();
    c->SetConnectionRetry(1);
    c->onRetry = [&] {
        for (size_t i = 0; i < handler.MaxCount(); ++i) {
            crowd.emplace_back(new Idle(handler));
            handler.Add(crowd.back().get());
        }
    };
    ASSERT_TRUE(c->Open(Loopback(), listener.port));
    handler.Add(c);
    Turns(3);
    FakeClock::now += 6;
    Turns(1);
    EXPECT_EQ((Trace{"retry", "delete", "freed"}), trace);
    EXPECT_NE(nullptr, log.Find("no space left for more sockets", "Open"));
    Turns(2);  // the crowd (no descriptors) is refused
    crowd.clear();
    EXPECT_EQ((Trace{"retry", "delete", "freed"}), trace);
}

// An address of a family that no socket can be made for: CreateSocket
// throws as it would for EMFILE. (Exhausting the descriptors instead would
// also break the sanitizers, which need a pipe now and then.)
class NoSuchFamily : public Ipv4Address {
public:
    using Ipv4Address::Ipv4Address;
    int GetFamily() override { return -1; }
    std::unique_ptr<SocketAddress> GetCopy() override { return std::make_unique<NoSuchFamily>(*this); }
};

// A retry or reconnect that cannot make its new descriptor closes and frees
// the socket; Select returns normally and the rest of the turn still runs.
TEST_F(TcpConnect, NoDescriptorForARetryOrReconnect) {
    FakeClock clock(4000000);
    Listener full(0);
    const bool pending = FillBacklog(full);
    Listener listener;
    struct Case {
        const char* label;
        bool retry;  // else reconnect
    };
    bool skipped = false;
    for (const Case& k : {Case{"RetryClientConnect", true}, Case{"Reconnect", false}}) {
        SCOPED_TRACE(k.label);
        trace.clear();
        log.entries.clear();
        Client* c = nullptr;
        int server = -1;
        if (k.retry) {
            if (!pending) {
                skipped = true;
                continue;
            }
            c = NewClient();
            c->SetConnectionRetry(1);
            ASSERT_TRUE(c->Open(Loopback(), full.port));
            handler.Add(c);
        } else {
            c = Connected(listener, server);
            ASSERT_NE(nullptr, c);
            c->SetReconnect();
            c->SetFlushBeforeClose(false);
        }
        nettest::Pair pair;
        nettest::TraceSocket* witness = new nettest::TraceSocket(handler, trace, "witness", pair.mine);
        witness->SetDeleteByHandler();
        handler.Add(witness);
        Turns(2);
        ASSERT_EQ(k.retry, c->Connecting());
        NoSuchFamily nowhere(Loopback(), listener.port);
        c->SetClientRemoteAddress(nowhere);  // where the next connect goes
        const int fds = tcptest::CountFds();

        if (k.retry)
            FakeClock::now += 6;  // the connect time-out asks for a retry
        else
            c->SetCloseAndDelete();
        witness->SetCloseAndDelete();
        int n = -1;
        EXPECT_NO_THROW(n = handler.Select(0, 0));
        EXPECT_NE(-1, n);
        EXPECT_TRUE(Has(trace, "freed witness"));
        const nettest::LogEntry* e = log.FindLabel("socket");
        ASSERT_NE(nullptr, e) << log.Dump();
        EXPECT_EQ(EAFNOSUPPORT, e->code);
        EXPECT_EQ(loglevel_fatal, e->level);
        e = log.FindLabel(k.label);
        ASSERT_NE(nullptr, e) << log.Dump();
        EXPECT_EQ(EAFNOSUPPORT, e->code);
        EXPECT_EQ(strerror(EAFNOSUPPORT), e->text);
        EXPECT_EQ(loglevel_error, e->level);
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        EXPECT_EQ(1, Count(trace, "delete"));
        EXPECT_EQ(!k.retry, Has(trace, "disconnect"));  // the reconnect step ran
        // The client's old descriptor and the witness's are closed; none is new.
        EXPECT_EQ(fds - 2, tcptest::CountFds());
        if (server != -1) close(server);
    }
    if (skipped) GTEST_SKIP() << "retry case: this kernel completes connects to a full listener";
}

TEST_F(TcpConnect, OutputWhileConnectingGoesOutBeforeOnConnect) {
    Listener listener;
    Client* c = NewClient();
    ASSERT_TRUE(c->Open("127.0.0.1", listener.port));
    c->Send("hello ");
    c->Sendf("%s", std::string(6000, 'x').c_str());  // cut to 4999 characters
    EXPECT_EQ(6u + 4999u, c->GetOutputLength());
    EXPECT_NE(nullptr, log.Find("Attempt to write to a non-connected socket, will be sent on connect", "SendBuf"));
    handler.Add(c);
    int server = listener.Accept();
    ASSERT_NE(-1, server);
    std::string got;
    ASSERT_TRUE(Pump([&] {
        got += Drain(server);
        return Has(trace, "connect") && got.size() >= 5005;
    }));
    EXPECT_EQ(0u, c->queuedAtConnect);
    EXPECT_EQ("hello " + std::string(4999, 'x'), got);
    EXPECT_EQ(5005u, c->GetBytesSent(true));
    EXPECT_EQ(0u, c->GetBytesSent());
    close(server);
}

TEST_F(TcpConnect, SendOnClosedSocketIsDropped) {
    Client c(handler, trace);
    c.SetCloseAndDelete();
    c.Send("lost");
    EXPECT_EQ(0u, c.GetOutputLength());
    const nettest::LogEntry* e = log.Find("Attempt to write to a non-ready socket", "SendBuf");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_warning, e->level);
    EXPECT_NE(nullptr, log.Find(" * GetSocket() == INVALID_SOCKET", "SendBuf"));
    EXPECT_NE(nullptr, log.Find(" * CloseAndDelete()", "SendBuf"));
}

// The peer reads nothing until the kernel buffers are full and the queue
// spans several blocks; the close waits for the queue, and every byte
// arrives in order.
TEST_F(TcpConnect, QueuedOutputIsFlushedInOrderBeforeClose) {
    FakeClock clock(2000000);  // the flush allowance can't run out meanwhile
    Listener listener;
    int server = -1;
    Client* c = Connected(listener, server, false);
    ASSERT_NE(nullptr, c);
    const size_t limit = 1000000;
    c->SetTransferLimit(limit);
    const std::string big = Pattern(16 * 1024 * 1024);
    c->SendBuf(big.data(), big.size());
    const size_t queued = c->GetOutputLength();
    ASSERT_GT(queued, 2 * TcpSocket::OUTPUT::SIZE) << "the kernel took nearly all at once";
    c->Send("tail");  // behind the queue, never before it
    EXPECT_EQ(queued + 4, c->GetOutputLength());
    c->SetCloseAndDelete();
    Turns(3);
    EXPECT_FALSE(Has(trace, "delete"));
    const nettest::LogEntry* e = log.Find("Sending all data before closing", "Closing");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_info, e->level);
    EXPECT_GT(e->code, 0);

    std::string got;
    bool eof = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!eof && std::chrono::steady_clock::now() < deadline) {
        got += Drain(server, &eof);
        handler.Select(0, 1000);
    }
    ASSERT_TRUE(eof);
    ASSERT_EQ(big.size() + 4, got.size());
    EXPECT_TRUE(got == big + "tail");
    ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    EXPECT_EQ(1, Count(trace, "write complete"));
    EXPECT_EQ(1, Count(trace, "transfer limit"));
    EXPECT_EQ(nullptr, log.Find("Closing socket while data still left to send"));
    close(server);
}

TEST_F(TcpConnect, FlushGivesUpAfterFourSeconds) {
    FakeClock clock(3000000);
    Listener listener;
    int server = -1;
    Client* c = Connected(listener, server, false);
    ASSERT_NE(nullptr, c);
    const std::string big = Pattern(16 * 1024 * 1024);
    c->SendBuf(big.data(), big.size());
    ASSERT_GT(c->GetOutputLength(), 0u);
    c->SetCloseAndDelete();
    Turns(2);
    FakeClock::now += 4;
    Turns(2);
    EXPECT_FALSE(Has(trace, "delete"));
    EXPECT_NE(nullptr, log.Find("Sending all data before closing", "Closing"));
    FakeClock::now += 1;
    Turns(1);
    EXPECT_EQ((Trace{"connect", "delete", "freed"}), trace);
    const nettest::LogEntry* e = log.Find("Closing socket while data still left to send", "Closing");
    ASSERT_NE(nullptr, e);
    EXPECT_GT(e->code, 0);
    EXPECT_EQ(loglevel_warning, e->level);
    close(server);
}

TEST_F(TcpConnect, FailedSendLosesTheConnectionOnce) {
    Listener listener;
    int server = -1;
    Client* c = Connected(listener, server, false);
    ASSERT_NE(nullptr, c);
    linger lg{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(server);  // RST
    pollfd p{c->GetSocket(), POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 3000));
    c->Send("data");
    EXPECT_TRUE(c->Lost());
    EXPECT_TRUE(c->CloseAndDelete());
    EXPECT_FALSE(c->GetFlushBeforeClose());
    const nettest::LogEntry* e = log.FindLabel("send");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_fatal, e->level);
    EXPECT_EQ((Trace{"connect", "disconnect", "disconnect 3 " + std::to_string(e->code)}), trace);
    ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    EXPECT_EQ(1, Count(trace, "disconnect"));  // the read side reports nothing more
    EXPECT_EQ(nullptr, log.FindLabel("read"));
}

// After a lost connection the socket connects anew; what the old one left
// of a line is not glued to the new one's first line.
TEST_F(TcpConnect, ReconnectStartsWithACleanLine) {
    Listener listener;
    Client* c = NewClient();
    c->SetLineProtocol(true);
    c->SetReconnect(true);
    ASSERT_TRUE(c->Open(Loopback(), listener.port));
    handler.Add(c);
    int first = listener.Accept();
    ASSERT_NE(-1, first);
    ASSERT_TRUE(Pump([&] { return Has(trace, "connect"); }));
    ASSERT_TRUE(Feed(c, first, {"PART"}));
    close(first);
    int second = -1;
    ASSERT_TRUE(Pump([&] {
        if (second == -1) second = listener.Accept(0);
        return second != -1 && Has(trace, "reconnect");
    }));
    ASSERT_TRUE(Feed(c, second, {"NEW\n"}));
    EXPECT_EQ(std::vector<std::string>{"NEW"}, c->lines);
    EXPECT_EQ(1, Count(trace, "connect"));
    EXPECT_TRUE(Has(trace, "disconnect 0 0"));
    EXPECT_FALSE(Has(trace, "delete"));
    close(second);
}

TEST_F(TcpConnect, ResolverAnswers) {
    Listener listener;
    // A stray answer closes the socket; a failed name is its owner's to
    // handle, like any failed connect.
    struct Case {
        int id;
        unsigned long address;
        const char* text;
        int code;
        bool closed;
        bool failed;
    };
    for (const Case& k : {Case{7, Loopback(), "Resolver returned wrong job id", 7, true, false},
                          Case{0, 0, "Resolver failed", 0, false, true}}) {
        SCOPED_TRACE(k.text);
        trace.clear();
        Client c(handler, trace);
        c.OnResolved(k.id, k.address, listener.port);
        EXPECT_EQ(k.closed, c.CloseAndDelete());
        EXPECT_EQ(k.failed, Has(trace, "failed"));
        const nettest::LogEntry* e = log.Find(k.text, "OnResolved");
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(k.code, e->code);
    }
    trace.clear();
    Client* c = NewClient();
    c->OnResolved(0, Loopback(), listener.port);  // connects and joins the loop
    int server = listener.Accept();
    ASSERT_NE(-1, server);
    EXPECT_TRUE(Pump([&] { return Has(trace, "connect"); }));
    close(server);
}

TEST_F(TcpConnect, DescriptorsStayFlatOverManyConnections) {
    Listener listener;
    tcptest::RefusingPort refusing;
    const int before = tcptest::CountFds();
    for (int i = 0; i < 25; ++i) {
        SCOPED_TRACE(i);
        // The server sends a line and closes.
        trace.clear();
        int server = -1;
        Client* c = Connected(listener, server);
        ASSERT_NE(nullptr, c);
        tcptest::WriteAll(server, "L\n");
        close(server);
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        // The owner gives a live connection up.
        trace.clear();
        c = Connected(listener, server);
        ASSERT_NE(nullptr, c);
        c->SetCloseAndDelete();
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
        close(server);
        // Nobody listens.
        trace.clear();
        c = NewClient();
        c->Open(Loopback(), refusing.port);
        handler.Add(c);
        ASSERT_TRUE(Pump([&] { return Has(trace, "freed"); }));
    }
    EXPECT_EQ(before, tcptest::CountFds());
}

}  // namespace
