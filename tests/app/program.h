#pragma once
// Runs the real aisbrinecast binary: feeds standard input, collects standard
// output and error and the exit status, and kills it when it overruns a
// time bound, so a test never hangs and leaves nothing running.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

// How many times `what` stands in `text`.
inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
}

struct ProgramResult {
    int status = -1;     // exit status; -1 when killed or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProgramOptions {
    std::string input;             // written to standard input, then closed
    double timeoutSeconds = 30;
    std::string workDir;           // empty: inherit
    std::string argv0;             // empty: the binary's path
    bool keepStdinOpen = false;    // stdin stays open until `closeAfterSeconds`
    double closeAfterSeconds = 0;
    double closeOutputsAfterSeconds = 0;  // > 0: the readers of stdout and stderr go away then
    std::vector<std::pair<std::string, std::string>> env;  // set in the child
    std::function<void(pid_t)> started;                     // called with the child's pid
};

inline ProgramResult RunProgram(const std::vector<std::string>& args, const ProgramOptions& opt = {}) {
    ProgramResult r;
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        signal(SIGPIPE, SIG_DFL);  // as from a shell: the test process ignores it
        for (int fd = 3; fd < 1024; ++fd) close(fd);  // nothing of the test leaks in
        if (!opt.workDir.empty() && chdir(opt.workDir.c_str()) != 0) _exit(127);
        for (const auto& e : opt.env) setenv(e.first.c_str(), e.second.c_str(), 1);
        std::vector<std::string> all;
        all.push_back(opt.argv0.empty() ? AISBRINECAST_BIN : opt.argv0);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : all) cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        execv(AISBRINECAST_BIN, cargv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (opt.started) opt.started(pid);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    int inFd = in[1];
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    if (opt.input.empty() && !opt.keepStdinOpen) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        if (elapsed() > opt.timeoutSeconds) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        if (opt.closeOutputsAfterSeconds > 0 && elapsed() >= opt.closeOutputsAfterSeconds) {
            outOpen = errOpen = false;
            break;
        }
        if (inFd >= 0 && written == opt.input.size() &&
            (!opt.keepStdinOpen || elapsed() >= opt.closeAfterSeconds)) {
            close(inFd);
            inFd = -1;
        }
        pollfd fds[3];
        int n = 0;
        if (outOpen) fds[n++] = {out[0], POLLIN, 0};
        if (errOpen) fds[n++] = {err[0], POLLIN, 0};
        if (inFd >= 0 && written < opt.input.size()) fds[n++] = {inFd, POLLOUT, 0};
        if (poll(fds, n, 50) < 0) continue;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == inFd) {
                const ssize_t w = write(inFd, opt.input.data() + written, opt.input.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN) written = opt.input.size();
                continue;
            }
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            std::string& sink = fds[i].fd == out[0] ? r.out : r.err;
            if (got > 0) {
                sink.append(buf, static_cast<size_t>(got));
            } else {
                (fds[i].fd == out[0] ? outOpen : errOpen) = false;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    // Readers gone early: the program runs on until it ends or the bound.
    while (!r.timedOut && waitpid(pid, &status, WNOHANG) == 0) {
        if (inFd >= 0 && (!opt.keepStdinOpen || elapsed() >= opt.closeAfterSeconds)) {
            close(inFd);
            inFd = -1;
        }
        if (elapsed() > opt.timeoutSeconds) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        usleep(10000);
    }
    if (inFd >= 0) close(inFd);
    if (r.timedOut) waitpid(pid, &status, 0);
    if (!r.timedOut && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    return r;
}
