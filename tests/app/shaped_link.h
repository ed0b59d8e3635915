#pragma once
// A slow link for one test: the test runs again in a child process inside a
// private network namespace, whose loopback the test then shapes with `tc`
// (a rate, or a class that holds a port's traffic), so that the kernel
// refuses datagrams for a full send buffer as it does behind a slow link.
// Nothing outside the namespace is touched.
//
//   TEST(Suite, Name) {
//       SHAPED_LINK();                        // from here on in the child
//       UdpReceiver fast, slow;
//       ASSERT_TRUE(shapedlink::Tc("qdisc add dev lo root tbf rate 10mbit burst 32kb limit 20mb"));
//       ...
//   }
//
// Where namespaces or `tc` are refused, the test is skipped with the reason.

#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace shapedlink {

const char* const kChildVariable = "AISB_SHAPED_LINK_CHILD";
const int kSkipStatus = 77;

inline bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// Child: into a network namespace of its own, loopback up.
inline void EnterNamespace() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWNET) != 0) {
        // Not privileged: a user namespace of our own makes us root in it.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            fprintf(stderr, "shaped link: unshare: %s\n", strerror(errno));
            _exit(kSkipStatus);
        }
        WriteText("/proc/self/setgroups", "deny");
        WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s == -1 || ioctl(s, SIOCGIFFLAGS, &ifr) != 0) _exit(kSkipStatus);
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) _exit(kSkipStatus);
    close(s);
}

// Child: one `tc` command on the namespace's loopback; a refusal (no tc, a
// qdisc this kernel lacks) skips the test.
inline bool Tc(const std::string& arguments) {
    const std::string command = "tc " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    fprintf(stderr, "shaped link: refused: %s\n", command.c_str());
    fflush(stderr);
    _exit(kSkipStatus);
}

enum class Role { kChild, kParentDone, kSkipped };

// Parent: runs this test alone in a child and waits for it, with a bound.
inline Role RunChild() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    const std::string filter = "--gtest_filter=" + name;
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(kChildVariable, "1", 1);
        execl("/proc/self/exe", "app_tests", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid == -1) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        return Role::kParentDone;
    }
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(120)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the test's child did not end within 120 s";
            return Role::kParentDone;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSkipStatus) return Role::kSkipped;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the test failed behind its shaped link (status " << status << "; its output is above)";
    return Role::kParentDone;
}

inline Role Enter() {
    if (getenv(kChildVariable) == nullptr) return RunChild();
    EnterNamespace();
    return Role::kChild;
}

}  // namespace shapedlink

#define SHAPED_LINK()                                                                      \
    do {                                                                                   \
        const ::shapedlink::Role role_ = ::shapedlink::Enter();                            \
        if (role_ == ::shapedlink::Role::kSkipped)                                         \
            GTEST_SKIP() << "no private network namespace with tc here (see the output)";  \
        if (role_ == ::shapedlink::Role::kParentDone) return;                              \
    } while (0)
