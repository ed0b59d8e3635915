#include "net/SocketHandler.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "net/Exception.h"
#include "net/IMutex.h"
#include "net/ResolvServer.h"
#include "net/ResolvSocket.h"
#include "net/Socket.h"
#include "net/SocketHandlerThread.h"
#include "net/SocketThread.h"
#include "net/StreamSocket.h"
#include "net/TcpSocket.h"
#include "net/UdpSocket.h"
#include "net/Utility.h"

SocketHandler::SocketHandler(StdLog* log) : m_stdlog(log) {
    FD_ZERO(&m_rfds);
    FD_ZERO(&m_wfds);
    FD_ZERO(&m_efds);
}

SocketHandler::SocketHandler(IMutex& mutex, StdLog* log) : SocketHandler(log) {
    m_mutex = &mutex;
    m_b_use_mutex = true;
    m_mutex->Lock();
}

SocketHandler::SocketHandler(IMutex& mutex, ISocketHandler& parent, StdLog* log) : SocketHandler(log) {
    m_mutex = &mutex;
    m_b_use_mutex = true;
    m_parent = &parent;
    m_b_parent_is_valid = true;
    m_mutex->Lock();
}

SocketHandler::~SocketHandler() {
    // Threads first: none of them may still reach this handler's sockets.
    // Each is woken, so that this takes one loop turn, not a time-out.
    for (auto& t : m_threads) t->Stop();
    m_threads.clear();
    if (m_resolver) {
        m_resolver->Quit();
        m_resolver.reset();
    }
    // A detached socket's thread may be deep in blocking work (a look-up in
    // the system resolver): it is not waited for, and finishes on its own.
    for (auto& t : m_socket_threads) Thread::Abandon(t.release());
    m_socket_threads.clear();
    while (!m_sockets.empty()) {
        auto it = m_sockets.begin();
        Socket* p = it->second;
        m_sockets.erase(it);
        if (p == nullptr) continue;
        ForgetSharedDescriptor(p);
        if (p->GetSocket() != -1) p->Close();
        if (Owns(p)) Free(p);
    }
    // Sockets the handler owns but never mapped, or dropped and not yet erased.
    while (!m_add.empty()) {
        Socket* p = m_add.front();
        m_add.pop_front();
        if (Owns(p)) Free(p);
    }
    while (!m_delete.empty()) {
        Socket* p = m_delete.front();
        m_delete.pop_front();
        if (Owns(p)) Free(p);
    }
    while (!m_fds_erase.empty()) {
        Erase e = m_fds_erase.front();
        m_fds_erase.pop_front();
        if (e.owned != nullptr && e.owned->IsDetached() == m_slave) Free(e.owned);
    }
    for (auto& t : m_handover) {
        if (Owns(t.first)) Free(t.first);
    }
    m_handover.clear();
    while (!m_resolving.empty()) {
        Socket* p = m_resolving.front();
        m_resolving.pop_front();
        if (Owns(p)) Free(p);
    }
    while (!m_resolv_waiting.empty()) {
        ResolvSocket* r = m_resolv_waiting.front();
        m_resolv_waiting.pop_front();
        Free(r);
    }
    if (m_b_use_mutex) m_mutex->Unlock();
}

// --- Factories, parent, mutex ---

ISocketHandler* SocketHandler::Create(StdLog* log) { return new SocketHandler(log); }

ISocketHandler* SocketHandler::Create(IMutex& mutex, ISocketHandler& parent, StdLog* log) {
    return new SocketHandler(mutex, parent, log);
}

bool SocketHandler::ParentHandlerIsValid() { return m_b_parent_is_valid; }

ISocketHandler& SocketHandler::ParentHandler() {
    if (!m_b_parent_is_valid) throw Exception("No parent sockethandler available");
    return *m_parent;
}

ISocketHandler& SocketHandler::GetEffectiveHandler() { return m_b_parent_is_valid ? *m_parent : *this; }

