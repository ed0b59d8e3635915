#include "net/Socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/Utility.h"

std::atomic<unsigned long> Socket::m_next_uid{0};

Socket::Socket(ISocketHandler& handler)
    : m_handler(handler), m_tCreate(Utility::Now()), m_uid(++m_next_uid) {}

Socket::~Socket() {
    Handler().Remove(this);
    if (m_socket != -1) Socket::Close();
}

// --- Default slot behaviour ---

Socket* Socket::Create() { return nullptr; }
void Socket::Init() {}

int Socket::Close() {
    if (m_socket == -1) {
        Handler().LogError(this, "Socket::Close", 0, "file descriptor invalid", loglevel_warning);
        return 0;
    }
    Handler().ISocketHandler_Del(this);
    int n = close(m_socket);
    if (n == -1) {
        int err = errno;
        Handler().LogError(this, "close", err, strerror(err), loglevel_error);
    }
    m_socket = -1;
    return n;
}

bool Socket::Ready() { return m_socket != -1 && !CloseAndDelete(); }

unsigned short Socket::GetPort() {
    Handler().LogError(this, "GetPort", 0, "GetPort only implemented for ListenSocket", loglevel_warning);
    return 0;
}

void Socket::SendBuf(const char*, size_t, int) {}
void Socket::Send(const std::string&, int) {}
uint64_t Socket::GetBytesSent(bool) { return 0; }
uint64_t Socket::GetBytesReceived(bool) { return 0; }
void Socket::OnRead() {}
void Socket::OnWrite() {}

void Socket::OnException() {
    int err = SoError();
    Handler().LogError(this, "exception on select", err, strerror(err), loglevel_fatal);
    SetCloseAndDelete();
}

void Socket::OnDelete() {}
void Socket::OnConnect() {}
void Socket::OnAccept() {}
void Socket::OnLine(const std::string&) {}
void Socket::OnConnectFailed() {}
bool Socket::OnConnectRetry() { return true; }
void Socket::OnReconnect() {}
void Socket::OnDisconnect() {}
void Socket::OnDisconnect(short, int) {}
void Socket::OnTimeout() {}
void Socket::OnConnectTimeout() {}
void Socket::OnResolved(int, unsigned long, unsigned short) {}
void Socket::OnReverseResolved(int, const std::string&) {}
void Socket::OnResolveFailed(int) {}
void Socket::OnDetached() {}

// --- Descriptor ---

void Socket::Attach(int s) { m_socket = s; }

int Socket::GetSocket() const { return m_socket; }

int Socket::CreateSocket(int family, int type, const std::string& protocol) {
    int protno = 0;
    if (!protocol.empty()) {
        protoent pe;
        protoent* found = nullptr;
        char buf[1024];
        int rc = getprotobyname_r(protocol.c_str(), &pe, buf, sizeof buf, &found);
        if (rc != 0 || found == nullptr) {
            int err = rc != 0 ? rc : ENOENT;
            Handler().LogError(this, "getprotobyname", err, strerror(err), loglevel_fatal);
            SetCloseAndDelete();
            Exception failure(std::string("getprotobyname() failed: ") + strerror(err));
            errno = err;  // still the cause for whoever catches it
            throw failure;
        }
        protno = found->p_proto;
    }
    int s = socket(family, type, protno);
    if (s == -1) {
        int err = errno;
        Handler().LogError(this, "socket", err, strerror(err), loglevel_fatal);
        SetCloseAndDelete();
        Exception failure(std::string("socket() failed: ") + strerror(err));
        errno = err;  // still the cause for whoever catches it
        throw failure;
    }
    // The options are set while the socket holds the new descriptor.
    int previous = m_socket;
    Attach(s);
    OnOptions(family, type, protno, s);
    Attach(previous);
    return s;
}

bool Socket::SetNonblocking(bool on) { return SetNonblocking(on, m_socket); }

bool Socket::SetNonblocking(bool on, int s) {
    if (fcntl(s, F_SETFL, on ? O_NONBLOCK : 0) == -1) {
        int err = errno;
        Handler().LogError(this, on ? "fcntl(F_SETFL, O_NONBLOCK)" : "fcntl(F_SETFL, 0)", err, strerror(err),
                           loglevel_error);
        return false;
    }
    return true;
}

// --- Identity and state flags ---

unsigned long Socket::UniqueIdentifier() const { return m_uid; }
void Socket::SetDeleteByHandler(bool x) { m_bDel = x; }
bool Socket::DeleteByHandler() const { return m_bDel; }

void Socket::SetCloseAndDelete(bool x) {
    if (x == m_bClose) return;  // a repeated request keeps the first close time
    m_bClose = x;
    if (x) {
        m_tClose = Utility::Now();
        Handler().SetClose(true);
    }
}

