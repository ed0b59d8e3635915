#pragma once
// Root of every socket: one descriptor registered with one handler. A socket
// never frees itself: it raises flags (close-and-delete, call-on-connect,
// retry, detach, time-out) and its handler acts on them at the end of a loop
// turn. Every failure goes to the handler's LogError; only descriptor
// creation throws Exception. Every descriptor made here is non-blocking once
// its owner has opened or bound it.

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "net/ISocketHandler.h"
#include "net/SocketAddress.h"

class SocketThread;

class Socket {
public:
    explicit Socket(ISocketHandler& handler);
    // Unregisters from the handler, closes a descriptor still held, frees
    // the addresses. Never delete a socket from inside a loop callback while
    // it is registered: ask with SetCloseAndDelete(true) instead.
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // --- Event and behaviour slots, in this order ---
    virtual Socket* Create();  // accepted-connection factory; null here
    virtual void Init();
    virtual int Close();  // leaves the handler's sets, closes, descriptor -1
    virtual bool Ready();  // has a descriptor and no close request
    virtual unsigned short GetPort();
    virtual void SendBuf(const char* buf, size_t len, int flags = 0);
    virtual void Send(const std::string& text, int flags = 0);
    virtual uint64_t GetBytesSent(bool clear = false);
    virtual uint64_t GetBytesReceived(bool clear = false);
    virtual void OnRead();
    virtual void OnWrite();
    virtual void OnException();  // logs SO_ERROR and asks for close
    virtual void OnDelete();     // the handler dropped the socket; last event
    virtual void OnConnect();
    virtual void OnAccept();
    virtual void OnLine(const std::string& line);
    virtual void OnConnectFailed();
    virtual void OnOptions(int family, int type, int protocol, int s) = 0;
    virtual bool OnConnectRetry();  // true: go on retrying
    virtual void OnReconnect();
    virtual void OnDisconnect();
    virtual void OnDisconnect(short info, int code);
    virtual void OnTimeout();
    virtual void OnConnectTimeout();
    virtual void OnResolved(int id, unsigned long address, unsigned short port);
    virtual void OnReverseResolved(int id, const std::string& name);
    virtual void OnResolveFailed(int id);
    virtual void OnDetached();

    // --- Descriptor ---
    void Attach(int s);
    int GetSocket() const;
    // A new descriptor with the options of OnOptions set; not attached.
    // Logs, asks for close and throws Exception when it cannot be made;
    // errno still holds the cause where the exception is caught.
    int CreateSocket(int family, int type, const std::string& protocol);
    bool SetNonblocking(bool on);
    bool SetNonblocking(bool on, int s);

    // --- Identity and state flags ---
    unsigned long UniqueIdentifier() const;  // 1, 2, 3 ... per process, never reused
    void SetDeleteByHandler(bool x = true);  // the handler frees the socket once dropped
    bool DeleteByHandler() const;
    void SetCloseAndDelete(bool x = true);   // asks the loop to close and drop it
    bool CloseAndDelete() const;
    void DisableRead(bool x = true);
    bool IsDisableRead() const;
    void SetConnected(bool x = true);
    bool IsConnected() const;
    void SetLost();
    bool Lost() const;
    void SetErasedByHandler(bool x = true);
    bool ErasedByHandler() const;
    void SetCallOnConnect(bool x = true);
    bool CallOnConnect() const;
    void SetRetryClientConnect(bool x = true);
    bool RetryClientConnect() const;
    void SetDetach(bool x = true);
    bool IsDetach() const;
    void SetDetached(bool x = true);
    bool IsDetached() const;
    void SetParent(Socket* parent);
    Socket* GetParent() const;
    void SetSlaveHandler(ISocketHandler* handler);

    ISocketHandler& MasterHandler() const;
    ISocketHandler& Handler() const;  // the slave handler once detached

    // --- Time (seconds of Utility::Now()) ---
    time_t Uptime() const;
    time_t TimeSinceClose() const;
    // One time-out per socket; 0 switches it off.
    void SetTimeout(long seconds);
    bool CheckTimeout() const;
    bool Timeout(time_t now) const;  // more than the limit since it was armed

    // --- Addresses ---
    void SetRemoteAddress(SocketAddress& address);
    std::unique_ptr<SocketAddress> GetRemoteSocketAddress();
    unsigned long GetRemoteIP4();
    unsigned short GetRemotePort();
    std::string GetRemoteAddress();
    std::string GetRemoteHostname();
    void SetClientRemoteAddress(SocketAddress& address);
    std::unique_ptr<SocketAddress> GetClientRemoteAddress();  // logs and returns null when unset
    unsigned short GetSockPort();
    unsigned long GetSockIP4();
    std::string GetSockAddress();

