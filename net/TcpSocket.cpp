// TcpSocket: construction, plain state and settings are complete.
//
// NOT DONE YET: connecting (Open), sending (SendBuf, Sendf, the output
// queue), receiving (OnRead, the line splitter, the input ring) and the
// graceful part of Close. Until then every connect attempt fails through the
// normal failure path (logged, close-and-delete set, false returned, no
// descriptor made), every send is logged and dropped, and nothing is ever
// received.

#include "net/TcpSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <cstring>

#include "net/Ipv4Address.h"
#include "net/Utility.h"

namespace {
const char kNotDone[] = "TcpSocket not done yet";
}

// --- Input ring: storage only so far ---

TcpSocket::CircularBuffer::CircularBuffer(size_t capacity)
    : m_storage(new char[2 * capacity + 1]), m_max(capacity) {}

TcpSocket::CircularBuffer::~CircularBuffer() = default;

bool TcpSocket::CircularBuffer::Write(const char*, size_t) { return false; }  // not done yet
bool TcpSocket::CircularBuffer::Read(char*, size_t) { return false; }         // not done yet
bool TcpSocket::CircularBuffer::Remove(size_t n) { return Read(nullptr, n); }
std::string TcpSocket::CircularBuffer::ReadString(size_t) { return std::string(); }  // not done yet
size_t TcpSocket::CircularBuffer::GetLength() const { return m_q; }
const char* TcpSocket::CircularBuffer::GetStart() const { return m_storage.get() + m_b; }
size_t TcpSocket::CircularBuffer::GetL() const { return m_b + m_q > m_max ? m_max - m_b : m_q; }
size_t TcpSocket::CircularBuffer::Space() const { return m_max - m_q; }

size_t TcpSocket::CircularBuffer::ByteCounter(bool clear) {
    size_t n = m_count;
    if (clear) m_count = 0;
    return n;
}

void TcpSocket::OUTPUT::Add(const char* buf, size_t n) {
    memcpy(_buf + _t, buf, n);
    _t += n;
    _q += n;
}

// --- Construction ---

TcpSocket::TcpSocket(ISocketHandler& handler) : TcpSocket(handler, TCP_BUFSIZE_READ, 32768) {}

TcpSocket::TcpSocket(ISocketHandler& handler, size_t isize, size_t)
    : StreamSocket(handler),
      ibuf(isize),
      m_line(handler.MaxTcpLineSize(), '\0'),
      m_buf(new char[TCP_BUFSIZE_READ + 1]) {}

TcpSocket::~TcpSocket() = default;

// --- Connecting: not done yet ---

bool TcpSocket::Open(const std::string& host, unsigned short port) {
    Ipv4Address address(host, port);
    if (!address.IsValid()) {
        SetCloseAndDelete();
        return false;
    }
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

bool TcpSocket::Open(SocketAddress&, SocketAddress&, bool) {
    Handler().LogError(this, "Open", 0, kNotDone, loglevel_fatal);
    SetCloseAndDelete();
    return false;
}

void TcpSocket::OnConnectTimeout() {}  // not done yet

void TcpSocket::OnResolved(int id, unsigned long, unsigned short) {
    Handler().LogError(this, "OnResolved", id, kNotDone, loglevel_fatal);
    SetCloseAndDelete();
}

// --- Output: not done yet ---

int TcpSocket::Close() {
    if (GetSocket() == -1) {
        Handler().LogError(this, "Socket::Close", 0, "file descriptor invalid", loglevel_warning);
        return 0;
    }
    // Shutdown of the write side and the last read are not done yet.
    return Socket::Close();
}

void TcpSocket::SendBuf(const char*, size_t len, int) {
    Handler().LogError(this, "SendBuf", static_cast<int>(len), kNotDone, loglevel_warning);
}

void TcpSocket::Send(const std::string& text, int flags) { SendBuf(text.data(), text.size(), flags); }

void TcpSocket::Sendf(const char*, ...) { Handler().LogError(this, "Sendf", 0, kNotDone, loglevel_warning); }

void TcpSocket::OnWrite() {}  // not done yet

int TcpSocket::TryWrite(const char*, size_t) { return 0; }  // not done yet
void TcpSocket::Buffer(const char*, size_t) {}               // not done yet
void TcpSocket::SendFromOutputBuffer() {}                    // not done yet

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

size_t TcpSocket::GetOutputLength() const { return m_output_length; }
void TcpSocket::SetTransferLimit(size_t bytes) { m_transfer_limit = bytes; }
void TcpSocket::OnWriteComplete() {}
void TcpSocket::OnTransferLimit() {}

// --- Input: not done yet ---

void TcpSocket::OnRead() {}                  // not done yet
void TcpSocket::OnRead(char*, size_t) {}     // not done yet
void TcpSocket::OnLine(const std::string&) {}
void TcpSocket::OnRawData(const char*, size_t) {}

void TcpSocket::SetLineProtocol(bool x) {
    StreamSocket::SetLineProtocol(x);
    DisableInputBuffer(x);
}

void TcpSocket::DisableInputBuffer(bool x) { m_b_input_buffer_disabled = x; }
size_t TcpSocket::GetInputLength() const { return ibuf.GetLength(); }

size_t TcpSocket::ReadInput(char* buf, size_t max) {
    size_t n = max < GetInputLength() ? max : GetInputLength();
    return ibuf.Read(buf, n) ? n : 0;
}

std::string TcpSocket::GetLine() const { return std::string(m_line.data(), m_line_ptr); }

// --- Settings ---

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
