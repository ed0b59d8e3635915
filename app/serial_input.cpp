#include "app/serial_input.h"

#include "app/fatal.h"
#include "app/intake.h"
#include "app/options.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool BaudToSpeed(unsigned baud, unsigned& speed) {
    static const struct { unsigned baud; speed_t speed; } kRates[] = {
        {110, B110},     {300, B300},     {1200, B1200},   {2400, B2400},
        {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200},
    };
    for (const auto& r : kRates) {
        if (r.baud == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

void SerialAccumulator::Feed(const char* block, size_t length) {
    const void* nul = std::memchr(block, '\0', length);
    if (nul) length = static_cast<const char*>(nul) - block;
    lines_.Feed(block, length, [](const char* line) { processLine(line); });
    if (lines_.Pending() > kSerialBlock) lines_.Clear();
}

namespace {

bool stopped(const SerialTiming& t) { return t.stop && t.stop->load(); }

// Sleeps `seconds`, waking early when the loop is asked to stop.
void pause(unsigned seconds, const SerialTiming& t) {
    for (unsigned i = 0; i < seconds * 10 && !stopped(t); ++i) usleep(100000);
}

// Opens the device raw; retries every reopenWaitSeconds until it opens.
int openDevice(const char* device, unsigned speed, const SerialTiming& t) {
    for (;;) {
        if (stopped(t)) return -1;
        const int fd = open(device, O_RDWR | O_NOCTTY);
        if (fd >= 0) {
            termios tio;
            tcgetattr(fd, &tio);
            std::memset(&tio, 0, sizeof tio);
            tio.c_cflag = speed | CS8 | CLOCAL | CREAD | PARODD;
            tio.c_cc[VEOF] = 4;
            // A read returns as soon as one byte is there: the loop waits
            // for readiness, and a sentence's last bytes never wait for more.
            tio.c_cc[VMIN] = 1;
            tio.c_cc[VTIME] = 0;
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
            tcflush(fd, TCIFLUSH);
            tcsetattr(fd, TCSANOW, &tio);
            return fd;
        }
        std::perror(device);
        pause(t.reopenWaitSeconds, t);
    }
}

}  // namespace

void doSerial(const char* device, unsigned baud, const SerialTiming& timing) {
    unsigned speed = 0;
    if (!BaudToSpeed(baud, speed)) {
        std::fputs("Invalid baud rate!\n", stderr);
        FatalExit();
    }
    SerialAccumulator acc;
    char block[kSerialBlock + 1];
    while (!stopped(timing)) {
        const int fd = openDevice(device, speed, timing);
        if (fd < 0) return;
        unsigned emptyReads = 0;
        bool delivered = false;  // this opening gave at least one byte
        while (!stopped(timing)) {
            // Wait with a bound so that a stop request is seen.
            pollfd pfd{fd, POLLIN, 0};
            const int ready = poll(&pfd, 1, 1000);
            if (ready == 0) continue;  // quiet line: not a lost device
            if (ready < 0) {
                if (errno == EINTR) continue;
                ++emptyReads;
            } else {
                const ssize_t got = read(fd, block, kSerialBlock);
                if (got > 0) {
                    emptyReads = 0;
                    delivered = true;
                    acc.Feed(block, static_cast<size_t>(got));
                    continue;
                }
                if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                ++emptyReads;
            }
            if (emptyReads >= timing.lostAfterReads) break;
            usleep(10000);  // readable yet empty: don't spin at full speed
        }
        close(fd);
        if (stopped(timing)) return;
        // The device went away (unplugged adapter): reopen it like at start.
        // One that gave nothing since it was opened waits the full retry
        // time first, so a dead device is not reopened every second.
        std::fprintf(stderr, "Serial device %s lost, reopening\n", device);
        pause(delivered ? 1 : timing.reopenWaitSeconds, timing);
    }
}
