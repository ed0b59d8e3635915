// The least a UDP relay can do: take every datagram that arrives on
// 127.0.0.1:<port> and send it on unchanged to 127.0.0.1:<to port>, reading
// until the socket would block at each wake-up. The yardstick of
// udp_input_bench. Runs until killed.
//   udp_relay <port> <to port>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int in = socket(AF_INET, SOCK_DGRAM, 0);
    int size = 64 << 20;  // as the program asks
    if (setsockopt(in, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(in, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    if (bind(in, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
    const int out = socket(AF_INET, SOCK_DGRAM, 0);
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    char buf[16384];
    for (;;) {
        pollfd p{in, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) continue;
        for (;;) {
            const ssize_t n = recv(in, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0) break;
            sendto(out, buf, static_cast<size_t>(n), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
}
