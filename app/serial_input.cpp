#include "app/serial_input.h"

#include "app/fatal.h"
#include "app/intake.h"
#include "app/options.h"
#include "app/pipeline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
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
    const HeldMessages held;
    lines_.Feed(block, length, SentenceRule());
}

void SerialAccumulator::Finish() { lines_.Finish(SentenceRule()); }

namespace {

bool stopped(const SerialTiming& t) { return t.stop && t.stop->load(); }

// Sleeps `seconds`, waking early when the loop is asked to stop; a test's
// own wait stands in for the sleep.
void pause(unsigned seconds, const SerialTiming& t) {
    if (t.wait) {
        t.wait(seconds);
        return;
    }
    for (unsigned i = 0; i < seconds * 10 && !stopped(t); ++i) usleep(100000);
}

struct OpenedDevice {
    int fd = -1;                 // -1: asked to stop
    bool characterDevice = false;
};

// Opens the device; a character device is set up raw. Retries every
// reopenWaitSeconds until it opens, and while `characterOnly` also while
// what opens is not a character device.
OpenedDevice openDevice(const char* device, unsigned speed, bool characterOnly, const SerialTiming& t) {
    for (;;) {
        if (stopped(t)) return OpenedDevice();
        const int fd = open(device, O_RDWR | O_NOCTTY);
        if (fd >= 0) {
            struct stat st;
            const bool character = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
            if (!character && !characterOnly) return OpenedDevice{fd, false};
            if (character) {
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
                return OpenedDevice{fd, true};
            }
            close(fd);  // read once already: no message, no second reading
        } else {
            std::perror(device);
        }
        pause(t.reopenWaitSeconds, t);
    }
}

// Waits (bounded, so that a stop request is seen) until `fd` is readable.
// 1 readable, 0 not yet, -1 failed.
int waitReadable(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, 1000);
    if (ready < 0 && errno == EINTR) return 0;
    return ready;
}

// A path that is not a character device: everything in it, once.
void readToEnd(int fd, SerialAccumulator& acc, char* block, const SerialTiming& t) {
    while (!stopped(t)) {
        const int ready = waitReadable(fd);
        if (ready == 0) continue;
        if (ready < 0) break;
        const ssize_t got = read(fd, block, kSerialBlock);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;
        acc.Feed(block, static_cast<size_t>(got));
    }
    if (!stopped(t)) acc.Finish();
}

}  // namespace

void doSerial(const char* device, unsigned baud, const SerialTiming& timing) {
    unsigned speed = 0;
    if (!BaudToSpeed(baud, speed)) {
        std::fputs("Invalid baud rate!\n", stderr);
        FatalExit();
    }
    SerialAccumulator acc;
    char block[kSerialBlock];
    bool readOnce = false;  // a path that is not a character device was read
    while (!stopped(timing)) {
        const OpenedDevice dev = openDevice(device, speed, readOnce, timing);
        if (dev.fd < 0) return;
        if (!dev.characterDevice) {
            // Reopening it would replay it: read it once, then wait as for
            // a device that cannot be opened until a real one stands there.
            readToEnd(dev.fd, acc, block, timing);
            close(dev.fd);
            readOnce = true;
            if (stopped(timing)) return;
            std::fprintf(stderr, "Serial device %s is not a character device, read once\n", device);
            pause(timing.reopenWaitSeconds, timing);
            continue;
        }
        const int fd = dev.fd;
        unsigned emptyReads = 0;
        bool delivered = false;  // this opening gave at least one byte
        while (!stopped(timing)) {
            const int ready = waitReadable(fd);
            if (ready == 0) continue;  // quiet line: not a lost device
            if (ready < 0) {
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
