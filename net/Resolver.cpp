// Asynchronous resolver of the handler: NOT DONE YET. Until its server
// exists the resolver is never enabled, so TcpSocket::Open resolves names
// synchronously; a direct Resolve request is refused with -1 and logged.

#include "net/Socket.h"
#include "net/SocketHandler.h"

void SocketHandler::EnableResolver(unsigned short port) {
    LogError(nullptr, "EnableResolver", port, "resolver not available yet", loglevel_warning);
}

bool SocketHandler::ResolverEnabled() { return m_resolver != nullptr; }

int SocketHandler::Resolve(Socket* p, const std::string&, unsigned short) {
    LogError(p, "Resolve", -1, "resolver not available yet", loglevel_fatal);
    return -1;
}

int SocketHandler::Resolve(Socket* p, unsigned long) {
    LogError(p, "Resolve", -1, "resolver not available yet", loglevel_fatal);
    return -1;
}

unsigned short SocketHandler::GetResolverPort() { return m_resolver_port; }

bool SocketHandler::ResolverReady() { return false; }

bool SocketHandler::Resolving(Socket* p) { return m_resolve_q.count(p->UniqueIdentifier()) != 0; }
