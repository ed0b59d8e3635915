#pragma once
// Runs one test again in a child process that enters namespaces of its own
// (network, and more where a test asks), so that it may change what the
// system looks like to it (loopback, /etc, traffic shaping) without
// touching the machine. The parent waits for the child, with a bound, and
// takes over its result; where namespaces are refused the child exits with
// kSkipStatus and the parent skips the test.

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

namespace nschild {

const int kSkipStatus = 77;

enum class Role { kChild, kParentDone, kSkipped };

inline bool WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// Child: unshares `flags` (CLONE_NEWNET and others), in a user namespace
// of its own (root in it) where the caller is not privileged; exits with
// kSkipStatus when even that is refused. `who` prefixes the message.
inline void Unshare(int flags, const char* who) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(flags) == 0) return;
    if (unshare(CLONE_NEWUSER | flags) != 0) {
        fprintf(stderr, "%s: unshare: %s\n", who, strerror(errno));
        _exit(kSkipStatus);
    }
    WriteText("/proc/self/setgroups", "deny");
    WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

// Child: a new network namespace may start with its loopback down.
inline void LoopbackUp() {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s == -1 || ioctl(s, SIOCGIFFLAGS, &ifr) != 0) _exit(kSkipStatus);
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) _exit(kSkipStatus);
    close(s);
}

// Parent: runs the current test alone in a child with `variable` set in
// its environment, and waits for it, with a bound.
inline Role RunChild(const char* variable) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    fflush(stdout);
    fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(variable, "1", 1);
        execl("/proc/self/exe", "tests", filter.c_str(), static_cast<char*>(nullptr));
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
        << "the test failed in its namespaces (status " << status << "; its output is above)";
    return Role::kParentDone;
}

}  // namespace nschild
