#include "ZipFile.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include "ZipException.h"
#include "ZipPlatform.h"

CZipFile::CZipFile(const char* path, unsigned openFlags) { Open(path, openFlags, true); }

CZipFile::~CZipFile() {
    if (m_iDescriptor != -1) ::close(m_iDescriptor);
}

bool CZipFile::Open(const char* path, unsigned openFlags, bool throwOnError) {
    if (!IsClosed()) Close();
    int flags;
    switch (openFlags & 3) {
    case modeWrite: flags = O_WRONLY; break;
    case modeReadWrite: flags = O_RDWR; break;
    default: flags = O_RDONLY; break;
    }
    const bool readOnly = flags == O_RDONLY;  // before the create bit joins
    if (openFlags & modeCreate) flags |= O_CREAT;
    if (!(openFlags & modeNoTruncate) && !readOnly) flags |= O_TRUNC;
    m_iDescriptor = ZipPlatform::OpenFile(path, unsigned(flags), int(openFlags & 0x70));
    if (m_iDescriptor == -1) {
        if (throwOnError) CZipException::Throw(errno, path);
        return false;
    }
    m_szPath = path;
    return true;
}

void CZipFile::Close() {
    if (m_iDescriptor == -1) return;
    int fd = m_iDescriptor;
    m_iDescriptor = -1;
    if (::close(fd) != 0) {
        int e = errno;
        CZipString path = m_szPath;
        m_szPath.Empty();
        errno = e;
        CZipException::Throw(e, path);
    }
    m_szPath.Empty();
}

void CZipFile::Flush() {
    if (!ZipPlatform::FlushFile(m_iDescriptor)) ThrowError();
}

unsigned long long CZipFile::GetPosition() const {
    off64_t pos = lseek64(m_iDescriptor, 0, SEEK_CUR);
    if (pos == -1) ThrowError();
    return (unsigned long long)pos;
}

unsigned long long CZipFile::Seek(long long offset, int from) {
    off64_t pos = lseek64(m_iDescriptor, offset, from);
    if (pos == -1) ThrowError();
    return (unsigned long long)pos;
}

unsigned long long CZipFile::GetLength() const {
    off64_t saved = lseek64(m_iDescriptor, 0, SEEK_CUR);
    if (saved == -1) ThrowError();
    off64_t length = lseek64(m_iDescriptor, 0, SEEK_END);
    if (length == -1) ThrowError();
    if (lseek64(m_iDescriptor, saved, SEEK_SET) == -1) ThrowError();
    return (unsigned long long)length;
}

void CZipFile::SetLength(unsigned long long length) {
    if (!ZipPlatform::TruncateFile(m_iDescriptor, length)) ThrowError();
}

unsigned CZipFile::Read(void* buffer, unsigned count) {
    if (count == 0) return 0;
    errno = 0;
    ssize_t n;
    do {
        n = ::read(m_iDescriptor, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) ThrowError();
    if (unsigned(n) < count && errno != 0) ThrowError();
    return unsigned(n);
}

void CZipFile::Write(const void* buffer, unsigned count) {
    const char* p = static_cast<const char*>(buffer);
    // A short write is retried for the rest; only an error stops it.
    while (count > 0) {
        ssize_t n = ::write(m_iDescriptor, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            ThrowError();
        }
        p += n;
        count -= unsigned(n);
    }
}

CZipFile::operator void*() {
    if (m_iDescriptor == -1) {
        errno = EBADF;
        ThrowError();
    }
    return reinterpret_cast<void*>(static_cast<intptr_t>(ZipPlatform::GetFileSystemHandle(m_iDescriptor)));
}

void CZipFile::ThrowError() const { CZipException::Throw(errno, m_szPath); }
