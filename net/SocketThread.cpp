#include "net/SocketThread.h"

#include "net/Socket.h"

SocketThread::SocketThread(Socket* p) : Thread(false), m_h(nullptr), m_socket(p) {
    m_h.SetSlave(true);
    // Set before the thread exists: from here on only this thread uses it.
    m_socket->SetSlaveHandler(&m_h);
    // Queued now, so that the loop frees it even if the thread never runs.
    m_h.Add(m_socket);
}

SocketThread::~SocketThread() { Stop(); }

void SocketThread::Run() {
    m_socket->OnDetached();
    const size_t before = m_h.GetCount();
    try {
        m_h.EnableRelease();
    } catch (...) {
        // Without its wake-up socket the loop still ends: its turns are short.
    }
    // The wake-up socket aside, the loop runs while its socket lives.
    const size_t own = m_h.GetCount() - before;
    while (m_h.GetCount() > own && IsRunning()) m_h.Select(0, 500000);
}

void SocketThread::Wake() { m_h.Release(); }
