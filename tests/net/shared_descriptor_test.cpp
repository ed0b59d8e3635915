// One descriptor number claimed by two sockets of a handler: whichever of
// them the loop drops, refuses or frees, the socket that holds the number
// keeps it open and working, and select() never meets a closed descriptor.

#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "net/UdpSocket.h"
#include "net_test_support.h"
#include "tcp_test_support.h"

namespace {

using nettest::TraceSocket;
using tcptest::Client;
using tcptest::Count;
using tcptest::Has;

// Everything of one case; the survivor and how to see it still works are
// filled in last by the case's set-up.
struct World {
    ~World() {
        for (int fd : fds) close(fd);
    }
    // One loop turn; a failed select() (EBADF prints "error on select()") is counted.
    void Turn(long usec = 0) {
        if (handler.Select(0, usec) == -1) ++failedSelects;
    }
    bool Pump(const std::function<bool()>& done) {
        for (int i = 0; i < 600 && !done(); ++i) Turn(5000);
        return done();
    }
    // Takes every free descriptor number below `limit`, so that the next
    // descriptor made once `limit` is free gets exactly that number.
    void FillBelow(int limit) {
        for (;;) {
            int d = dup(pair.peer);
            if (d == -1) return;
            if (d > limit) {
                close(d);
                return;
            }
            fds.push_back(d);
        }
    }

    std::vector<std::string> trace;  // outlives every socket that writes to it
    nettest::RecordingLog log;
    tcptest::Listener listener;
    SocketHandler handler{&log};
    std::vector<std::unique_ptr<Socket>> application;  // deleted before the handler
    std::vector<int> fds;                              // the test's own descriptors
    nettest::Pair pair;
    int failedSelects = 0;
    Socket* survivor = nullptr;
    int number = -1;
    std::function<bool()> works;
};

// A retried client whose new descriptor gets the number of a socket that
// closed itself and is still mapped under it.
void RetryReusesTheNumberOfAClosedSocket(World& w) {
    TraceSocket* closed = new TraceSocket(w.handler, w.trace, "closed", w.pair.mine);
    w.application.emplace_back(closed);
    w.handler.Add(closed);
    w.Turn();
    Client* c = new Client(w.handler, w.trace);
    c->SetDeleteByHandler();
    c->SetLineProtocol();
    ASSERT_TRUE(c->Open(nettest::Loopback(), w.listener.port));
    w.handler.Add(c);
    int first = w.listener.Accept();
    ASSERT_NE(-1, first);
    w.fds.push_back(first);
    ASSERT_TRUE(w.Pump([&] { return Has(w.trace, "connect"); }));
    const int number = closed->GetSocket();
    ASSERT_LT(number, c->GetSocket());
    w.FillBelow(number);
    closed->Close();  // kept in the map
    c->SetRetryClientConnect();
    w.Turn();
    ASSERT_NE(-1, c->GetSocket()) << "the retried socket let go of its new descriptor";
    ASSERT_EQ(number, c->GetSocket()) << "the retry did not reuse the closed socket's number";
    w.number = number;
    w.survivor = c;
    w.works = [&w, c] {
        int second = w.listener.Accept();
        if (second == -1) return false;
        w.fds.push_back(second);
        tcptest::WriteAll(second, "ok\n");
        // `c` is touched only while it has not been freed.
        return w.Pump([&] { return Has(w.trace, "freed") || !c->lines.empty(); }) && !Has(w.trace, "freed") &&
               Count(w.trace, "connect") == 2 && c->lines == std::vector<std::string>{"ok"};
    };
}

// The newer socket replaces the mapped one, which deletes itself in OnDelete.
void ReplacedSocketDeletesItself(World& w) {
    TraceSocket* older = new TraceSocket(w.handler, w.trace, "old", w.pair.mine);
    older->onDelete = [older] { delete older; };
    w.handler.Add(older);
    w.Turn();
    TraceSocket* newer = new TraceSocket(w.handler, w.trace, "new", w.pair.mine);
    newer->SetDeleteByHandler();
    w.handler.Add(newer);
    w.Turn();
    ASSERT_NE(nullptr, w.log.Find("Replacing socket already in controlled queue (newer uid)", "Add"));
    ASSERT_TRUE(Has(w.trace, "freed old"));
    w.number = w.pair.mine;
    w.survivor = newer;
    w.works = [&w] {
        w.pair.Poke();
        w.Turn();
        return Has(w.trace, "read new");
    };
}

struct Idle : Socket {
    using Socket::Socket;
    void OnOptions(int, int, int, int) override {}
};

// An application socket refused as the older one, deleted by the
// application afterwards.
template <typename Older>
void RefusedSocketDeletedLater(World& w) {
    Older* older = new Older(w.handler);
    older->Attach(w.pair.mine);
    TraceSocket* newer = new TraceSocket(w.handler, w.trace, "new", w.pair.mine);
    newer->SetDeleteByHandler();
    w.handler.Add(newer);
    w.Turn();
    w.handler.Add(older);
    w.Turn();
    ASSERT_NE(nullptr, w.log.Find("Attempt to add socket already in controlled queue (older uid)", "Add"));
    delete older;
    w.number = w.pair.mine;
    w.survivor = newer;
    w.works = [&w] {
        w.pair.Poke();
        w.Turn();
        return Has(w.trace, "read new");
    };
}

TEST(SharedDescriptorNumber, TheSocketHoldingTheNumberKeepsItOpen) {
    struct Case {
        const char* name;
        void (*setup)(World&);
    };
    const Case cases[] = {
        {"retry reuses the number of a closed, still mapped socket", RetryReusesTheNumberOfAClosedSocket},
        {"replaced socket deletes itself in OnDelete", ReplacedSocketDeletesItself},
        {"refused application socket deleted later", RefusedSocketDeletedLater<Idle>},
        {"refused application UdpSocket deleted later", RefusedSocketDeletedLater<UdpSocket>},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        World w;
        k.setup(w);
        if (w.survivor == nullptr) continue;  // the set-up failed and said why
        EXPECT_TRUE(w.works());
        EXPECT_TRUE(nettest::IsOpen(w.number));
        auto it = w.handler.AllSockets().find(w.number);
        const bool mapped = it != w.handler.AllSockets().end() && it->second == w.survivor;
        EXPECT_TRUE(mapped);
        if (mapped) {
            EXPECT_EQ(w.number, w.survivor->GetSocket());  // not touched once it may be freed
        }
        EXPECT_EQ(0, w.failedSelects);
        EXPECT_EQ(nullptr, w.log.Find("Bad fd in fd_set (2)")) << w.log.Dump();
        EXPECT_EQ(nullptr, w.log.Find("Invalid socket")) << w.log.Dump();
        EXPECT_EQ(0, w.log.Count("close")) << w.log.Dump();  // no close() of a dead number
    }
}

}  // namespace