IMutex& SocketHandler::GetMutex() const {
    if (m_mutex == nullptr) throw Exception("SocketHandler has no mutex");
    return *m_mutex;
}

void SocketHandler::SetSlave(bool x) { m_slave = x; }
bool SocketHandler::IsSlave() { return m_slave; }

// --- Log ---

void SocketHandler::RegStdLog(StdLog* log) { m_stdlog = log; }

void SocketHandler::LogError(Socket* p, const std::string& label, int code, const std::string& text,
                             loglevel_t level) {
    if (m_stdlog != nullptr) m_stdlog->Report(this, p, label, code, text, level);
}

// --- Registration ---

void SocketHandler::Add(Socket* p) {
    m_add.push_back(p);
    ++m_load;
}

void SocketHandler::HandOver(Socket* p, bool accepted) {
    std::lock_guard<std::mutex> guard(m_handover_lock);
    m_handover.emplace_back(p, accepted);
    m_handover_size = m_handover.size();
    ++m_load;
}

void SocketHandler::TakeHandOver() {
    if (m_handover_size == 0) return;
    std::vector<std::pair<Socket*, bool>> taken;
    {
        std::lock_guard<std::mutex> guard(m_handover_lock);
        taken.swap(m_handover);
        m_handover_size = 0;
    }
    for (auto& t : taken) {
        m_add.push_back(t.first);
        if (t.second) t.first->OnAccept();
    }
}

size_t SocketHandler::Load() const { return m_load; }

void SocketHandler::Remove(Socket* p) {
    if (p == m_release) {
        m_release = nullptr;
        m_release_fd = -1;
        m_release_port = 0;
    }
    // Sockets the handler frees itself leave quietly; anything else still
    // known is an application socket deleted while in use.
    bool quiet = p->ErasedByHandler();
    int code = 0;
    for (auto it = m_sockets.begin(); it != m_sockets.end();) {
        if (it->second == p) {
            if (code == 0) code = -1;
            ClearBits(it->first);
            it = m_sockets.erase(it);
        } else {
            ++it;
        }
    }
    // The first list that still held it names the warning's code.
    auto drop = [&](std::list<Socket*>& list, int listCode) {
        const size_t before = list.size();
        list.remove(p);
        if (code == 0 && list.size() != before) code = listCode;
    };
    // One left aside after a failed look-up is its owner's to delete.
    const bool pending = ResolvePending(p->UniqueIdentifier());
    drop(m_add, -2);
    drop(m_resolving, pending ? -2 : 0);
    drop(m_delete, -3);
    PurgeQueues(p);
    m_resolve_q.erase(p->UniqueIdentifier());
    if (code != 0 && !quiet)
        LogError(p, "Remove", code, "Socket destructor called while still in use", loglevel_warning);
}

void SocketHandler::PurgeQueues(Socket* p) {
    unsigned long uid = p->UniqueIdentifier();
    m_add.remove(p);
    m_resolving.remove(p);
    m_delete.remove(p);
    m_fds_erase.remove_if([&](const Erase& e) { return e.uid == uid || e.owned == p; });
}

// --- Descriptor sets ---

void SocketHandler::ClearBits(int fd) {
    if (fd < 0 || fd >= FD_SETSIZE) return;
    FD_CLR(fd, &m_rfds);
    FD_CLR(fd, &m_wfds);
    FD_CLR(fd, &m_efds);
}

bool SocketHandler::SetsAllowed(Socket* p) {
    auto it = m_sockets.find(p->GetSocket());
    return it != m_sockets.end() && it->second == p;
}

void SocketHandler::ISocketHandler_Add(Socket* p, bool read, bool write) { ISocketHandler_Mod(p, read, write); }

