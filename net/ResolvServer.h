#pragma once
// The resolver's server: a thread with an event loop of its own that
// listens on 127.0.0.1 only (never on every interface) and answers one
// query line per connection (ResolvSocket). Listen() binds in the caller's
// thread, so that a port held by another program is known, and reported
// through the caller's handler, before any request is sent; only then is
// the thread started. Port 0 lets the system choose; GetPort() tells the
// port once Ready().

#include <atomic>
#include <memory>

#include "net/Thread.h"

class ISocketHandler;
class SocketHandler;

class ResolvServer : public Thread {
public:
    // Connections the listening socket queues; the handler that owns the
    // server keeps no more requests than that in flight.
    static constexpr int kBacklog = 20;

    explicit ResolvServer(unsigned short port);
    // Quits and joins; look-ups still running in their own threads are not
    // waited for: they end on their own, and their answers go nowhere.
    ~ResolvServer() override;

    // Binds and listens; false when that fails, with the failure logged
    // through `report`'s LogError ("bind" or "listen", errno, its text,
    // level 3). The server is ready once this has succeeded and Start()
    // has made the thread.
    bool Listen(ISocketHandler& report);
    void Quit();
    bool Ready() const;
    unsigned short GetPort() const;

protected:
    void Run() override;
    void Wake() override;

private:
    std::atomic<bool> m_quit{false};
    std::atomic<unsigned short> m_port;
    std::atomic<bool> m_listening{false};
    // Made by Listen before the thread exists, freed after it is joined.
    std::unique_ptr<SocketHandler> m_h;
};
