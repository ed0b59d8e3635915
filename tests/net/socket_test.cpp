#include "net/Socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/SocketHandler.h"
#include "net_test_support.h"

namespace {

using nettest::FakeClock;
using nettest::RecordingLog;

class PlainSocket : public Socket {
public:
    explicit PlainSocket(ISocketHandler& h) : Socket(h) {}
    void OnOptions(int family, int type, int protocol, int s) override {
        optionsCalls.push_back({family, type, protocol, s, GetSocket()});
    }
    struct Options {
        int family, type, protocol, s, attached;
    };
    std::vector<Options> optionsCalls;
};

class SocketBase : public testing::Test {
protected:
    RecordingLog log;
    SocketHandler handler{&log};
};

TEST_F(SocketBase, UidsCountUpAndStayUniqueAcrossThreads) {
    PlainSocket a(handler);
    PlainSocket b(handler);
    EXPECT_EQ(a.UniqueIdentifier() + 1, b.UniqueIdentifier());

    // Sockets made in several threads at once still get distinct uids.
    const int kThreads = 4;
    const int kEach = 500;
    std::vector<std::vector<PlainSocket*>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) made[t].push_back(new PlainSocket(handler));
        });
    for (std::thread& t : threads) t.join();
    std::set<unsigned long> uids;
    for (auto& list : made)
        for (PlainSocket* s : list) {
            uids.insert(s->UniqueIdentifier());
            delete s;
        }
    EXPECT_EQ(static_cast<size_t>(kThreads * kEach), uids.size());
}

TEST_F(SocketBase, CloseWithoutDescriptorLogsAndReturnsZero) {
    PlainSocket s(handler);
    EXPECT_EQ(0, s.Close());
    const nettest::LogEntry* e = log.Find("file descriptor invalid", "Socket::Close");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_warning, e->level);
    EXPECT_EQ(&s, e->socket);

    nettest::Pair pair;
    s.Attach(pair.mine);
    EXPECT_EQ(0, s.Close());
    EXPECT_FALSE(nettest::IsOpen(pair.mine));
    EXPECT_EQ(-1, s.GetSocket());
    EXPECT_EQ(0, s.Close());
    EXPECT_EQ(2, log.Count("Socket::Close"));
}

TEST_F(SocketBase, CloseRequestKeepsFirstTimeAndClearsReady) {
    FakeClock clock(1000);
    nettest::Pair pair;
    PlainSocket s(handler);
    s.Attach(pair.mine);
    EXPECT_TRUE(s.Ready());
    s.SetCloseAndDelete();
    EXPECT_FALSE(s.Ready());  // the descriptor is still open
    FakeClock::now = 1003;
    s.SetCloseAndDelete();
    EXPECT_EQ(3, s.TimeSinceClose());
    EXPECT_EQ(3, s.Uptime());
}

TEST_F(SocketBase, TimeoutFiresStrictlyAfterTheLimit) {
    FakeClock clock(100);
    PlainSocket s(handler);
    EXPECT_FALSE(s.CheckTimeout());
    s.SetTimeout(5);
    EXPECT_TRUE(s.CheckTimeout());
    EXPECT_FALSE(s.Timeout(105));
    EXPECT_TRUE(s.Timeout(106));
    s.SetTimeout(0);
    EXPECT_FALSE(s.CheckTimeout());
    EXPECT_FALSE(s.Timeout(1000));
}

TEST_F(SocketBase, AddressesWhenNoneIsSet) {
    PlainSocket s(handler);
    EXPECT_EQ("", s.GetRemoteAddress());
    EXPECT_EQ("", s.GetRemoteHostname());
    EXPECT_EQ(0u, s.GetRemoteIP4());
    EXPECT_EQ(0, s.GetRemotePort());
    EXPECT_EQ(nullptr, s.GetRemoteSocketAddress());
    EXPECT_EQ(nullptr, s.GetClientRemoteAddress());
    const nettest::LogEntry* e = log.Find("remote address not yet set", "GetClientRemoteAddress");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_error, e->level);
    EXPECT_EQ(0, s.GetSockPort());
    EXPECT_EQ("0.0.0.0", s.GetSockAddress());
}

