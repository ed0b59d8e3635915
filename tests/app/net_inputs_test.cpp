// The TCP client and UDP listener inputs of the real binary.
#include "ais_builder.h"
#include "app/net_inputs.h"
#include "program.h"
#include "tcp_server.h"
#include "udp_receiver.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

const std::string kS1 = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
const std::string kS2 = "$GPZDA,092751.00,10,12,2026,00,00*6A";
const std::string kS3 = "!AIVDM,1,1,,B,178D3T@02o0o4lNGDI@GQV1D0@I5,0*6F";

ProgramOptions RunFor(double seconds) {
    ProgramOptions o;
    o.keepStdinOpen = true;
    o.timeoutSeconds = seconds;  // the network modes run until killed
    return o;
}

std::vector<std::string> TcpArgs(int port, const UdpReceiver& rx, const std::string& x = "1",
                                 const std::string& y = "300") {
    return {"-t", "-h", "127.0.0.1", "-p", std::to_string(port), "-H", rx.address(), "-G",
            "-x", x, "-y", y};
}

TEST(TcpInput, SplitReadsAndEveryLineEnd) {
    UdpReceiver rx;
    TcpTestServer server([](int fd, int index) {
        if (index > 0) return;
        // A line end split across two writes, then LF CR, then a lone CR.
        TcpTestServer::SendAll(fd, kS1.substr(0, 9));
        usleep(100000);
        TcpTestServer::SendAll(fd, kS1.substr(9) + "\r");
        usleep(100000);
        TcpTestServer::SendAll(fd, "\n" + kS2 + "\n\r" + kS3 + "\r");
        usleep(3000000);
    });
    const ProgramResult r = RunProgram(TcpArgs(server.port(), rx), RunFor(3.5));
    EXPECT_NE(r.err.find("Connecting to 127.0.0.1:" + std::to_string(server.port()) + "\nConnected\n"),
              std::string::npos) << r.err;
    EXPECT_EQ(rx.Drain(), (std::vector<std::string>{kS1 + "\r\n", kS2 + "\r\n", kS3 + "\r\n"}));
}

TEST(TcpInput, ServerThatClosesIsReconnected) {
    UdpReceiver rx;
    TcpTestServer server([](int fd, int) { TcpTestServer::SendAll(fd, kS2 + "\r\n"); });
    const ProgramResult r = RunProgram(TcpArgs(server.port(), rx), RunFor(6.0));
    const std::string cycle = "Connection closed\nWaiting 1 seconds for reconnect\nConnecting to";
    EXPECT_NE(r.err.find(cycle), std::string::npos) << r.err;
    EXPECT_GE(server.accepted(), 2);
    EXPECT_GE(rx.Drain().size(), 2u);
}

