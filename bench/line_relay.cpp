// The least a relay can do: read standard input line by line and send each
// line as one UDP datagram to one address. The yardstick of forward_bench.
//   line_relay <ip> <port> < traffic.nmea
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    inet_pton(AF_INET, argv[1], &to.sin_addr);
    char* line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, stdin)) > 0) {
        sendto(fd, line, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::free(line);
    close(fd);
    return 0;
}
