#include "net/StreamSocket.h"

StreamSocket::StreamSocket(ISocketHandler& handler) : Socket(handler) {}

StreamSocket::~StreamSocket() = default;

bool StreamSocket::Ready() { return GetSocket() != -1 && !Connecting() && !CloseAndDelete(); }

void StreamSocket::SetLineProtocol(bool x) { m_line_protocol = x; }
bool StreamSocket::LineProtocol() const { return m_line_protocol; }

void StreamSocket::SetConnecting(bool x) {
    if (x == m_bConnecting) return;
    m_bConnecting = x;
    SetTimeout(x ? GetConnectTimeout() : 0);
}

bool StreamSocket::Connecting() const { return m_bConnecting; }
void StreamSocket::SetConnectTimeout(int seconds) { m_connect_timeout = seconds; }
int StreamSocket::GetConnectTimeout() const { return m_connect_timeout; }
void StreamSocket::SetFlushBeforeClose(bool x) { m_flush_before_close = x; }
bool StreamSocket::GetFlushBeforeClose() const { return m_flush_before_close; }
void StreamSocket::SetConnectionRetry(int n) { m_connection_retry = n; }
int StreamSocket::GetConnectionRetry() const { return m_connection_retry; }
void StreamSocket::IncreaseConnectionRetries() { ++m_retries; }
int StreamSocket::GetConnectionRetries() const { return m_retries; }
void StreamSocket::ResetConnectionRetries() { m_retries = 0; }
void StreamSocket::SetShutdown(int how) { m_shutdown = how; }
int StreamSocket::GetShutdown() const { return m_shutdown; }
