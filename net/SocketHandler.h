#pragma once
// The select() event loop. One Select call is one turn: admit the sockets
// queued by Add, wait in select() and deliver OnRead / OnWrite / OnException
// in ascending descriptor order, then run the checks that sockets asked for
// (connect, detach, time-out, retry, close), erase the sockets dropped during
// the turn and free those it owns, last. A socket stays valid for the whole
// turn in which it asked to be closed.
//
// Messages go to the registered StdLog only. The one text the loop prints
// itself is "error on select(): %d %s\n" on standard output.
//
// Ownership: sockets with SetDeleteByHandler(true) belong to the handler once
// added (also while still queued); other sockets belong to the application
// and must not outlive the handler.
//
// Threads: a handler is driven by one thread. One built with a mutex holds
// it except while it waits in select(); another thread calls into such a
// handler only while holding GetMutex(). Release() alone may be called from
// any thread. The handler owns the threads it starts (its pool, its
// resolver server, the threads of the sockets it detached). When it is
// destroyed it stops and joins the pool and the resolver server; the
// threads of detached sockets are woken and left to end on their own (one
// may be blocked in a look-up), and touch nothing of this handler.

#include <sys/select.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/ISocketHandler.h"

class ResolvServer;
class ResolvSocket;
class SocketAddress;
class SocketHandlerThread;
class SocketThread;
class TcpSocket;
class UdpSocket;

class SocketHandler : public ISocketHandler {
public:
    explicit SocketHandler(StdLog* log = nullptr);
    // With a mutex that the handler holds for its whole life except while it
    // waits in select().
    SocketHandler(IMutex& mutex, StdLog* log);
    SocketHandler(IMutex& mutex, ISocketHandler& parent, StdLog* log);
    // Stops the threads it owns (joining all but those of detached
    // sockets), closes the mapped sockets and frees those the handler owns.
    ~SocketHandler() override;
    SocketHandler(const SocketHandler&) = delete;
    SocketHandler& operator=(const SocketHandler&) = delete;

    ISocketHandler* Create(StdLog* log) override;
    ISocketHandler* Create(IMutex& mutex, ISocketHandler& parent, StdLog* log) override;
    bool ParentHandlerIsValid() override;
    ISocketHandler& ParentHandler() override;  // throws Exception without a parent
    ISocketHandler& GetRandomHandler() override;
    ISocketHandler& GetEffectiveHandler() override;
    // Builds the pool once, with 2 to 255 threads; returns when each pool
    // handler exists.
    void SetNumberOfThreads(size_t n) override;
    bool IsThreaded() override;
    // A loopback datagram socket whose datagram (Release) ends a wait in
    // select() early. Release may be called from any thread.
    void EnableRelease() override;
    void Release() override;

    IMutex& GetMutex() const override;  // throws Exception on a handler without mutex
    void RegStdLog(StdLog* log) override;
    void LogError(Socket* p, const std::string& label, int code, const std::string& text,
                  loglevel_t level) override;

    void Add(Socket* p) override;
    void Remove(Socket* p) override;

    int ISocketHandler_Select(timeval* tv) override;
    // The three below act only on a socket registered under its current
    // descriptor, so a stale socket never changes the bits of the socket
    // that now holds its descriptor number.
    void ISocketHandler_Add(Socket* p, bool read, bool write) override;
    void ISocketHandler_Mod(Socket* p, bool read, bool write) override;
    void ISocketHandler_Del(Socket* p) override;

    int Select(long sec, long usec) override;
    int Select() override;
    int Select(timeval* tv) override;

    bool Valid(Socket* p) override;
    bool Valid(unsigned long uid) override;
    size_t GetCount() override;
    size_t MaxCount() override;
    bool OkToAccept(Socket* p) override;
    const socket_m& AllSockets() override;
    size_t MaxTcpLineSize() override;

    void SetCallOnConnect(bool x) override;
    void SetDetach(bool x) override;
    void SetTimeout(bool x) override;
    void SetRetry(bool x) override;
    void SetClose(bool x) override;

    // Starts the resolver server on 127.0.0.1:port (0: the system's
    // choice), once. It listens, and is ready, when this returns; a port it
    // cannot bind is logged here ("bind", errno, level 3) and the resolver
    // stays enabled but never ready.
    void EnableResolver(unsigned short port) override;
    bool ResolverEnabled() override;
    // The request's id. The answer comes as OnResolved, OnReverseResolved or
    // OnResolveFailed of `p` in a later turn; while the resolver is not
    // ready every request fails, and none is sent, and so does a host that
    // is no host text (Utility::isHostText), caching nothing. At most
    // ResolvServer::kBacklog are in flight; later ones wait their turn.
    int Resolve(Socket* p, const std::string& host, unsigned short port) override;
    int Resolve(Socket* p, unsigned long address) override;
    // The port the server listens on; 0 while it is not ready.
    unsigned short GetResolverPort() override;
    bool ResolverReady() override;
    bool Resolving(Socket* p) override;

    void SetSlave(bool x) override;
    bool IsSlave() override;

    // From another thread, without waiting for this loop's turn to end:
    // `p` (built for this handler) joins the add queue at the start of the
    // next turn, where `accepted` has its OnAccept called first. The caller
    // then wakes the loop with Release().
    void HandOver(Socket* p, bool accepted);
    // Sockets held and queued, as of the last turn and the additions since;
    // readable from any thread (the pool's least-loaded choice).
    size_t Load() const;

