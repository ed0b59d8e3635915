#pragma once
// The resolver's server: a thread with an event loop of its own that
// listens on 127.0.0.1 only (never on every interface) and answers one
// query line per connection (ResolvSocket). Port 0 lets the system choose;
// GetPort() tells the port once Ready().

#include <atomic>
#include <mutex>

#include "net/Thread.h"

class ISocketHandler;

class ResolvServer : public Thread {
public:
    explicit ResolvServer(unsigned short port);
    // Quits and joins; look-ups still running in their own threads are
    // waited for.
    ~ResolvServer() override;

    void Quit();
    bool Ready() const;
    unsigned short GetPort() const;

protected:
    void Run() override;
    void Wake() override;

private:
    std::atomic<bool> m_quit{false};
    std::atomic<unsigned short> m_port;
    std::atomic<bool> m_ready{false};
    std::mutex m_lock;  // guards m_handler against the end of Run
    ISocketHandler* m_handler = nullptr;
};
