// Thread pool of the handler: NOT DONE YET. Until the threads and their
// handlers exist, a handler never becomes threaded: SetNumberOfThreads is
// refused (logged) and GetRandomHandler throws as it does for any handler
// without a pool.

#include "net/Exception.h"
#include "net/SocketHandler.h"

void SocketHandler::SetNumberOfThreads(size_t n) {
    LogError(nullptr, "SetNumberOfThreads", static_cast<int>(n), "thread pool not available yet", loglevel_warning);
}

bool SocketHandler::IsThreaded() { return !m_threads.empty(); }

ISocketHandler& SocketHandler::GetRandomHandler() {
    if (m_threads.empty()) throw Exception("SocketHandler is not multithreaded");
    throw Exception("Can't locate free threaded sockethandler");
}
