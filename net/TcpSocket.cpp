// TcpSocket: construction, the non-blocking connect with its time-out and
// retry rule, the graceful close and the settings. Output is in
// TcpSocketOutput.cpp, input in TcpSocketInput.cpp.

#include "net/TcpSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/Ipv4Address.h"
#include "net/Utility.h"

namespace {
// A retry is allowed under the limit: -1 without end, 0 never, n at most n.
bool retryAllowed(int limit, int made) { return limit == -1 || (limit != 0 && made < limit); }
}  // namespace

// --- Construction ---

TcpSocket::TcpSocket(ISocketHandler& handler) : TcpSocket(handler, TCP_BUFSIZE_READ, 32768) {}

TcpSocket::TcpSocket(ISocketHandler& handler, size_t isize, size_t)
    : StreamSocket(handler),
      ibuf(isize),
      m_line(handler.MaxTcpLineSize(), '\0'),
      m_buf(new char[TCP_BUFSIZE_READ + 1]) {}

TcpSocket::~TcpSocket() = default;

// --- Connecting ---

bool TcpSocket::Open(const std::string& host, unsigned short port) {
    if (Handler().ResolverEnabled() && !Utility::isipv4(host)) {
        m_resolver_id = Resolve(host, port);
        return true;
    }
    unsigned long ip = 0;
    if (!Utility::u2ip(host, ip)) {
        SetCloseAndDelete();
        return false;
    }
    Ipv4Address address(ip, port);
    Ipv4Address bind_address(static_cast<unsigned short>(0));
    return Open(address, bind_address, false);
}

bool TcpSocket::Open(unsigned long ip, unsigned short port, bool skip_socks) {
    Ipv4Address address(ip, port);
    return Open(address, skip_socks);
}

bool TcpSocket::Open(SocketAddress& address, bool skip_socks) {
    Ipv4Address bind_address(static_cast<unsigned short>(0));
    return Open(address, bind_address, skip_socks);
}

bool TcpSocket::Open(SocketAddress& address, SocketAddress& bind_address, bool) {
    if (!address.IsValid()) {
        Handler().LogError(this, "Open", 0, "Invalid SocketAddress", loglevel_fatal);
        SetCloseAndDelete();
        return false;
    }
    if (Handler().GetCount() >= Handler().MaxCount()) {
        Handler().LogError(this, "Open", 0, "no space left for more sockets", loglevel_fatal);
        SetCloseAndDelete();
        return false;
    }
    SetConnecting(false);
    // A new connection starts clean: nothing of the last one's input, line
    // ends or shutdown carries over.
    m_connect_error = 0;
    m_loss_reported = false;
    ResetLine();
    SetShutdown(0);

    int s = CreateSocket(address.GetFamily(), SOCK_STREAM, "tcp");
    if (s == -1) return false;
    if (!SetNonblocking(true, s)) {
        SetCloseAndDelete();
        close(s);
        return false;
    }
    SetClientRemoteAddress(address);  // kept for retries and reconnects
    if (bind_address.GetPort() != 0) (void)bind(s, bind_address, bind_address);

    int n = connect(s, address, address);
    int err = n == -1 ? errno : 0;  // before anything else can change errno
    SetRemoteAddress(address);

    if (n == 0) {
        Attach(s);
        SetCallOnConnect();
        return true;
    }
    if (err == EINPROGRESS) {
        Attach(s);
        SetConnecting();
        return true;
    }
    if (Reconnect()) {
        Handler().LogError(this, "connect: failed, reconnect pending", err, strerror(err), loglevel_info);
        m_connect_error = err;
        Attach(s);
        SetConnecting();
        return true;
    }
    Handler().LogError(this, "connect: failed", err, strerror(err), loglevel_fatal);
    SetCloseAndDelete();
    close(s);
    return false;
}

void TcpSocket::OnWrite() {
    if (!Connecting()) {
        SendFromOutputBuffer();
        return;
    }
    // The error of a connect that failed at once wins: SO_ERROR may be 0 by now.
    int err = SoError();
    if (m_connect_error != 0) err = m_connect_error;
    if (err != 0) {
        Handler().LogError(this, "tcp: connect failed", err, strerror(err), loglevel_fatal);
        Handler().ISocketHandler_Mod(this, false, false);
        // With a retry left the socket stays connecting; its time-out retries.
        if (retryAllowed(GetConnectionRetry(), GetConnectionRetries())) return;
        SetConnecting(false);
        SetCloseAndDelete();
        OnConnectFailed();
        return;
    }
    Handler().ISocketHandler_Mod(this, !IsDisableRead(), false);
    SetConnecting(false);
    SetCallOnConnect();
}

