#pragma once
// Shared fixtures of the socket library tests: a recording log sink, a
// settable clock, a socket over one end of a socketpair that records its
// events, and loopback helpers.

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/Socket.h"
#include "net/SocketHandler.h"
#include "net/StdLog.h"
#include "loopback.h"
#include "net/Utility.h"

namespace nettest {

struct LogEntry {
    Socket* socket;
    std::string label;
    int code;
    std::string text;
    loglevel_t level;
};

class RecordingLog : public StdLog {
public:
    void Report(ISocketHandler*, Socket* socket, const std::string& label, int code, const std::string& text,
                loglevel_t level) override {
        entries.push_back({socket, label, code, text, level});
    }
    // The first entry with that text (and label, when given), or null.
    const LogEntry* Find(const std::string& text, const std::string& label = "") const {
        for (const LogEntry& e : entries)
            if (e.text == text && (label.empty() || e.label == label)) return &e;
        return nullptr;
    }
    const LogEntry* FindLabel(const std::string& label) const {
        for (const LogEntry& e : entries)
            if (e.label == label) return &e;
        return nullptr;
    }
    int Count(const std::string& label) const {
        int n = 0;
        for (const LogEntry& e : entries)
            if (e.label == label) ++n;
        return n;
    }
    std::string Dump() const {
        std::string out;
        for (const LogEntry& e : entries)
            out += e.label + " | " + std::to_string(e.code) + " | " + e.text + " | " + std::to_string(e.level) + "\n";
        return out;
    }
    std::vector<LogEntry> entries;
};

// Installs a settable library clock for the life of the object.
class FakeClock {
public:
    explicit FakeClock(time_t start) {
        now = start;
        Utility::SetClock(&FakeClock::Read);
    }
    ~FakeClock() { Utility::SetClock(nullptr); }
    static time_t Read() { return now; }
    static inline time_t now = 0;
};

// A socket over a descriptor of the test's choice; every event goes to the
// shared trace as "<event> <name>".
class TraceSocket : public Socket {
public:
    TraceSocket(ISocketHandler& h, std::vector<std::string>& trace, const std::string& name, int fd = -1)
        : Socket(h), m_trace(trace), m_name(name) {
        Attach(fd);
    }
    ~TraceSocket() override { m_trace.push_back("freed " + m_name); }

    void OnOptions(int, int, int, int) override {}
    int Close() override {
        m_trace.push_back("close " + m_name);
        return Socket::Close();
    }
    void OnRead() override {
        char buf[256];
        if (GetSocket() != -1) (void)!read(GetSocket(), buf, sizeof buf);
        m_trace.push_back("read " + m_name);
        if (onRead) onRead();
    }
    void OnWrite() override { m_trace.push_back("write " + m_name); }
    void OnDelete() override {
        m_trace.push_back("delete " + m_name);
        if (onDelete) onDelete();
    }
    void OnConnect() override { m_trace.push_back("connect " + m_name); }
    void OnTimeout() override {
        m_trace.push_back("timeout " + m_name);
        if (onTimeout) onTimeout();
    }

    std::function<void()> onRead;
    std::function<void()> onDelete;
    std::function<void()> onTimeout;

private:
    std::vector<std::string>& m_trace;
    std::string m_name;
};

struct Pair {
    Pair() {
        int sv[2] = {-1, -1};
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            mine = sv[0];
            peer = sv[1];
        }
    }
    ~Pair() {
        if (peer != -1) close(peer);
    }
    // No SIGPIPE when the other end is gone: a test fails instead of dying.
    void Poke() const { (void)!send(peer, "x", 1, MSG_NOSIGNAL); }
    int mine = -1;  // handed to a socket, which closes it
    int peer = -1;
};

inline bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// Entries of a /proc directory, its own descriptor included for
// /proc/self/fd; -1 when it can't be read.
inline int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (d == nullptr) return -1;
    int n = 0;
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    return n;
}
inline int CountFds() { return CountEntries("/proc/self/fd"); }
// The process's threads, once a sanitizer's own helper thread (started with
// the first thread of the process) is there.
inline int CountThreads() {
    static const bool warm = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warm;
    return CountEntries("/proc/self/task");
}

inline unsigned long Loopback() { return htonl(INADDR_LOOPBACK); }

// A raw UDP descriptor bound to 127.0.0.1:port (0: any); -1 when refused.
inline int BindRaw(unsigned short port, unsigned short* bound = nullptr) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    const int got = loopback::Bind(s, port);
    if (got < 0) {
        close(s);
        return -1;
    }
    if (bound) *bound = static_cast<unsigned short>(got);
    return s;
}

}  // namespace nettest
