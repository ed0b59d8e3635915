// Serial input: the accumulator rule, and the real binary reading a
// pseudo-terminal that stands in for the device.
#include "app/serial_input.h"
#include "app_fixture.h"
#include "program.h"
#include "pseudo_terminal.h"
#include "temp_dir.h"
#include "udp_receiver.h"

#include <pty.h>
#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <chrono>

#include <thread>

namespace {

class SerialAccumulatorTest : public CoreTest {};

TEST_F(SerialAccumulatorTest, CutsBlocksIntoLines) {
    const std::string a = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string b = "$HEHDT,123.4,T*2B";
    const std::string longPartial(1990, 'x');
    const struct {
        const char* name;
        std::vector<std::string> blocks;
        std::vector<std::string> lines;
        size_t pending;
    } cases[] = {
        {"two sentences", {a + "\r\n" + b + "\r\n"}, {a, b}, 0},
        {"empty lines skipped", {"\r\n\r\n" + a + "\n\t\n" + b + "\r"}, {a, b}, 0},
        {"split over reads", {a.substr(0, 10), a.substr(10) + "\r", "\n"}, {a}, 0},
        {"a NUL cuts like a TAB", {a + "\r\n" + std::string(1, '\0') + b + "\r\n"}, {a, b}, 0},
        {"partial waits", {a + "\r\n" + b.substr(0, 5)}, {a}, 5},
        // A full block costs no sentence, and a long piece still waits for
        // its end, however many blocks it takes.
        {"long pieces wait for their end", {longPartial, "yy\r\n" + a + "\r\n" + std::string(2001, 'z')},
         {longPartial + "yy", a}, 2001},
        {"2000 characters still wait", {std::string(2000, 'q')}, {}, 2000},
    };
    params.debug = true;
    for (const auto& c : cases) {
        SerialAccumulator acc;
        testing::internal::CaptureStderr();
        for (const auto& blk : c.blocks) acc.Feed(blk.data(), blk.size());
        const std::string err = testing::internal::GetCapturedStderr();
        std::string expected;
        for (const auto& l : c.lines)
            expected += (l == a || l == b ? "non VDM OK " : "CRC failed ") + l + "\n";
        EXPECT_EQ(err, expected) << c.name;
        EXPECT_EQ(acc.Pending(), c.pending) << c.name;
    }
}

class SerialLoop : public CoreTest {};

TEST_F(SerialLoop, PathThatIsNotACharacterDeviceIsReadOnce) {
    const std::string a = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string vdm = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
    const std::string b = "$HEHDT,123.4,T*2B";
    const std::string once = "non VDM OK " + a + "\n" + OkLine(1, {vdm}) + "non VDM OK " + b + "\n";
    TempDir dir;
    const std::string file = dir.File("recording.nmea");
    {
        std::ofstream f(file, std::ios::binary);
        f << a << "\r\n" << vdm << "\r\n" << b;  // the last line has no line end
    }
    const std::string link = dir.File("ttyAIS");
    const std::string readOnce = "Serial device " + link + " is not a character device, read once\n";
    const std::string gone = link + ": " + std::strerror(ENOENT) + "\n";  // each failed open
    const struct {
        const char* name;
        std::function<void(size_t)> atWait;  // called at the n-th wait, from 1
        size_t stopAtWait;
        std::string err;
    } cases[] = {
        {"the file stays", [](size_t) {}, 3, once + readOnce},
        {"a device appears under the name",
         [&](size_t n) {
             if (n != 1) return;
             unlink(link.c_str());
             if (symlink("/dev/null", link.c_str()) != 0) ADD_FAILURE();
         },
         2, once + readOnce + "Serial device " + link + " lost, reopening\n"},
        {"the file goes away", [&](size_t n) { if (n == 1) unlink(link.c_str()); }, 3,
         once + readOnce + gone + gone},
    };
    params.debug = true;
    for (const auto& c : cases) {
        ResetPipeline();
        FakeNow() += 100;
        unlink(link.c_str());
        ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
        std::atomic<bool> stop{false};
        std::vector<unsigned> waits;
        SerialTiming timing;
        timing.stop = &stop;
        timing.wait = [&](unsigned seconds) {
            waits.push_back(seconds);
            c.atWait(waits.size());
            if (waits.size() == c.stopAtWait) stop = true;
        };
        testing::internal::CaptureStderr();
        doSerial(link.c_str(), 4800, timing);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
        EXPECT_EQ(waits, std::vector<unsigned>(c.stopAtWait, 60)) << c.name;
    }
}

TEST(SerialProgram, InvalidBaudRateBeforeAnyOpen) {
    const ProgramResult r = RunProgram({"-r", "-d", "/nonexistent/tty", "-s", "14400", "-H", "127.0.0.1:9"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Invalid baud rate!\n");
}

TEST(SerialProgram, SentenceIsForwardedAtItsLineEnd) {
    // A UART hands bytes on one by one: at 4800 baud one every 2.08 ms. The
    // last sentence before a silence must not wait for the next one.
    UdpReceiver rx;
    Pty pty;
    ASSERT_FALSE(pty.name.empty());
    const std::vector<std::string> sentences = {"!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74",
                                                "$GPZDA,092751.00,10,12,2026,00,00*6A"};
    std::vector<double> delays;  // line end to datagram, in ms
    std::vector<std::string> got;
    std::thread feeder;
    ProgramOptions o;
    o.keepStdinOpen = true;
    o.timeoutSeconds = 15;
    o.started = [&](pid_t pid) {
        feeder = std::thread([&, pid] {
            if (WaitUntilOpened(pid, pty.name)) {
                for (const auto& s : sentences) {
                    for (char ch : s + "\r\n") {
                        pty.Write(std::string(1, ch));
                        usleep(2083);
                    }
                    const auto lineEnd = std::chrono::steady_clock::now();
                    const auto one = rx.Expect(1, 2000);
                    delays.push_back(std::chrono::duration<double, std::milli>(
                                         std::chrono::steady_clock::now() - lineEnd).count());
                    got.insert(got.end(), one.begin(), one.end());
                    usleep(300000);  // silence before the next sentence
                }
            }
            kill(pid, SIGTERM);
        });
    };
    RunProgram({"-r", "-d", pty.name, "-s", "4800", "-H", rx.address()}, o);
    feeder.join();
    EXPECT_EQ(got, (std::vector<std::string>{sentences[0] + "\r\n", sentences[1] + "\r\n"}));
    for (double d : delays) EXPECT_LT(d, 100.0) << "ms from the line end to the datagram";
}

TEST(SerialProgram, ReadsTheDeviceAndReopensItWhenItComesBack) {
    TempDir dir;
    UdpReceiver rx;
    auto first = std::make_unique<Pty>();
    auto second = std::make_unique<Pty>();
    ASSERT_FALSE(first->name.empty());
    ASSERT_FALSE(second->name.empty());
    const std::string link = dir.File("ttyAIS");
    ASSERT_EQ(symlink(first->name.c_str(), link.c_str()), 0);

    const std::string s1 = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
    const std::string s2 = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    const std::string s3 = "!AIVDM,1,1,,B,178D3T@02o0o4lNGDI@GQV1D0@I5,0*6F";
    std::thread feeder;
    std::atomic<bool> fed{false};
    ProgramOptions o;
    o.keepStdinOpen = true;
    o.timeoutSeconds = 20;
    o.started = [&](pid_t pid) {
        feeder = std::thread([&, pid] {
            if (!WaitUntilOpened(pid, first->name)) return;
            first->Write(s1.substr(0, 20));  // a sentence split over two reads
            usleep(100000);
            first->Write(s1.substr(20) + "\r\n" + s2 + "\r\n");
            usleep(300000);
            // A new device appears under the same name, then the old one goes away.
            unlink(link.c_str());
            if (symlink(second->name.c_str(), link.c_str()) != 0) return;
            first->Close();
            if (!WaitUntilOpened(pid, second->name)) return;
            second->Write(s3 + "\r\n");
            usleep(500000);
            fed = true;
            kill(pid, SIGTERM);  // the serial mode runs until killed
        });
    };
    const ProgramResult r = RunProgram({"-r", "-d", link, "-s", "38400", "-H", rx.address(), "-G"}, o);
    feeder.join();
    EXPECT_TRUE(fed) << r.err;
    EXPECT_NE(r.err.find("Start in serial mode\n"), std::string::npos);
    EXPECT_NE(r.err.find("Serial device " + link + " lost, reopening\n"), std::string::npos) << r.err;
    const auto got = rx.Drain();
    EXPECT_EQ(got, (std::vector<std::string>{s1 + "\r\n", s2 + "\r\n", s3 + "\r\n"}));
}

}  // namespace
