#include "net/UdpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/Utility.h"

namespace {
constexpr socklen_t kIpv4Len = sizeof(sockaddr_in);
}

// Room for one recvmmsg call: a buffer, an address and a header per slot.
struct UdpSocket::ReadBatch {
    ReadBatch(int slots, int bufferSize)
        : buffers(new char[static_cast<size_t>(slots) * static_cast<size_t>(bufferSize)]),
          addresses(new sockaddr_in[slots]),
          vectors(new iovec[slots]),
          headers(new mmsghdr[slots]),
          size(slots) {
        for (int i = 0; i < slots; ++i) {
            vectors[i].iov_base = buffers.get() + static_cast<size_t>(i) * static_cast<size_t>(bufferSize);
            vectors[i].iov_len = static_cast<size_t>(bufferSize);
        }
    }
    // Readies the first n headers for a call.
    void Arm(int n) {
        for (int i = 0; i < n; ++i) {
            memset(&headers[i], 0, sizeof headers[i]);
            headers[i].msg_hdr.msg_name = &addresses[i];
            headers[i].msg_hdr.msg_namelen = kIpv4Len;
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
    }
    std::unique_ptr<char[]> buffers;
    std::unique_ptr<sockaddr_in[]> addresses;
    std::unique_ptr<iovec[]> vectors;
    std::unique_ptr<mmsghdr[]> headers;
    int size;
};

UdpSocket::UdpSocket(ISocketHandler& handler, int ibufsz, bool, int retries)
    : Socket(handler), m_ibufsz(ibufsz > 0 ? ibufsz : 1), m_retries(retries) {
    m_ibuf.reset(new char[m_ibufsz]);
}

UdpSocket::~UdpSocket() {
    if (GetSocket() != -1) Socket::Close();
}

void UdpSocket::CreateConnection() {
    if (GetSocket() != -1) return;
    int s = CreateSocket(AF_INET, SOCK_DGRAM, "udp");
    SetNonblocking(true, s);
    Attach(s);
}

void UdpSocket::OnOptions(int, int, int, int) {}

// --- Binding ---

int UdpSocket::Bind(SocketAddress& address, int range) {
    if (GetSocket() == -1) Attach(CreateSocket(address.GetFamily(), SOCK_DGRAM, "udp"));
    if (GetSocket() == -1) return -1;
    SetNonblocking(true);
    if (range < 0) range = 0;
    // Port 0 asks the kernel for any free port: one attempt is all it takes.
    // A range ends at 65535; it never wraps to 0.
    int n = bind(GetSocket(), address, address);
    int err = n == -1 ? errno : 0;
    for (int tried = 0; n == -1 && tried < range && address.GetPort() != 0 && address.GetPort() < 65535; ++tried) {
        address.SetPort(static_cast<unsigned short>(address.GetPort() + 1));
        n = bind(GetSocket(), address, address);
        err = n == -1 ? errno : 0;
    }
    if (n == -1) {
        Handler().LogError(this, "bind", err, strerror(err), loglevel_fatal);
        SetCloseAndDelete();
        throw Exception("bind() failed for UdpSocket, port:range: " + Utility::l2string(address.GetPort()) + ":" +
                        Utility::l2string(range));
    }
    m_bind_ok = true;
    // The kernel's choice for port 0; for any other port the same number.
    unsigned short real = GetSockPort();
    if (real != 0) address.SetPort(real);
    m_port = address.GetPort();
    return 0;
}

int UdpSocket::Bind(const std::string& host, unsigned short& port, int range) {
    Ipv4Address address(host, port);
    if (!address.IsValid()) {
        SetCloseAndDelete();
        return -1;
    }
    int n = Bind(address, range);
    if (m_bind_ok) port = m_port;
    return n;
}

int UdpSocket::Bind(unsigned short& port, int range) {
    Ipv4Address address(static_cast<unsigned long>(INADDR_ANY), port);
    int n = Bind(address, range);
    if (m_bind_ok) port = m_port;
    return n;
}

int UdpSocket::Bind(unsigned long a, unsigned short& port, int range) {
    Ipv4Address address(a, port);
    int n = Bind(address, range);
    if (m_bind_ok) port = m_port;
    return n;
}

bool UdpSocket::IsBound() const { return m_bind_ok; }

unsigned short UdpSocket::GetPort() { return m_port; }

// --- Connecting ---

bool UdpSocket::Open(SocketAddress& address) {
    if (GetSocket() == -1) Attach(CreateSocket(address.GetFamily(), SOCK_DGRAM, "udp"));
    if (GetSocket() == -1) return false;
    SetNonblocking(true);
    if (connect(GetSocket(), address, address) == -1) {
        int err = errno;
        Handler().LogError(this, "connect", err, strerror(err), loglevel_fatal);
        SetCloseAndDelete();
        return false;
    }
    SetConnected(true);
    return true;
}

bool UdpSocket::Open(const std::string& host, unsigned short port) {
    Ipv4Address address(host, port);
    if (!address.IsValid()) return false;
    return Open(address);
}

bool UdpSocket::Open(unsigned long a, unsigned short port) {
    Ipv4Address address(a, port);
    return Open(address);
}

// --- Sending ---

void UdpSocket::SendToBuf(SocketAddress& address, const char* data, int len, int flags) {
    if (len < 0 || (data == nullptr && len > 0)) {
        m_last_size_written = -1;
        Handler().LogError(this, "sendto", EINVAL, "invalid buffer length", loglevel_error);
        return;
    }
    const sockaddr* sa = address;
    if (sa->sa_family != AF_INET || static_cast<socklen_t>(address) < kIpv4Len) {
        m_last_size_written = -1;
        Handler().LogError(this, "sendto", EAFNOSUPPORT, strerror(EAFNOSUPPORT), loglevel_error);
        return;
    }
    Datagram one{};
    memcpy(&one.to, sa, kIpv4Len);
    one.data = data;
    one.length = static_cast<size_t>(len);
    int error = 0;
    SendBatch(&one, 1, error, flags);  // throws when no descriptor can be had
    // A single send has no one to keep the datagram: a full buffer is
    // reported like any other refusal.
    if (BufferFull(error)) Handler().LogError(this, "sendto", error, strerror(error), loglevel_error);
}

bool UdpSocket::BufferFull(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS; }

unsigned UdpSocket::SendBatch(const Datagram* datagrams, unsigned count, int& error, int flags) {
    error = 0;
    if (count == 0) return 0;
    CreateConnection();
    if (m_send_headers.size() < count) {
        m_send_headers.resize(count);
        m_send_vectors.resize(count);
    }
    for (unsigned i = 0; i < count; ++i) {
        m_send_vectors[i].iov_base = const_cast<char*>(datagrams[i].data);
        m_send_vectors[i].iov_len = datagrams[i].length;
        msghdr& h = m_send_headers[i].msg_hdr;
        h = msghdr{};
        h.msg_name = const_cast<sockaddr_in*>(&datagrams[i].to);
        h.msg_namelen = kIpv4Len;
        h.msg_iov = &m_send_vectors[i];
        h.msg_iovlen = 1;
        m_send_headers[i].msg_len = 0;
    }
    unsigned sent = 0;
    m_last_size_written = -1;
    while (sent < count) {
        // MSG_DONTWAIT keeps every send non-blocking without a fcntl() per
        // call, whatever mode others put the descriptor in.
        const int n = sendmmsg(GetSocket(), m_send_headers.data() + sent, count - sent, flags | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<unsigned>(n);
            m_last_size_written = static_cast<int>(m_send_headers[sent - 1].msg_len);
            continue;
        }
        if (n == -1 && errno == EINTR) continue;
        error = n == -1 ? errno : EIO;
        if (!BufferFull(error)) Handler().LogError(this, "sendto", error, strerror(error), loglevel_error);
        break;
    }
    return sent;
}

void UdpSocket::SendToBuf(const std::string& host, unsigned short port, const char* data, int len, int flags) {
    Ipv4Address address(host, port);
    if (!address.IsValid()) return;
    SendToBuf(address, data, len, flags);
}

void UdpSocket::SendToBuf(unsigned long a, unsigned short port, const char* data, int len, int flags) {
    Ipv4Address address(a, port);
    SendToBuf(address, data, len, flags);
}

void UdpSocket::SendTo(SocketAddress& address, const std::string& data, int flags) {
    SendToBuf(address, data.data(), static_cast<int>(data.size()), flags);
}

void UdpSocket::SendTo(const std::string& host, unsigned short port, const std::string& data, int flags) {
    SendToBuf(host, port, data.data(), static_cast<int>(data.size()), flags);
}

void UdpSocket::SendTo(unsigned long a, unsigned short port, const std::string& data, int flags) {
    SendToBuf(a, port, data.data(), static_cast<int>(data.size()), flags);
}

void UdpSocket::SendBuf(const char* data, size_t len, int flags) {
    if (!IsConnected()) {
        Handler().LogError(this, "SendBuf", 0, "not connected", loglevel_error);
        return;
    }
    // Like SendToBuf: a send never blocks, whatever the descriptor's mode.
    m_last_size_written = static_cast<int>(send(GetSocket(), data, len, flags | MSG_DONTWAIT));
    if (m_last_size_written == -1) {
        int err = errno;
        Handler().LogError(this, "send", err, strerror(err), loglevel_error);
    }
}

void UdpSocket::Send(const std::string& data, int flags) { SendBuf(data.data(), data.size(), flags); }

int UdpSocket::GetLastSizeWritten() const { return m_last_size_written; }

// --- Receiving ---

void UdpSocket::SetTimestamp(bool x) { m_b_read_ts = x; }

void UdpSocket::LogDatagramTooLong(long len) {
    Handler().LogError(this, "recvfrom", static_cast<int>(len), "datagram larger than input buffer, dropped",
                       loglevel_warning);
}

int UdpSocket::ReadTS(char* buf, int len, sockaddr* from, socklen_t fromlen, timeval* ts) {
    memset(from, 0, fromlen);
    memset(buf, 0, static_cast<size_t>(len));
    iovec vec;
    vec.iov_base = buf;
    vec.iov_len = static_cast<size_t>(len);
    alignas(cmsghdr) char control[32];
    msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_name = from;
    msg.msg_namelen = fromlen;
    msg.msg_iov = &vec;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // MSG_TRUNC: the result is the datagram's real length, so a caller can
    // tell a datagram that didn't fit.
    int n = static_cast<int>(recvmsg(GetSocket(), &msg, MSG_DONTWAIT | MSG_TRUNC));
    if (n == -1) return n;
    if ((msg.msg_flags & MSG_TRUNC) && n <= len) n = len + 1;
    if (msg.msg_controllen >= sizeof(cmsghdr) && !(msg.msg_flags & MSG_CTRUNC)) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP &&
                c->cmsg_len >= CMSG_LEN(sizeof(timeval)))
                memcpy(ts, CMSG_DATA(c), sizeof(timeval));
        }
    }
    return n;
}