void SocketHandler::ISocketHandler_Mod(Socket* p, bool read, bool write) {
    int fd = p->GetSocket();
    if (fd < 0 || !SetsAllowed(p)) return;
    if (fd >= FD_SETSIZE) {
        // Cannot be watched by select(): refuse it like the loop's admission does.
        LogError(p, "Select", fd, "descriptor too large for select()", loglevel_error);
        p->Close();
        p->SetCloseAndDelete();
        return;
    }
    if (read)
        FD_SET(fd, &m_rfds);
    else
        FD_CLR(fd, &m_rfds);
    if (write)
        FD_SET(fd, &m_wfds);
    else
        FD_CLR(fd, &m_wfds);
    FD_SET(fd, &m_efds);
}

void SocketHandler::ISocketHandler_Del(Socket* p) {
    int fd = p->GetSocket();
    auto it = m_sockets.find(fd);
    if (it != m_sockets.end() && it->second != p) return;  // the number is another socket's now
    ClearBits(fd);
}

// --- One turn ---

int SocketHandler::Select(long sec, long usec) {
    timeval tv;
    tv.tv_sec = sec;
    tv.tv_usec = usec;
    return Select(&tv);
}

bool SocketHandler::SelectTimeout(long& usec) const {
    if (m_b_check_callonconnect) {
        usec = m_b_check_detach ? 10000 : 200000;
        return true;
    }
    if (m_b_check_detach) {
        usec = 10000;
        return true;
    }
    if (m_b_check_timeout || m_b_check_retry || m_b_check_close) {
        usec = 200000;
        return true;
    }
    return false;
}

int SocketHandler::Select() {
    long usec = 0;
    if (SelectTimeout(usec)) return Select(0, usec);
    return Select(nullptr);
}

int SocketHandler::Select(timeval* tv) {
    TakeHandOver();
    if (!m_resolv_waiting.empty()) StartWaitingRequests();
    if (!m_add.empty()) AddIncoming();
    // Sockets dropped as they joined are freed, and those that asked to be
    // detached move, in this turn without a wait for an event first: a
    // detached socket's loop would hold its thread and descriptors for a
    // whole wait, a master would hold back each detach.
    timeval none{0, 0};
    if (!m_fds_erase.empty() || !m_delete.empty() || (m_detach_joined && !m_slave)) tv = &none;
    m_detach_joined = false;
    int n = ISocketHandler_Select(tv);
    if (m_b_check_callonconnect) CheckCallOnConnect();
    if (!m_slave && m_b_check_detach) CheckDetach();
    if (m_b_check_timeout) {
        time_t now = Utility::Now();
        if (now != m_tlast) {
            CheckTimeout(now);
            m_tlast = now;
        }
    }
    if (m_b_check_retry) CheckRetry();
    if (m_b_check_close) CheckClose();
    if (!m_fds_erase.empty()) CheckErasedSockets();
    while (!m_delete.empty()) {
        Socket* p = m_delete.front();
        m_delete.pop_front();
        bool owned = Owns(p);
        if (owned) p->SetErasedByHandler();
        p->OnDelete();  // an application socket may be gone after this
        if (owned) {
            ForgetSharedDescriptor(p);
            Free(p);
        }
    }
    if (!m_socket_threads.empty()) ReapSocketThreads();
    m_load = GetCount() + m_handover_size;
    return n;
}

std::list<SocketHandler::Entry> SocketHandler::Snapshot() const {
    std::list<Entry> entries;
    for (const auto& kv : m_sockets) entries.push_back({kv.first, kv.second->UniqueIdentifier()});
    return entries;
}

Socket* SocketHandler::Find(const Entry& e) const {
    auto it = m_sockets.find(e.fd);
    if (it == m_sockets.end() || it->second->UniqueIdentifier() != e.uid) return nullptr;
    return it->second;
}

bool SocketHandler::Dropped(unsigned long uid) const {
    for (const Erase& e : m_fds_erase)
        if (e.dropped && e.uid == uid) return true;
    return false;
}

bool SocketHandler::IsMapped(const Socket* p) const {
    for (const auto& kv : m_sockets)
        if (kv.second == p) return true;
    return false;
}

