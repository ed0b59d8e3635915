// Detaching a socket into a thread and event loop of its own.

#include <cstring>

#include "net/Socket.h"
#include "net/SocketHandler.h"
#include "net/SocketThread.h"

bool Socket::Detach() {
    if (!DeleteByHandler() || m_pThread != nullptr || m_detached) return false;
    SetDetach(true);
    return true;
}

void Socket::DetachSocket() {
    // The thread is built, not started: the handler that detaches the socket
    // adopts it first and then starts it.
    SetDetached(true);
    m_pThread = new SocketThread(this);
}

SocketThread* Socket::DetachThread() const { return m_pThread; }

void SocketHandler::CheckDetach() {
    m_b_check_detach = false;
    // Every socket that asked goes in this turn: one a turn would hold each
    // further one back for a whole wait in select().
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr || !p->IsDetach() || Dropped(e.uid) || p->IsDetached()) continue;
        ISocketHandler_Del(p);
        m_sockets.erase(e.fd);
        p->SetDetach(false);
        p->DetachSocket();
        // From Start on the socket is its thread's: not touched here again.
        SocketThread* t = p->DetachThread();
        m_socket_threads.emplace_back(t);
        if (t->Start()) {
            t->SetRelease(true);
        } else {
            // Reaped next turn; its loop frees the socket unserved.
            LogError(nullptr, "pthread_create", t->CreateError(), strerror(t->CreateError()), loglevel_fatal);
        }
    }
    // Those still queued are looked at again once they have joined.
    for (Socket* p : m_add) {
        if (p->IsDetach()) {
            m_b_check_detach = true;
            break;
        }
    }
}

void SocketHandler::ReapSocketThreads() {
    for (auto it = m_socket_threads.begin(); it != m_socket_threads.end();) {
        if ((*it)->Ended())
            it = m_socket_threads.erase(it);  // joins at once: Run has returned
        else
            ++it;
    }
}