bool Socket::CloseAndDelete() const { return m_bClose; }
void Socket::DisableRead(bool x) { m_b_disable_read = x; }
bool Socket::IsDisableRead() const { return m_b_disable_read; }
void Socket::SetConnected(bool x) { m_connected = x; }
bool Socket::IsConnected() const { return m_connected; }
void Socket::SetLost() { m_bLost = true; }
bool Socket::Lost() const { return m_bLost; }
void Socket::SetErasedByHandler(bool x) { m_b_erased_by_handler = x; }
bool Socket::ErasedByHandler() const { return m_b_erased_by_handler; }

void Socket::SetCallOnConnect(bool x) {
    m_call_on_connect = x;
    if (x) Handler().SetCallOnConnect(true);
}

bool Socket::CallOnConnect() const { return m_call_on_connect; }

void Socket::SetRetryClientConnect(bool x) {
    m_b_retry_connect = x;
    if (x) Handler().SetRetry(true);
}

bool Socket::RetryClientConnect() const { return m_b_retry_connect; }

void Socket::SetDetach(bool x) {
    m_detach = x;
    if (x) Handler().SetDetach(true);
}

bool Socket::IsDetach() const { return m_detach; }
void Socket::SetDetached(bool x) { m_detached = x; }
bool Socket::IsDetached() const { return m_detached; }
void Socket::SetParent(Socket* parent) { m_parent = parent; }
Socket* Socket::GetParent() const { return m_parent; }
void Socket::SetSlaveHandler(ISocketHandler* handler) { m_slave_handler = handler; }

ISocketHandler& Socket::MasterHandler() const { return m_handler; }

ISocketHandler& Socket::Handler() const {
    if (m_detached && m_slave_handler != nullptr) return *m_slave_handler;
    return m_handler;
}

// --- Time ---

time_t Socket::Uptime() const { return Utility::Now() - m_tCreate; }

time_t Socket::TimeSinceClose() const { return Utility::Now() - m_tClose; }

void Socket::SetTimeout(long seconds) {
    if (seconds != 0) {
        m_timeout_limit = seconds;
        m_timeout_start = Utility::Now();
        Handler().SetTimeout(true);
    } else {
        m_timeout_start = 0;
        m_timeout_limit = 0;
    }
}

bool Socket::CheckTimeout() const { return m_timeout_start > 0 && m_timeout_limit > 0; }

bool Socket::Timeout(time_t now) const { return m_timeout_start > 0 && now - m_timeout_start > m_timeout_limit; }

// --- Addresses ---

void Socket::SetRemoteAddress(SocketAddress& address) { m_remote_address = address.GetCopy(); }

std::unique_ptr<SocketAddress> Socket::GetRemoteSocketAddress() {
    return m_remote_address ? m_remote_address->GetCopy() : nullptr;
}

unsigned long Socket::GetRemoteIP4() {
    if (!m_remote_address || m_remote_address->GetFamily() != AF_INET) return 0;
    const sockaddr_in* sa = reinterpret_cast<const sockaddr_in*>(static_cast<sockaddr*>(*m_remote_address));
    return sa->sin_addr.s_addr;
}

unsigned short Socket::GetRemotePort() { return m_remote_address ? m_remote_address->GetPort() : 0; }

std::string Socket::GetRemoteAddress() { return m_remote_address ? m_remote_address->Convert(false) : std::string(); }

std::string Socket::GetRemoteHostname() { return m_remote_address ? m_remote_address->Reverse() : std::string(); }

void Socket::SetClientRemoteAddress(SocketAddress& address) {
    if (!address.IsValid())
        Handler().LogError(this, "SetClientRemoteAddress", 0, "remote address not valid", loglevel_error);
    m_client_remote_address = address.GetCopy();
}

std::unique_ptr<SocketAddress> Socket::GetClientRemoteAddress() {
    if (!m_client_remote_address) {
        Handler().LogError(this, "GetClientRemoteAddress", 0, "remote address not yet set", loglevel_error);
        return nullptr;
    }
    return m_client_remote_address->GetCopy();
}

unsigned short Socket::GetSockPort() {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&sa), &len) == -1) return 0;
    return ntohs(sa.sin_port);
}

unsigned long Socket::GetSockIP4() {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&sa), &len) == -1) return 0;
    return sa.sin_addr.s_addr;
}

std::string Socket::GetSockAddress() {
    sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    socklen_t len = sizeof sa;
    if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&sa), &len) == -1) memset(&sa, 0, sizeof sa);
    Ipv4Address addr(sa.sin_addr, 0);
    return addr.Convert(false);
}

void Socket::SetTrafficMonitor(FILE* monitor) { m_traffic_monitor = monitor; }
FILE* Socket::GetTrafficMonitor() const { return m_traffic_monitor; }

// --- Resolving: forwarded to the handler ---

int Socket::Resolve(const std::string& host, unsigned short port) { return Handler().Resolve(this, host, port); }

int Socket::Resolve(unsigned long address) { return Handler().Resolve(this, address); }
