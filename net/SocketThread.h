#pragma once
// The thread and event loop of one detached socket. The socket's
// OnDetached runs first, in this thread (blocking work is allowed there);
// then the loop serves the socket until the socket is gone or the thread is
// stopped. The loop's handler is a slave: it frees the socket once the
// socket is closed, and the socket's Handler() answers with it from the
// start. The master handler that detached the socket owns this object.

#include "net/SocketHandler.h"
#include "net/Thread.h"

class Socket;

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
    SocketHandler m_h;
    Socket* m_socket;  // freed by m_h
};
