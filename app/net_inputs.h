#pragma once
// The network inputs: a TCP client that reconnects when its server fails,
// closes or stays silent, and a UDP listener. Both run inside the socket
// handler's loop on the main thread and cut their text as every input does
// (app/line_splitter.h).

#include "app/line_splitter.h"
#include "net/TcpSocket.h"
#include "net/UdpSocket.h"

#include <atomic>
#include <cstdint>
#include <ctime>

// What the TCP loop knows about its current connection. It outlives the
// socket, so the loop never reads a socket that the handler may have freed.
struct TcpConnectionState {
    uint64_t current = 0;     // generation of the current socket; 0 = none
    bool exists = false;      // the current socket has not been freed yet
    bool connected = false;
    time_t lastData = 0;
};

class tcpSock : public TcpSocket {
public:
    tcpSock(ISocketHandler& handler, TcpConnectionState& state, uint64_t generation);
    ~tcpSock() override;
    void OnDelete() override;
    void OnConnect() override;
    // The lines of one read may hold each other's messages (HeldMessages).
    void OnRead() override;
    void OnConnectFailed() override;
    // The stream is cut into sentences as every input cuts its text, not by
    // the socket's line mode, whose line limit would lose a long line whole.
    void OnRawData(const char* data, size_t length) override;

private:
    bool IsCurrent() const { return state_.current == generation_; }
    TcpConnectionState& state_;
    const uint64_t generation_;
    LineSplitter lines_;
};

class udpSock : public UdpSocket {
public:
    explicit udpSock(ISocketHandler& handler);
    ~udpSock() override;
    // The datagrams of one read may hold each other's messages (HeldMessages).
    void OnRead() override;
    using UdpSocket::OnRawData;
    void OnRawData(const char* data, size_t length, struct sockaddr* sa, socklen_t sa_len) override;

private:
    LineSplitter lines_;
};

// Datagrams one read event may take before the loop turns again: enough to
// keep up with a full queue, few enough to keep the loop fair.
constexpr int kUdpReadsPerTurn = 256;
// The receive buffer asked of the kernel: at the ~830 bytes it charges per
// small datagram, twice this holds ~160,000 datagrams, so a local flood of
// 100,000 waits whole while the loop drains it. The kernel may give less (an
// unprivileged process gets at most net.core.rmem_max), which is no error.
constexpr int kUdpReceiveBuffer = 64 << 20;

// How a test ends a network loop: the loop returns once `stop` is set. The
// timings (reconnect wait, data time-out) come from the command line.
struct NetLoopControl {
    const std::atomic<bool>* stop = nullptr;
};

// Mode 't': never returns unless `control.stop` is set.
void RunTcpClient(const NetLoopControl& control = NetLoopControl());
// Mode 'u': returns only when `control.stop` is set; ends the process with
// status 255 when the port can't be bound.
void RunUdpListener(const NetLoopControl& control = NetLoopControl());
