#include "ZipExtractTarget.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ZipException.h"
#include "ZipPlatform.h"

namespace ZipLib {

std::vector<std::string> ConfinedComponents(const char* name) {
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = name ? name : "";; ++p) {
        if (*p == '/' || *p == '\\' || *p == '\0') {
            if (!part.empty() && part != "." && part != "..") parts.push_back(part);
            part.clear();
            if (*p == '\0') break;
        } else {
            part += *p;
        }
    }
    return parts;
}

namespace {
const int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The directory `name` in dirFd, made when missing; a link in its place is
// replaced. -1 with errno set when it cannot be had.
int OpenOrMakeDirectory(int dirFd, const char* name, CDirectoryModes* made) {
    int fd = ::openat(dirFd, name, kDirFlags);
    if (fd >= 0) return fd;
    if (errno == ENOENT) {
        if (::mkdirat(dirFd, name, 0777) != 0) {
            // Made meanwhile by someone else: not ours.
            if (errno != EEXIST) return -1;
            return ::openat(dirFd, name, kDirFlags);
        }
    } else {
        if (errno != ELOOP && errno != ENOTDIR) return -1;
        struct stat st;
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
        if (!S_ISLNK(st.st_mode)) {
            errno = ENOTDIR;
            return -1;
        }
        if (::unlinkat(dirFd, name, 0) != 0) return -1;
        if (::mkdirat(dirFd, name, 0777) != 0) return -1;
    }
    fd = ::openat(dirFd, name, kDirFlags);
    if (fd >= 0 && made) made->Made(fd);
    return fd;
}
}  // namespace

int OpenTargetDirectory(const std::string& base, const std::vector<std::string>& parts, size_t count,
                        const char* shown, CDirectoryModes* made) {
    const char* start = base.empty() ? "." : base.c_str();
    int fd = ::open(start, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && ZipPlatform::ForceDirectory(start))
        fd = ::open(start, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) CZipException::Throw(CZipException::fileError, shown);
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        int next = OpenOrMakeDirectory(fd, parts[i].c_str(), made);
        int saved = errno;
        ::close(fd);
        if (next < 0) {
            errno = saved;
            CZipException::Throw(CZipException::fileError, shown);
        }
        fd = next;
    }
    return fd;
}

int CDirectoryCache::Open(const std::string& base, const std::vector<std::string>& parts, size_t count,
                          const char* shown, CDirectoryModes* made) {
    std::string key = base;
    for (size_t i = 0; i < count && i < parts.size(); ++i) key.append(1, '\0').append(parts[i]);
    struct stat st;
    if (m_fd >= 0 && key == m_key && ::fstat(m_fd, &st) == 0 && st.st_nlink > 0) return m_fd;
    Release();
    m_fd = OpenTargetDirectory(base, parts, count, shown, made);
    m_key = key;
    return m_fd;
}

size_t CDirectoryCache::NameMax() {
    if (m_nameMax == 0) {
        long limit = m_fd >= 0 ? ::fpathconf(m_fd, _PC_NAME_MAX) : -1;
        m_nameMax = limit > 0 ? limit : NAME_MAX;
    }
    return size_t(m_nameMax);
}

void CDirectoryCache::Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_nameMax = 0;
    m_sweptOpen = false;
    m_key.clear();
}

void CDirectoryCache::Forget() {
    Release();
    m_swept.clear();
}

void CDirectoryModes::Made(int dirFd) {
    struct stat st;
    if (::fstat(dirFd, &st) == 0) m_made.insert({st.st_dev, st.st_ino});
}

void CDirectoryModes::Add(const std::string& path, int dirFd, unsigned mode) {
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || !m_made.count({st.st_dev, st.st_ino})) return;
    m_items.push_back(Item{path, st.st_dev, st.st_ino, mode});
}

void CDirectoryModes::Apply() noexcept {
    // Deepest first, so that a directory made unsearchable does not hide
    // one below it; of one directory named twice the later mode wins.
    std::stable_sort(m_items.begin(), m_items.end(),
                     [](const Item& a, const Item& b) { return a.path > b.path; });
    for (const Item& item : m_items) {
        int fd = ::open(item.path.c_str(), kDirFlags);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && st.st_dev == item.device && st.st_ino == item.inode)
            (void)::fchmod(fd, mode_t(item.mode));
        ::close(fd);
    }
    m_items.clear();
    m_made.clear();
}

namespace {
const char kTemporaryPrefix[] = ".zar";
const size_t kTemporaryName = 10;
const char kTemporaryDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

// A name unlikely to be taken; O_EXCL (or link) makes sure it is not.
std::string TemporaryName() {
    static std::atomic<unsigned> counter{0};
    static const unsigned pid = unsigned(::getpid());
    unsigned v = pid * 2654435761u ^ (counter.fetch_add(1) * 40503u) ^ unsigned(::time(nullptr));
    std::string name = kTemporaryPrefix;
    while (name.size() < kTemporaryName) {
        name += kTemporaryDigits[v % 36];
        v /= 36;
    }
    return name;
}

bool IsTemporaryName(const char* name) {
    if (std::strlen(name) != kTemporaryName || std::strncmp(name, kTemporaryPrefix, 4) != 0) return false;
    for (const char* p = name + 4; *p; ++p)
        if (!std::strchr(kTemporaryDigits, *p)) return false;
    return true;
}

// A process without CAP_DAC_READ_SEARCH gives a file without a name one
// through /proc; without /proc it could not, and the data would have been
// written for nothing.
bool CanLinkUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// Gives the unnamed file fd the name `name` in dirFd: straight from the
// descriptor where the process may (CAP_DAC_READ_SEARCH), else through
// /proc; the first refusal of the former is remembered. -1 with errno set
// when it cannot.
int LinkUnnamed(int fd, int dirFd, const char* name) {
    static std::atomic<bool> direct{true};
    if (direct.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) return 0;
        if (errno != ENOENT && errno != EPERM) return -1;
        direct.store(false, std::memory_order_relaxed);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), dirFd, name, AT_SYMLINK_FOLLOW);
}
}  // namespace

