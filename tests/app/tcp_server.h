#pragma once
// A TCP server on 127.0.0.1 for the TCP input tests: each accepted
// connection is handed to `serve` on the server's thread; the connection is
// closed when `serve` returns. Everything stops in the destructor.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "loopback.h"

class TcpTestServer {
public:
    // `serve(fd, index)` runs for connection number `index` (from 0).
    explicit TcpTestServer(std::function<void(int, int)> serve, int backlog = 16, bool accept = true)
        : serve_(std::move(serve)) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        port_ = loopback::Bind(fd_);
        listen(fd_, backlog);
        if (accept) thread_ = std::thread([this] { Loop(); });
    }
    ~TcpTestServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    int port() const { return port_; }
    int accepted() const { return accepted_; }
    bool stopping() const { return stop_; }

    static void SendAll(int fd, const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            const ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return;
            off += static_cast<size_t>(n);
        }
    }

private:
    void Loop() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            serve_(c, accepted_++);
            close(c);
        }
    }

    std::function<void(int, int)> serve_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

// Sleeps up to `ms`, returning early when the server stops.
inline void Nap(const TcpTestServer& s, int ms) {
    for (int t = 0; t < ms && !s.stopping(); t += 10) usleep(10000);
}
