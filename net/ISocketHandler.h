#pragma once
// The event-loop interface that every socket holds. SocketHandler is its
// only implementation; the slot order below is part of the contract.

#include <sys/time.h>

#include <cstddef>
#include <map>
#include <string>

#include "net/StdLog.h"

class IMutex;
class Socket;

// Sockets of one handler keyed by descriptor, ascending.
typedef std::map<int, Socket*> socket_m;

class ISocketHandler {
public:
    virtual ~ISocketHandler() = default;

    // Pools, parents and the wake-up datagram.
    virtual ISocketHandler* Create(StdLog* log) = 0;  // caller owns the result
    virtual ISocketHandler* Create(IMutex& mutex, ISocketHandler& parent, StdLog* log) = 0;
    virtual bool ParentHandlerIsValid() = 0;
    virtual ISocketHandler& ParentHandler() = 0;
    virtual ISocketHandler& GetRandomHandler() = 0;
    virtual ISocketHandler& GetEffectiveHandler() = 0;
    virtual void SetNumberOfThreads(size_t n) = 0;
    virtual bool IsThreaded() = 0;
    virtual void EnableRelease() = 0;
    virtual void Release() = 0;

    virtual IMutex& GetMutex() const = 0;
    virtual void RegStdLog(StdLog* log) = 0;
    // To the registered sink; dropped when there is none. `p` may be null.
    virtual void LogError(Socket* p, const std::string& label, int code, const std::string& text,
                          loglevel_t level) = 0;

    // Queues `p`; it joins the loop at the start of the next turn.
    virtual void Add(Socket* p) = 0;
    // Called by a socket's destructor.
    virtual void Remove(Socket* p) = 0;

    virtual int ISocketHandler_Select(timeval* tv) = 0;
    // Interest of a registered socket: read and write bits as given, the
    // exception bit always.
    virtual void ISocketHandler_Add(Socket* p, bool read, bool write) = 0;
    virtual void ISocketHandler_Mod(Socket* p, bool read, bool write) = 0;
    virtual void ISocketHandler_Del(Socket* p) = 0;

    // One loop turn; the result of select(): ready count, 0 on time-out, -1.
    virtual int Select(long sec, long usec) = 0;
    virtual int Select() = 0;            // time-out chosen from pending checks
    virtual int Select(timeval* tv) = 0;  // null waits without time-out

    virtual bool Valid(Socket* p) = 0;
    virtual bool Valid(unsigned long uid) = 0;
    virtual size_t GetCount() = 0;  // mapped plus both queues
    virtual size_t MaxCount() = 0;  // 1024
    virtual bool OkToAccept(Socket* p) = 0;
    virtual const socket_m& AllSockets() = 0;
    virtual size_t MaxTcpLineSize() = 0;  // 8192

    // Check flags that sockets raise through their own setters.
    virtual void SetCallOnConnect(bool x) = 0;
    virtual void SetDetach(bool x) = 0;
    virtual void SetTimeout(bool x) = 0;
    virtual void SetRetry(bool x) = 0;
    virtual void SetClose(bool x) = 0;

    // Asynchronous resolver.
    virtual void EnableResolver(unsigned short port) = 0;
    virtual bool ResolverEnabled() = 0;
    virtual int Resolve(Socket* p, const std::string& host, unsigned short port) = 0;
    virtual int Resolve(Socket* p, unsigned long address) = 0;
    virtual unsigned short GetResolverPort() = 0;
    virtual bool ResolverReady() = 0;
    virtual bool Resolving(Socket* p) = 0;

    virtual void SetSlave(bool x) = 0;
    virtual bool IsSlave() = 0;
};
