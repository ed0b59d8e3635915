#pragma once
// A listening TCP socket that makes an X (a Socket built from an
// ISocketHandler&) for each accepted connection. When its handler has a
// thread pool, each connection goes to the least-loaded pool handler: handed
// over to it (its OnAccept then runs in that loop's thread), or, for a pool
// handler of another kind, added under that handler's mutex.

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "net/Exception.h"
#include "net/Ipv4Address.h"
#include "net/Lock.h"
#include "net/Socket.h"
#include "net/SocketHandler.h"
#include "net/Utility.h"

template <class X>
class ListenSocket : public Socket {
public:
    explicit ListenSocket(ISocketHandler& h) : Socket(h) {}
    ~ListenSocket() override {
        if (GetSocket() != -1) Close();
    }

    // Closes the descriptor; the socket keeps it only when close() fails.
    int Close() override {
        if (GetSocket() != -1) {
            Handler().ISocketHandler_Del(this);
            if (close(GetSocket()) != -1) Attach(-1);
        }
        return 0;
    }

    // Binds to the IPv4 address `intf` (no name look-up) and `port` (0: the
    // system's choice) and listens. -1, logged, when the address is not
    // valid or the descriptor cannot be made non-blocking; throws Exception
    // when bind() or listen() fail. The caller then Adds the socket.
    int Bind(const std::string& intf, unsigned short port, int depth = 20) {
        sockaddr_in sa{};
        if (!Utility::isipv4(intf) || !Utility::u2ip(intf, sa, AI_NUMERICHOST)) {
            Handler().LogError(this, "Bind", 0, "name resolution of interface name failed", loglevel_fatal);
            return -1;
        }
        sa.sin_port = htons(port);
        int s = CreateSocket(AF_INET, SOCK_STREAM, "tcp");
        if (!SetNonblocking(true, s)) {
            close(s);
            return -1;
        }
        if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == -1) Fail(s, "bind", port);
        if (listen(s, depth) == -1) Fail(s, "listen", port);
        m_depth = depth;
        Attach(s);
        return 0;
    }

    unsigned short GetPort() override { return GetSockPort(); }
    int GetDepth() const { return m_depth; }

    void OnOptions(int, int, int, int) override { SetSoReuseaddr(true); }

    int Accept(int s, sockaddr* sa, socklen_t* len) { return accept4(s, sa, len, SOCK_CLOEXEC); }

    // Up to ten connections per read event.
    void OnRead() override {
        for (int i = 0; i < 10; ++i) {
            sockaddr_in sa{};
            socklen_t len = sizeof sa;
            int a = Accept(GetSocket(), reinterpret_cast<sockaddr*>(&sa), &len);
            if (a == -1) {
                int err = errno;
                if (err != EAGAIN && err != EWOULDBLOCK)
                    Handler().LogError(this, "accept", err, strerror(err), loglevel_error);
                return;
            }
            if (!Handler().OkToAccept(this)) {
                Handler().LogError(this, "accept", -1, "Not OK to accept", loglevel_warning);
                close(a);
                return;
            }
            if (Handler().GetCount() >= Handler().MaxCount()) {
                Handler().LogError(this, "accept", static_cast<int>(Handler().GetCount()),
                                   "ISocketHandler socket limit reached", loglevel_fatal);
                close(a);
                return;
            }
            if (!Handler().IsThreaded()) {
                X* tmp = Make(Handler(), a, sa, len);
                Handler().Add(tmp);
                tmp->OnAccept();
                continue;
            }
            ISocketHandler& h = Handler().GetRandomHandler();
            if (SocketHandler* sh = dynamic_cast<SocketHandler*>(&h)) {
                // Handed over without waiting for the pool loop's turn to
                // end; its OnAccept runs in that loop's thread.
                sh->HandOver(Make(h, a, sa, len), true);
            } else {
                // The pool handler's own thread waits in select() meanwhile.
                Lock lock(h.GetMutex());
                X* tmp = Make(h, a, sa, len);
                h.Add(tmp);
                tmp->OnAccept();
            }
            h.Release();
        }
    }

private:
    X* Make(ISocketHandler& h, int a, const sockaddr_in& sa, socklen_t len) {
        X* tmp = new X(h);
        tmp->SetParent(this);
        tmp->Attach(a);
        tmp->SetNonblocking(true);
        if (len == sizeof sa && sa.sin_family == AF_INET) {
            Ipv4Address remote(sa);
            tmp->SetRemoteAddress(remote);
        }
        tmp->SetConnected(true);
        tmp->Init();
        tmp->SetDeleteByHandler(true);
        return tmp;
    }

    [[noreturn]] void Fail(int s, const char* call, unsigned short port) {
        int err = errno;
        Handler().LogError(this, call, err, strerror(err), loglevel_fatal);
        close(s);
        throw Exception(std::string(call) + "() failed for port " + Utility::l2string(port) + ": " + strerror(err));
    }

    int m_depth = 0;
};
