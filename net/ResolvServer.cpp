#include "net/ResolvServer.h"

#include "net/Exception.h"
#include "net/ListenSocket.h"
#include "net/ResolvSocket.h"
#include "net/SocketHandler.h"
#include "net/StdLog.h"

namespace {
// Hands the server loop's messages to another handler's log.
class ForwardLog : public StdLog {
public:
    explicit ForwardLog(ISocketHandler& to) : m_to(to) {}
    void Report(ISocketHandler*, Socket*, const std::string& label, int code, const std::string& text,
                loglevel_t level) override {
        m_to.LogError(nullptr, label, code, text, level);
    }

private:
    ISocketHandler& m_to;
};
}  // namespace

ResolvServer::ResolvServer(unsigned short port) : Thread(true), m_port(port) {}

ResolvServer::~ResolvServer() {
    Quit();
    Stop();
}

bool ResolvServer::Listen(ISocketHandler& report) {
    if (m_h) return m_listening;
    m_h.reset(new SocketHandler(nullptr));
    ForwardLog log(report);
    m_h->RegStdLog(&log);
    std::unique_ptr<ListenSocket<ResolvSocket>> l(new ListenSocket<ResolvSocket>(*m_h));
    bool ok = false;
    try {
        ok = l->Bind("127.0.0.1", m_port, kBacklog) == 0;
        if (ok) m_h->EnableRelease();
    } catch (const Exception&) {
        ok = false;  // logged by Bind, or no wake-up socket
    }
    m_h->RegStdLog(nullptr);
    if (!ok) return false;
    m_port = l->GetPort();
    l->SetDeleteByHandler();
    m_h->Add(l.release());
    m_listening = true;
    return true;
}

void ResolvServer::Quit() { m_quit = true; }
bool ResolvServer::Ready() const { return m_listening && !Ended(); }
unsigned short ResolvServer::GetPort() const { return m_port; }

void ResolvServer::Run() {
    if (!m_listening) return;
    while (!m_quit && IsRunning()) m_h->Select(0, 500000);
    m_listening = false;
}

void ResolvServer::Wake() {
    // m_h lives from before the thread's start until after its join.
    if (m_h) m_h->Release();
}