    // Copy of every byte a TCP socket sends and receives (fwrite per transfer).
    void SetTrafficMonitor(FILE* monitor);
    FILE* GetTrafficMonitor() const;

    // --- Detaching into a thread of its own ---
    // Asks the handler to move the socket into a thread and loop of its
    // own; false (nothing changes) for a socket its handler doesn't free,
    // or one detached or asked for already.
    bool Detach();
    // Marks the socket detached and builds its thread, not yet started:
    // the detaching handler owns and starts it (DetachThread).
    void DetachSocket();
    SocketThread* DetachThread() const;

    // --- Asynchronous resolving; the answer arrives through OnResolved...
    int Resolve(const std::string& host, unsigned short port);
    int Resolve(unsigned long address);

    // --- Socket options: setters return true on success, getters the value
    // read (0 or false after a failure). Failures are logged at
    // loglevel_fatal with a label such as "setsockopt(IPPROTO_IP, IP_TTL)".
    bool SetIpOptions(const void* p, unsigned int len);
    bool SetIpPktinfo(bool x);
    bool SetIpRecvTOS(bool x);
    bool SetIpRecvTTL(bool x);
    bool SetIpRecvopts(bool x);
    bool SetIpRetopts(bool x);
    bool SetIpTOS(unsigned char tos);
    unsigned char IpTOS();
    bool SetIpTTL(int ttl);
    int IpTTL();
    bool SetIpHdrincl(bool x);
    bool SetIpRecverr(bool x);
    bool SetIpMtudiscover(bool x);
    int IpMtu();
    bool SetIpRouterAlert(bool x);
    bool SetIpMulticastTTL(int ttl);
    int IpMulticastTTL();
    bool SetMulticastLoop(bool x);
    bool IpAddMembership(ip_mreqn& ref);
    bool IpAddMembership(ip_mreq& ref);
    bool IpDropMembership(ip_mreqn& ref);
    bool IpDropMembership(ip_mreq& ref);

    bool SetSoReuseaddr(bool x);
    bool SetSoKeepalive(bool x);
    bool SoAcceptconn();
    bool SetSoBsdcompat(bool x);
    bool SetSoBindtodevice(const std::string& intf);
    bool SetSoBroadcast(bool x);
    bool SetSoDebug(bool x);
    int SoError();  // the pending error, cleared by reading it
    bool SetSoDontroute(bool x);
    bool SetSoLinger(int onoff, int linger);
    bool SetSoOobinline(bool x);
    bool SetSoPasscred(bool x);
    bool SoPeercred(ucred& ucr);
    bool SetSoPriority(int x);
    bool SetSoRcvlowat(int x);
    bool SetSoSndlowat(int x);
    bool SetSoRcvtimeo(timeval& tv);
    bool SetSoSndtimeo(timeval& tv);
    bool SetSoRcvbuf(int x);
    int SoRcvbuf();
    bool SetSoRcvbufforce(int x);
    bool SetSoSndbuf(int x);
    int SoSndbuf();
    bool SetSoSndbufforce(int x);
    bool SetSoTimestamp(bool x);
    int SoType();

protected:
    // One setsockopt or getsockopt; a failure is logged under `label` at
    // `level` and gives false, or 0 for a read.
    bool SetOpt(int level, int name, const void* value, socklen_t len, const char* label,
                loglevel_t logLevel = loglevel_fatal);
    bool SetIntOpt(int level, int name, int value, const char* label, loglevel_t logLevel = loglevel_fatal);
    int GetIntOpt(int level, int name, const char* label, loglevel_t logLevel = loglevel_fatal);

private:

    ISocketHandler& m_handler;
    int m_socket = -1;
    bool m_bDel = false;
    bool m_bClose = false;
    time_t m_tCreate;
    Socket* m_parent = nullptr;
    bool m_b_disable_read = false;
    bool m_connected = false;
    bool m_b_erased_by_handler = false;
    time_t m_tClose = 0;
    std::unique_ptr<SocketAddress> m_client_remote_address;
    std::unique_ptr<SocketAddress> m_remote_address;
    FILE* m_traffic_monitor = nullptr;
    time_t m_timeout_start = 0;
    long m_timeout_limit = 0;
    bool m_bLost = false;
    unsigned long m_uid;
    bool m_call_on_connect = false;
    bool m_b_retry_connect = false;
    bool m_detach = false;
    bool m_detached = false;
    SocketThread* m_pThread = nullptr;
    ISocketHandler* m_slave_handler = nullptr;

    static std::atomic<unsigned long> m_next_uid;
};
