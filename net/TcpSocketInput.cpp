// TcpSocket input: the receive, the end of a connection, and the line
// splitter that cuts the stream at CR, LF, CR LF or LF CR.

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/TcpSocket.h"

namespace {
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

void TcpSocket::OnRead() {
    // A connection already lost (a failed send) reports its loss only once.
    if (m_loss_reported) return;
    ssize_t n = recv(GetSocket(), m_buf.get(), TCP_BUFSIZE_READ, MSG_NOSIGNAL);
    if (n == -1) {
        int err = errno;
        // Nothing there after all, or a signal: wait for the next read event.
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) return;
        Handler().LogError(this, "read", err, strerror(err), loglevel_fatal);
        LoseConnection(2, err);
        return;
    }
    if (n == 0) {
        // The peer closed; a partial line is never delivered.
        LoseConnection(0, 0);
        SetShutdown(SHUT_WR);
        return;
    }
    size_t len = static_cast<size_t>(n);
    m_bytes_received += len;
    if (GetTrafficMonitor() != nullptr) fwrite(m_buf.get(), 1, len, GetTrafficMonitor());
    if (!m_b_input_buffer_disabled && !ibuf.Write(m_buf.get(), len))
        Handler().LogError(this, "OnRead", 0, "ibuf overflow", loglevel_warning);
    OnRead(m_buf.get(), len);
}

void TcpSocket::ResetLine() {
    m_line_ptr = 0;
    m_skip_c = false;
    m_line_overflow = false;
}

bool TcpSocket::AppendToLine(const char* p, size_t n) {
    if (m_line_overflow) return false;  // more of a line being dropped
    if (m_line_ptr + n < m_line.size()) {
        if (n > 0) memcpy(m_line.data() + m_line_ptr, p, n);
        m_line_ptr += n;
        return true;
    }
    // Never delivered, not even cut (a cut sentence could pass as another):
    // the line is dropped up to its own end, and the lines after it go on.
    Handler().LogError(this, "TcpSocket::OnRead", static_cast<int>(m_line_ptr + n),
                       "maximum tcp_line_size exceeded, line dropped", loglevel_warning);
    m_line_ptr = 0;
    m_line_overflow = true;
    return false;
}

void TcpSocket::OnRead(char* buf, size_t n) {
    if (n < 1 || n > TCP_BUFSIZE_READ) return;
    if (!LineProtocol()) {
        OnRawData(buf, n);
        return;
    }
    buf[n] = '\0';
    size_t i = 0;
    if (m_skip_c) {
        // The last read ended in a line end; its partner may open this one.
        m_skip_c = false;
        if (isLineEnd(buf[0]) && buf[0] != m_c) {
            if (n == 1) return;
            i = 1;
        }
    }
    size_t start = i;  // of the current segment
    while (i < n && LineProtocol()) {
        const char c = buf[i];
        if (!isLineEnd(c)) {
            ++i;
            continue;
        }
        if (AppendToLine(buf + start, strnlen(buf + start, i - start)))
            OnLine(std::string(m_line.data(), m_line_ptr));
        m_line_ptr = 0;
        m_line_overflow = false;
        m_c = c;
        if (i + 1 < n && isLineEnd(buf[i + 1]) && buf[i + 1] != c)
            ++i;  // CR LF or LF CR: one line end
        else if (i + 1 == n)
            m_skip_c = true;
        start = ++i;
    }
    if (!LineProtocol()) {
        // OnLine left line mode: the rest of the read is raw data.
        if (start < n) OnRawData(buf + start, n - start);
        return;
    }
    AppendToLine(buf + start, strnlen(buf + start, n - start));
}

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
