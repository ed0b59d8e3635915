#pragma once
// Datagram socket, IPv4. Binds to the first free port of a range, sends to a
// host text, an address number or a SocketAddress (sending by address never
// resolves a name), can be connected to one peer, and delivers each received
// datagram to OnRawData. Every datagram to an address leaves by one road,
// SendBatch; the SendTo forms are a batch of one. Send failures are logged
// only: nothing is thrown (but descriptor creation), queued or retried by
// the socket, and no call blocks; a caller that must not lose a datagram
// the kernel refused for a full send buffer keeps it, waits for room (poll
// the descriptor for POLLOUT) and sends it again.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <memory>
#include <string>
#include <vector>

#include "net/Socket.h"

class UdpSocket : public Socket {
public:
    // `ibufsz`: input buffer and largest datagram delivered; `ipv6` is not
    // used; `retries`: further datagrams one OnRead may read after the
    // first (negative: until none is left).
    UdpSocket(ISocketHandler& handler, int ibufsz = 16384, bool ipv6 = false, int retries = 0);
    ~UdpSocket() override;

    // Makes the descriptor (non-blocking) when there is none.
    void CreateConnection();

    // Binding: 0 bound, -1 not bound. Tries port, port + 1, ... port + range,
    // never past 65535; port 0 lets the kernel choose, once. On success the
    // real port is read back. Throws Exception when every port is refused.
    int Bind(SocketAddress& address, int range);
    // -1 with close-and-delete set, and no bind, when `host` doesn't resolve;
    // on success the bound port is written back to `port`.
    int Bind(const std::string& host, unsigned short& port, int range);
    int Bind(unsigned short& port, int range);  // any-address
    int Bind(unsigned long address, unsigned short& port, int range);
    bool IsBound() const;
    unsigned short GetPort() override;  // bound port, 0 until bound

    // Connecting to one peer, for SendBuf / Send.
    bool Open(SocketAddress& address);
    bool Open(const std::string& host, unsigned short port);
    bool Open(unsigned long address, unsigned short port);

    // One datagram each. The host-text forms resolve on every call and send
    // nothing, silently, when the host doesn't resolve.
    void SendToBuf(SocketAddress& address, const char* data, int len, int flags = 0);
    void SendToBuf(const std::string& host, unsigned short port, const char* data, int len, int flags = 0);
    void SendToBuf(unsigned long address, unsigned short port, const char* data, int len, int flags = 0);
    void SendTo(SocketAddress& address, const std::string& data, int flags = 0);
    void SendTo(const std::string& host, unsigned short port, const std::string& data, int flags = 0);
    void SendTo(unsigned long address, unsigned short port, const std::string& data, int flags = 0);

    // One datagram of a batch: its bytes, and the IPv4 address it goes to.
    struct Datagram {
        sockaddr_in to;
        const char* data;
        size_t length;
    };
    // Sends datagrams[0, count) in order, as many per system call
    // (sendmmsg) as the kernel takes, never blocking. Returns how many
    // left, always a prefix: it stops at the first datagram refused and
    // puts its errno in `error` (0 when all left). EAGAIN (or EWOULDBLOCK,
    // ENOBUFS) means the send buffer is full: that datagram and the rest
    // may be sent again once the socket has room. Any other error is
    // that datagram's own (EMSGSIZE, EACCES, ...): a caller skips it and
    // sends the rest. Makes the descriptor when there is none (throws
    // Exception when none can be had, having sent nothing). Each refusal
    // but a full buffer is logged; GetLastSizeWritten() is the length of
    // the last datagram that left, or -1 when none did.
    unsigned SendBatch(const Datagram* datagrams, unsigned count, int& error, int flags = 0);
    // True for the errno values of a send buffer that is only full for now.
    static bool BufferFull(int error);

    void SendBuf(const char* data, size_t len, int flags = 0) override;  // connected sockets only
    void Send(const std::string& data, int flags = 0) override;
    int GetLastSizeWritten() const;  // result of the latest send / sendto

    // Reads up to retries + 1 datagrams, up to kReadBatch of them per
    // system call (recvmmsg), each into an input buffer of its own, and
    // delivers them one at a time in arrival order. A datagram longer than
    // the input buffer is logged and dropped, never delivered cut; an empty
    // one is consumed and not delivered.
    void OnRead() override;
    static constexpr int kReadBatch = 32;
    void OnOptions(int family, int type, int protocol, int s) override;  // none for datagrams

    // Time-stamped receive path; the kernel adds stamps after SetSoTimestamp(true).
    void SetTimestamp(bool x = true);
    // One datagram through recvmsg; returns its result (the datagram's real
    // length, which exceeds `len` when it didn't fit).
    int ReadTS(char* buf, int len, sockaddr* from, socklen_t fromlen, timeval* ts);

    // Broadcast and multicast; each makes the descriptor first when there is
    // none. Failures are logged at loglevel_warning; getters then give 0.
    void SetBroadcast(bool b = true);
    bool IsBroadcast();
    void SetMulticastTTL(int ttl = 1);
    int GetMulticastTTL();
    void SetMulticastLoop(bool x = true);
    bool IsMulticastLoop();
    // Nothing happens when `group` doesn't resolve; an interface text that
    // doesn't resolve means the kernel's choice. `if_index` is not used.
    void AddMulticastMembership(const std::string& group, const std::string& intf = "0.0.0.0", int if_index = 0);
    void DropMulticastMembership(const std::string& group, const std::string& intf = "0.0.0.0", int if_index = 0);
    void SetMulticastDefaultInterface(unsigned long address, int if_index = 0);  // current descriptor only
    void SetMulticastDefaultInterface(const std::string& intf, int if_index = 0);

    // Received datagram: the input buffer itself, valid during the call and
    // not NUL-terminated, and the sender's address.
    virtual void OnRawData(const char* buf, size_t len, sockaddr* sa, socklen_t sa_len);
    virtual void OnRawData(const char* buf, size_t len, sockaddr* sa, socklen_t sa_len, timeval* ts);

private:
    void Membership(int option, const char* label, const std::string& group, const std::string& intf);
    void LogDatagramTooLong(long len);
    void LogReceiveError(int err);

    struct ReadBatch;
    std::vector<mmsghdr> m_send_headers;  // SendBatch's, kept between calls
    std::vector<iovec> m_send_vectors;

    std::unique_ptr<char[]> m_ibuf;
    std::unique_ptr<ReadBatch> m_batch;  // made by the first read that may take several
    int m_ibufsz;
    bool m_bind_ok = false;
    unsigned short m_port = 0;
    int m_last_size_written = -1;
    int m_retries;
    bool m_b_read_ts = false;
};
