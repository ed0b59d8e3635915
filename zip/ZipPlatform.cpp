#include "ZipPlatform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>
#include <utime.h>

#include "ZipCompatibility.h"
#include "ZipException.h"
#include "ZipFile.h"
#include "ZipPathComponent.h"

namespace ZipPlatform {

int GetSystemID() { return ZipCompatibility::zcUnix; }
bool GetSystemCaseSensitivity() { return true; }
unsigned GetDefaultAttributes() { return 0100644; }
unsigned GetDefaultDirAttributes() { return 040755; }
bool IsDirectory(unsigned attr) { return (attr & 0xF000) == 0x4000; }

bool GetFileAttr(const char* path, unsigned& attr) {
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    attr = unsigned(st.st_mode) & 0xF1FF;
    return true;
}

bool SetFileAttr(const char* path, unsigned attr) { return ::chmod(path, mode_t(attr)) == 0; }

bool SetExeAttr(const char* path) {
    unsigned attr;
    if (!GetFileAttr(path, attr)) return false;
    return SetFileAttr(path, attr | 0x40);
}

bool GetFileTimes(const char* path, time_t* modification, time_t* creation, time_t* lastAccess) {
    if (modification) *modification = 0;
    if (creation) *creation = 0;
    if (lastAccess) *lastAccess = 0;
    struct stat st;
    if (::stat(path, &st) == 0) {
        if (modification) *modification = st.st_mtime;
        if (creation) *creation = st.st_ctime;
        if (lastAccess) *lastAccess = st.st_atime;
        return true;
    }
    time_t now = ::time(nullptr);
    if (modification) *modification = now;
    if (creation) *creation = now;
    if (lastAccess) *lastAccess = now;
    return false;
}

bool SetFileTimes(const char* path, const time_t* modification, const time_t*, const time_t* lastAccess) {
    time_t now = ::time(nullptr);
    struct utimbuf ub;
    ub.actime = (lastAccess && *lastAccess > 0) ? *lastAccess : now;
    ub.modtime = (modification && *modification > 0) ? *modification : now;
    return ::utime(path, &ub) == 0;
}

bool GetFileSize(const char* path, unsigned& size) {
    CZipFile f;
    if (!f.Open(path, CZipFile::modeRead | CZipFile::shareDenyWrite, false)) return false;
    bool ok = false;
    try {
        unsigned long long length = f.GetLength();
        if (length < (1ULL << 32)) {
            size = unsigned(length);
            ok = true;
        }
        f.Close();
    } catch (const CZipException&) {
    }
    return ok;
}

int FileExists(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return 0;
    return S_ISDIR(st.st_mode) ? -1 : 1;
}

bool CreateNewDirectory(const char* path) { return ::mkdir(path, 0755) == 0; }

bool ForceDirectory(const char* path) {
    CZipString dir(path);
    CZipPathComponent::RemoveSeparators(dir);
    if (dir.IsEmpty()) return true;  // the root, or nothing to make
    CZipPathComponent pc(dir);
    CZipString parent = pc.GetFilePath();
    if (parent == dir.c_str() || FileExists(dir) == -1) return true;
    if (!parent.IsEmpty() && !ForceDirectory(parent)) return false;
    return CreateNewDirectory(dir);
}

bool ChangeDirectory(const char* path) { return ::chdir(path) == 0; }

bool GetCurrentDirectory(CZipString& path) {
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return false;
    path = cwd;
    std::free(cwd);
    return true;
}

bool RemoveFile(const char* path, bool raise, int mode) {
    if (mode & fomRemoveReadOnly) {
        unsigned attr;
        if (GetFileAttr(path, attr) &&
            (ZipCompatibility::GetAsInternalAttributes(attr, GetSystemID()) & ZipCompatibility::attROnly))
            SetFileAttr(path, GetDefaultAttributes());
    }
    if (::unlink(path) == 0) return true;
    if (raise) CZipException::Throw(CZipException::notRemoved, path);
    return false;
}

bool RenameFile(const char* from, const char* to, bool raise) {
    if (::rename(from, to) == 0) return true;
    if (raise) CZipException::Throw(CZipException::notRenamed, from);
    return false;
}

unsigned long long GetDeviceFreeSpace(const char* path) {
    struct statfs sf;
    if (::statfs(path, &sf) != 0) return 0;
    return (unsigned long long)sf.f_bsize * (unsigned long long)sf.f_bavail;
}

CZipString GetTmpFileName(const char* dir, unsigned long long spaceNeeded) {
    CZipString tmpDir(dir);
    if (tmpDir.IsEmpty()) tmpDir = "/tmp";
    if (spaceNeeded != 0 && GetDeviceFreeSpace(tmpDir) < spaceNeeded) return CZipString();
    CZipPathComponent::AppendSeparator(tmpDir);
    tmpDir += "zarXXXXXX";
    int fd = ::mkstemp(tmpDir.GetBuffer(0));
    if (fd == -1) return CZipString();
    ::close(fd);
    return tmpDir;
}

bool IsDriveRemovable(const char*) { return true; }
bool SetVolLabel(const char*, const char*) { return true; }
void AnsiOem(CZipAutoBuffer&, bool) {}

int OpenFile(const char* path, unsigned flags, int) { return ::open(path, int(flags) | O_CLOEXEC, 0644); }

bool TruncateFile(int fd, unsigned long long length) { return ::ftruncate64(fd, off64_t(length)) == 0; }

bool FlushFile(int fd) { return ::fsync(fd) == 0; }

int GetFileSystemHandle(int fd) { return fd; }

namespace {
const unsigned long long kEpochDiff = 116444736000000000ULL;  // 1601 -> 1970 in 100 ns
}

void ConvertTimeToFileTime(const time_t& t, FILETIME& ft) {
    time_t when = t > 0 ? t : ::time(nullptr);
    unsigned long long v = (unsigned long long)when * 10000000ULL + kEpochDiff;
    ft.dwLowDateTime = unsigned(v & 0xFFFFFFFFu);
    ft.dwHighDateTime = unsigned(v >> 32);
}

bool ConvertFileTimeToTime(const FILETIME& ft, time_t& t) {
    unsigned long long v = ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    if (v == 0) {
        t = 0;
        return false;
    }
    // Unsigned: a crafted NTFS time near 2^64 must not overflow.
    if (v <= (unsigned long long)kEpochDiff) {
        t = 0;
        return false;
    }
    t = time_t((v - (unsigned long long)kEpochDiff) / 10000000ULL);
    return t > 0;
}

}  // namespace ZipPlatform
