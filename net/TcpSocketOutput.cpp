// TcpSocket output: direct sends while nothing is queued, otherwise a queue
// of large blocks drained in order whenever the descriptor is writable.

#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "net/TcpSocket.h"

void TcpSocket::OUTPUT::Add(const char* buf, size_t n) {
    memcpy(_buf + _t, buf, n);
    _t += n;
    _q += n;
}

void TcpSocket::SendBuf(const char* buf, size_t len, int) {
    if (!Ready() && !Connecting()) {
        Handler().LogError(this, "SendBuf", -1, "Attempt to write to a non-ready socket", loglevel_warning);
        if (GetSocket() == -1)
            Handler().LogError(this, "SendBuf", 0, " * GetSocket() == INVALID_SOCKET", loglevel_info);
        if (CloseAndDelete()) Handler().LogError(this, "SendBuf", 0, " * CloseAndDelete()", loglevel_info);
        return;
    }
    if (!IsConnected()) {
        Handler().LogError(this, "SendBuf", -1, "Attempt to write to a non-connected socket, will be sent on connect",
                           loglevel_warning);
        Buffer(buf, len);
        return;
    }
    if (!m_obuf.empty()) {
        Buffer(buf, len);  // behind what waits, so that output keeps its order
        return;
    }
    size_t n = static_cast<size_t>(TryWrite(buf, len));
    if (n < len) Buffer(buf + n, len - n);
    Handler().ISocketHandler_Mod(this, !IsDisableRead(), !m_obuf.empty());
}

void TcpSocket::Send(const std::string& text, int flags) { SendBuf(text.data(), text.size(), flags); }

void TcpSocket::Sendf(const char* format, ...) {
    char slask[5000];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(slask, sizeof slask, format, ap);
    va_end(ap);
    if (n < 0) return;  // an encoding error leaves nothing worth sending
    size_t len = static_cast<size_t>(n) < sizeof slask ? static_cast<size_t>(n) : sizeof slask - 1;
    Send(std::string(slask, len), 0);
}

int TcpSocket::TryWrite(const char* buf, size_t len) {
    // A connection already lost takes nothing more (nor reports its loss twice).
    if (m_loss_reported) return 0;
    if (len > static_cast<size_t>(INT_MAX)) len = INT_MAX;
    ssize_t n = send(GetSocket(), buf, len, MSG_NOSIGNAL);
    if (n > 0) {
        m_bytes_sent += static_cast<uint64_t>(n);
        if (GetTrafficMonitor() != nullptr) fwrite(buf, 1, static_cast<size_t>(n), GetTrafficMonitor());
        return static_cast<int>(n);
    }
    if (n == -1) {
        int err = errno;
        // Full kernel buffer or a signal: the rest waits for writability.
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) return 0;
        Handler().LogError(this, "send", err, strerror(err), loglevel_fatal);
        LoseConnection(3, err);
    }
    return 0;
}

void TcpSocket::Buffer(const char* buf, size_t len) {
    m_output_length += len;
    while (len > 0) {
        if (m_obuf_top == nullptr || m_obuf_top->Space() == 0) {
            // Default-initialised on purpose: the data bytes need no zeroing.
            m_obuf.emplace_back(new OUTPUT);
            m_obuf_top = m_obuf.back().get();
        }
        size_t n = len < m_obuf_top->Space() ? len : m_obuf_top->Space();
        m_obuf_top->Add(buf, n);
        buf += n;
        len -= n;
    }
}

void TcpSocket::SendFromOutputBuffer() {
    const size_t before = m_output_length;
    for (;;) {
        if (m_obuf.empty()) {
            Handler().LogError(this, "OnWrite", static_cast<int>(m_output_length), "Empty output buffer in OnWrite",
                               loglevel_error);
            break;
        }
        OUTPUT* p = m_obuf.front().get();
        int n = TryWrite(p->Buf(), p->Len());
        if (n <= 0) break;
        size_t left = p->Remove(static_cast<size_t>(n));
        m_output_length -= static_cast<size_t>(n);
        if (left > 0) break;
        m_obuf.pop_front();
        if (m_obuf.empty()) {
            m_obuf_top = nullptr;
            OnWriteComplete();
            break;
        }
    }
    if (m_transfer_limit != 0 && before > m_transfer_limit && m_output_length < m_transfer_limit) OnTransferLimit();
    Handler().ISocketHandler_Mod(this, !IsDisableRead(), !m_obuf.empty());
}

size_t TcpSocket::GetOutputLength() const { return m_output_length; }
void TcpSocket::SetTransferLimit(size_t bytes) { m_transfer_limit = bytes; }
void TcpSocket::OnWriteComplete() {}
void TcpSocket::OnTransferLimit() {}
