// Threads of the socket library: the thread object's life, the handler pool
// and its least-loaded choice, the wake-up datagram, and detached sockets.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/Exception.h"
#include "net/ListenSocket.h"
#include "net/Lock.h"
#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "net/Thread.h"
#include "net_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- Thread ---

class CountingThread : public Thread {
public:
    explicit CountingThread(bool release) : Thread(release) {}
    ~CountingThread() override { Stop(); }
    std::atomic<int> runs{0};

protected:
    void Run() override {
        ++runs;
        while (IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST(Thread, RunsOnlyOnceStartedAndReleased) {
    struct Case {
        const char* name;
        bool start;
        bool release;
        int runs;
    };
    for (const Case& k : {Case{"never started", false, true, 0}, Case{"started, never released", true, false, 0},
                          Case{"started and released", true, true, 1}}) {
        SCOPED_TRACE(k.name);
        CountingThread t(k.release);
        if (k.start) {
            ASSERT_TRUE(t.Start());
            EXPECT_FALSE(t.Start());  // once only
        }
        if (k.runs > 0) {
            const auto start = Clock::now();
            while (t.runs == 0 && SecondsSince(start) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto start = Clock::now();
        t.Stop();
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_EQ(k.runs, t.runs);
        EXPECT_FALSE(t.IsRunning());
        EXPECT_TRUE(!k.start || t.Ended());
    }
}

// --- Pool ---

// A socket over one end of a socketpair: a mapped socket that stays mapped.
class Held : public Socket {
public:
    Held(ISocketHandler& h, int fd) : Socket(h) { Attach(fd); }
    void OnOptions(int, int, int, int) override {}
};

// Adds a held socket to `h` from another thread, as a listening socket does.
void AddHeld(ISocketHandler& h, std::vector<int>& peers) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv));
    peers.push_back(sv[1]);
    Lock lock(h.GetMutex());
    Held* s = new Held(h, sv[0]);
    s->SetDeleteByHandler();
    h.Add(s);
}

TEST(Pool, BuiltOnceWithTwoTo255Threads) {
    SocketHandler h;
    EXPECT_THROW(h.GetRandomHandler(), Exception);
    for (size_t n : {0, 1, 256}) {
        h.SetNumberOfThreads(n);
        EXPECT_FALSE(h.IsThreaded()) << n;
    }
    h.SetNumberOfThreads(3);
    ASSERT_TRUE(h.IsThreaded());
    h.SetNumberOfThreads(4);  // ignored: the pool is built once

    // Each pick is the least-loaded pool handler, ties to the earliest: a
    // socket added to each pick makes three distinct picks, then round again.
    std::vector<int> peers;
    std::vector<ISocketHandler*> picks;
    for (int i = 0; i < 6; ++i) {
        ISocketHandler& pick = h.GetRandomHandler();
        picks.push_back(&pick);
        AddHeld(pick, peers);
    }
    std::set<ISocketHandler*> distinct(picks.begin(), picks.end());
    EXPECT_EQ(3u, distinct.size());
    EXPECT_EQ(std::vector<ISocketHandler*>(picks.begin(), picks.begin() + 3),
              std::vector<ISocketHandler*>(picks.begin() + 3, picks.end()));
    for (ISocketHandler* p : distinct) {
        EXPECT_NE(&h, p);
        EXPECT_TRUE(p->ParentHandlerIsValid());
        EXPECT_EQ(&h, &p->GetEffectiveHandler());
    }
    EXPECT_EQ(&h, &h.GetEffectiveHandler());
    EXPECT_THROW(h.ParentHandler(), Exception);
    for (int fd : peers) close(fd);
}

std::atomic<long> g_lines{0};
std::atomic<int> g_connections{0};

// One server connection of the pool: counts its lines.
class LineCounter : public TcpSocket {
public:
    explicit LineCounter(ISocketHandler& h) : TcpSocket(h) { SetLineProtocol(true); }
    void OnAccept() override { ++g_connections; }
    void OnLine(const std::string&) override { ++g_lines; }
};

int ConnectTo(unsigned short port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = nettest::Loopback();
    sa.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(s);
        return -1;
    }
    return s;
}

TEST(Pool, ServesManyConnectionsAndStopsInBoundedTime) {
    g_lines = 0;
    g_connections = 0;
    const int kConnections = 60;
    const int kLines = 50;
    auto h = std::make_unique<SocketHandler>();
    h->SetNumberOfThreads(4);
    auto* listener = new ListenSocket<LineCounter>(*h);
    listener->SetDeleteByHandler();
    ASSERT_EQ(0, listener->Bind("127.0.0.1", 0, 128));
    const unsigned short port = listener->GetPort();
    h->Add(listener);
    h->Select(0, 0);

    std::atomic<bool> done{false};
    std::thread clients([&] {
        std::vector<int> fds;
        for (int i = 0; i < kConnections; ++i) fds.push_back(ConnectTo(port));
        for (int round = 0; round < kLines; ++round)
            for (int fd : fds) (void)!write(fd, "!AIVDM,line\r\n", 13);
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (int fd : fds) close(fd);
    });
    const auto start = Clock::now();
    while (g_lines < long(kConnections) * kLines && SecondsSince(start) < 20) h->Select(0, 10000);
    EXPECT_EQ(kConnections, g_connections);
    EXPECT_EQ(long(kConnections) * kLines, g_lines);
    done = true;
    clients.join();

    // The pool threads are woken, not waited out: they end and free their
    // sockets at once.
    const auto stop = Clock::now();
    h.reset();
    EXPECT_LT(SecondsSince(stop), 3.0);
}

// --- Release ---

TEST(Release, WakesAHandlerWaitingWithoutTimeOut) {
    SocketHandler h;
    h.Release();  // before EnableRelease: nothing to send, nothing happens
    h.EnableRelease();
    h.EnableRelease();  // once
    h.Select(0, 0);     // the release socket joins the loop
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        h.Release();
    });
    const auto start = Clock::now();
    timeval tv{10, 0};  // the bound if the wake-up never came
    int n = h.Select(&tv);
    waker.join();
    EXPECT_EQ(1, n);
    EXPECT_LT(SecondsSince(start), 5.0);
}