int SocketHandler::ISocketHandler_Select(timeval* tv) {
    fd_set rfds = m_rfds;
    fd_set wfds = m_wfds;
    fd_set efds = m_efds;
    if (m_b_use_mutex) m_mutex->Unlock();
    int n = select(m_maxsock + 1, &rfds, &wfds, &efds, tv);
    int err = errno;
    if (m_b_use_mutex) m_mutex->Lock();
    if (n == -1) {
        switch (err) {
        case ENOMEM:
            LogError(nullptr, "SocketHandler::Select", err, strerror(err), loglevel_error);
            break;
        case EINVAL:
            LogError(nullptr, "SocketHandler::Select", err, strerror(err), loglevel_fatal);
            throw Exception("select(n): n is negative. Or struct timeval contains bad time values (<0).");
        case EBADF:
            RebuildFdset();
            break;
        default:
            break;
        }
        printf("error on select(): %d %s\n", err, strerror(err));
        fflush(stdout);
        return n;
    }
    if (n > 0) {
        // Callbacks may add, drop or delete sockets: walk a copy and look
        // each socket up again before every call.
        for (const Entry& e : Snapshot()) {
            Socket* p = Find(e);
            if (p == nullptr || p->GetSocket() != e.fd) continue;
            if (FD_ISSET(e.fd, &rfds)) p->OnRead();
            p = Find(e);
            if (p == nullptr || p->GetSocket() != e.fd) continue;
            if (FD_ISSET(e.fd, &wfds)) p->OnWrite();
            p = Find(e);
            if (p == nullptr || p->GetSocket() != e.fd) continue;
            if (FD_ISSET(e.fd, &efds)) p->OnException();
        }
    }
    return n;
}

void SocketHandler::AddIncoming() {
    while (!m_add.empty()) {
        if (m_sockets.size() >= MaxCount()) {
            LogError(nullptr, "Select", static_cast<int>(m_sockets.size()), "socket limit reached", loglevel_warning);
            break;
        }
        Socket* s = m_add.front();
        const unsigned long uid = s->UniqueIdentifier();
        const int fd = s->GetSocket();
        // One left aside comes back when its owner adds it again.
        if (!m_resolving.empty()) m_resolving.remove(s);
        if (fd == -1 && ResolvePending(uid)) {
            // Opens once its look-up answers; waits aside until then.
            m_add.pop_front();
            if (std::find(m_resolving.begin(), m_resolving.end(), s) == m_resolving.end()) m_resolving.push_back(s);
            continue;
        }
        if (fd == -1) {
            LogError(s, "Add", -1, "Invalid socket", loglevel_warning);
            RefuseFront(s);
            continue;
        }
        if (fd < 0 || fd >= FD_SETSIZE) {
            LogError(s, "Add", fd, "descriptor too large for select()", loglevel_error);
            RefuseFront(s);
            s->Close();
            continue;
        }
        auto it = m_sockets.find(fd);
        if (it != m_sockets.end()) {
            Socket* o = it->second;
            if (o->GetSocket() != fd) {
                // o closed the number and s got it anew: the entry is stale,
                // whatever the uids say.
                DeleteSocket(o);
                if (!StillFront(s, uid)) continue;
            } else if (o->UniqueIdentifier() == uid) {
                LogError(s, "Add", fd, "Attempt to add socket already in controlled queue (same uid)", loglevel_error);
                if (s == o)
                    m_add.pop_front();
                else
                    RefuseFront(s);
                continue;
            } else if (o->UniqueIdentifier() > uid) {
                LogError(s, "Add", fd, "Attempt to add socket already in controlled queue (older uid)", loglevel_fatal);
                // The number is o's: s, refused, must not close it when it is
                // deleted, which its owner may do at any time.
                s->Attach(-1);
                RefuseFront(s);
                continue;
            } else {
                LogError(s, "Add", fd, "Replacing socket already in controlled queue (newer uid)", loglevel_warning);
                // The number is s's now. Let go of it before OnDelete, which
                // may delete an application socket at once.
                o->Attach(-1);
                DeleteSocket(o);
                if (!StillFront(s, uid)) continue;
            }
        }
        if (s->CloseAndDelete()) {
            LogError(s, "Add", fd, "Added socket with SetCloseAndDelete() true", loglevel_warning);
            m_sockets[fd] = s;
            m_add.pop_front();
            DeleteSocket(s);
            if (IsMapped(s) && s->GetSocket() != -1) s->Close();
            continue;
        }
        if (s->CallOnConnect()) m_b_check_callonconnect = true;
        if (s->IsDetach()) m_b_check_detach = m_detach_joined = true;
        if (s->CheckTimeout()) m_b_check_timeout = true;
        if (s->RetryClientConnect()) m_b_check_retry = true;
        m_sockets[fd] = s;
        bool read = !s->IsDisableRead();
        bool write = false;
        StreamSocket* stream = dynamic_cast<StreamSocket*>(s);
        if (stream != nullptr && stream->Connecting()) {
            read = false;
            write = true;
        } else if (TcpSocket* tcp = dynamic_cast<TcpSocket*>(s)) {
            write = tcp->GetOutputLength() != 0;
        }
        ISocketHandler_Mod(s, read, write);
        if (fd > m_maxsock) m_maxsock = fd;
        m_add.pop_front();
    }
}

