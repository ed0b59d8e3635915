#include "net/SocketHandlerThread.h"

#include <memory>

#include "net/ISocketHandler.h"

SocketHandlerThread::SocketHandlerThread(ISocketHandler& parent) : Thread(false), m_parent(parent) {}

SocketHandlerThread::~SocketHandlerThread() {
    Stop();
    // A thread that never ran leaves a waiter in Wait() nothing to hang on.
    m_ready.Post();
}

ISocketHandler* SocketHandlerThread::Handler() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handler;
}

void SocketHandlerThread::Wait() { m_ready.Wait(); }

void SocketHandlerThread::Run() {
    Mutex mutex;
    std::unique_ptr<ISocketHandler> handler;
    try {
        handler.reset(m_parent.Create(mutex, m_parent, nullptr));
        handler->EnableRelease();
    } catch (...) {
        // No loop without its wake-up socket: Stop could not end it in time.
        m_ready.Post();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_handler = handler.get();
    }
    m_ready.Post();
    while (IsRunning()) handler->Select(1, 0);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_handler = nullptr;
    }
    handler.reset();  // closes its sockets and unlocks the mutex
}

void SocketHandlerThread::Wake() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_handler != nullptr) m_handler->Release();
}
