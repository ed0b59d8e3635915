#pragma once
// A pseudo-terminal that stands in for a serial device, and a bounded wait
// until the program under test holds it open.

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty() {
        char n[128];
        if (openpty(&master, &slave, n, nullptr, nullptr) == 0) name = n;
        // The program must not inherit the device's other end.
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    ~Pty() { Close(); }
    void Close() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
        master = slave = -1;
    }
    void Write(const std::string& s) const {
        if (write(master, s.data(), s.size()) != static_cast<ssize_t>(s.size())) ADD_FAILURE();
    }
};

// True once process `pid` holds `device` open (bounded wait), plus a little
// time for it to finish setting the line up, which flushes pending input.
inline bool WaitUntilOpened(pid_t pid, const std::string& device, int maxMs = 8000) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (int waited = 0; waited < maxMs; waited += 20) {
        if (DIR* d = opendir(fds.c_str())) {
            bool found = false;
            while (dirent* e = readdir(d)) {
                char target[256];
                const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
                if (n > 0 && std::string(target, static_cast<size_t>(n)) == device) found = true;
            }
            closedir(d);
            if (found) {
                usleep(200000);
                return true;
            }
        }
        usleep(20000);
    }
    return false;
}
