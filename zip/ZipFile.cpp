#include "ZipFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include "ZipException.h"
#include "ZipPlatform.h"

namespace {
// Holds many small entries' headers and data at once; larger reads go
// straight to the caller's buffer.
const unsigned kReadAhead = 64 * 1024;
}  // namespace

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
    m_bReadAhead = readOnly;
    m_uAheadPos = m_uAheadLen = 0;
    m_uAheadEnd = 0;
    return true;
}

void CZipFile::Close() {
    if (m_iDescriptor == -1) return;
    int fd = m_iDescriptor;
    m_iDescriptor = -1;
    m_uAheadPos = m_uAheadLen = 0;
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
    if (m_bReadAhead && !IsClosed()) return m_uAheadEnd - (m_uAheadLen - m_uAheadPos);
    off64_t pos = lseek64(m_iDescriptor, 0, SEEK_CUR);
    if (pos == -1) ThrowError();
    return (unsigned long long)pos;
}

unsigned long long CZipFile::Seek(long long offset, int from) {
    if (m_bReadAhead && !IsClosed()) {
        const unsigned long long start = m_uAheadEnd - m_uAheadLen;
        if (from == current && offset >= -(long long)m_uAheadPos &&
            offset <= (long long)(m_uAheadLen - m_uAheadPos)) {
            m_uAheadPos = unsigned((long long)m_uAheadPos + offset);
            return start + m_uAheadPos;
        }
        if (from == begin && offset >= 0 && (unsigned long long)offset >= start &&
            (unsigned long long)offset <= m_uAheadEnd) {
            m_uAheadPos = unsigned((unsigned long long)offset - start);
            return (unsigned long long)offset;
        }
        // An absolute offset does not need the descriptor where the caller
        // thinks it is.
        if (from == begin) m_uAheadPos = m_uAheadLen = 0;
        else DropReadAhead();
    }
    off64_t pos = lseek64(m_iDescriptor, offset, from);
    if (pos == -1) ThrowError();
    m_uAheadEnd = (unsigned long long)pos;
    return (unsigned long long)pos;
}

void CZipFile::DropReadAhead() {
    if (m_uAheadLen > m_uAheadPos) {
        off64_t pos = lseek64(m_iDescriptor, (off64_t)GetPosition(), SEEK_SET);
        if (pos == -1) ThrowError();
        m_uAheadEnd = (unsigned long long)pos;
    }
    m_uAheadPos = m_uAheadLen = 0;
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
    DropReadAhead();
    if (!ZipPlatform::TruncateFile(m_iDescriptor, length)) ThrowError();
}

unsigned CZipFile::Read(void* buffer, unsigned count) {
    if (count == 0) return 0;
    if (!m_bReadAhead) return ReadOnce(buffer, count);
    char* out = static_cast<char*>(buffer);
    unsigned done = std::min(count, m_uAheadLen - m_uAheadPos);
    if (done) std::memcpy(out, m_pAhead.get() + m_uAheadPos, done);
    m_uAheadPos += done;
    while (done < count) {
        const unsigned rest = count - done;
        if (rest >= kReadAhead) {
            m_uAheadPos = m_uAheadLen = 0;
            const unsigned n = ReadOnce(out + done, rest);
            m_uAheadEnd += n;
            return done + n;
        }
        if (!m_pAhead) m_pAhead.reset(new char[kReadAhead]);
        m_uAheadPos = m_uAheadLen = 0;
        const unsigned n = ReadOnce(m_pAhead.get(), kReadAhead);
        m_uAheadEnd += n;
        if (n == 0) break;
        m_uAheadLen = n;
        m_uAheadPos = std::min(n, rest);
        std::memcpy(out + done, m_pAhead.get(), m_uAheadPos);
        done += m_uAheadPos;
    }
    return done;
}

unsigned CZipFile::ReadOnce(void* buffer, unsigned count) {
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
    DropReadAhead();
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