    // For the resolver's client sockets: the requesting socket of `uid`
    // still waits for an answer (it is alive and a look-up not ended);
    // and one of its look-ups has ended: a socket added meanwhile that its
    // answer opened joins the loop, one whose look-up failed stays aside,
    // left to its owner (Add it again, or close or delete it).
    bool ResolvePending(unsigned long uid) const;
    // The socket of `uid` asked for a look-up and is still alive.
    bool Resolving(unsigned long uid) const;
    void ResolveEnded(unsigned long uid);
    // A request that was sent has ended (its socket is being freed): a
    // waiting one may start.
    void RequestEnded();

protected:
    // The steps of one turn, in their order.
    void AddIncoming();
    void CheckCallOnConnect();
    void CheckDetach();
    void CheckTimeout(time_t now);
    void CheckRetry();
    void CheckClose();
    void CheckErasedSockets();
    // Moves the sockets handed over by other threads into the add queue.
    void TakeHandOver();
    // Joins and frees the threads of detached sockets that have ended.
    void ReapSocketThreads();
    void RebuildFdset();
    // Drops `p` from the loop: OnDelete now, erased at the end of the turn.
    void DeleteSocket(Socket* p);
    // The wait of Select(): false means without time-out.
    bool SelectTimeout(long& usec) const;

    bool CheckingCallOnConnect() const { return m_b_check_callonconnect; }
    bool CheckingDetach() const { return m_b_check_detach; }
    bool CheckingTimeout() const { return m_b_check_timeout; }
    bool CheckingRetry() const { return m_b_check_retry; }
    bool CheckingClose() const { return m_b_check_close; }

private:
    struct Erase {
        unsigned long uid;
        Socket* owned;  // set when the handler frees the socket
        bool dropped;   // by DeleteSocket: OnDelete has been called
    };
    struct Entry {
        int fd;
        unsigned long uid;
    };

    // The sockets mapped now, to walk while callbacks change the map.
    std::list<Entry> Snapshot() const;
    // The mapped socket of a snapshot entry, or null when it has gone.
    Socket* Find(const Entry& e) const;
    bool IsMapped(const Socket* p) const;
    // Dropped in this turn: no check touches it again (OnDelete is its last event).
    bool Dropped(unsigned long uid) const;
    bool SetsAllowed(Socket* p);
    // A socket whose descriptor number another mapped socket now holds lets
    // go of it, so that freeing it closes nothing.
    void ForgetSharedDescriptor(Socket* p);
    // Open of the retry and reconnect checks; a failure to make the
    // descriptor is logged under `label`. False when no new connect started:
    // the socket is then dropped where it is mapped, not queued again.
    bool Reopen(TcpSocket* tcp, SocketAddress& address, const char* label);
    // AddIncoming: the front socket goes to the delete queue.
    void RefuseFront(Socket* s);
    // AddIncoming: `s` is still at the front of the queue after a callback.
    bool StillFront(const Socket* s, unsigned long uid) const;
    void Free(Socket* p);
    // The handler frees `p` when it drops it: its own, not a detached one's
    // (a slave's wake-up socket is its own too).
    bool Owns(const Socket* p) const;
    void PurgeQueues(Socket* p);
    // Resolver requests: numbered and sent, or held while kBacklog are in
    // flight, or refused at once while the server is not ready.
    int Request(ResolvSocket* r, Socket* p);
    void StartRequest(ResolvSocket* r);
    void StartWaitingRequests();
    // Sockets aside whose look-up failed and that their owner closed go.
    void DropLeftAside();
    void ClearBits(int fd);

    socket_m m_sockets;
    std::list<Socket*> m_add;
    std::mutex m_handover_lock;
    std::vector<std::pair<Socket*, bool>> m_handover;  // guarded by m_handover_lock
    std::atomic<size_t> m_handover_size{0};           // so that a turn locks only when needed
    std::atomic<size_t> m_load{0};
    std::list<Socket*> m_delete;
    StdLog* m_stdlog;
    IMutex* m_mutex = nullptr;
    bool m_b_use_mutex = false;
    ISocketHandler* m_parent = nullptr;
    bool m_b_parent_is_valid = false;
    std::list<std::unique_ptr<SocketHandlerThread>> m_threads;
    UdpSocket* m_release = nullptr;
    // What Release() needs, readable from any thread.
    std::atomic<int> m_release_fd{-1};
    std::atomic<unsigned short> m_release_port{0};
    int m_maxsock = 0;
    fd_set m_rfds;
    fd_set m_wfds;
    fd_set m_efds;
    time_t m_tlast = 0;
    std::list<Erase> m_fds_erase;
    bool m_b_check_callonconnect = false;
    bool m_b_check_detach = false;
    bool m_b_check_timeout = false;
    bool m_b_check_retry = false;
    bool m_b_check_close = false;
    bool m_detach_joined = false;  // this turn's AddIncoming mapped a socket that asked to detach
    int m_resolv_id = 0;
    std::unique_ptr<ResolvServer> m_resolver;
    std::map<unsigned long, int> m_resolve_q;  // look-ups of the socket not ended yet
    // Sockets added while their look-up is pending; they rejoin m_add when
    // it answers, and stay here, left to their owner, when it fails.
    std::list<Socket*> m_resolving;
    size_t m_resolv_active = 0;              // requests sent and not yet freed
    std::list<ResolvSocket*> m_resolv_waiting;  // requests not sent yet, in order
    std::list<std::unique_ptr<SocketThread>> m_socket_threads;
    bool m_slave = false;
};
