#pragma once
// One thread of a handler's pool: runs an event loop of its own, made by
// the pooled (parent) handler's Create with a mutex that the loop holds
// except while it waits in select(). Another thread touches that loop only
// while holding its GetMutex().

#include <mutex>

#include "net/Mutex.h"
#include "net/Semaphore.h"
#include "net/Thread.h"

class ISocketHandler;

class SocketHandlerThread : public Thread {
public:
    explicit SocketHandlerThread(ISocketHandler& parent);
    // Stops the loop (waking it) and joins; the loop's sockets are closed,
    // and those it owns freed, before this returns.
    ~SocketHandlerThread() override;

    // The thread's own handler; null until Run has made it.
    ISocketHandler* Handler();
    // Waits until the own handler exists (or the thread has ended).
    void Wait();

protected:
    void Run() override;
    void Wake() override;

private:
    ISocketHandler& m_parent;
    std::mutex m_lock;  // guards m_handler against its deletion at the end of Run
    ISocketHandler* m_handler = nullptr;
    Semaphore m_ready;
};
