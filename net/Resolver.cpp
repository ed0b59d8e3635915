// The handler's side of the asynchronous resolver: the server thread it
// owns, and one loopback connection (a ResolvSocket) per request.

#include <algorithm>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/ResolvServer.h"
#include "net/ResolvSocket.h"
#include "net/Socket.h"
#include "net/SocketHandler.h"

void SocketHandler::EnableResolver(unsigned short port) {
    if (m_resolver) return;
    m_resolver_port = port;
    m_resolver.reset(new ResolvServer(port));
    m_resolver->Start();
}

bool SocketHandler::ResolverEnabled() { return m_resolver != nullptr; }

namespace {
// Connects a request to the server; a failure leaves it closing, and its
// OnDelete reports the failure to the requesting socket.
void Connect(SocketHandler& h, ResolvSocket* r, unsigned short port) {
    bool ok = false;
    try {
        Ipv4Address server(htonl(INADDR_LOOPBACK), port);
        ok = port != 0 && r->Open(server);
    } catch (const Exception&) {
        ok = false;
    }
    if (!ok) {
        h.LogError(r, "Resolve", -1, "Can't connect to local resolve server", loglevel_fatal);
        r->SetCloseAndDelete();
    }
}

// Sends one request socket on its way to the resolver; its id answers.
int StartRequest(SocketHandler& h, ResolvSocket* r, int id, unsigned short port) {
    r->SetId(id);
    r->SetDeleteByHandler();
    Connect(h, r, port);
    h.Add(r);
    return id;
}
}  // namespace

int SocketHandler::Resolve(Socket* p, const std::string& host, unsigned short port) {
    const int id = StartRequest(*this, new ResolvSocket(*this, p, host, port), ++m_resolv_id, GetResolverPort());
    if (p != nullptr) m_resolve_q[p->UniqueIdentifier()] = true;
    return id;
}

int SocketHandler::Resolve(Socket* p, unsigned long address) {
    const int id = StartRequest(*this, new ResolvSocket(*this, p, address), ++m_resolv_id, GetResolverPort());
    if (p != nullptr) m_resolve_q[p->UniqueIdentifier()] = true;
    return id;
}

unsigned short SocketHandler::GetResolverPort() {
    // With port 0 the system chose one; it is known once the server listens.
    if (m_resolver && m_resolver->Ready()) return m_resolver->GetPort();
    return m_resolver_port;
}

bool SocketHandler::ResolverReady() { return m_resolver && m_resolver->Ready(); }

bool SocketHandler::Resolving(Socket* p) { return m_resolve_q.count(p->UniqueIdentifier()) != 0; }

bool SocketHandler::Resolving(unsigned long uid) const { return m_resolve_q.count(uid) != 0; }

bool SocketHandler::ResolvePending(unsigned long uid) const {
    auto it = m_resolve_q.find(uid);
    return it != m_resolve_q.end() && it->second;
}

void SocketHandler::ResolveEnded(unsigned long uid) {
    auto it = m_resolve_q.find(uid);
    if (it != m_resolve_q.end()) it->second = false;
    for (auto w = m_resolving.begin(); w != m_resolving.end(); ++w) {
        Socket* s = *w;
        if (s->UniqueIdentifier() != uid) continue;
        m_resolving.erase(w);
        // Opened by its answer and queued already, or to be refused now.
        if (std::find(m_add.begin(), m_add.end(), s) == m_add.end()) m_add.push_back(s);
        return;
    }
}
