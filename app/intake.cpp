#include "app/intake.h"

#include "ais/nmea_checks.h"
#include "app/line_splitter.h"
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
    std::string complete; // a completed message's text, reused
    std::string work;     // a non-VDM line with "\r\n", reused: no allocation per line
};
IntakeState state;

void reset() {
    state.UdpData.clear();
    state.UPNumOld = 0;
    state.UPCountOld = 1;
    state.UPIdOld.clear();
}

// The sequential message identifier: the field after the fragment number.
// The sentence's shape puts a comma before its end.
std::string sequenceId(const char* line, size_t n) {
    const char* start = line + 11;
    const void* end = std::memchr(start, ',', n - 11);
    return end ? std::string(start, static_cast<const char*>(end)) : std::string();
}

// sendMessage on a sentence of n bytes.
void gather(const char* line, size_t n) {
    const int c = line[7] - '0';
    const int num = line[9] - '0';

    // A count of 0, a number of 0 or past the count: this sentence alone is
    // dropped, whatever is pending stays.
    if (c == 0 || num == 0 || num > c) return;

    if (c == 1) {
        // A whole message in one sentence; a pending one is left untouched.
        ProcessSentence(line, n);
        return;
    }

    const std::string id = sequenceId(line, n);
    if (num == 1) {
        // A fragment 1 always starts a new message.
        state.UdpData.assign(line, n).append("\r\n", 2);
        state.UPNumOld = 1;
        state.UPCountOld = c;
        state.UPIdOld = id;
        return;
    }

    // num > 1 belongs only to the pending message of the same count and id;
    // a sentence of another message is dropped alone.
    if (state.UPNumOld == 0 || c != state.UPCountOld || id != state.UPIdOld) return;
    if (num != state.UPNumOld + 1) {
        reset();  // a gap or a repeat: the pending message is lost
        return;
    }
    state.UdpData.append(line, n).append("\r\n", 2);
    if (num == c) {
        state.complete.swap(state.UdpData);
        reset();
        ProcessMessage(&state.complete[0]);
    } else {
        state.UPNumOld = num;
    }
}

// One sentence: the checksum, then the gathering or the forwarding.
void processSentence(const char* line, size_t n) {
    const int length = static_cast<int>(n);
    if (checkCRC(line, n) != kCrcValid) {
        if (params.debug) std::fprintf(stderr, "%-10s %.*s\n", "CRC failed", length, line);
        return;
    }
    if (checkVDM(line, n)) {
        gather(line, n);
        return;
    }
    std::string& work = state.work;
    work.assign(line, n).append("\r\n", 2);
    sendNoneVDM(&work[0]);
    if (params.debug) {
        std::fprintf(stderr, "%-10s %.*s\n", "non VDM OK", length, line);
    } else if (params.dump) {
        std::fwrite(line, 1, n, stdout);
        std::fputc('\n', stdout);
    }
    if (params.debug || params.dump) std::fflush(stdout);
}

}  // namespace

void ResetGathering() { reset(); }

void sendMessage(char* line) { gather(line, std::strlen(line)); }

void SentenceRule::Sentence(const char* s, size_t n) const { processSentence(s, n); }

void SentenceRule::TooLong(size_t n) const {
    if (params.debug) std::fprintf(stderr, "%-10s %zu characters\n", "too long", n);
}

void processLine(const char* line) { processLine(line, std::strlen(line)); }

void processLine(const char* line, size_t n) { CutLine(line, n, SentenceRule()); }

void ReadStandardInput(int fd) {
    // Lines are cut where they lie in the buffer; only a piece cut by the
    // end of a read is copied.
    std::vector<char> buf(1 << 16);
    LineSplitter lines;
    for (;;) {
        const ssize_t got = read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const HeldMessages held;  // one read's messages may wait for each other, not for the next read
        lines.Feed(buf.data(), static_cast<size_t>(got), SentenceRule());
    }
    lines.Finish(SentenceRule());
}
