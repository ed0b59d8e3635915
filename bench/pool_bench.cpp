// Handler thread pool against one handler, side by side in one run: a
// listening socket on 127.0.0.1 takes CONNECTIONS loopback TCP connections
// that each send LINES NMEA lines and close; every server socket checks
// each line's checksum. Prints lines/s of each and the ratio; exits 1 when
// a line went missing.
//   pool_bench [connections=200] [lines=1000] [threads=4] [rounds=5]

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/ListenSocket.h"
#include "net/SocketHandler.h"
#include "net/TcpSocket.h"

namespace {

std::atomic<long> g_lines{0};
std::atomic<long> g_good{0};
std::atomic<int> g_closed{0};

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The work of a line in the forwarder's first step: its NMEA checksum.
bool ChecksumOk(const std::string& line) {
    size_t star = line.rfind('*');
    if (line.size() < 4 || line[0] != '!' || star == std::string::npos || star + 3 > line.size()) return false;
    unsigned x = 0;
    for (size_t i = 1; i < star; ++i) x ^= static_cast<unsigned char>(line[i]);
    int hi = Hex(line[star + 1]);
    int lo = Hex(line[star + 2]);
    return hi >= 0 && lo >= 0 && static_cast<unsigned>(hi * 16 + lo) == x;
}

class Counter : public TcpSocket {
public:
    explicit Counter(ISocketHandler& h) : TcpSocket(h) { SetLineProtocol(true); }
    void OnLine(const std::string& line) override {
        ++m_lines;
        if (ChecksumOk(line)) ++m_good;
    }
    void OnDelete() override {
        g_lines += m_lines;
        g_good += m_good;
        ++g_closed;
    }

private:
    long m_lines = 0;
    long m_good = 0;
};

std::string Sentence(int i) {
    char body[96];
    snprintf(body, sizeof body, "AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL%04d,0", i % 10000);
    unsigned x = 0;
    for (const char* p = body; *p; ++p) x ^= static_cast<unsigned char>(*p);
    char line[128];
    snprintf(line, sizeof line, "!%s*%02X\r\n", body, x);
    return line;
}

int Connect(unsigned short port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(s);
        return -1;
    }
    return s;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

struct Result {
    double seconds;
    long lines;
    long good;
};

// One measured run; `threads` 0 is one handler without pool.
Result Run(int connections, int lines, int threads, const std::string& payload) {
    g_lines = 0;
    g_good = 0;
    g_closed = 0;
    SocketHandler h;
    if (threads > 0) h.SetNumberOfThreads(static_cast<size_t>(threads));
    auto* listener = new ListenSocket<Counter>(h);
    listener->SetDeleteByHandler();
    if (listener->Bind("127.0.0.1", 0, 512) != 0) {
        delete listener;
        return {0, 0, 0};
    }
    const unsigned short port = listener->GetPort();
    h.Add(listener);
    h.Select(0, 0);

    // The clients connect, send and close before the loop runs: the kernel
    // holds the traffic (in the listen backlog and the socket buffers), so
    // that the time is the handlers' own. A client that finds the buffers
    // full waits, and the loop then runs beside it.
    const int kClientThreads = 4;
    std::atomic<int> sent{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < kClientThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = t; i < connections; i += kClientThreads) {
                int fd = Connect(port);
                if (fd != -1) WriteAll(fd, payload);
                if (fd != -1) close(fd);
                ++sent;
            }
        });
    }
    const auto wait = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (sent < connections && std::chrono::steady_clock::now() < wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto start = std::chrono::steady_clock::now();
    // The main loop accepts; with a pool the connections are served there.
    const auto limit = start + std::chrono::seconds(120);
    while (g_closed < connections && std::chrono::steady_clock::now() < limit) h.Select(0, 2000);
    const auto end = std::chrono::steady_clock::now();
    for (auto& c : clients) c.join();
    (void)lines;
    return {std::chrono::duration<double>(end - start).count(), g_lines.load(), g_good.load()};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int connections = argc > 1 ? std::atoi(argv[1]) : 200;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 4;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
    std::string payload;
    for (int i = 0; i < lines; ++i) payload += Sentence(i);
    const long expected = long(connections) * lines;

    std::vector<double> single;
    std::vector<double> pooled;
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        // Interleaved, so that the machine's load falls on both alike.
        for (int t : {0, threads}) {
            Result res = Run(connections, lines, t, payload);
            const bool all = res.lines == expected && res.good == expected;
            complete = complete && all;
            const double rate = res.seconds > 0 ? res.lines / res.seconds : 0;
            (t == 0 ? single : pooled).push_back(rate);
            printf("round %d  %-14s %8ld lines  %7.3f s  %10.0f lines/s%s\n", r + 1,
                   t == 0 ? "one handler" : (std::to_string(t) + " pool threads").c_str(), res.lines, res.seconds, rate,
                   all ? "" : "  LINES MISSING");
        }
    }
    const double s = Median(single);
    const double p = Median(pooled);
    printf("median: one handler %.0f lines/s, pool of %d %.0f lines/s, ratio %.2f\n", s, threads, p, s > 0 ? p / s : 0);
    printf("%ld connections x %d lines each: %s\n", long(connections), lines,
           complete ? "every line delivered" : "LINES MISSING");
    return complete ? 0 : 1;
}
