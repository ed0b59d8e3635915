#pragma once
// TCP stream socket used as a client: non-blocking connect with time-out and
// retry rule, reconnect, an output queue drained on writability, and input
// delivered as lines (line mode: CR, LF, CR LF or LF CR end a line of at most
// MaxTcpLineSize() - 1 bytes) or as raw blocks kept in an input ring.
//
// A line that would reach MaxTcpLineSize() is never delivered, not even in
// part: it is logged once ("TcpSocket::OnRead", warning) and dropped up to
// its own line end, and the lines after it, in the same read or later ones,
// are delivered; the connection goes on. A receive that would block or was
// interrupted is not a lost connection. The output queue has no bound of its own: a sender that may
// outpace its peer watches GetOutputLength() or sets a transfer limit.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "net/StreamSocket.h"

class TcpSocket : public StreamSocket {
public:
    // Input ring of a fixed capacity whose storage is doubled, so that the
    // bytes held are always contiguous from GetStart().
    class CircularBuffer {
    public:
        explicit CircularBuffer(size_t capacity);
        ~CircularBuffer();
        CircularBuffer(const CircularBuffer&) = delete;
        CircularBuffer& operator=(const CircularBuffer&) = delete;

        bool Write(const char* p, size_t n);  // false, storing nothing, when it doesn't fit
        bool Read(char* dest, size_t n);      // false when fewer are held; null dest discards
        bool Remove(size_t n);
        std::string ReadString(size_t n);  // empty, taking nothing, when fewer are held
        size_t GetLength() const;
        const char* GetStart() const;
        size_t GetL() const;
        size_t Space() const;
        size_t ByteCounter(bool clear = false);

    private:
        std::unique_ptr<char[]> m_storage;
        size_t m_max;
        size_t m_q = 0;      // bytes held
        size_t m_b = 0;      // read offset
        size_t m_t = 0;      // write offset
        size_t m_count = 0;  // bytes written
    };

    // One block of the output queue; blocks are filled completely before a
    // new one is made and are freed once emptied.
    struct OUTPUT {
        static constexpr size_t SIZE = 1024000;
        OUTPUT() = default;
        OUTPUT(const char* buf, size_t n) { Add(buf, n); }
        size_t Space() const { return SIZE - _t; }
        void Add(const char* buf, size_t n);
        size_t Remove(size_t n) {
            _b += n;
            _q -= n;
            return _q;
        }
        const char* Buf() const { return _buf + _b; }
        size_t Len() const { return _q; }

        size_t _b = 0;  // read offset
        size_t _t = 0;  // write offset
        size_t _q = 0;  // remaining length
        char _buf[SIZE];
    };

    explicit TcpSocket(ISocketHandler& handler);
    // Input ring of `isize` bytes; `osize` is not used.
    TcpSocket(ISocketHandler& handler, size_t isize, size_t osize);
    ~TcpSocket() override;

    // --- Connecting: the outcome arrives as OnConnect or OnConnectFailed.
    // False (and close-and-delete set, no descriptor kept) when the host
    // doesn't resolve, the handler is full or connect() fails at once without
    // reconnect; then OnConnectFailed never comes. Throws Exception when no
    // descriptor can be made. A new connection starts with no partial line.
    // With the handler's resolver a name returns true at once; a socket
    // added meanwhile waits aside. When the name fails, OnConnectFailed comes
    // and the socket is left outside the loop, to its owner: Open and Add it
    // again, SetCloseAndDelete() it (the handler then drops it, freeing it
    // when it owns it) or delete it.
    bool Open(const std::string& host, unsigned short port);
    bool Open(unsigned long ip, unsigned short port, bool skip_socks = false);
    bool Open(SocketAddress& address, bool skip_socks = false);
    bool Open(SocketAddress& address, SocketAddress& bind_address, bool skip_socks = false);

    // --- Overridden slots, in slot order
    // Shuts the write side of a live connection first.
    int Close() override;
    // Sent at once while nothing waits, else queued behind what waits; output
    // made while connecting goes out before OnConnect. Dropped (and logged)
    // on a socket without connection or marked for closing.
    void SendBuf(const char* buf, size_t len, int flags = 0) override;
    void Send(const std::string& text, int flags = 0) override;
    uint64_t GetBytesSent(bool clear = false) override;
    uint64_t GetBytesReceived(bool clear = false) override;
    void OnRead() override;
    void OnWrite() override;
    void OnLine(const std::string& line) override;
    void OnOptions(int family, int type, int protocol, int s) override;  // SO_REUSEADDR, SO_KEEPALIVE
    void OnConnectTimeout() override;
    void OnResolved(int id, unsigned long address, unsigned short port) override;
    void OnResolveFailed(int id) override;
    void SetLineProtocol(bool x = true) override;
    int Protocol() override;

    // --- New slots
    virtual void OnRawData(const char* buf, size_t len);  // a received block, line mode off
    virtual void OnWriteComplete();  // the output queue ran empty
    virtual void OnTransferLimit();  // the queue fell below the transfer limit

    // --- Output
    void Sendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    size_t GetOutputLength() const;
    void SetTransferLimit(size_t bytes);  // 0: none

    // --- Reconnect
    void SetReconnect(bool x = true);
    bool Reconnect() const;
    void SetIsReconnect(bool x = true);
    bool IsReconnect() const;

    bool SetTcpNodelay(bool x = true);

    // --- Input
    // One received block to the splitter or OnRawData; `buf` must have room
    // for one more byte (the splitter terminates it).
    void OnRead(char* buf, size_t n);
    void DisableInputBuffer(bool x = true);
    size_t GetInputLength() const;
    size_t ReadInput(char* buf, size_t max);
    std::string GetLine() const;  // the current line received so far

protected:
    // Bytes the kernel took; 0 when it would block or the send failed (the
    // socket is then lost and closing).
    int TryWrite(const char* buf, size_t len);
    void Buffer(const char* buf, size_t len);
    void SendFromOutputBuffer();

private:
    // The connection is gone: tells OnDisconnect() and OnDisconnect(info,
    // code) once, and closes without flushing.
    void LoseConnection(short info, int code);
    void ResetLine();
    // Appends to the current line; false when the line would reach
    // MaxTcpLineSize() (logged once, the line dropped up to its end).
    bool AppendToLine(const char* p, size_t n);

    static constexpr size_t TCP_BUFSIZE_READ = 16400;

    CircularBuffer ibuf;
    bool m_b_input_buffer_disabled = false;
    uint64_t m_bytes_sent = 0;
    uint64_t m_bytes_received = 0;
    bool m_skip_c = false;  // a line end ended the last read
    char m_c = 0;           // that line-end byte
    std::vector<char> m_line;
    size_t m_line_ptr = 0;
    bool m_line_overflow = false;  // the current line passed the limit: dropped up to its end
    std::unique_ptr<char[]> m_buf;  // TCP_BUFSIZE_READ + 1
    std::list<std::unique_ptr<OUTPUT>> m_obuf;
    OUTPUT* m_obuf_top = nullptr;  // newest block of the queue
    size_t m_transfer_limit = 0;
    size_t m_output_length = 0;
    int m_resolver_id = 0;  // pending asynchronous look-up
    bool m_b_reconnect = false;
    bool m_b_is_reconnect = false;
    // The error of a connect that failed at once: the kernel may not keep it
    // for SO_ERROR, and the socket would then look connected.
    int m_connect_error = 0;
    bool m_loss_reported = false;  // OnDisconnect has told of this connection's loss
};
