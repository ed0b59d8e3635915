// Preloaded into a change by bench/zip_cut_adds.sh: the CUT_WRITE-th write
// to a regular file puts down only its first CUT_KEEP bytes, then the
// process dies by SIGKILL, as a kill that lands inside a write the kernel
// throttles for dirty pages leaves it.
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    static long calls = 0;
    static const char* cut = std::getenv("CUT_WRITE");
    struct stat st;
    if (cut && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ++calls == std::atol(cut)) {
        const char* keep = std::getenv("CUT_KEEP");
        const size_t n = keep ? std::min<size_t>(std::strtoul(keep, nullptr, 10), count) : 0;
        if (n) real(fd, buffer, n);
        kill(getpid(), SIGKILL);
    }
    return real(fd, buffer, count);
}