void SocketHandler::RefuseFront(Socket* s) {
    m_add.pop_front();
    if (std::find(m_delete.begin(), m_delete.end(), s) == m_delete.end()) m_delete.push_back(s);
}

bool SocketHandler::StillFront(const Socket* s, unsigned long uid) const {
    return !m_add.empty() && m_add.front() == s && s->UniqueIdentifier() == uid;
}

void SocketHandler::RebuildFdset() {
    fd_set rfds;
    fd_set wfds;
    fd_set efds;
    FD_ZERO(&rfds);
    FD_ZERO(&wfds);
    FD_ZERO(&efds);
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr) continue;
        if (e.fd != p->GetSocket() || e.fd < 0) {
            LogError(p, "Select", e.fd, "Bad fd in fd_set (3)", loglevel_error);
            DeleteSocket(p);
            continue;
        }
        fd_set probe;
        FD_ZERO(&probe);
        FD_SET(e.fd, &probe);
        timeval tv;
        tv.tv_sec = 0;
        tv.tv_usec = 0;
        int n = select(e.fd + 1, &probe, nullptr, nullptr, &tv);
        int err = errno;
        if (n == -1 && err == EBADF) {
            LogError(p, "Select", e.fd, "Bad fd in fd_set (2)", loglevel_error);
            if (Valid(p) && Valid(e.uid)) {
                // The number is closed already and may be reused at any
                // time: the socket must never close it.
                p->Attach(-1);
                DeleteSocket(p);
            }
            continue;
        }
        if (FD_ISSET(e.fd, &m_rfds)) FD_SET(e.fd, &rfds);
        if (FD_ISSET(e.fd, &m_wfds)) FD_SET(e.fd, &wfds);
        if (FD_ISSET(e.fd, &m_efds)) FD_SET(e.fd, &efds);
    }
    m_rfds = rfds;
    m_wfds = wfds;
    m_efds = efds;
}

void SocketHandler::DeleteSocket(Socket* p) {
    Socket* owned = nullptr;
    if (p->DeleteByHandler() && !p->ErasedByHandler()) {
        p->SetErasedByHandler();
        owned = p;
    }
    m_fds_erase.push_back({p->UniqueIdentifier(), owned, true});
    p->OnDelete();  // an application socket may be gone after this
}