// --- Detached sockets ---

std::atomic<int> g_detached{0};
std::atomic<int> g_freed{0};
std::atomic<int> g_work_ms{50};

// Answers its first line from a thread of its own after a blocking pause.
class SlowEcho : public TcpSocket {
public:
    explicit SlowEcho(ISocketHandler& h) : TcpSocket(h) { SetLineProtocol(true); }
    ~SlowEcho() override { ++g_freed; }
    void OnLine(const std::string& line) override {
        if (IsDetached()) return;
        m_line = line;
        EXPECT_TRUE(Detach());
        Detach();  // a second request changes nothing
    }
    void OnDetached() override {
        ++g_detached;
        std::this_thread::sleep_for(std::chrono::milliseconds(g_work_ms));  // blocks this socket's thread only
        Send("done " + m_line + "\n");
        SetCloseAndDelete();
    }

private:
    std::string m_line;
};

std::string ReadUntilClosed(int fd, double seconds) {
    std::string out;
    const auto start = Clock::now();
    char buf[256];
    while (SecondsSince(start) < seconds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1) continue;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

TEST(Detach, DetachedSocketsFinishTheirWorkAndEnd) {
    g_detached = 0;
    g_freed = 0;
    const int kClients = 5;
    {
        SocketHandler h;
        ListenSocket<SlowEcho> listener(h);
        ASSERT_EQ(0, listener.Bind("127.0.0.1", 0));
        h.Add(&listener);
        h.Select(0, 0);
        std::vector<int> fds;
        for (int i = 0; i < kClients; ++i) {
            fds.push_back(ConnectTo(listener.GetPort()));
            std::string line = "q" + std::to_string(i) + "\n";
            ASSERT_EQ(ssize_t(line.size()), write(fds.back(), line.data(), line.size()));
        }
        // The master loop keeps turning while the sockets' threads work.
        const auto start = Clock::now();
        while (g_freed < kClients && SecondsSince(start) < 10) h.Select(0, 10000);
        EXPECT_EQ(kClients, g_detached);
        EXPECT_EQ(kClients, g_freed);
        for (int i = 0; i < kClients; ++i) {
            EXPECT_EQ("done q" + std::to_string(i) + "\n", ReadUntilClosed(fds[i], 5));
            close(fds[i]);
        }
    }
}

// A detached socket still working when its master handler goes is not
// waited for: the master ends at once, and the socket's thread finishes its
// work and frees the socket on its own.
TEST(Detach, MasterDestroyedWhileADetachedSocketWorks) {
    g_detached = 0;
    g_freed = 0;
    g_work_ms = 1000;
    const int threads = nettest::CountThreads();
    auto h = std::make_unique<SocketHandler>();
    auto listener = std::make_unique<ListenSocket<SlowEcho>>(*h);
    ASSERT_EQ(0, listener->Bind("127.0.0.1", 0));
    h->Add(listener.get());
    h->Select(0, 0);
    const int fd = ConnectTo(listener->GetPort());
    ASSERT_EQ(2, write(fd, "x\n", 2));
    auto start = Clock::now();
    while (g_detached == 0 && SecondsSince(start) < 5) h->Select(0, 10000);
    ASSERT_EQ(1, g_detached);
    ASSERT_EQ(0, g_freed);  // still in its second of work
    listener.reset();
    start = Clock::now();
    h.reset();
    EXPECT_LT(SecondsSince(start), 0.5);

    start = Clock::now();
    while ((g_freed == 0 || nettest::CountThreads() != threads) && SecondsSince(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(1, g_freed);
    EXPECT_EQ(threads, nettest::CountThreads());
    g_work_ms = 50;
    EXPECT_EQ("done x\n", ReadUntilClosed(fd, 5));  // its work was finished
    close(fd);
}

std::atomic<int> g_served{0};

// Detaches as soon as it is accepted, answers from its own thread and closes.
class DetachAndClose : public TcpSocket {
public:
    explicit DetachAndClose(ISocketHandler& h) : TcpSocket(h) {}
    void OnAccept() override { Detach(); }
    void OnDetached() override {
        ++g_served;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // some work
        Send("ok\n");
        SetCloseAndDelete();
    }
};

// Each thread gives its descriptors back as soon as its socket is gone,
// without a turn of the master: thousands of short-lived detached sockets
// never run the process out of the descriptors select() can hold.
TEST(Detach, ThreadsEndAndGiveTheirDescriptorsBackPromptly) {
    const int kRounds = 200;
    const int kAtATime = 10;
    g_served = 0;
    SocketHandler h;
    ListenSocket<DetachAndClose> listener(h);
    ASSERT_EQ(0, listener.Bind("127.0.0.1", 0));
    h.Add(&listener);
    h.Select(0, 0);
    const int fds = nettest::CountFds();
    const int threads = nettest::CountThreads();

    std::atomic<bool> done{false};
    std::atomic<int> refused{0};
    std::thread clients([&] {
        for (int round = 0; round < kRounds; ++round) {
            std::vector<int> batch;
            for (int i = 0; i < kAtATime; ++i) batch.push_back(ConnectTo(listener.GetPort()));
            for (int c : batch) {
                if (c == -1 || ReadUntilClosed(c, 5) != "ok\n") ++refused;
                if (c != -1) close(c);
            }
        }
        done = true;
    });
    // The master stops turning once the last socket has started its work:
    // the last threads must end and give everything back without it.
    while (!done && g_served < kRounds * kAtATime) h.Select(0, 1000);
    clients.join();
    EXPECT_EQ(0, refused);
    EXPECT_EQ(kRounds * kAtATime, g_served);
    const auto start = Clock::now();
    while ((nettest::CountFds() != fds || nettest::CountThreads() != threads) && SecondsSince(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(fds, nettest::CountFds());
    EXPECT_EQ(threads, nettest::CountThreads());
}

}  // namespace
