// Loop contracts around retried connects: OnDelete is the last event and
// comes once, and a retried socket keeps its place when the descriptor
// number it gets was left behind by a closed socket.

#include <gtest/gtest.h>

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
using tcptest::TcpFixture;

struct Idle : Socket {
    using Socket::Socket;
    void OnOptions(int, int, int, int) override {}
};

// An address the next connect cannot use: either refused as invalid, or of
// a family no descriptor can be made for.
class Unusable : public Ipv4Address {
public:
    Unusable(unsigned short port, bool valid) : Ipv4Address(nettest::Loopback(), port), m_valid(valid) {}
    bool IsValid() override { return m_valid; }
    int GetFamily() override { return m_valid ? -1 : AF_INET; }
    std::unique_ptr<SocketAddress> GetCopy() override { return std::make_unique<Unusable>(*this); }

private:
    bool m_valid;
};

class SocketContract : public TcpFixture {
protected:
    void Turns(int n) {
        for (int i = 0; i < n; ++i) handler.Select(0, 5000);
    }
};

// An application-owned socket whose retry cannot start a new connect is
// dropped once: it is not queued again to be refused a second time.
TEST_F(SocketContract, FailedRetryOfAnApplicationSocketEndsOnce) {
    FakeClock clock(1000000);
    tcptest::RefusingPort refusing;
    enum Kind { Full, Invalid, NoDescriptor };
    struct Case {
        const char* name;
        Kind kind;
    };
    for (const Case& k : {Case{"handler full", Full}, Case{"invalid address", Invalid},
                          Case{"no descriptor", NoDescriptor}}) {
        SCOPED_TRACE(k.name);
        trace.clear();
        std::vector<std::unique_ptr<Idle>> crowd;
        {
            Client c(handler, trace);
            // A refused connect stays pending until its time-out retries it.
            c.SetReconnect();
            c.SetConnectionRetry(1);
            ASSERT_TRUE(c.Open(Loopback(), refusing.port));
            handler.Add(&c);
            Turns(3);
            ASSERT_TRUE(c.Connecting());
            if (k.kind == Full) {
                c.onRetry = [&] {
                    for (size_t i = 0; i < handler.MaxCount(); ++i) {
                        crowd.emplace_back(new Idle(handler));
                        handler.Add(crowd.back().get());
                    }
                };
            } else {
                Unusable next(refusing.port, k.kind == NoDescriptor);
                c.SetClientRemoteAddress(next);
            }
            FakeClock::now += 6;
            Turns(6);
            EXPECT_EQ(1, Count(trace, "retry"));
            EXPECT_EQ(1, Count(trace, "delete")) << log.Dump();
            EXPECT_FALSE(handler.Valid(&c));
        }
        Turns(2);
        crowd.clear();
        EXPECT_EQ(1, Count(trace, "delete"));
    }
}

// The newer socket mapped under the number the retry reopens on has closed
// its descriptor: the number is free, so the retried (older) socket takes
// the entry instead of being refused for good, and goes on retrying.
TEST_F(SocketContract, RetryReusingANumberAClosedSocketLeftKeepsRetrying) {
    FakeClock clock(2000000);
    tcptest::RefusingPort refusing;
    int low = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // keeps a low number for later
    Client* c = NewClient();
    c->SetReconnect();
    c->SetConnectionRetry(-1);
    ASSERT_TRUE(c->Open(Loopback(), refusing.port));
    ASSERT_LT(low, c->GetSocket());
    handler.Add(c);
    close(low);
    // Newer uid, lower number.
    nettest::TraceSocket* newer =
        new nettest::TraceSocket(handler, trace, "newer", socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (newer->GetSocket() != low) {
        delete newer;
        GTEST_SKIP() << "the lowest free number went elsewhere";
    }
    newer->SetDeleteByHandler();
    handler.Add(newer);
    Turns(3);
    ASSERT_TRUE(handler.Valid(newer));
    newer->Close();  // stays mapped under `low`, which is free again
    for (int i = 1; i <= 3; ++i) {
        FakeClock::now += 6;
        Turns(3);
        ASSERT_EQ(i, Count(trace, "retry")) << log.Dump();
        ASSERT_EQ(0, Count(trace, "delete")) << log.Dump();
        ASSERT_TRUE(handler.Valid(c));
        ASSERT_TRUE(c->Connecting());
    }
    EXPECT_EQ(nullptr, log.Find("Attempt to add socket already in controlled queue (older uid)"));
    EXPECT_EQ(1, Count(trace, "freed newer"));  // dropped once its number went to the retry
    c->SetCloseAndDelete();
    ASSERT_TRUE(Pump([&] { return tcptest::Has(trace, "freed"); }));
    EXPECT_EQ(1, Count(trace, "delete"));
}

}  // namespace
