#include "export/export_file.h"

#include "export/export_report.h"
#include "export/export_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A write past the file size limit (RLIMIT_FSIZE) must fail with EFBIG and
// end only this export; by default its SIGXFSZ would end the process. The
// signal is blocked in this thread for the write, and the one the write
// raised is taken off before the old mask returns.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld() {
        sigemptyset(&signal_);
        sigaddset(&signal_, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &signal_, &old_);
    }
    ~FileSizeSignalHeld() {
        if (!sigismember(&old_, SIGXFSZ)) {
            const timespec none{0, 0};
            while (sigtimedwait(&signal_, nullptr, &none) == SIGXFSZ) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
    FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

private:
    sigset_t signal_;
    sigset_t old_;
};

bool writeAll(int fd, const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool PrepareExportDirectory() {
    if (dir_name.empty()) dir_name = path + "kml_export";
    struct stat st {};
    if (stat(dir_name.c_str(), &st) != 0) {
        if (mkdir(dir_name.c_str(), 0777) != 0) {
            ExportReport("Can't create directory: %s\n", dir_name.c_str());
            return false;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        ExportReport("%s is not directory\n", dir_name.c_str());
        return false;
    }
    return true;
}

bool WriteExportFile(const std::string& fileName, const std::string& bytes) {
    const std::string target = dir_name + "/" + fileName;

    // A new name, created exclusively (O_EXCL): whatever someone planted in
    // the directory is neither followed nor overwritten, and writers in
    // other processes never share the temporary.
    std::string temporary = target + ".tmp.XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        ExportReport("Can't open file %s for writing!\n", target.c_str());
        return false;
    }
    // mkostemp creates 0600; the export is for others to read.
    bool written;
    {
        FileSizeSignalHeld held;
        written = fchmod(fd, 0644) == 0 && writeAll(fd, bytes);
    }
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        ExportReport("Can't write file %s\n", target.c_str());
        unlink(temporary.c_str());
        return false;
    }
    // The rename fails, for one, when a directory holds the target's name.
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        ExportReport("Can't open file %s for writing!\n", target.c_str());
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
