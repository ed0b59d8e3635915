#include "net/SocketThread.h"

#include "net/Socket.h"
#include "net/SocketHandler.h"

SocketThread::SocketThread(Socket* p) : Thread(false), m_h(new SocketHandler(nullptr)), m_socket(p) {
    m_h->SetSlave(true);
    // Set before the thread exists: from here on only this thread uses it.
    m_socket->SetSlaveHandler(m_h.get());
    // Queued now, so that the loop frees it even if the thread never runs.
    m_h->Add(m_socket);
}

SocketThread::~SocketThread() { Stop(); }

void SocketThread::Run() {
    SocketHandler& h = *m_h;
    m_socket->OnDetached();
    const size_t before = h.GetCount();
    try {
        h.EnableRelease();
    } catch (...) {
        // Without its wake-up socket the loop still ends: its turns are short.
    }
    // The wake-up socket aside, the loop runs while its socket lives.
    const size_t own = h.GetCount() - before;
    while (h.GetCount() > own && IsRunning()) h.Select(0, 500000);
    // The descriptors go back now, not when the owner gets round to this
    // object (or never, when it was abandoned).
    std::lock_guard<std::mutex> guard(m_lock);
    m_h.reset();
}

void SocketThread::Wake() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_h) m_h->Release();
}