TEST_F(SocketBase, RemoteAndClientAddresses) {
    PlainSocket s(handler);
    Ipv4Address peer(inet_addr("127.0.0.1"), 4000);
    s.SetRemoteAddress(peer);
    EXPECT_EQ("127.0.0.1", s.GetRemoteAddress());
    EXPECT_EQ(4000, s.GetRemotePort());
    EXPECT_EQ(inet_addr("127.0.0.1"), s.GetRemoteIP4());
    EXPECT_EQ("localhost", s.GetRemoteHostname());

    Ipv4Address bad(std::string("no..such"), 1);
    s.SetClientRemoteAddress(bad);
    EXPECT_NE(nullptr, log.Find("remote address not valid", "SetClientRemoteAddress"));
    std::unique_ptr<SocketAddress> copy = s.GetClientRemoteAddress();
    ASSERT_NE(nullptr, copy);  // stored all the same
    EXPECT_EQ("0.0.0.0:1", copy->Convert(true));
}

TEST_F(SocketBase, CreateSocketRunsOptionsOnTheNewDescriptor) {
    PlainSocket s(handler);
    int tcp = s.CreateSocket(AF_INET, SOCK_STREAM, "tcp");
    ASSERT_GE(tcp, 0);
    int raw = s.CreateSocket(AF_INET, SOCK_DGRAM, "");
    ASSERT_GE(raw, 0);
    ASSERT_EQ(2u, s.optionsCalls.size());
    EXPECT_EQ(IPPROTO_TCP, s.optionsCalls[0].protocol);
    EXPECT_EQ(tcp, s.optionsCalls[0].attached);  // held while the options are set
    EXPECT_EQ(0, s.optionsCalls[1].protocol);
    EXPECT_EQ(-1, s.GetSocket());  // not attached afterwards
    close(tcp);
    close(raw);
}

TEST_F(SocketBase, CreateSocketThrowsOnUnknownProtocol) {
    PlainSocket s(handler);
    try {
        s.CreateSocket(AF_INET, SOCK_DGRAM, "no-such-protocol");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(0u, e.ToString().find("getprotobyname() failed: ")) << e.ToString();
    }
    EXPECT_TRUE(s.CloseAndDelete());
    const nettest::LogEntry* e = log.FindLabel("getprotobyname");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_fatal, e->level);
    EXPECT_EQ(-1, s.GetSocket());
}

TEST_F(SocketBase, ExceptionEventLogsPendingErrorAndAsksForClose) {
    nettest::Pair pair;
    PlainSocket s(handler);
    s.Attach(pair.mine);
    s.OnException();
    const nettest::LogEntry* e = log.Find(strerror(0), "exception on select");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(0, e->code);
    EXPECT_EQ(loglevel_fatal, e->level);
    EXPECT_TRUE(s.CloseAndDelete());
}

TEST_F(SocketBase, BaseGetPortAndNonblockingFailures) {
    PlainSocket s(handler);
    EXPECT_EQ(0, s.GetPort());
    EXPECT_NE(nullptr, log.Find("GetPort only implemented for ListenSocket", "GetPort"));
    EXPECT_FALSE(s.SetNonblocking(true));
    const nettest::LogEntry* e = log.Find(strerror(EBADF), "fcntl(F_SETFL, O_NONBLOCK)");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(EBADF, e->code);
    EXPECT_FALSE(s.SetNonblocking(false));
    EXPECT_NE(nullptr, log.Find(strerror(EBADF), "fcntl(F_SETFL, 0)"));
}

TEST_F(SocketBase, FlagSettersRaiseTheHandlersChecks) {
    struct Probe : SocketHandler {
        using SocketHandler::CheckingCallOnConnect;
        using SocketHandler::CheckingClose;
        using SocketHandler::CheckingRetry;
        using SocketHandler::CheckingTimeout;
        using SocketHandler::SocketHandler;
    } probe;
    PlainSocket s(probe);
    s.SetCallOnConnect();
    s.SetRetryClientConnect();
    s.SetTimeout(3);
    s.SetCloseAndDelete();
    EXPECT_TRUE(probe.CheckingCallOnConnect());
    EXPECT_TRUE(probe.CheckingRetry());
    EXPECT_TRUE(probe.CheckingTimeout());
    EXPECT_TRUE(probe.CheckingClose());
    EXPECT_TRUE(s.CallOnConnect());
    EXPECT_TRUE(s.RetryClientConnect());
}

TEST_F(SocketBase, DetachOnlyForAHandlerOwnedSocket) {
    PlainSocket s(handler);
    EXPECT_FALSE(s.Detach());  // not handler-owned
    EXPECT_FALSE(s.IsDetach());
    s.SetDeleteByHandler();
    EXPECT_TRUE(s.Detach());
    EXPECT_TRUE(s.IsDetach());
    EXPECT_FALSE(handler.ResolverEnabled());
}

}  // namespace