void TcpSocket::OnConnectTimeout() {
    Handler().LogError(this, "connect", -1, "connect timeout", loglevel_fatal);
    if (retryAllowed(GetConnectionRetry(), GetConnectionRetries())) {
        IncreaseConnectionRetries();
        if (OnConnectRetry()) {
            SetRetryClientConnect();
            return;
        }
    }
    SetCloseAndDelete();
    OnConnectFailed();
    SetConnecting(false);
}

void TcpSocket::OnResolved(int id, unsigned long address, unsigned short port) {
    if (id != m_resolver_id) {
        Handler().LogError(this, "OnResolved", id, "Resolver returned wrong job id", loglevel_fatal);
        SetCloseAndDelete();
        return;
    }
    if (address == 0 || port == 0) {
        Handler().LogError(this, "OnResolved", 0, "Resolver failed", loglevel_fatal);
        m_resolver_id = 0;
        OnConnectFailed();
        return;
    }
    Ipv4Address remote(address, port);
    Ipv4Address local(static_cast<unsigned short>(0));
    if (Open(remote, local, false) && !Handler().Valid(this)) Handler().Add(this);
}

void TcpSocket::OnResolveFailed(int id) {
    if (id != m_resolver_id) return;
    // Outside the handler still: its owner decides what comes next.
    m_resolver_id = 0;
    OnConnectFailed();
}

// --- Closing ---

int TcpSocket::Close() {
    if (GetSocket() == -1) {
        Handler().LogError(this, "Socket::Close", 0, "file descriptor invalid", loglevel_warning);
        return 0;
    }
    SetNonblocking(true);
    if (!Lost() && IsConnected() && !(GetShutdown() & SHUT_WR)) {
        if (shutdown(GetSocket(), SHUT_WR) == -1) {
            int err = errno;
            Handler().LogError(this, "shutdown", err, strerror(err), loglevel_error);
        }
    }
    if (!Lost()) {
        // One last look: what still arrives is discarded.
        char tmp[1000];
        ssize_t n = recv(GetSocket(), tmp, sizeof tmp, 0);
        if (n > 0) Handler().LogError(this, "read() after shutdown", static_cast<int>(n), "bytes read", loglevel_warning);
    }
    return Socket::Close();
}

// --- Settings ---

void TcpSocket::LoseConnection(short info, int code) {
    m_loss_reported = true;
    OnDisconnect();
    OnDisconnect(info, code);
    SetCloseAndDelete();
    SetFlushBeforeClose(false);
    SetLost();
}

int TcpSocket::Protocol() { return IPPROTO_TCP; }

void TcpSocket::OnOptions(int, int, int, int) {
    SetSoReuseaddr(true);
    SetSoKeepalive(true);
}

void TcpSocket::SetReconnect(bool x) { m_b_reconnect = x; }
bool TcpSocket::Reconnect() const { return m_b_reconnect; }
void TcpSocket::SetIsReconnect(bool x) { m_b_is_reconnect = x; }
bool TcpSocket::IsReconnect() const { return m_b_is_reconnect; }

bool TcpSocket::SetTcpNodelay(bool x) {
    int optval = x ? 1 : 0;
    if (setsockopt(GetSocket(), IPPROTO_TCP, TCP_NODELAY, &optval, sizeof optval) == -1) {
        int err = errno;
        Handler().LogError(this, "setsockopt(IPPROTO_TCP, TCP_NODELAY)", err, strerror(err), loglevel_fatal);
        return false;
    }
    return true;
}

uint64_t TcpSocket::GetBytesSent(bool clear) {
    uint64_t n = m_bytes_sent;
    if (clear) m_bytes_sent = 0;
    return n;
}

uint64_t TcpSocket::GetBytesReceived(bool clear) {
    uint64_t n = m_bytes_received;
    if (clear) m_bytes_received = 0;
    return n;
}
