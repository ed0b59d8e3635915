#include "app/intake.h"

#include "ais/nmea_checks.h"
#include "app/options.h"
#include "app/pipeline.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The intake's state, main thread only; nothing outside this file reaches it.
struct IntakeState {
    std::string UdpData;  // the gathered text of the message in progress
    int UPNumOld = 0;     // last fragment number accepted; 0 = nothing pending
    int UPCountOld = 1;   // fragment count of the pending message
    std::string UPIdOld;  // sequential message identifier of the pending message
    std::string single;   // a one-sentence message's text, reused
    std::string work;     // the line being routed, reused: no allocation per line
};
IntakeState state;

void reset() {
    state.UdpData.clear();
    state.UPNumOld = 0;
    state.UPCountOld = 1;
    state.UPIdOld.clear();
}

// The sequential message identifier: the field after the fragment number.
std::string sequenceId(const char* line) {
    const char* start = line + 11;
    const char* end = std::strchr(start, ',');
    return end ? std::string(start, end) : std::string();
}

}  // namespace

void ResetGathering() { reset(); }

void sendMessage(char* line) {
    const int c = line[7] - '0';
    const int n = line[9] - '0';

    // A count of 0, a number of 0 or past the count: this sentence alone is
    // dropped, whatever is pending stays.
    if (c == 0 || n == 0 || n > c) return;

    if (c == 1) {
        // A whole message in one sentence; a pending one is left untouched.
        state.single.assign(line).append("\r\n");
        ProcessMessage(&state.single[0]);
        return;
    }

    const std::string id = sequenceId(line);
    if (n == 1) {
        // A fragment 1 always starts a new message.
        state.UdpData.assign(line).append("\r\n");
        state.UPNumOld = 1;
        state.UPCountOld = c;
        state.UPIdOld = id;
        return;
    }

    // n > 1 belongs only to the pending message of the same count and id;
    // a sentence of another message is dropped alone.
    if (state.UPNumOld == 0 || c != state.UPCountOld || id != state.UPIdOld) return;
    if (n != state.UPNumOld + 1) {
        reset();  // a gap or a repeat: the pending message is lost
        return;
    }
    state.UdpData += line;
    state.UdpData += "\r\n";
    if (n == c) {
        std::string text;
        text.swap(state.UdpData);
        reset();
        ProcessMessage(&text[0]);
    } else {
        state.UPNumOld = n;
    }
}

void processLine(const char* line) {
    if (checkCRC(line) != kCrcValid) {
        if (params.debug) std::fprintf(stderr, "%-10s %s\n", "CRC failed", line);
        return;
    }
    std::string& work = state.work;
    if (checkVDM(line)) {
        work.assign(line);
        sendMessage(&work[0]);
        return;
    }
    work.assign(line).append("\r\n");
    sendNoneVDM(&work[0]);
    if (params.debug) {
        std::fprintf(stderr, "%-10s %s\n", "non VDM OK", line);
    } else if (params.dump) {
        std::puts(line);
    }
    if (params.debug || params.dump) std::fflush(stdout);
}

void ReadStandardInput(int fd) {
    std::vector<char> buf(1 << 16);
    std::string line;
    bool overlong = false;  // the current line passed kMaxInputLine: drop it whole
    auto finish = [&]() {
        if (!overlong) {
            // trim() in place, without a copy per line.
            static const char kBlanks[] = " \f\n\r\t";
            const size_t first = line.find_first_not_of(kBlanks);
            if (first == std::string::npos) {
                processLine("");
            } else {
                line.resize(line.find_last_not_of(kBlanks) + 1);
                processLine(line.c_str() + first);
            }
        }
        line.clear();
        overlong = false;
    };
    // A CR LF or LF CR pair is one line end: after the first half, the
    // other half (maybe in the next read) is skipped once.
    char pairHalf = 0;
    for (;;) {
        const ssize_t got = read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const char* p = buf.data();
        const char* end = p + got;
        while (p < end) {
            if (pairHalf != 0) {
                const bool skip = *p == pairHalf;
                pairHalf = 0;
                if (skip && ++p == end) break;
            }
            // Lines end at CR as well as LF, so that every sentence meets
            // the checksum test on its own.
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
            const char* stop = nl ? nl : end;
            if (const void* cr = std::memchr(p, '\r', stop - p)) stop = static_cast<const char*>(cr);
            if (!overlong) {
                if (line.size() + (stop - p) > kMaxInputLine) {
                    overlong = true;
                    line.clear();
                } else {
                    line.append(p, stop);
                }
            }
            if (stop == end) break;
            pairHalf = *stop == '\r' ? '\n' : '\r';
            finish();
            p = stop + 1;
        }
    }
    if (!line.empty() || overlong) finish();
}
