// The least a UDP relay can do: take every datagram that arrives on
// 127.0.0.1:<port>, in batches of recvmmsg until the socket would block at
// each wake-up, and send each on unchanged with sendto to 127.0.0.1:<to
// port>. The yardstick of udp_input_bench. Runs until killed.
//   udp_relay <port> <to port>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

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
    constexpr unsigned kBatch = 32;  // as the program reads
    std::vector<char> buffers(kBatch * 16384);
    mmsghdr headers[kBatch];
    iovec vectors[kBatch];
    for (;;) {
        pollfd p{in, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) continue;
        for (;;) {
            for (unsigned i = 0; i < kBatch; ++i) {
                vectors[i] = {buffers.data() + i * 16384, 16384};
                headers[i] = {};
                headers[i].msg_hdr.msg_iov = &vectors[i];
                headers[i].msg_hdr.msg_iovlen = 1;
            }
            const int got = recvmmsg(in, headers, kBatch, MSG_DONTWAIT, nullptr);
            if (got <= 0) break;
            for (int i = 0; i < got; ++i)
                sendto(out, vectors[i].iov_base, headers[i].msg_len, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a),
                       sizeof a);
            if (got < static_cast<int>(kBatch)) break;
        }
    }
}
