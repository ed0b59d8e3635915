// Sends every line of standard input (line end included) as one UDP datagram
// to 127.0.0.1:<port>: at a steady rate, in bursts sent back to back with a
// pause between them, or as fast as it can. Prints the datagrams sent and
// the rate reached.
//   udp_send <port> steady <datagrams per second> < lines
//   udp_send <port> bursts <datagrams per burst> <pause ms> < lines
//   udp_send <port> flood < lines
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void waitUntil(double t) {
    for (double left = t - now(); left > 0; left = t - now()) {
        // Sleep most of a long wait; spin the last stretch, which a sleep overshoots.
        if (left > 0.0002) {
            timespec ts{0, static_cast<long>((left - 0.0001) * 1e9)};
            nanosleep(&ts, nullptr);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[2];
    std::vector<std::string> lines;
    char* line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, stdin)) > 0) lines.emplace_back(line, static_cast<size_t>(n));
    std::free(line);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 1;

    const double start = now();
    size_t sent = 0;
    auto sendOne = [&](const std::string& s) {
        if (send(fd, s.data(), s.size(), 0) == static_cast<ssize_t>(s.size())) ++sent;
    };
    if (mode == "steady" && argc > 3) {
        const double rate = std::atof(argv[3]);
        for (size_t i = 0; i < lines.size(); ++i) {
            waitUntil(start + static_cast<double>(i) / rate);
            sendOne(lines[i]);
        }
    } else if (mode == "bursts" && argc > 4) {
        const size_t burst = std::strtoul(argv[3], nullptr, 10);
        const double pause = std::atof(argv[4]) / 1000.0;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i > 0 && i % burst == 0) waitUntil(now() + pause);
            sendOne(lines[i]);
        }
    } else if (mode == "flood") {
        for (const auto& s : lines) sendOne(s);
    } else {
        return 2;
    }
    const double took = now() - start;
    std::printf("%zu %.0f\n", sent, took > 0 ? static_cast<double>(sent) / took : 0.0);
    close(fd);
    return 0;
}
