// The handler's side of the asynchronous resolver: the server thread it
// owns, and one loopback connection (a ResolvSocket) per request. At most
// ResolvServer::kBacklog requests are in flight; the rest wait their turn,
// so a burst never runs out of descriptors.

#include <algorithm>
#include <cstring>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/ResolvServer.h"
#include "net/ResolvSocket.h"
#include "net/Socket.h"
#include "net/SocketHandler.h"

void SocketHandler::EnableResolver(unsigned short port) {
    if (m_resolver) return;
    m_resolver.reset(new ResolvServer(port));
    // Bound here, in this thread: a port held by another program is known
    // (and logged here) before any request could be sent to that program.
    if (!m_resolver->Listen(*this)) return;
    if (!m_resolver->Start())
        LogError(nullptr, "pthread_create", m_resolver->CreateError(), strerror(m_resolver->CreateError()),
                 loglevel_fatal);
}

bool SocketHandler::ResolverEnabled() { return m_resolver != nullptr; }

int SocketHandler::Resolve(Socket* p, const std::string& host, unsigned short port) {
    return Request(new ResolvSocket(*this, p, host, port), p);
}

int SocketHandler::Resolve(Socket* p, unsigned long address) { return Request(new ResolvSocket(*this, p, address), p); }

int SocketHandler::Request(ResolvSocket* r, Socket* p) {
    const int id = ++m_resolv_id;
    r->SetId(id);
    r->SetDeleteByHandler();
    if (p != nullptr) ++m_resolve_q[p->UniqueIdentifier()];
    if (!r->Askable()) {
        // Never sent: refused next turn, its OnDelete reports the failure.
        r->SetCloseAndDelete();
        Add(r);
    } else if (!ResolverReady()) {
        // Nobody else's answer: not even a connection is tried. The request
        // is refused next turn, and its OnDelete reports the failure.
        LogError(r, "Resolve", -1, "Can't connect to local resolve server", loglevel_fatal);
        r->SetCloseAndDelete();
        Add(r);
    } else if (m_resolv_active >= static_cast<size_t>(ResolvServer::kBacklog)) {
        m_resolv_waiting.push_back(r);
    } else {
        StartRequest(r);
    }
    return id;
}

void SocketHandler::StartRequest(ResolvSocket* r) {
    ++m_resolv_active;
    r->SetInFlight();
    bool ok = false;
    try {
        Ipv4Address server(htonl(INADDR_LOOPBACK), GetResolverPort());
        ok = r->Open(server);
    } catch (const Exception&) {
        ok = false;  // no descriptor
    }
    if (!ok) {
        LogError(r, "Resolve", -1, "Can't connect to local resolve server", loglevel_fatal);
        r->SetCloseAndDelete();
    }
    Add(r);
}

void SocketHandler::StartWaitingRequests() {
    while (!m_resolv_waiting.empty() && m_resolv_active < static_cast<size_t>(ResolvServer::kBacklog)) {
        ResolvSocket* r = m_resolv_waiting.front();
        m_resolv_waiting.pop_front();
        if (ResolverReady()) {
            StartRequest(r);
        } else {
            r->SetCloseAndDelete();
            Add(r);
        }
    }
}

void SocketHandler::RequestEnded() {
    if (m_resolv_active > 0) --m_resolv_active;
}

unsigned short SocketHandler::GetResolverPort() {
    // The port the server holds (the system's choice for port 0); none
    // while it does not listen: the port may be another program's.
    if (m_resolver && m_resolver->Ready()) return m_resolver->GetPort();
    return 0;
}

bool SocketHandler::ResolverReady() { return m_resolver && m_resolver->Ready(); }

bool SocketHandler::Resolving(Socket* p) { return m_resolve_q.count(p->UniqueIdentifier()) != 0; }

bool SocketHandler::Resolving(unsigned long uid) const { return m_resolve_q.count(uid) != 0; }

bool SocketHandler::ResolvePending(unsigned long uid) const {
    auto it = m_resolve_q.find(uid);
    return it != m_resolve_q.end() && it->second > 0;
}

void SocketHandler::ResolveEnded(unsigned long uid) {
    auto it = m_resolve_q.find(uid);
    if (it == m_resolve_q.end()) return;
    if (it->second > 0) --it->second;
    if (it->second > 0) return;  // asked again meanwhile
    for (auto w = m_resolving.begin(); w != m_resolving.end(); ++w) {
        Socket* s = *w;
        if (s->UniqueIdentifier() != uid) continue;
        // Opened by its answer, it joins the loop (queued already, or now);
        // else its look-up failed and it stays aside, left to its owner.
        if (s->GetSocket() != -1) {
            m_resolving.erase(w);
            if (std::find(m_add.begin(), m_add.end(), s) == m_add.end()) m_add.push_back(s);
        }
        return;
    }
}

void SocketHandler::DropLeftAside() {
    for (auto w = m_resolving.begin(); w != m_resolving.end();) {
        Socket* s = *w;
        if (!ResolvePending(s->UniqueIdentifier()) && s->CloseAndDelete()) {
            w = m_resolving.erase(w);
            if (std::find(m_delete.begin(), m_delete.end(), s) == m_delete.end()) m_delete.push_back(s);
        } else {
            ++w;
        }
    }
}