TEST(TcpInput, SilentServerIsGivenUp) {
    UdpReceiver rx;
    TcpTestServer server([](int fd, int index) {
        (void)fd;
        if (index == 0) usleep(4000000);  // accepts and says nothing
    });
    const ProgramResult r = RunProgram(TcpArgs(server.port(), rx, "1", "1"), RunFor(7.0));
    const size_t gone = r.err.find("No data for 1 seconds. Disconnecting\n");
    ASSERT_NE(gone, std::string::npos) << r.err;
    const size_t wait = r.err.find("Waiting 1 seconds for reconnect\n", gone);
    ASSERT_NE(wait, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Connecting to", wait), std::string::npos) << r.err;
}

TEST(TcpInput, UnreachableServerIsTriedAfterEveryWait) {
    UdpReceiver rx;
    int port;
    {
        TcpTestServer gone([](int, int) {}, 1, false);
        port = gone.port();
    }  // nothing listens there any more
    const ProgramResult r = RunProgram(TcpArgs(port, rx), RunFor(7.0));
    size_t attempts = 0;
    for (size_t p = 0; (p = r.err.find("Connecting to", p)) != std::string::npos; ++p) ++attempts;
    EXPECT_GE(attempts, 2u) << r.err;
    EXPECT_NE(r.err.find("Connection failed\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Connected\n"), std::string::npos) << r.err;
}

size_t OpenDescriptors(pid_t pid) {
    size_t n = 0;
    if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

TEST(TcpInput, DescriptorsStayFlatOverReconnects) {
    UdpReceiver rx;
    TcpTestServer server([](int fd, int) { TcpTestServer::SendAll(fd, kS2 + "\r\n"); });
    std::vector<size_t> counts;
    std::thread sampler;
    ProgramOptions o = RunFor(9.0);
    o.started = [&](pid_t pid) {
        sampler = std::thread([pid, &counts] {
            for (int i = 0; i < 8; ++i) {
                usleep(1000000);
                counts.push_back(OpenDescriptors(pid));
            }
        });
    };
    const ProgramResult r = RunProgram(TcpArgs(server.port(), rx), o);
    sampler.join();
    EXPECT_GE(server.accepted(), 3) << r.err;
    ASSERT_EQ(counts.size(), 8u);
    // One input socket at most, connecting or connected: the count never climbs.
    const size_t low = *std::min_element(counts.begin(), counts.end());
    const size_t high = *std::max_element(counts.begin(), counts.end());
    EXPECT_LE(high, low + 1) << r.err;
}

TEST(UdpInput, DatagramsAreCutIntoSentences) {
    UdpReceiver rx;
    const int port = ClosedUdpPort();  // free: the program binds it
    std::thread sender([port] {
        if (!WaitUntilUdpPortTaken(port)) return;
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto send = [&](const std::string& s) {
            sendto(fd, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            usleep(50000);
        };
        send(kS1 + "\r\n" + kS2 + "\r\n" + kS3.substr(0, 20));  // ends mid-sentence
        send(kS3.substr(20) + "\r\n");
        send(std::string(5000, 'x'));                            // a piece too long, dropped whole
        send("yyy\r\n" + kS2 + std::string(1, '\0') + kS2.substr(0, 5));  // NUL cuts like TAB
        send(kS2.substr(5) + "\n");
        close(fd);
    });
    std::vector<std::string> args = {"-u", "-h", "127.0.0.1", "-p", std::to_string(port), "-H", rx.address(), "-G"};
    const ProgramResult r = RunProgram(args, RunFor(4.0));
    sender.join();
    EXPECT_EQ(r.err.find("Start in UDP mode\n"), 0u) << r.err;
    EXPECT_EQ(r.err.find("Start in UDP mode\n", 1), std::string::npos) << "printed once";
    EXPECT_NE(r.err.find("too long   5003 characters\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("xxxxx"), std::string::npos) << r.err;
    EXPECT_EQ(rx.Drain(), (std::vector<std::string>{kS1 + "\r\n", kS2 + "\r\n", kS3 + "\r\n", kS2 + "\r\n",
                                                    kS2 + "\r\n"}));
}

TEST(UdpInput, FloodIsForwardedWhole) {
    // 100,000 unique one-sentence messages, one per datagram, sent as fast as
    // the sender can: the program reads every queued datagram at each wake-up
    // and asks for a receive buffer that holds what it has not read yet.
    constexpr size_t kCount = 100000;
    {
        // The flood waits in the kernel; without the privilege to pass the
        // system's cap the buffer may be too small to hold it.
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int want = kUdpReceiveBuffer;
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) != 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof want);
        int granted = 0;
        socklen_t len = sizeof granted;
        getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len);
        close(fd);
        if (granted < 2 * want)
            GTEST_SKIP() << "the kernel grants a receive buffer of " << granted << " bytes only";
    }
    std::vector<std::string> sent;
    for (uint32_t i = 0; i < kCount; ++i) {
        ais_builder::BitWriter w;
        w.u(1, 6).u(0, 2).u(200000000 + i, 30).u(i, 32);
        w.resize(168);
        sent.push_back(ais_builder::sentences(w)[0] + "\r\n");
    }
    UdpReceiver rx;
    const int port = ClosedUdpPort();
    std::vector<std::string> got;
    std::thread sender;
    ProgramOptions o = RunFor(60);
    o.started = [&](pid_t pid) {
        sender = std::thread([&, pid] {
            if (WaitUntilUdpPortTaken(port)) {
                std::thread receiver([&] { got = rx.Drain(2000, 30000); });
                const UdpSender tx(port);
                for (const auto& d : sent) tx.Send(d);
                receiver.join();
            }
            kill(pid, SIGTERM);
        });
    };
    RunProgram({"-u", "-h", "127.0.0.1", "-p", std::to_string(port), "-H", rx.address()}, o);
    sender.join();
    EXPECT_EQ(got.size(), kCount);
    std::sort(got.begin(), got.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_TRUE(got == sent) << "datagrams lost or changed";
}

TEST(UdpInput, ForwardingOutlivesItsDiagnosticsReader) {
    // The reader of -G (standard error) or -g (standard output) goes away
    // while datagrams keep arriving: every one is still forwarded.
    for (const char* option : {"-G", "-g"}) {
        UdpReceiver rx;
        const int port = ClosedUdpPort();
        std::atomic<size_t> sent{0};
        std::thread sender([&] {
            if (!WaitUntilUdpPortTaken(port)) return;
            const UdpSender tx(port);
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
            while (std::chrono::steady_clock::now() < end) {
                if (tx.Send(kS2 + "\r\n")) ++sent;
                usleep(10000);
            }
        });
        ProgramOptions o = RunFor(3.0);
        o.closeOutputsAfterSeconds = 0.5;
        const ProgramResult r =
            RunProgram({"-u", "-h", "127.0.0.1", "-p", std::to_string(port), "-H", rx.address(), option}, o);
        sender.join();
        EXPECT_TRUE(r.timedOut) << option << ": the program ended, status " << r.status;
        EXPECT_GT(sent.load(), 50u) << option;
        EXPECT_EQ(rx.Drain().size(), sent.load()) << option;
    }
}

TEST(UdpInput, TakesTheNextFreePortAndFailsWhenNoneIs) {
    // Hold a run of 11 consecutive ports, found by trying bases upwards.
    std::vector<int> held;
    int base = 0;
    for (int attempt = 0; attempt < 50 && held.size() < 11; ++attempt) {
        for (int fd : held) close(fd);
        held.clear();
        base = 20000 + attempt * 211;
        for (int p = base; p <= base + 10; ++p) {
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(p));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                close(fd);
                break;
            }
            held.push_back(fd);
        }
    }
    ASSERT_EQ(held.size(), 11u);
    UdpReceiver rx;
    const std::vector<std::string> args = {"-u", "-h", "127.0.0.1", "-p", std::to_string(base), "-H", rx.address()};
    ProgramResult r = RunProgram(args, RunFor(3.0));
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("bind() failed for UdpSocket, port:range: " + std::to_string(base + 10) + ":10"),
              std::string::npos) << r.out;

    // Free the last port of the range: the program takes it.
    close(held.back());
    held.pop_back();
    std::thread sender([base] {
        if (!WaitUntilUdpPortTaken(base + 10)) return;
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(base + 10));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string s = kS1 + "\r\n";
        sendto(fd, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        close(fd);
    });
    r = RunProgram(args, RunFor(4.0));
    sender.join();
    for (int fd : held) close(fd);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(rx.Drain(), std::vector<std::string>{kS1 + "\r\n"});
}

}  // namespace