void SocketHandler::CheckCallOnConnect() {
    m_b_check_callonconnect = false;
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr || !p->CallOnConnect() || Dropped(e.uid)) continue;
        p->SetConnected(true);
        if (TcpSocket* tcp = dynamic_cast<TcpSocket*>(p)) {
            if (tcp->GetOutputLength() != 0) {
                tcp->OnWrite();
                if (Find(e) == nullptr) continue;
            }
            if (tcp->IsReconnect())
                tcp->OnReconnect();
            else
                tcp->OnConnect();
        } else {
            p->OnConnect();
        }
        m_b_check_callonconnect = true;
        p = Find(e);
        if (p != nullptr) p->SetCallOnConnect(false);
    }
}

void SocketHandler::CheckTimeout(time_t now) {
    m_b_check_timeout = false;
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr || !p->CheckTimeout() || Dropped(e.uid)) continue;
        m_b_check_timeout = true;
        if (!p->Timeout(now)) continue;
        p->SetTimeout(0);
        StreamSocket* stream = dynamic_cast<StreamSocket*>(p);
        if (stream != nullptr && stream->Connecting()) {
            stream->OnConnectTimeout();
            if (Find(e) != nullptr) stream->SetTimeout(stream->GetConnectTimeout());
        } else {
            p->OnTimeout();
        }
    }
}

void SocketHandler::CheckRetry() {
    m_b_check_retry = false;
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr || !p->RetryClientConnect() || Dropped(e.uid)) continue;
        m_b_check_retry = true;
        p->SetRetryClientConnect(false);
        p->Close();
        if (Find(e) == nullptr) continue;
        std::unique_ptr<SocketAddress> address = p->GetClientRemoteAddress();
        if (address) {
            TcpSocket* tcp = dynamic_cast<TcpSocket*>(p);
            if (tcp != nullptr && !Reopen(tcp, *address, "RetryClientConnect")) {
                DeleteSocket(p);
                continue;
            }
        } else {
            LogError(p, "RetryClientConnect", 0, "no address", loglevel_error);
        }
        // Rejoins under its new descriptor next turn; the old entry goes at
        // the end of this one.
        Add(p);
        m_fds_erase.push_back({e.uid, nullptr, false});
    }
}

void SocketHandler::CheckClose() {
    m_b_check_close = false;
    if (!m_resolving.empty()) DropLeftAside();
    for (const Entry& e : Snapshot()) {
        Socket* p = Find(e);
        if (p == nullptr || !p->CloseAndDelete() || Dropped(e.uid)) continue;
        m_b_check_close = true;
        TcpSocket* tcp = dynamic_cast<TcpSocket*>(p);
        if (p->Lost() && !(tcp != nullptr && tcp->Reconnect())) {
            DeleteSocket(p);
            continue;
        }
        auto closeAndDrop = [&]() {
            ISocketHandler_Del(p);
            p->Close();
            if (Find(e) != nullptr) DeleteSocket(p);
        };
        if (tcp == nullptr) {
            closeAndDrop();
            continue;
        }
        if (tcp->IsConnected() && tcp->GetFlushBeforeClose() && tcp->TimeSinceClose() <= 4) {
            if (tcp->GetOutputLength() != 0) {
                LogError(p, "Closing", static_cast<int>(tcp->GetOutputLength()), "Sending all data before closing",
                         loglevel_info);
            } else if (tcp->GetShutdown() & SHUT_WR) {
                closeAndDrop();
            } else {
                if (e.fd != -1 && shutdown(tcp->GetSocket(), SHUT_WR) == -1) {
                    int err = errno;
                    LogError(p, "graceful shutdown", err, strerror(err), loglevel_error);
                }
                tcp->SetShutdown(SHUT_WR);
            }
            continue;
        }
        if (tcp->IsConnected() && tcp->Reconnect()) {
            tcp->SetCloseAndDelete(false);
            tcp->SetIsReconnect(true);
            tcp->SetConnected(false);
            tcp->Close();
            tcp->OnDisconnect();
            if (Find(e) == nullptr) continue;
            std::unique_ptr<SocketAddress> address = tcp->GetClientRemoteAddress();
            if (address) {
                if (!Reopen(tcp, *address, "Reconnect")) {
                    DeleteSocket(p);
                    continue;
                }
            } else {
                LogError(p, "Reconnect", 0, "no address", loglevel_error);
            }
            tcp->ResetConnectionRetries();
            Add(p);
            m_fds_erase.push_back({e.uid, nullptr, false});
            continue;
        }
        if (tcp->IsConnected() && tcp->GetOutputLength() != 0)
            LogError(p, "Closing", static_cast<int>(tcp->GetOutputLength()),
                     "Closing socket while data still left to send", loglevel_warning);
        closeAndDrop();
    }
}

