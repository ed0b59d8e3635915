#pragma once
// A UDP receiver on 127.0.0.1 with a kernel-chosen port, for checking what
// the forwarder sends. Every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "loopback.h"

class UdpReceiver {
public:
    UdpReceiver() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        // As much as the program under test may take: a forwarder that reads
        // in batches sends faster than one recv at a time drains.
        int size = 64 << 20;
        if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
            size = 8 << 20;
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        port_ = loopback::Bind(fd_);
    }
    ~UdpReceiver() { close(fd_); }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Datagrams that arrive until `quietMs` pass without one (or `maxMs` in all).
    std::vector<std::string> Drain(int quietMs = 100, int maxMs = 5000) {
        std::vector<std::string> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        char buf[70000];
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0) break;
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n >= 0) out.emplace_back(buf, static_cast<size_t>(n));
        }
        return out;
    }

    // Waits up to `maxMs` for `count` datagrams.
    std::vector<std::string> Expect(size_t count, int maxMs = 5000) {
        std::vector<std::string> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        char buf[70000];
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n >= 0) out.emplace_back(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Sends datagrams to 127.0.0.1:port.
class UdpSender {
public:
    explicit UdpSender(int port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    ~UdpSender() { close(fd_); }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool Send(const std::string& datagram) const {
        return send(fd_, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size());
    }

private:
    int fd_ = -1;
};

// A port on 127.0.0.1 that nothing listens on (bound, read, released).
inline int ClosedUdpPort() {
    UdpReceiver r;
    return r.port();
}

// Waits (bounded) until something has bound UDP `port` on 127.0.0.1: our
// own bind then fails.
inline bool WaitUntilUdpPortTaken(int port, int maxMs = 8000) {
    for (int waited = 0; waited < maxMs; waited += 20) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
        close(fd);
        if (taken) return true;
        usleep(20000);
    }
    return false;
}
