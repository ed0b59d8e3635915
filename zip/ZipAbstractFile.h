#pragma once
// One random-access file interface for disk files and memory, so archives
// and entries are read and written by the same code.
#include "ZipString.h"

class CZipAbstractFile {
public:
    enum { begin = 0, current = 1, end = 2 };  // "from" of Seek, as lseek

    virtual bool Open(const char* filePath, unsigned openFlags, bool throwOnError) {
        (void)filePath; (void)openFlags; (void)throwOnError;
        return false;
    }
    virtual void Close() = 0;
    virtual void Flush() = 0;
    virtual unsigned long long GetPosition() const = 0;
    virtual unsigned long long Seek(long long offset, int from) = 0;
    virtual unsigned long long GetLength() const = 0;
    virtual void SetLength(unsigned long long length) = 0;
    virtual unsigned long long SeekToBegin() { return Seek(0, begin); }
    virtual unsigned long long SeekToEnd() { return Seek(0, end); }
    virtual CZipString GetFilePath() const = 0;
    virtual bool HasFilePath() const = 0;
    // At most count bytes; fewer at the end of the file.
    virtual unsigned Read(void* buffer, unsigned count) = 0;
    // All count bytes or an exception.
    virtual void Write(const void* buffer, unsigned count) = 0;
    virtual bool IsClosed() const = 0;
    virtual ~CZipAbstractFile() = default;

    // Seeks from the beginning or back from the end with an unsigned offset;
    // offsets too large for a signed seek are turned round.
    unsigned long long SafeSeek(unsigned long long offset, bool fromBeginning = true);
};
