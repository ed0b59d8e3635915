#pragma once
// The thread and event loop of one detached socket. The socket's
// OnDetached runs first, in this thread (blocking work is allowed there);
// then the loop serves the socket until the socket is gone or the thread is
// stopped. The loop's handler is a slave: it frees the socket once the
// socket is closed, and the socket's Handler() answers with it from the
// start. The thread frees that loop, and with it every descriptor it held,
// before it ends. The master handler that detached the socket owns this
// object until it goes; then it abandons it (Thread::Abandon), and a thread
// still busy finishes on its own with the loop and socket it owns.

#include <memory>
#include <mutex>

#include "net/Thread.h"

class Socket;
class SocketHandler;

class SocketThread : public Thread {
public:
    explicit SocketThread(Socket* p);
    // Stops and joins the thread; a socket still served is closed and freed
    // with the loop.
    ~SocketThread() override;

protected:
    void Run() override;
    void Wake() override;

private:
    std::mutex m_lock;  // guards m_h against its end in Run
    std::unique_ptr<SocketHandler> m_h;
    Socket* m_socket;  // freed by m_h
};
