// The handler's thread pool: event loops in threads of their own, each with
// a handler made by this one's Create, for a listening socket to spread its
// connections over.

#include <cstring>

#include "net/Exception.h"
#include "net/Lock.h"
#include "net/SocketHandler.h"
#include "net/SocketHandlerThread.h"

void SocketHandler::SetNumberOfThreads(size_t n) {
    if (!m_threads.empty() || n < 2 || n > 255) return;
    for (size_t i = 0; i < n; ++i) {
        std::unique_ptr<SocketHandlerThread> t(new SocketHandlerThread(*this));
        if (!t->Start()) {
            LogError(nullptr, "pthread_create", t->CreateError(), strerror(t->CreateError()), loglevel_fatal);
            continue;
        }
        t->SetRelease(true);
        t->Wait();
        m_threads.push_back(std::move(t));
    }
}

bool SocketHandler::IsThreaded() { return !m_threads.empty(); }

ISocketHandler& SocketHandler::GetRandomHandler() {
    if (m_threads.empty()) throw Exception("SocketHandler is not multithreaded");
    ISocketHandler* best = nullptr;
    size_t least = 99999;
    for (auto& t : m_threads) {
        ISocketHandler* h = t->Handler();
        if (h == nullptr) continue;
        size_t count;
        if (SocketHandler* sh = dynamic_cast<SocketHandler*>(h)) {
            // No wait for a busy loop's turn to end just to read its size.
            count = sh->Load();
        } else {
            Lock lock(h->GetMutex());  // one pool handler's mutex at a time
            count = h->GetCount();
        }
        if (count < least) {
            best = h;
            least = count;
        }
    }
    if (best == nullptr) throw Exception("Can't locate free threaded sockethandler");
    return *best;
}
