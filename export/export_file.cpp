#include "export/export_file.h"

#include "export/export_report.h"
#include "export/export_settings.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <vector>

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

// Set once the file system made a nameless file that could not be linked:
// every later export names its temporary from the start.
std::atomic<bool> namedOnly{false};

const char kSuffixCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffixLength = 6;  // as mkostemp's XXXXXX

std::string randomSuffix() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string suffix(kSuffixLength, ' ');
    for (char& c : suffix) c = kSuffixCharacters[random() % (sizeof kSuffixCharacters - 1)];
    return suffix;
}

bool isTemporaryName(const char* name) {
    for (const char* file : {kKmlExportName, kKmzExportName}) {
        const size_t n = std::strlen(file);
        if (std::strncmp(name, file, n) != 0 || std::strncmp(name + n, ".tmp.", 5) != 0) continue;
        const char* suffix = name + n + 5;
        if (std::strlen(suffix) != kSuffixLength) continue;
        if (std::strspn(suffix, kSuffixCharacters) == kSuffixLength) return true;
    }
    return false;
}

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

const std::string& exportDirectory() {
    if (dir_name.empty()) dir_name = path + "kml_export";
    return dir_name;
}

}  // namespace

bool PrepareExportDirectory() {
    exportDirectory();
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

void RemoveStaleExportTemporaries() {
    DIR* dir = opendir(exportDirectory().c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* e = readdir(dir))
        if (isTemporaryName(e->d_name)) names.push_back(e->d_name);
    const int dirFd = dirfd(dir);
    for (const std::string& name : names) {
        const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;  // a link, or not ours to open
        struct stat st {};
        // The lock of a live export's temporary is held as long as it is
        // open; only one whose export is gone can be locked here.
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirFd, name.c_str(), 0);
        close(fd);
    }
    closedir(dir);
}

void RemoveStaleExportTemporariesOnce() {
    static std::once_flag once;
    std::call_once(once, RemoveStaleExportTemporaries);
}

ExportFile::ExportFile(const std::string& fileName) : target_(dir_name + "/" + fileName) {
    // Nameless, so that a kill leaves nothing behind; else a new name,
    // created exclusively (O_EXCL): whatever someone planted in the
    // directory is neither followed nor overwritten, and writers in other
    // processes never share the temporary.
    if (!namedOnly) {
        fd_ = open(dir_name.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
        // Not supported here (EOPNOTSUPP), or a kernel without O_TMPFILE
        // that took the directory for the file (EISDIR): a named one.
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR) {
            ExportReport("Can't open file %s for writing!\n", target_.c_str());
            return;
        }
    }
    if (fd_ < 0) {
        temporary_ = target_ + ".tmp.XXXXXX";
        fd_ = mkostemp(&temporary_[0], O_CLOEXEC);
        if (fd_ < 0) {
            temporary_.clear();
            ExportReport("Can't open file %s for writing!\n", target_.c_str());
            return;
        }
    }
    // Held until the file is closed: a start's sweep leaves it alone.
    flock(fd_, LOCK_EX);
    signalHeld_.reset(new FileSizeSignalHeld);
    // The umask would narrow the mode; the export is for others to read.
    failed_ = fchmod(fd_, 0644) != 0;
}

ExportFile::~ExportFile() {
    if (!committed_) discard();
}

void ExportFile::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool ExportFile::Write(const char* data, size_t size) {
    if (!failed_ && !writeAll(fd_, data, size)) failed_ = true;
    return !failed_;
}

bool ExportFile::name() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = target_ + ".tmp." + randomSuffix();
        int linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
        // Without /proc, linking the descriptor itself needs privilege.
        if (linked != 0 && errno == ENOENT) linked = linkat(fd_, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            temporary_ = candidate;
            return true;
        }
        if (errno != EEXIST) break;
    }
    namedOnly = true;
    return false;
}

bool ExportFile::Commit(bool written) {
    if (fd_ < 0) return false;
    committed_ = true;  // the temporary is dealt with here
    if (!written || failed_) {
        ExportReport("Can't write file %s\n", target_.c_str());
        discard();
        return false;
    }
    if (temporary_.empty()) {
        // Named only for the rename, and renamed while still locked. A file
        // system that makes nameless files reports write errors at the
        // write, not at the close.
        if (!name()) {
            ExportReport("Can't write file %s\n", target_.c_str());
            discard();
            return false;
        }
    } else if (close(fd_) != 0) {
        fd_ = -1;
        ExportReport("Can't write file %s\n", target_.c_str());
        discard();
        return false;
    } else {
        fd_ = -1;
    }
    // The rename fails, for one, when a directory holds the target's name.
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ExportReport("Can't open file %s for writing!\n", target_.c_str());
        discard();
        return false;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return true;
}

bool WriteExportFile(const std::string& fileName, const std::string& bytes) {
    ExportFile file(fileName);
    if (!file.Created()) return false;
    file.Write(bytes.data(), bytes.size());
    return file.Commit();
}
