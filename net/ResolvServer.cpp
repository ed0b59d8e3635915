#include "net/ResolvServer.h"

#include "net/Exception.h"
#include "net/ListenSocket.h"
#include "net/ResolvSocket.h"
#include "net/SocketHandler.h"

ResolvServer::ResolvServer(unsigned short port) : Thread(true), m_port(port) {}

ResolvServer::~ResolvServer() {
    Quit();
    Stop();
}

void ResolvServer::Quit() { m_quit = true; }
bool ResolvServer::Ready() const { return m_ready; }
unsigned short ResolvServer::GetPort() const { return m_port; }

void ResolvServer::Run() {
    SocketHandler h(nullptr);
    {
        // Declared after the handler: it leaves the loop before the loop goes.
        ListenSocket<ResolvSocket> l(h);
        try {
            if (l.Bind("127.0.0.1", m_port, 20) != 0) return;
            h.EnableRelease();
        } catch (const Exception&) {
            return;  // never ready: every request fails to connect
        }
        m_port = l.GetPort();
        h.Add(&l);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_handler = &h;
        }
        m_ready = true;
        while (!m_quit && IsRunning()) h.Select(0, 500000);
        m_ready = false;
        std::lock_guard<std::mutex> guard(m_lock);
        m_handler = nullptr;
    }
    SetRunning(false);
}

void ResolvServer::Wake() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_handler != nullptr) m_handler->Release();
}
