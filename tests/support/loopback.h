#pragma once
// Binding a test's own socket to 127.0.0.1, on a port the kernel chooses
// unless one is asked for.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace loopback {

// Binds `fd` to 127.0.0.1:port (0: any free port). The port bound, or -1
// when the bind is refused.
inline int Bind(int fd, unsigned short port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
    return ntohs(a.sin_port);
}

}  // namespace loopback
