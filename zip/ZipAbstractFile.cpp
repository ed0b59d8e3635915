#include "ZipAbstractFile.h"

unsigned long long CZipAbstractFile::SafeSeek(unsigned long long offset, bool fromBeginning) {
    if (offset >= (1ULL << 63)) {
        offset = GetLength() - offset;
        fromBeginning = !fromBeginning;
    }
    if (fromBeginning) return Seek((long long)offset, begin);
    return Seek(-(long long)offset, end);
}
