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

namespace {

bool writeAll(int fd, const char* p, size_t left) {
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

ExportFile::ExportFile(const std::string& fileName)
    : target_(dir_name + "/" + fileName), temporary_(target_ + ".tmp.XXXXXX") {
    // A new name, created exclusively (O_EXCL): whatever someone planted in
    // the directory is neither followed nor overwritten, and writers in
    // other processes never share the temporary.
    fd_ = mkostemp(&temporary_[0], O_CLOEXEC);
    if (fd_ < 0) {
        ExportReport("Can't open file %s for writing!\n", target_.c_str());
        return;
    }
    signalHeld_.reset(new FileSizeSignalHeld);
    // mkostemp creates 0600; the export is for others to read.
    failed_ = fchmod(fd_, 0644) != 0;
}

ExportFile::~ExportFile() {
    if (fd_ >= 0) close(fd_);
    if (Created() && !committed_) unlink(temporary_.c_str());
}

bool ExportFile::Write(const char* data, size_t size) {
    if (!failed_ && !writeAll(fd_, data, size)) failed_ = true;
    return !failed_;
}

bool ExportFile::Commit(bool written) {
    if (fd_ < 0) return false;
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    committed_ = true;  // the temporary is dealt with here
    if (!written || failed_ || !closed) {
        ExportReport("Can't write file %s\n", target_.c_str());
        unlink(temporary_.c_str());
        return false;
    }
    // The rename fails, for one, when a directory holds the target's name.
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ExportReport("Can't open file %s for writing!\n", target_.c_str());
        unlink(temporary_.c_str());
        return false;
    }
    return true;
}

bool WriteExportFile(const std::string& fileName, const std::string& bytes) {
    ExportFile file(fileName);
    if (!file.Created()) return false;
    file.Write(bytes.data(), bytes.size());
    return file.Commit();
}
