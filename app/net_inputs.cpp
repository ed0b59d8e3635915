#include "app/net_inputs.h"

#include "app/clock.h"
#include "app/fatal.h"
#include "app/intake.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "net/Exception.h"
#include "net/SocketHandler.h"

#include <unistd.h>

#include <cstdio>

tcpSock::tcpSock(ISocketHandler& handler, TcpConnectionState& state, uint64_t generation)
    : TcpSocket(handler), state_(state), generation_(generation) {
    // Raw blocks, and none of them kept in the input ring, which nothing reads.
    SetLineProtocol(false);
    DisableInputBuffer(true);
    state_.current = generation_;
    state_.exists = true;
    state_.connected = false;
    state_.lastData = Now();
}

tcpSock::~tcpSock() {
    if (IsCurrent()) {
        state_.exists = false;
        state_.connected = false;
    }
}

void tcpSock::OnConnect() {
    if (!IsCurrent()) return;
    state_.connected = true;
    state_.lastData = Now();
    if (params.debug) std::fputs("Connected\n", stderr);
}

void tcpSock::OnConnectFailed() {
    if (params.debug) std::fputs("Connection failed\n", stderr);
    if (IsCurrent()) state_.connected = false;
}

void tcpSock::OnDelete() {
    if (params.debug) std::fputs("Connection closed\n", stderr);
    if (IsCurrent()) state_.connected = false;
}

void tcpSock::OnRead() {
    const HeldMessages held;
    TcpSocket::OnRead();
}

void tcpSock::OnRawData(const char* data, size_t length) {
    if (IsCurrent()) state_.lastData = Now();
    lines_.Feed(data, length, SentenceRule());
}

udpSock::udpSock(ISocketHandler& handler) : UdpSocket(handler, 16384, false, kUdpReadsPerTurn - 1) {}

udpSock::~udpSock() = default;

void udpSock::OnRead() {
    const HeldMessages held;
    UdpSocket::OnRead();
}

void udpSock::OnRawData(const char* data, size_t length, struct sockaddr*, socklen_t) {
    lines_.Feed(data, length, SentenceRule());
}

namespace {

bool stopped(const NetLoopControl& c) { return c.stop && c.stop->load(); }

// Sleeps `seconds`, waking early when the loop is asked to stop.
void pause(unsigned seconds, const NetLoopControl& c) {
    for (unsigned i = 0; i < seconds * 10 && !stopped(c); ++i) usleep(100000);
}

}  // namespace

void RunTcpClient(const NetLoopControl& control) {
    SocketHandler handler;
    TcpConnectionState state;
    tcpSock* socket = nullptr;  // valid only while state.exists
    uint64_t generation = 0;
    const auto port = static_cast<unsigned short>(params.port);

    while (!stopped(control)) {
        if (state.current == 0) {
            socket = new tcpSock(handler, state, ++generation);
            socket->SetDeleteByHandler(true);
            if (params.debug) std::fprintf(stderr, "%s %s:%u\n", "Connecting to", params.host, port);
            try {
                socket->Open(params.host, port);
            } catch (const Exception&) {
                // No descriptor to be had (out of descriptors): the socket is
                // marked for closing, the handler frees it, and the wait for
                // the reconnect follows as after any failed attempt.
            }
            handler.Add(socket);
            handler.Select(1, 0);
        } else if (!state.connected) {
            // Failed, closed, given up, or not connected by now: close it at
            // the handler's next turn and start afresh after the wait.
            if (state.exists) socket->SetCloseAndDelete(true);
            if (params.debug)
                std::fprintf(stderr, "Waiting %u seconds for reconnect\n", params.reconnectWait);
            pause(params.reconnectWait, control);
            state.current = 0;
            socket = nullptr;
        } else {
            handler.Select(1, 0);
            if (Now() - state.lastData > static_cast<time_t>(params.dataTimeout)) {
                if (params.debug)
                    std::fprintf(stderr, "No data for %u seconds. Disconnecting\n",
                                 static_cast<unsigned>(params.dataTimeout));
                state.connected = false;
            }
        }
        handler.Select(1, 0);
    }
    // Tests stop the loop: let the handler close and free what it owns.
    if (state.current != 0 && state.exists) socket->SetCloseAndDelete(true);
    state.current = 0;
    handler.Select(0, 0);
}

void RunUdpListener(const NetLoopControl& control) {
    if (params.debug) std::fputs("Start in UDP mode\n", stderr);
    SocketHandler handler;
    udpSock socket(handler);
    unsigned short port = static_cast<unsigned short>(params.port);
    try {
        if (socket.Bind(params.host, port, 10) == -1) {
            std::fprintf(stderr, "Invalid host: %s\n", params.host);
            FatalExit();
        }
    } catch (const Exception& e) {
        std::puts(e.ToString().c_str());
        FatalExit();
    }
    // Beyond the system's cap when the process may (as root), else up to it.
    if (!socket.SetSoRcvbufforce(kUdpReceiveBuffer)) socket.SetSoRcvbuf(kUdpReceiveBuffer);
    handler.Add(&socket);
    // No sleep between turns: a turn waits only while nothing is queued.
    while (!stopped(control)) handler.Select(1, 0);
}
