// The wake-up datagram: a loopback UDP socket of the handler whose one-byte
// datagram makes a waiting select() return.

#include "net/SocketHandler.h"
#include "net/UdpSocket.h"

void SocketHandler::EnableRelease() {
    if (m_release != nullptr) return;
    UdpSocket* release = new UdpSocket(*this, 16384, false, 0);
    release->SetDeleteByHandler(true);
    unsigned short port = 0;
    try {
        release->Bind("127.0.0.1", port, 1);
    } catch (...) {
        release->SetErasedByHandler();  // never registered: leaves quietly
        delete release;
        throw;
    }
    m_release = release;
    Add(m_release);
}

void SocketHandler::Release() {
    if (m_release != nullptr) m_release->SendTo("127.0.0.1", m_release->GetPort(), "\n", 0);
}
