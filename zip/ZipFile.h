#pragma once
// A file on disk behind a POSIX descriptor. Failures raise CZipException
// with errno as the code and the file's path. A file opened for reading
// only reads ahead: small reads and seeks within what was read cost no
// system call, and the descriptor's own offset then runs ahead of
// GetPosition.
#include <memory>

#include "ZipAbstractFile.h"

class CZipFile : public CZipAbstractFile {
public:
    // Open flags (bits 0-1 access, 0x70 sharing, then create / no-truncate).
    enum OpenModes {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
    };

    CZipFile() = default;
    CZipFile(const char* filePath, unsigned openFlags);
    CZipFile(const CZipFile&) = delete;
    CZipFile& operator=(const CZipFile&) = delete;
    // Closes an open file; a failure to close is not reported here.
    ~CZipFile() override;

    bool Open(const char* filePath, unsigned openFlags, bool throwOnError) override;
    // The descriptor is released even when close() fails (Linux frees it
    // either way); the failure is then raised.
    void Close() override;
    void Flush() override;
    unsigned long long GetPosition() const override;
    unsigned long long Seek(long long offset, int from) override;
    unsigned long long GetLength() const override;
    void SetLength(unsigned long long length) override;
    CZipString GetFilePath() const override { return m_szPath; }
    bool HasFilePath() const override { return true; }
    unsigned Read(void* buffer, unsigned count) override;
    void Write(const void* buffer, unsigned count) override;
    bool IsClosed() const override { return m_iDescriptor == -1; }

    // The platform's file-system handle; raises when closed.
    operator void*();
    [[noreturn]] void ThrowError() const;

protected:
    // Puts the descriptor back at the logical position and forgets what was
    // read ahead.
    void DropReadAhead();
    // One read() into buffer; short only at the end of the file.
    unsigned ReadOnce(void* buffer, unsigned count);

    int m_iDescriptor = -1;
    CZipString m_szPath;
    // Read ahead for a read-only file: bytes [m_uAheadPos, m_uAheadLen) of
    // m_pAhead are the file from m_uAheadEnd - m_uAheadLen + m_uAheadPos on,
    // m_uAheadEnd being the descriptor's offset.
    bool m_bReadAhead = false;
    std::unique_ptr<char[]> m_pAhead;  // allocated at the first read
    unsigned m_uAheadPos = 0;
    unsigned m_uAheadLen = 0;
    unsigned long long m_uAheadEnd = 0;
};
