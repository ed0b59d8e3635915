#include "net/SocketHandler.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net/Exception.h"
#include "net/IMutex.h"
#include "net/Ipv4Address.h"
#include "net_test_support.h"

namespace {

using nettest::FakeClock;
using nettest::Pair;
using nettest::RecordingLog;
using nettest::TraceSocket;
using Trace = std::vector<std::string>;

// Exposes the protected steps of the loop.
class ProbeHandler : public SocketHandler {
public:
    explicit ProbeHandler(StdLog* log, size_t max = 1024) : SocketHandler(log), m_max(max) {}
    size_t MaxCount() override { return m_max; }
    using SocketHandler::SelectTimeout;

private:
    size_t m_max;
};

class Loop : public testing::Test {
protected:
    bool Mapped(Socket* s) { return handler.Valid(s); }
    bool Has(const std::string& event) const {
        for (const std::string& t : trace)
            if (t == event) return true;
        return false;
    }
    // Index of an event in the trace, or -1.
    int At(const std::string& event) const {
        for (size_t i = 0; i < trace.size(); ++i)
            if (trace[i] == event) return static_cast<int>(i);
        return -1;
    }

    RecordingLog log;
    Trace trace;
    ProbeHandler handler{&log};
};

TEST_F(Loop, TurnRunsEventsThenChecksInOrderAndFreesLast) {
    FakeClock clock(1000);
    Pair pr, pc, pt, py, px;
    TraceSocket* r = new TraceSocket(handler, trace, "R", pr.mine);
    TraceSocket* c = new TraceSocket(handler, trace, "C", pc.mine);
    TraceSocket* t = new TraceSocket(handler, trace, "T", pt.mine);
    TraceSocket* y = new TraceSocket(handler, trace, "Y", py.mine);
    TraceSocket* x = new TraceSocket(handler, trace, "X", px.mine);
    for (TraceSocket* s : {r, c, t, y, x}) {
        s->SetDeleteByHandler();
        handler.Add(s);
    }
    EXPECT_EQ(0, handler.Select(0, 0));
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(5u, handler.GetCount());

    pr.Poke();
    c->SetCallOnConnect();
    t->SetTimeout(1);
    Ipv4Address target(nettest::Loopback(), 9);
    y->SetClientRemoteAddress(target);
    y->SetRetryClientConnect();
    x->SetCloseAndDelete();
    FakeClock::now = 1002;
    EXPECT_EQ(1, handler.Select(0, 0));

    const Trace expect = {"read R", "connect C", "timeout T", "close Y", "close X", "delete X", "freed X"};
    EXPECT_EQ(expect, trace);
    EXPECT_TRUE(c->IsConnected());
    EXPECT_FALSE(c->CallOnConnect());
    EXPECT_FALSE(t->CheckTimeout());
    // The retried socket left its old entry and waits in the add queue.
    EXPECT_FALSE(Mapped(y));
    EXPECT_EQ(4u, handler.GetCount());
}

TEST_F(Loop, SocketAddedDuringATurnWaitsForTheNext) {
    Pair pa, pb;
    TraceSocket a(handler, trace, "A", pa.mine);
    TraceSocket b(handler, trace, "B", pb.mine);
    a.onRead = [&] { handler.Add(&b); };
    handler.Add(&a);
    pa.Poke();
    pb.Poke();
    handler.Select(0, 0);
    EXPECT_EQ(Trace{"read A"}, trace);
    handler.Select(0, 0);
    EXPECT_EQ((Trace{"read A", "read B"}), trace);
}

TEST_F(Loop, SelectTimeoutFollowsPendingChecks) {
    struct Case {
        bool connect, detach, timeout, retry, close;
        bool bounded;
        long usec;
    } cases[] = {
        {false, false, false, false, false, false, 0}, {false, false, false, false, true, true, 200000},
        {true, true, false, false, false, true, 10000}, {true, false, false, false, false, true, 200000},
        {false, true, false, false, false, true, 10000}, {false, false, true, false, false, true, 200000},
        {false, false, false, true, false, true, 200000},
    };
    for (const Case& c : cases) {
        ProbeHandler h(nullptr);
        h.SetCallOnConnect(c.connect);
        h.SetDetach(c.detach);
        h.SetTimeout(c.timeout);
        h.SetRetry(c.retry);
        h.SetClose(c.close);
        long usec = -1;
        EXPECT_EQ(c.bounded, h.SelectTimeout(usec));
        if (c.bounded) {
            EXPECT_EQ(c.usec, usec);
        }
    }
}

TEST_F(Loop, TimeoutCheckRunsOncePerSecond) {
    FakeClock clock(1000);
    Pair p;
    TraceSocket s(handler, trace, "S", p.mine);
    int fired = 0;
    // Re-armed already expired, so every check that runs fires it.
    auto rearm = [&] {
        time_t now = FakeClock::now;
        FakeClock::now = now - 10;
        s.SetTimeout(1);
        FakeClock::now = now;
    };
    s.onTimeout = [&] {
        ++fired;
        rearm();
    };
    rearm();
    handler.Add(&s);
    for (int i = 0; i < 20; ++i) handler.Select(0, 0);
    EXPECT_EQ(1, fired);
    FakeClock::now = 1001;
    for (int i = 0; i < 20; ++i) handler.Select(0, 0);
    EXPECT_EQ(2, fired);
}

TEST_F(Loop, InvalidDescriptorIsRefused) {
    TraceSocket* s = new TraceSocket(handler, trace, "S");
    s->SetDeleteByHandler();
    handler.Add(s);
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("Invalid socket", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(-1, e->code);
    EXPECT_EQ(loglevel_warning, e->level);
    EXPECT_EQ((Trace{"delete S", "freed S"}), trace);
    EXPECT_EQ(0u, handler.GetCount());
}

TEST_F(Loop, SameSocketTwiceIsMappedOnce) {
    Pair p;
    TraceSocket s(handler, trace, "S", p.mine);
    handler.Add(&s);
    handler.Select(0, 0);
    handler.Add(&s);
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("Attempt to add socket already in controlled queue (same uid)", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(p.mine, e->code);
    EXPECT_EQ(loglevel_error, e->level);
    EXPECT_TRUE(Mapped(&s));
    EXPECT_EQ(1u, handler.GetCount());
    EXPECT_TRUE(trace.empty());
}

// Two sockets claiming one descriptor number: the older one never closes
// the number that the newer one holds, and both are freed.
TEST_F(Loop, OlderSocketOnATakenDescriptorIsRefused) {
    Pair p;
    TraceSocket* older = new TraceSocket(handler, trace, "old", p.mine);
    TraceSocket* newer = new TraceSocket(handler, trace, "new", p.mine);
    older->SetDeleteByHandler();
    newer->SetDeleteByHandler();
    handler.Add(newer);
    handler.Select(0, 0);
    handler.Add(older);
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("Attempt to add socket already in controlled queue (older uid)", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_fatal, e->level);
    EXPECT_EQ((Trace{"delete old", "freed old"}), trace);
    EXPECT_TRUE(nettest::IsOpen(p.mine));
    EXPECT_TRUE(Mapped(newer));
    p.Poke();
    handler.Select(0, 0);
    EXPECT_TRUE(Has("read new"));
}

TEST_F(Loop, NewerSocketReplacesTheOlderOne) {
    Pair p;
    TraceSocket* older = new TraceSocket(handler, trace, "old", p.mine);
    TraceSocket* newer = new TraceSocket(handler, trace, "new", p.mine);
    older->SetDeleteByHandler();
    newer->SetDeleteByHandler();
    handler.Add(older);
    handler.Select(0, 0);
    handler.Add(newer);
    p.Poke();
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("Replacing socket already in controlled queue (newer uid)", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(loglevel_warning, e->level);
    EXPECT_EQ((Trace{"delete old", "read new", "freed old"}), trace);
    EXPECT_TRUE(nettest::IsOpen(p.mine));
    EXPECT_TRUE(Mapped(newer));
    EXPECT_EQ(1u, handler.GetCount());
}

TEST_F(Loop, SocketAddedWithCloseRequestIsClosedAndDropped) {
    Pair p;
    TraceSocket* s = new TraceSocket(handler, trace, "S", p.mine);
    s->SetDeleteByHandler();
    s->SetCloseAndDelete();
    handler.Add(s);
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("Added socket with SetCloseAndDelete() true", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(p.mine, e->code);
    EXPECT_EQ(loglevel_warning, e->level);
    EXPECT_LT(At("delete S"), At("close S"));
    EXPECT_EQ("freed S", trace.back());
    EXPECT_FALSE(nettest::IsOpen(p.mine));
    EXPECT_EQ(0u, handler.GetCount());
}

TEST_F(Loop, DescriptorBeyondTheSetsIsRefusedAndClosed) {
    Pair p;
    int big = dup2(p.mine, FD_SETSIZE + 100);
    if (big == -1) GTEST_SKIP() << "descriptor limit too low";
    close(p.mine);
    TraceSocket* s = new TraceSocket(handler, trace, "S", big);
    s->SetDeleteByHandler();
    handler.Add(s);
    handler.Select(0, 0);
    const nettest::LogEntry* e = log.Find("descriptor too large for select()", "Add");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(big, e->code);
    EXPECT_FALSE(nettest::IsOpen(big));
    EXPECT_EQ((Trace{"close S", "delete S", "freed S"}), trace);
    EXPECT_EQ(0u, handler.GetCount());
}

TEST_F(Loop, FullMapKeepsSocketsQueued) {
    ProbeHandler small(&log, 2);
    Pair p1, p2, p3;
    TraceSocket a(small, trace, "A", p1.mine);
    TraceSocket b(small, trace, "B", p2.mine);
    TraceSocket c(small, trace, "C", p3.mine);
    for (TraceSocket* s : {&a, &b, &c}) small.Add(s);
    small.Select(0, 0);
    small.Select(0, 0);
    EXPECT_EQ(2, log.Count("Select"));
    const nettest::LogEntry* e = log.Find("socket limit reached", "Select");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(2, e->code);
    EXPECT_EQ(nullptr, e->socket);
    EXPECT_FALSE(small.Valid(&c));
    EXPECT_EQ(3u, small.GetCount());

    a.SetCloseAndDelete();
    small.Select(0, 0);  // A goes at the end of this turn
    small.Select(0, 0);  // C joins at the start of this one
    EXPECT_TRUE(small.Valid(&c));
    EXPECT_FALSE(small.Valid(&a));
}

TEST_F(Loop, DescriptorClosedBehindTheHandlersBack) {
    Pair bad, stale, other, good;
    TraceSocket* b = new TraceSocket(handler, trace, "bad", bad.mine);
    TraceSocket* s = new TraceSocket(handler, trace, "stale", stale.mine);
    TraceSocket g(handler, trace, "good", good.mine);
    b->SetDeleteByHandler();
    s->SetDeleteByHandler();
    handler.Add(b);
    handler.Add(s);
    handler.Add(&g);
    handler.Select(0, 0);

    // Capture first: capturing opens descriptors, which would reuse the
    // numbers closed below.
    testing::internal::CaptureStdout();
    close(bad.mine);
    s->Attach(other.mine);  // its map key no longer matches its descriptor
    close(stale.mine);
    int n = handler.Select(0, 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, n);
    EXPECT_EQ(std::string("error on select(): 9 ") + strerror(EBADF) + "\n", out);

    const nettest::LogEntry* e2 = log.Find("Bad fd in fd_set (2)", "Select");
    ASSERT_NE(nullptr, e2) << log.Dump();
    EXPECT_EQ(bad.mine, e2->code);
    EXPECT_EQ(loglevel_error, e2->level);
    const nettest::LogEntry* e3 = log.Find("Bad fd in fd_set (3)", "Select");
    ASSERT_NE(nullptr, e3);
    EXPECT_EQ(stale.mine, e3->code);
    EXPECT_TRUE(Has("delete bad"));
    EXPECT_TRUE(Has("freed bad"));
    EXPECT_TRUE(Has("freed stale"));
    EXPECT_FALSE(nettest::IsOpen(other.mine));  // the stale socket's own descriptor
    EXPECT_EQ(0, log.Count("close"));  // nobody closed a dead descriptor number

    // The sets are clean again: the survivor still gets its events.
    trace.clear();
    good.Poke();
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, handler.Select(0, 0));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(Trace{"read good"}, trace);
}

TEST_F(Loop, BadTimeValueThrows) {
    try {
        handler.Select(-1, 0);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ("select(n): n is negative. Or struct timeval contains bad time values (<0).", e.ToString());
    }
    const nettest::LogEntry* e = log.FindLabel("SocketHandler::Select");
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(EINVAL, e->code);
    EXPECT_EQ(loglevel_fatal, e->level);
}

// A socket that is dropped but still open (lost, or closed by itself and kept
// mapped) leaves no bits behind: select() neither reports it nor fails.
TEST_F(Loop, DroppedSocketLeavesNoBits) {
    Pair lost;
    TraceSocket s(handler, trace, "lost", lost.mine);
    handler.Add(&s);
    handler.Select(0, 0);
    s.SetLost();
    s.SetCloseAndDelete();
    handler.Select(0, 0);
    EXPECT_TRUE(Has("delete lost"));
    EXPECT_FALSE(Has("close lost"));  // the descriptor is left to the socket
    EXPECT_TRUE(nettest::IsOpen(lost.mine));
    lost.Poke();
    EXPECT_EQ(0, handler.Select(0, 0));
    EXPECT_FALSE(Has("read lost"));

    Pair self;
    TraceSocket t(handler, trace, "self", self.mine);
    handler.Add(&t);
    handler.Select(0, 0);
    t.Close();
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, handler.Select(0, 0));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(Loop, ApplicationSocketDeletedWhileRegistered) {
    Pair p, q;
    auto mapped = std::make_unique<TraceSocket>(handler, trace, "M", p.mine);
    auto queued = std::make_unique<TraceSocket>(handler, trace, "Q", q.mine);
    handler.Add(mapped.get());
    handler.Select(0, 0);
    handler.Add(queued.get());
    mapped.reset();
    queued.reset();
    ASSERT_EQ(2, log.Count("Remove"));
    EXPECT_EQ(-1, log.entries[0].code);
    EXPECT_EQ(-2, log.entries[1].code);
    EXPECT_EQ("Socket destructor called while still in use", log.entries[0].text);
    EXPECT_EQ(loglevel_warning, log.entries[0].level);
    EXPECT_TRUE(handler.AllSockets().empty());
    EXPECT_EQ(0u, handler.GetCount());
    handler.Select(0, 0);  // nothing left to touch
}

// Callbacks that delete other application sockets, or themselves, in the
// middle of a walk must not break the walk.
TEST_F(Loop, CallbacksMayDeleteSocketsDuringTheWalk) {
    Pair pa, pb, pc;
    TraceSocket* a = new TraceSocket(handler, trace, "A", pa.mine);
    TraceSocket* b = new TraceSocket(handler, trace, "B", pb.mine);
    TraceSocket* c = new TraceSocket(handler, trace, "C", pc.mine);
    a->onRead = [&] { delete b; };
    c->onDelete = [&] { delete c; };
    for (TraceSocket* s : {a, b, c}) handler.Add(s);
    handler.Select(0, 0);
    pa.Poke();
    pb.Poke();
    c->SetCloseAndDelete();
    handler.Select(0, 0);
    EXPECT_TRUE(Has("read A"));
    EXPECT_TRUE(Has("freed B"));
    EXPECT_FALSE(Has("read B"));
    EXPECT_TRUE(Has("freed C"));
    EXPECT_EQ(1u, handler.GetCount());
    delete a;
}

TEST_F(Loop, OwnedSocketsAreFreedWithTheHandler) {
    Pair p1, p2;
    {
        SocketHandler h(&log);
        TraceSocket* mapped = new TraceSocket(h, trace, "mapped", p1.mine);
        TraceSocket* queued = new TraceSocket(h, trace, "queued", p2.mine);
        mapped->SetDeleteByHandler();
        queued->SetDeleteByHandler();
        h.Add(mapped);
        h.Select(0, 0);
        h.Add(queued);
    }
    EXPECT_TRUE(Has("close mapped"));
    EXPECT_TRUE(Has("freed mapped"));
    EXPECT_TRUE(Has("freed queued"));
    EXPECT_FALSE(nettest::IsOpen(p1.mine));
    EXPECT_EQ(0, log.Count("Remove"));
}

TEST_F(Loop, ReleaseWakesTheWait) {
    handler.Release();  // nothing to wake yet
    handler.EnableRelease();
    handler.EnableRelease();
    EXPECT_EQ(1u, handler.GetCount());
    handler.Release();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(1, handler.Select(5, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(log.entries.empty());
}

class CountingMutex : public IMutex {
public:
    int Lock() const override {
        ++locks;
        return 0;
    }
    int Unlock() const override {
        ++unlocks;
        return 0;
    }
    mutable int locks = 0;
    mutable int unlocks = 0;
};

TEST_F(Loop, MutexIsHeldExceptInsideSelect) {
    CountingMutex m;
    {
        SocketHandler h(m, &log);
        EXPECT_EQ(1, m.locks);
        EXPECT_EQ(&m, &h.GetMutex());
        h.Select(0, 0);
        EXPECT_EQ(2, m.locks);
        EXPECT_EQ(1, m.unlocks);
        EXPECT_THROW(h.ParentHandler(), Exception);
        EXPECT_EQ(&h, &h.GetEffectiveHandler());

        SocketHandler child(m, h, &log);
        EXPECT_TRUE(child.ParentHandlerIsValid());
        EXPECT_EQ(&h, &child.GetEffectiveHandler());
        EXPECT_EQ(&h, &child.ParentHandler());
    }
    EXPECT_EQ(m.locks, m.unlocks);

    EXPECT_THROW(handler.GetMutex(), Exception);
    EXPECT_FALSE(handler.IsThreaded());
    try {
        handler.GetRandomHandler();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ("SocketHandler is not multithreaded", e.ToString());
    }
    std::unique_ptr<ISocketHandler> made(handler.Create(nullptr));
    EXPECT_FALSE(made->ParentHandlerIsValid());
}

TEST_F(Loop, LimitsAndLogWithoutSink) {
    EXPECT_EQ(1024u, handler.MaxCount());
    EXPECT_EQ(8192u, handler.MaxTcpLineSize());
    SocketHandler silent(nullptr);
    silent.LogError(nullptr, "x", 1, "y", loglevel_fatal);  // dropped
    silent.RegStdLog(&log);
    silent.LogError(nullptr, "x", 1, "y", loglevel_fatal);
    EXPECT_EQ(1u, log.entries.size());
    EXPECT_EQ(1024u, silent.MaxCount());
}

}  // namespace
