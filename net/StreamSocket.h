#pragma once
// Connection-oriented base of TcpSocket: connect state and time-out, retry
// counts, flush-before-close, line mode and the shutdown directions applied.

#include "net/Socket.h"

class StreamSocket : public Socket {
public:
    explicit StreamSocket(ISocketHandler& handler);
    ~StreamSocket() override;

    // Has a descriptor, is not connecting and has no close request.
    bool Ready() override;

    virtual void SetLineProtocol(bool x = true);
    virtual int Protocol() = 0;  // IPPROTO_TCP for TcpSocket
    bool LineProtocol() const;

    // Becoming true arms the socket's time-out with the connect time-out;
    // becoming false clears it.
    void SetConnecting(bool x = true);
    bool Connecting() const;
    void SetConnectTimeout(int seconds);  // 5 by default
    int GetConnectTimeout() const;

    // A connected socket asked to close first sends what is queued (at most
    // 4 seconds); on by default.
    void SetFlushBeforeClose(bool x = true);
    bool GetFlushBeforeClose() const;

    // 0: never retry a failed connect, -1: without limit, n: at most n times.
    void SetConnectionRetry(int n);
    int GetConnectionRetry() const;
    void IncreaseConnectionRetries();
    int GetConnectionRetries() const;
    void ResetConnectionRetries();

    void SetShutdown(int how);  // the shutdown directions already applied (SHUT_WR: 1)
    int GetShutdown() const;

private:
    bool m_bConnecting = false;
    int m_connect_timeout = 5;
    bool m_flush_before_close = true;
    int m_connection_retry = 0;
    int m_retries = 0;
    bool m_line_protocol = false;
    int m_shutdown = 0;
};