void UdpSocket::OnRead() {
    sockaddr_in sa;
    if (m_b_read_ts) {
        timeval ts;
        Utility::GetTime(&ts);
        int n = ReadTS(m_ibuf.get(), m_ibufsz, reinterpret_cast<sockaddr*>(&sa), kIpv4Len, &ts);
        if (n > m_ibufsz) {
            LogDatagramTooLong(n);
        } else if (n > 0) {
            OnRawData(m_ibuf.get(), static_cast<size_t>(n), reinterpret_cast<sockaddr*>(&sa), kIpv4Len, &ts);
        } else if (n == -1) {
            LogReceiveError(errno);
        }
        return;
    }
    // Every datagram queued now, or retries + 1 of them: a negative count
    // never reaches its limit.
    const long long limit = m_retries < 0 ? -1 : static_cast<long long>(m_retries) + 1;
    long long delivered = 0;
    for (;;) {
        const long long left = limit < 0 ? kReadBatch : limit - delivered;
        const int want = static_cast<int>(left < kReadBatch ? left : kReadBatch);
        if (!m_batch || m_batch->size < want) m_batch.reset(new ReadBatch(want, m_ibufsz));
        ReadBatch& batch = *m_batch;
        batch.Arm(want);
        // MSG_TRUNC makes each length the datagram's real length; MSG_DONTWAIT
        // keeps the call from blocking on a descriptor made blocking by others.
        const int got = recvmmsg(GetSocket(), batch.headers.get(), static_cast<unsigned>(want),
                                 MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (got == -1) {
            LogReceiveError(errno);
            return;
        }
        for (int i = 0; i < got; ++i) {
            const mmsghdr& h = batch.headers[i];
            const size_t n = h.msg_len;
            if (n == 0) continue;  // an empty datagram carries nothing
            if ((h.msg_hdr.msg_flags & MSG_TRUNC) || n > static_cast<size_t>(m_ibufsz)) {
                LogDatagramTooLong(static_cast<long>(n));
                continue;
            }
            const socklen_t sa_len = h.msg_hdr.msg_namelen;
            if (sa_len != kIpv4Len)
                Handler().LogError(this, "recvfrom", 0, "unexpected address struct size", loglevel_warning);
            OnRawData(static_cast<const char*>(batch.vectors[i].iov_base), n,
                      reinterpret_cast<sockaddr*>(&batch.addresses[i]), sa_len);
            if (GetSocket() == -1) return;  // closed by OnRawData
        }
        delivered += got;
        if (got < want || delivered == limit) return;  // drained, or this call's share read
    }
}

void UdpSocket::LogReceiveError(int err) {
    if (err != EAGAIN && err != EWOULDBLOCK) Handler().LogError(this, "recvfrom", err, strerror(err), loglevel_error);
}

void UdpSocket::OnRawData(const char*, size_t, sockaddr*, socklen_t) {}

void UdpSocket::OnRawData(const char*, size_t, sockaddr*, socklen_t, timeval*) {}

// --- Broadcast and multicast ---

void UdpSocket::SetBroadcast(bool b) {
    CreateConnection();
    SetIntOpt(SOL_SOCKET, SO_BROADCAST, b ? 1 : 0, "SetBroadcast", loglevel_warning);
}

bool UdpSocket::IsBroadcast() {
    CreateConnection();
    return GetIntOpt(SOL_SOCKET, SO_BROADCAST, "IsBroadcast", loglevel_warning) != 0;
}

void UdpSocket::SetMulticastTTL(int ttl) {
    CreateConnection();
    SetIntOpt(IPPROTO_IP, IP_MULTICAST_TTL, ttl, "SetMulticastTTL", loglevel_warning);
}

int UdpSocket::GetMulticastTTL() {
    CreateConnection();
    return GetIntOpt(IPPROTO_IP, IP_MULTICAST_TTL, "GetMulticastTTL", loglevel_warning);
}

void UdpSocket::SetMulticastLoop(bool x) {
    CreateConnection();
    SetIntOpt(IPPROTO_IP, IP_MULTICAST_LOOP, x ? 1 : 0, "SetMulticastLoop(ipv4)", loglevel_warning);
}

bool UdpSocket::IsMulticastLoop() {
    CreateConnection();
    return GetIntOpt(IPPROTO_IP, IP_MULTICAST_LOOP, "IsMulticastLoop(ipv4)", loglevel_warning) != 0;
}

void UdpSocket::Membership(int option, const char* label, const std::string& group, const std::string& intf) {
    CreateConnection();
    ip_mreq x;
    memset(&x, 0, sizeof x);
    unsigned long addr = 0;
    if (!Utility::u2ip(group, addr)) return;
    x.imr_multiaddr.s_addr = static_cast<in_addr_t>(addr);
    Utility::u2ip(intf, addr);  // 0 (the kernel's choice) when it doesn't resolve
    x.imr_interface.s_addr = static_cast<in_addr_t>(addr);
    SetOpt(IPPROTO_IP, option, &x, sizeof x, label, loglevel_warning);
}

void UdpSocket::AddMulticastMembership(const std::string& group, const std::string& intf, int) {
    Membership(IP_ADD_MEMBERSHIP, "AddMulticastMembership(ipv4)", group, intf);
}

void UdpSocket::DropMulticastMembership(const std::string& group, const std::string& intf, int) {
    Membership(IP_DROP_MEMBERSHIP, "DropMulticastMembership(ipv4)", group, intf);
}

void UdpSocket::SetMulticastDefaultInterface(unsigned long a, int) {
    in_addr_t x = static_cast<in_addr_t>(a);
    SetOpt(IPPROTO_IP, IP_MULTICAST_IF, &x, sizeof x, "SetMulticastDefaultInterface(ipv4)", loglevel_warning);
}

void UdpSocket::SetMulticastDefaultInterface(const std::string& intf, int if_index) {
    unsigned long a = 0;
    if (Utility::u2ip(intf, a)) SetMulticastDefaultInterface(a, if_index);
}