namespace {

TEST(TcpInput, ConnectThatNeverCompletesIsGivenUp) {
    // A listener that never accepts, its backlog filled by a first client: the
    // program's connect stays pending and is given up after two turns.
    UdpReceiver rx;
    TcpTestServer server([](int, int) {}, 0, false);
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(server.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(filler, reinterpret_cast<sockaddr*>(&to), sizeof to);
    usleep(200000);
    const ProgramResult r = RunProgram(TcpArgs(server.port(), rx), RunFor(7.0));
    close(filler);
    if (r.err.find("Connected\n") != std::string::npos) GTEST_SKIP() << "this kernel completed the connect";
    const size_t wait = r.err.find("Waiting 1 seconds for reconnect\n");
    ASSERT_NE(wait, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Connecting to", wait), std::string::npos) << r.err;
}

TEST(TcpInput, DefaultReconnectWaitIsTenSeconds) {
    UdpReceiver rx;
    TcpTestServer server([](int fd, int) { TcpTestServer::SendAll(fd, kS2 + "\r\n"); });
    const ProgramResult r = RunProgram({"-t", "-h", "127.0.0.1", "-p", std::to_string(server.port()), "-H",
                                        rx.address(), "-G"},
                                       RunFor(4.0));
    EXPECT_NE(r.err.find("Connection closed\nWaiting 10 seconds for reconnect\n"), std::string::npos) << r.err;
}

TEST(SerialProgram, DeadDeviceIsNotReopenedEverySecond) {
    // /dev/null opens but never gives a byte: lost once, then the long wait.
    const ProgramResult r =
        RunProgram({"-r", "-d", "/dev/null", "-s", "4800", "-H", "127.0.0.1:9"}, RunFor(3.0));
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(CountOf(r.err, "Serial device /dev/null lost, reopening\n"), 1u) << r.err;
}

}  // namespace