void CDirectoryCache::Sweep() {
    // Asked for every file: only a directory newly opened is looked at.
    if (m_fd < 0 || m_sweptOpen) return;
    m_sweptOpen = true;
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || !m_swept.insert({st.st_dev, st.st_ino}).second) return;
    int listFd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0) ::close(listFd);
        return;
    }
    const uid_t me = ::geteuid();
    while (const struct dirent* e = ::readdir(list)) {
        if ((e->d_type != DT_REG && e->d_type != DT_UNKNOWN) || !IsTemporaryName(e->d_name)) continue;
        int fd = ::openat(m_fd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // Ours, not linked elsewhere, and locked by no live extraction.
        struct stat file, now;
        if (::fstat(fd, &file) == 0 && S_ISREG(file.st_mode) && file.st_uid == me && file.st_nlink == 1 &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(m_fd, e->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == file.st_dev && now.st_ino == file.st_ino)
            (void)::unlinkat(m_fd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(list);
}

CTemporaryTarget::CTemporaryTarget(int dirFd, const std::string& leaf, unsigned createMode, const char* shown)
    : m_dirFd(dirFd), m_leaf(leaf), m_shown(shown ? shown : ""), m_fd(-1) {
    if (CanLinkUnnamedFiles()) {
        m_fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_t(createMode));
        if (m_fd >= 0) return;
        // Only a file system without unnamed files falls back to a name.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) CZipException::Throw(errno, m_shown.c_str());
    }
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_name = TemporaryName();
        m_fd = ::openat(dirFd, m_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        mode_t(createMode));
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) {
        m_name.clear();
        CZipException::Throw(errno, m_shown.c_str());
    }
    // Held while it lives: the next extraction's sweep passes it over.
    (void)::flock(m_fd, LOCK_EX);
}

CTemporaryTarget::~CTemporaryTarget() {
    if (!m_name.empty()) ::unlinkat(m_dirFd, m_name.c_str(), 0);
    if (m_fd >= 0) ::close(m_fd);
}

void CTemporaryTarget::Write(const void* data, unsigned size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            CZipException::Throw(errno, m_shown.c_str());
        }
        p += n;
        size -= unsigned(n);
    }
}

bool CTemporaryTarget::SetTimesAndMode(time_t modification, time_t access, bool setMode, unsigned mode) {
    time_t now = ::time(nullptr);
    struct timespec times[2];
    times[0].tv_sec = access > 0 ? access : now;
    times[1].tv_sec = modification > 0 ? modification : now;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    bool ok = ::futimens(m_fd, times) == 0;
    if (setMode && ::fchmod(m_fd, mode_t(mode)) != 0) ok = false;
    return ok;
}

void CTemporaryTarget::Install() {
    if (m_name.empty()) {
        // Where nothing stands, the link puts the whole file there at once;
        // should the close then fail, nothing stood there to lose.
        if (LinkUnnamed(m_fd, m_dirFd, m_leaf.c_str()) == 0) {
            const int fd = m_fd;
            m_fd = -1;
            if (::close(fd) != 0) {
                const int error = errno;
                (void)::unlinkat(m_dirFd, m_leaf.c_str(), 0);
                errno = error;
                CZipException::Throw(errno, m_shown.c_str());
            }
            return;
        }
        if (errno != EEXIST)
            CZipException::Throw(errno == ENAMETOOLONG ? errno : int(CZipException::notRenamed), m_shown.c_str());
    }
    // What a close would report (a network file system's deferred writes)
    // comes now, before the file replaces anything; the descriptor itself,
    // and so the lock, stays until the file is in place.
    int probe = ::dup(m_fd);
    if (probe < 0 || ::close(probe) != 0) CZipException::Throw(errno, m_shown.c_str());
    if (m_name.empty()) {
        // Only a rename replaces what stands whole, and it needs a name:
        // one for that instant, locked, so no sweep takes it meanwhile.
        (void)::flock(m_fd, LOCK_EX);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TemporaryName();
            if (LinkUnnamed(m_fd, m_dirFd, name.c_str()) == 0) {
                m_name = name;
                break;
            }
            if (errno != EEXIST) break;
        }
        if (m_name.empty()) CZipException::Throw(CZipException::notRenamed, m_shown.c_str());
    }
    if (::renameat(m_dirFd, m_name.c_str(), m_dirFd, m_leaf.c_str()) != 0)
        CZipException::Throw(errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST ? CZipException::notRemoved
                                                                                    : CZipException::notRenamed,
                             m_shown.c_str());
    m_name.clear();
    Close();
}

void CTemporaryTarget::Close() {
    int fd = m_fd;
    m_fd = -1;
    (void)::close(fd);
}

}  // namespace ZipLib
