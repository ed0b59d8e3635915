#pragma once
// A private name service for one test: the test runs again in a child
// process (a fresh one, so that glibc has read no resolver configuration
// yet) inside private mount and network namespaces, with its own
// /etc/hosts (all the addresses of a name count), a resolv.conf naming
// 127.0.0.1, and a name server there that the test itself runs. No test
// ever reaches a real name service.
//
//   TEST(Suite, Name) {
//       PRIVATE_NAMES("10.1.2.3 known.test\n");
//       privatenames::NameServer dns;  // silent until Answer()
//       ...
//   }
//
// In the parent the macro runs the child, takes over its result and
// returns; where namespaces are not allowed the test is skipped.

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "namespace_child.h"

namespace privatenames {

using nschild::Role;
using nschild::kSkipStatus;
using nschild::WriteText;

const char* const kChildVariable = "AISB_PRIVATE_NAMES_CHILD";

// Child: into the namespaces, the files over /etc, loopback up. Exits
// with kSkipStatus when the system refuses namespaces.
inline void EnterNamespaces(const std::string& hosts) {
    nschild::Unshare(CLONE_NEWNS | CLONE_NEWNET, "private names");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fprintf(stderr, "private names: mount --make-rprivate /: %s\n", strerror(errno));
        _exit(kSkipStatus);
    }
    char dir[] = "/tmp/aisb-names-XXXXXX";
    if (mkdtemp(dir) == nullptr) _exit(kSkipStatus);
    struct File {
        const char* target;
        std::string text;
    };
    for (const File& f : {File{"/etc/hosts", hosts}, File{"/etc/resolv.conf", "nameserver 127.0.0.1\n"},
                          File{"/etc/nsswitch.conf", "hosts: files dns\n"},
                          File{"/etc/host.conf", "multi on\n"}}) {
        struct stat st;
        if (stat(f.target, &st) != 0) continue;  // glibc's default then
        const std::string source = std::string(dir) + "/" + strrchr(f.target, '/');
        if (!WriteText(source, f.text) || mount(source.c_str(), f.target, nullptr, MS_BIND, nullptr) != 0) {
            fprintf(stderr, "private names: bind %s: %s\n", f.target, strerror(errno));
            _exit(kSkipStatus);
        }
        unlink(source.c_str());  // the mount keeps it
    }
    rmdir(dir);
    nschild::LoopbackUp();
}

inline Role Enter(const std::string& hosts) {
    if (getenv(kChildVariable) == nullptr) return nschild::RunChild(kChildVariable);
    EnterNamespaces(hosts);
    return Role::kChild;
}

// A name server on 127.0.0.1:53 (UDP). Silent: it keeps every query
// unanswered; after Answer() it answers every held and later query with
// NXDOMAIN ("no such name").
class NameServer {
public:
    NameServer() {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(53);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            ADD_FAILURE() << "name server: bind 127.0.0.1:53: " << strerror(errno);
            return;
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~NameServer() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        close(m_fd);
    }
    NameServer(const NameServer&) = delete;
    NameServer& operator=(const NameServer&) = delete;

    void Answer() { m_answer = true; }
    int Queries() const { return m_queries; }

private:
    struct Query {
        std::string bytes;
        sockaddr_in from;
    };

    void Serve() {
        std::vector<Query> held;
        while (!m_stop) {
            if (m_answer) {
                for (const Query& q : held) Reply(q);
                held.clear();
            }
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 10) != 1) continue;
            char buf[512];
            Query q{};
            socklen_t len = sizeof q.from;
            ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&q.from), &len);
            if (n < 12) continue;
            q.bytes.assign(buf, static_cast<size_t>(n));
            ++m_queries;
            if (m_answer)
                Reply(q);
            else
                held.push_back(q);
        }
    }

    // The query's header and question, flagged as an NXDOMAIN response.
    void Reply(const Query& q) {
        std::string r = q.bytes;
        size_t at = 12;
        while (at < r.size() && r[at] != 0) at += 1 + static_cast<unsigned char>(r[at]);
        r.resize(std::min(r.size(), at + 5));
        r[2] = static_cast<char>(0x80 | (r[2] & 0x01));  // QR, RD as asked
        r[3] = static_cast<char>(0x80 | 3);              // RA, NXDOMAIN
        for (int i = 6; i < 12; ++i) r[i] = 0;           // no other records
        (void)!sendto(m_fd, r.data(), r.size(), 0, reinterpret_cast<const sockaddr*>(&q.from), sizeof q.from);
    }

    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_answer{false};
    std::atomic<int> m_queries{0};
};

}  // namespace privatenames

// Runs the rest of the test in a child with private names (see above).
#define PRIVATE_NAMES(hosts)                                                                  \
    switch (::privatenames::Enter(hosts)) {                                                   \
    case ::privatenames::Role::kParentDone:                                                   \
        return;                                                                               \
    case ::privatenames::Role::kSkipped:                                                      \
        GTEST_SKIP() << "private mount and network namespaces are not allowed here";          \
    case ::privatenames::Role::kChild:                                                        \
        break;                                                                                \
    }
