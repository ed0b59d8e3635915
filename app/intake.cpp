#include "app/intake.h"

#include "ais/byte_scan.h"
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

bool separator(char c) { return c == '\t' || c == '\r' || c == '\n'; }

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

bool blank(char c) { return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t'; }

// Trims the n bytes at p and hands them to processLine as a C string would
// read them (up to a NUL inside). p[n] must be writable.
void trimmedLine(char* p, size_t n) {
    size_t first = 0;
    while (first < n && blank(p[first])) ++first;
    if (first == n) return;
    size_t last = n;
    while (blank(p[last - 1])) --last;
    char* const line = p + first;
    size_t length = last - first;
    length = byte_scan::FindFirstOf<'\0'>(line, length);
    line[length] = '\0';
    processLine(line, length);
}

}  // namespace

void ResetGathering() { reset(); }

void sendMessage(char* line) { gather(line, std::strlen(line)); }

void processLine(const char* line) { processLine(line, std::strlen(line)); }

void processLine(const char* line, size_t n) {
    // A sentence starts only at "!" or "$", neither of which may stand
    // inside one, and holds no TAB, CR or LF: a line is cut before each
    // start after its first character and at each separator, so that a
    // lost line end or a recorder's time stamp never lets one sentence
    // pass on another's checksum. Empty pieces are no sentences.
    size_t start = 0;
    while (start < n) {
        if (separator(line[start])) {
            ++start;
            continue;
        }
        const size_t end =
            start + 1 + byte_scan::FindFirstOf<'\t', '\r', '\n', '!', '$'>(line + start + 1, n - start - 1);
        processSentence(line + start, end - start);
        start = end;
    }
}

void ReadStandardInput(int fd) {
    // A line cut by the end of a read is copied into `line`; every other
    // line is handled where it lies in the buffer.
    std::vector<char> buf(1 << 16);
    std::string line;
    bool overlong = false;  // the current line passed kMaxInputLine: drop it whole
    auto finish = [&]() {
        if (!overlong) trimmedLine(&line[0], line.size());
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
        const HeldMessages held;  // one read's messages may wait for each other, not for the next read
        char* p = buf.data();
        char* const end = p + got;
        while (p < end) {
            if (pairHalf != 0) {
                const bool skip = *p == pairHalf;
                pairHalf = 0;
                if (skip && ++p == end) break;
            }
            // Lines end at CR as well as LF, so that every sentence meets
            // the checksum test on its own.
            char* const stop = p + byte_scan::FindFirstOf<'\n', '\r'>(p, static_cast<size_t>(end - p));
            const size_t n = static_cast<size_t>(stop - p);
            if (stop == end) {
                if (!overlong) {
                    if (line.size() + n > kMaxInputLine) {
                        overlong = true;
                        line.clear();
                    } else {
                        line.append(p, stop);
                    }
                }
                break;
            }
            pairHalf = *stop == '\r' ? '\n' : '\r';
            if (line.empty() && !overlong) {
                // The line end is read already: the line may end in place.
                if (n <= kMaxInputLine) trimmedLine(p, n);
            } else {
                if (!overlong && line.size() + n > kMaxInputLine) overlong = true;
                if (!overlong) line.append(p, stop);
                finish();
            }
            p = stop + 1;
        }
    }
    if (!line.empty() || overlong) finish();
}
