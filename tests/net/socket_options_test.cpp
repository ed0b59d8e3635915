#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/SocketHandler.h"
#include "net/TcpSocket.h"
#include "net/UdpSocket.h"
#include "net_test_support.h"

namespace {

using nettest::RecordingLog;

class RawSocket : public Socket {
public:
    RawSocket(ISocketHandler& h, int fd) : Socket(h) { Attach(fd); }
    void OnOptions(int, int, int, int) override {}
};

struct OptionCase {
    const char* name;
    std::function<bool(Socket&)> set;
    std::function<long(Socket&)> get;
    long expect;
};

class SocketOptions : public testing::Test {
protected:
    RecordingLog log;
    SocketHandler handler{&log};
};

// Set then read back on a UDP descriptor; only options that any user may set.
TEST_F(SocketOptions, SetThenGet) {
    const OptionCase cases[] = {
        {"IpTTL", [](Socket& s) { return s.SetIpTTL(64); }, [](Socket& s) { return s.IpTTL(); }, 64},
        {"IpTOS", [](Socket& s) { return s.SetIpTOS(0x10); }, [](Socket& s) { return s.IpTOS(); }, 0x10},
        {"IpMulticastTTL", [](Socket& s) { return s.SetIpMulticastTTL(5); }, [](Socket& s) { return s.IpMulticastTTL(); }, 5},
        {"SoRcvbuf", [](Socket& s) { return s.SetSoRcvbuf(65536); }, [](Socket& s) { return s.SoRcvbuf() >= 65536; }, 1},
        {"SoSndbuf", [](Socket& s) { return s.SetSoSndbuf(65536); }, [](Socket& s) { return s.SoSndbuf() >= 65536; }, 1},
        {"SoBroadcast", [](Socket& s) { return s.SetSoBroadcast(true); }, nullptr, 0},
        {"SoReuseaddr", [](Socket& s) { return s.SetSoReuseaddr(true); }, nullptr, 0},
        {"SoKeepalive", [](Socket& s) { return s.SetSoKeepalive(false); }, nullptr, 0},
        {"SoTimestamp", [](Socket& s) { return s.SetSoTimestamp(true); }, nullptr, 0},
        {"IpPktinfo", [](Socket& s) { return s.SetIpPktinfo(true); }, nullptr, 0},
        {"IpRecvTTL", [](Socket& s) { return s.SetIpRecvTTL(true); }, nullptr, 0},
        {"IpRecvTOS", [](Socket& s) { return s.SetIpRecvTOS(true); }, nullptr, 0},
        {"IpRecverr", [](Socket& s) { return s.SetIpRecverr(true); }, nullptr, 0},
        {"MulticastLoop", [](Socket& s) { return s.SetMulticastLoop(false); }, nullptr, 0},
        {"SoLinger", [](Socket& s) { return s.SetSoLinger(1, 2); }, nullptr, 0},
        {"SoRcvtimeo", [](Socket& s) { timeval tv{1, 0}; return s.SetSoRcvtimeo(tv); }, nullptr, 0},
        {"SoSndtimeo", [](Socket& s) { timeval tv{1, 0}; return s.SetSoSndtimeo(tv); }, nullptr, 0},
        {"SoPriority", [](Socket& s) { return s.SetSoPriority(3); }, nullptr, 0},
        {"SoError", nullptr, [](Socket& s) { return s.SoError(); }, 0},
        {"SoAcceptconn", nullptr, [](Socket& s) { return s.SoAcceptconn(); }, 0},
    };
    for (const OptionCase& c : cases) {
        RawSocket s(handler, socket(AF_INET, SOCK_DGRAM, 0));
        if (c.set) {
            EXPECT_TRUE(c.set(s)) << c.name;
        }
        if (c.get) {
            EXPECT_EQ(c.expect, c.get(s)) << c.name;
        }
        close(s.GetSocket());
        s.Attach(-1);
    }
    EXPECT_TRUE(log.entries.empty()) << log.entries.front().label;
}

// Without a descriptor every call fails with EBADF, is logged at
// loglevel_fatal under its label, and a getter gives 0.
TEST_F(SocketOptions, FailuresAreLoggedWithTheirLabel) {
    const OptionCase cases[] = {
        {"setsockopt(SOL_SOCKET, SO_REUSEADDR)", [](Socket& s) { return s.SetSoReuseaddr(true); }, nullptr, 0},
        {"setsockopt(SOL_SOCKET, SO_KEEPALIVE)", [](Socket& s) { return s.SetSoKeepalive(true); }, nullptr, 0},
        {"setsockopt(IPPROTO_IP, IP_TTL)", [](Socket& s) { return s.SetIpTTL(3); }, nullptr, 0},
        {"getsockopt(IPPROTO_IP, IP_TTL)", nullptr, [](Socket& s) { return s.IpTTL(); }, 0},
        {"getsockopt(IPPROTO_IP, IP_TOS)", nullptr, [](Socket& s) { return s.IpTOS(); }, 0},
        {"getsockopt(SOL_SOCKET, SO_ERROR)", nullptr, [](Socket& s) { return s.SoError(); }, 0},
        {"getsockopt(SOL_SOCKET, SO_TYPE)", nullptr, [](Socket& s) { return s.SoType(); }, 0},
        {"getsockopt(SOL_SOCKET, SO_ACCEPTCONN)", nullptr, [](Socket& s) { return s.SoAcceptconn(); }, 0},
        {"setsockopt(SOL_SOCKET, SO_BINDTODEVICE)", [](Socket& s) { return s.SetSoBindtodevice("lo"); }, nullptr, 0},
        {"setsockopt(SOL_SOCKET, SO_LINGER)", [](Socket& s) { return s.SetSoLinger(1, 1); }, nullptr, 0},
        {"setsockopt(IPPROTO_IP, IP_ADD_MEMBERSHIP)", [](Socket& s) { ip_mreq m{}; return s.IpAddMembership(m); }, nullptr, 0},
        {"setsockopt(IPPROTO_IP, IP_DROP_MEMBERSHIP)", [](Socket& s) { ip_mreqn m{}; return s.IpDropMembership(m); }, nullptr, 0},
        {"getsockopt(SOL_SOCKET, SO_PEERCRED)", nullptr, [](Socket& s) { ucred u{}; return s.SoPeercred(u); }, 0},
    };
    for (const OptionCase& c : cases) {
        RawSocket s(handler, -1);
        log.entries.clear();
        if (c.set) {
            EXPECT_FALSE(c.set(s)) << c.name;
        }
        if (c.get) {
            EXPECT_EQ(c.expect, c.get(s)) << c.name;
        }
        ASSERT_EQ(1u, log.entries.size()) << c.name;
        EXPECT_EQ(c.name, log.entries[0].label);
        EXPECT_EQ(EBADF, log.entries[0].code) << c.name;
        EXPECT_EQ(strerror(EBADF), log.entries[0].text) << c.name;
        EXPECT_EQ(loglevel_fatal, log.entries[0].level) << c.name;
    }
}

TEST_F(SocketOptions, PendingConnectErrorIsReadOnce) {
    unsigned short port = 0;
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = nettest::Loopback();
    ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    socklen_t len = sizeof sa;
    getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    close(probe);  // nothing listens there now

    RawSocket s(handler, socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_TRUE(s.SetNonblocking(true));
    sa.sin_port = htons(port);
    int rc = connect(s.GetSocket(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (rc == -1 && errno == EINPROGRESS) {
        fd_set w;
        FD_ZERO(&w);
        FD_SET(s.GetSocket(), &w);
        timeval tv{2, 0};
        ASSERT_EQ(1, select(s.GetSocket() + 1, nullptr, &w, nullptr, &tv));
        EXPECT_EQ(ECONNREFUSED, s.SoError());
    } else {
        EXPECT_EQ(ECONNREFUSED, errno);
    }
    EXPECT_EQ(0, s.SoError());
    EXPECT_FALSE(s.SoAcceptconn());
    close(s.GetSocket());
    s.Attach(-1);
}

TEST_F(SocketOptions, TcpNodelayAndTcpDefaults) {
    TcpSocket tcp(handler);
    EXPECT_FALSE(tcp.SetTcpNodelay(true));  // no descriptor yet
    EXPECT_NE(nullptr, log.FindLabel("setsockopt(IPPROTO_TCP, TCP_NODELAY)"));
    int fd = tcp.CreateSocket(AF_INET, SOCK_STREAM, "tcp");
    tcp.Attach(fd);
    EXPECT_TRUE(tcp.SetTcpNodelay(true));
    int on = 0;
    socklen_t len = sizeof on;
    getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, &len);
    EXPECT_NE(0, on);  // set by TcpSocket's options on every new descriptor
    getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &len);
    EXPECT_NE(0, on);
}

}  // namespace
