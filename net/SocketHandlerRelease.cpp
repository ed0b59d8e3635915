// The wake-up datagram: a loopback UDP socket of the handler whose one-byte
// datagram makes a waiting select() return.

#include <netinet/in.h>
#include <sys/socket.h>

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
    m_release_port = release->GetPort();
    m_release_fd = release->GetSocket();
    Add(m_release);
}

void SocketHandler::Release() {
    // Called from other threads: a plain sendto on the socket's own
    // descriptor touches no state of the loop's sockets.
    const int fd = m_release_fd;
    const unsigned short port = m_release_port;
    if (fd == -1 || port == 0) return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    (void)!sendto(fd, "\n", 1, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}
