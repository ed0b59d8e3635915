// Receives datagrams on 127.0.0.1 as fast as the kernel hands them over and
// counts them. Prints its port on the first line of standard output, the
// count so far on each SIGUSR1 (so a caller can wait until it stops
// growing), then on SIGTERM or SIGINT the number of datagrams received.
//   udp_sink
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <vector>

static std::atomic<bool> stop{false};
static std::atomic<bool> report{false};

int main() {
    signal(SIGTERM, [](int) { stop = true; });
    signal(SIGINT, [](int) { stop = true; });
    signal(SIGUSR1, [](int) { report = true; });
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    // Past rmem_max only for root: a fast sender must not lose at this end.
    int size = 64 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    std::printf("%u\n", ntohs(a.sin_port));
    std::fflush(stdout);

    constexpr int kBatch = 256;
    std::vector<char> buffers(kBatch * 2048);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> msgs(kBatch);
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {&buffers[i * 2048], 2048};
        msgs[i].msg_hdr = msghdr{};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    unsigned long long count = 0;
    while (!stop) {
        if (report.exchange(false)) {
            std::printf("%llu\n", count);
            std::fflush(stdout);
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const int n = recvmmsg(fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (n > 0) count += static_cast<unsigned>(n);
    }
    std::printf("%llu\n", count);
    return 0;
}
