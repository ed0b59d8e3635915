// The least a relay can do: read standard input line by line and send each
// line as one UDP datagram to every address given, in order, on one blocking
// socket. The yardstick of forward_bench and slow_link.sh.
//   line_relay [--batch N] <ip> <port> [<ip> <port> ...] < traffic.nmea
// Without --batch, one sendto per datagram. With --batch N, N lines (each to
// every address) per sendmmsg: the yardstick of a batching sender. Blocking,
// so a slow link makes either wait and loses nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Sends every datagram of the batch; a partial result resumes where it
// stopped, and a datagram refused with an error is skipped.
void sendAll(int fd, std::vector<mmsghdr>& headers) {
    for (size_t k = 0; k < headers.size();) {
        const int sent = sendmmsg(fd, headers.data() + k, static_cast<unsigned>(headers.size() - k), 0);
        if (sent > 0) k += static_cast<size_t>(sent);
        else if (errno != EINTR) ++k;
    }
}

}  // namespace

int main(int argc, char** argv) {
    int arg = 1;
    long batch = 0;
    if (argc > 2 && std::strcmp(argv[1], "--batch") == 0) {
        batch = std::atol(argv[2]);
        arg = 3;
        if (batch < 1) return 2;
    }
    if (argc - arg < 2 || (argc - arg) % 2 != 0) {
        std::fprintf(stderr, "usage: line_relay [--batch N] <ip> <port> [<ip> <port> ...]\n");
        return 2;
    }
    std::vector<sockaddr_in> to;
    for (; arg < argc; arg += 2) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[arg + 1])));
        if (inet_pton(AF_INET, argv[arg], &a.sin_addr) != 1) return 2;
        to.push_back(a);
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 1;
    char* line = nullptr;
    size_t cap = 0;
    ssize_t n;
    if (batch == 0) {
        while ((n = getline(&line, &cap, stdin)) > 0) {
            for (const sockaddr_in& a : to) {
                sendto(fd, line, static_cast<size_t>(n), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
            }
        }
    } else {
        std::vector<std::string> lines(static_cast<size_t>(batch));
        std::vector<iovec> vectors(lines.size());
        std::vector<mmsghdr> headers;
        headers.reserve(lines.size() * to.size());
        bool more = true;
        while (more) {
            size_t got = 0;
            while (got < lines.size() && (n = getline(&line, &cap, stdin)) > 0) {
                lines[got].assign(line, static_cast<size_t>(n));
                vectors[got] = {&lines[got][0], lines[got].size()};
                ++got;
            }
            more = got == lines.size();
            headers.clear();
            for (size_t i = 0; i < got; ++i) {
                for (sockaddr_in& a : to) {
                    mmsghdr h{};
                    h.msg_hdr.msg_name = &a;
                    h.msg_hdr.msg_namelen = sizeof a;
                    h.msg_hdr.msg_iov = &vectors[i];
                    h.msg_hdr.msg_iovlen = 1;
                    headers.push_back(h);
                }
            }
            sendAll(fd, headers);
        }
    }
    std::free(line);
    close(fd);
    return 0;
}
