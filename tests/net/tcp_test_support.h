#pragma once
// Fixtures of the TcpSocket tests: a loopback listener, a client socket that
// records its events, a handler with a recording log, and bounded pumping of
// the loop.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "loopback.h"
#include "net_test_support.h"

namespace tcptest {

// A listening descriptor on 127.0.0.1 with a port the kernel chose.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int bound = loopback::Bind(fd);
        if (bound < 0 || listen(fd, backlog) != 0) return;
        port = static_cast<unsigned short>(bound);
    }
    ~Listener() {
        if (fd != -1) close(fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // The next connection (non-blocking), or -1 when none comes within `ms`.
    int Accept(int ms = 3000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return -1;
        return accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    }

    int fd = -1;
    unsigned short port = 0;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening, and
// held for the life of the object so that nobody else can take it.
class RefusingPort {
public:
    RefusingPort() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int bound = loopback::Bind(fd);
        if (bound > 0) port = static_cast<unsigned short>(bound);
    }
    ~RefusingPort() { close(fd); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int fd = -1;
    unsigned short port = 0;
};

// A client whose events go to a shared trace (it outlives the socket, which
// the handler may free).
class Client : public TcpSocket {
public:
    Client(ISocketHandler& h, std::vector<std::string>& trace, size_t isize = 16400)
        : TcpSocket(h, isize, 0), m_trace(trace) {}
    ~Client() override { m_trace.push_back("freed"); }

    void OnConnect() override {
        m_trace.push_back("connect");
        queuedAtConnect = GetOutputLength();
    }
    void OnReconnect() override { m_trace.push_back("reconnect"); }
    void OnConnectFailed() override { m_trace.push_back("failed"); }
    bool OnConnectRetry() override {
        m_trace.push_back("retry");
        if (onRetry) onRetry();
        return true;
    }
    void OnDelete() override { m_trace.push_back("delete"); }
    void OnDisconnect() override { m_trace.push_back("disconnect"); }
    void OnDisconnect(short info, int code) override {
        m_trace.push_back("disconnect " + std::to_string(info) + " " + std::to_string(code));
    }
    void OnLine(const std::string& line) override {
        lines.push_back(line);
        if (onLine) onLine(line);
    }
    void OnRawData(const char* p, size_t n) override { raw.append(p, n); }
    void OnWriteComplete() override { m_trace.push_back("write complete"); }
    void OnTransferLimit() override { m_trace.push_back("transfer limit"); }

    std::vector<std::string> lines;
    std::string raw;
    size_t queuedAtConnect = 0;
    std::function<void(const std::string&)> onLine;
    std::function<void()> onRetry;

private:
    std::vector<std::string>& m_trace;
};

inline int Count(const std::vector<std::string>& trace, const std::string& event) {
    return static_cast<int>(std::count(trace.begin(), trace.end(), event));
}

inline bool Has(const std::vector<std::string>& trace, const std::string& event) { return Count(trace, event) > 0; }

using nettest::CountFds;

// Everything `fd` holds now (it is non-blocking); `eof` is set at the end.
inline std::string Drain(int fd, bool* eof = nullptr) {
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 && eof != nullptr) *eof = true;
        return out;
    }
}

inline void WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 2000) != 1) return;
        }
    }
}

class TcpFixture : public ::testing::Test {
protected:
    // Loop turns until `done` holds; false when it still doesn't after the
    // bound (a few seconds of short turns).
    bool Pump(const std::function<bool()>& done, int turns = 1000) {
        for (int i = 0; i < turns; ++i) {
            if (done()) return true;
            handler.Select(0, 5000);
        }
        return done();
    }

    Client* NewClient(size_t isize = 16400) {
        Client* c = new Client(handler, trace, isize);
        c->SetDeleteByHandler();
        return c;
    }

    // A client connected to `listener`; the server's end (non-blocking) goes
    // to `server`. Null when the connection doesn't come up.
    Client* Connected(Listener& listener, int& server, bool lineMode = true) {
        Client* c = NewClient();
        c->SetLineProtocol(lineMode);
        if (!c->Open(nettest::Loopback(), listener.port)) return nullptr;
        handler.Add(c);
        server = listener.Accept();
        if (server == -1 || !Pump([&] { return Has(trace, "connect"); })) return nullptr;
        return c;
    }

    // Sends each chunk as a read of its own: the next goes out only once the
    // client has taken the last one in.
    bool Feed(Client* c, int server, const std::vector<std::string>& chunks) {
        uint64_t total = c->GetBytesReceived();
        for (const std::string& chunk : chunks) {
            WriteAll(server, chunk);
            total += chunk.size();
            if (!Pump([&] { return Has(trace, "freed") || c->GetBytesReceived() >= total; })) return false;
            if (Has(trace, "freed")) return false;
        }
        return true;
    }

    std::vector<std::string> trace;  // before the handler: freed sockets still write to it
    nettest::RecordingLog log;
    SocketHandler handler{&log};
};

}  // namespace tcptest