bool SocketHandler::Reopen(TcpSocket* tcp, SocketAddress& address, const char* label) {
    try {
        tcp->Open(address, false);
    } catch (const Exception&) {
        // No new descriptor (EMFILE, ...): that ends this socket, not the turn.
        int err = errno;
        LogError(tcp, label, err, strerror(err), loglevel_error);
        tcp->SetCloseAndDelete(true);
    }
    // Every failing Open leaves the socket without a descriptor.
    return tcp->GetSocket() != -1;
}

void SocketHandler::ForgetSharedDescriptor(Socket* p) {
    int fd = p->GetSocket();
    if (fd == -1) return;
    auto it = m_sockets.find(fd);
    // A closed socket still mapped under the number holds it no more.
    bool other = it != m_sockets.end() && it->second != p && it->second->GetSocket() == fd;
    for (Socket* q : m_add)
        if (q != p && q->GetSocket() == fd) other = true;
    if (other) p->Attach(-1);
}

bool SocketHandler::Owns(const Socket* p) const {
    return p->DeleteByHandler() && (p->IsDetached() == m_slave || p == m_release);
}

void SocketHandler::Free(Socket* p) {
    p->SetErasedByHandler();
    PurgeQueues(p);
    delete p;
}

void SocketHandler::CheckErasedSockets() {
    while (!m_fds_erase.empty()) {
        Erase e = m_fds_erase.front();
        m_fds_erase.pop_front();
        Socket* p = nullptr;
        for (auto it = m_sockets.begin(); it != m_sockets.end(); ++it) {
            if (it->second->UniqueIdentifier() == e.uid) {
                p = it->second;
                ClearBits(it->first);
                m_sockets.erase(it);
                break;
            }
        }
        // A socket the handler owns whose entry a newer socket took over is
        // freed all the same.
        if (p == nullptr) p = e.owned;
        if (p == nullptr) continue;
        // Only a socket being freed lets go of a shared number: one that
        // stays (retried, reconnected) already holds its new descriptor.
        if (p->ErasedByHandler() && (p->IsDetached() == m_slave || p == m_release)) {
            ForgetSharedDescriptor(p);
            Free(p);
        }
    }
    m_maxsock = m_sockets.empty() ? 0 : m_sockets.rbegin()->first;
}

// --- Queries and flags ---

bool SocketHandler::Valid(Socket* p) { return IsMapped(p); }

bool SocketHandler::Valid(unsigned long uid) {
    for (const auto& kv : m_sockets)
        if (kv.second->UniqueIdentifier() == uid) return true;
    return false;
}

size_t SocketHandler::GetCount() { return m_add.size() + m_resolving.size() + m_sockets.size() + m_delete.size(); }
size_t SocketHandler::MaxCount() { return 1024; }
bool SocketHandler::OkToAccept(Socket*) { return true; }
const socket_m& SocketHandler::AllSockets() { return m_sockets; }
size_t SocketHandler::MaxTcpLineSize() { return 8192; }

void SocketHandler::SetCallOnConnect(bool x) { m_b_check_callonconnect = x; }
void SocketHandler::SetDetach(bool x) { m_b_check_detach = x; }
void SocketHandler::SetTimeout(bool x) { m_b_check_timeout = x; }
void SocketHandler::SetRetry(bool x) { m_b_check_retry = x; }
void SocketHandler::SetClose(bool x) { m_b_check_close = x; }
