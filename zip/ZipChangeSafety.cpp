// Keeping an existing archive readable when a change of it fails: room is
// taken before anything moves, and a failed change writes the directory of
// what the headers then describe.
#include "ZipBundle.h"

void CZipBundle::ReserveRoom(unsigned long long length) {
    CZipAbstractFile* file = m_storage.m_pFile;
    m_storage.Flush();
    const unsigned long long before = file->GetLength();
    const unsigned long long wanted = length + m_storage.m_uBytesBeforeZip;
    if (wanted <= before) return;
    // Written, not only sized: a sparse extension would fail later, in the
    // middle of a move, when the disk is full.
    try {
        CZipAutoBuffer zeros(65536, true);
        file->SafeSeek(before, true);
        for (unsigned long long left = wanted - before; left > 0;) {
            unsigned n = unsigned(left < zeros.GetSize() ? left : zeros.GetSize());
            file->Write(zeros, n);
            left -= n;
        }
    } catch (...) {
        try {
            file->SetLength(before);
        } catch (...) {
        }
        throw;
    }
}

void CZipBundle::RestoreDirectory(bool wasOnDisk, unsigned long long dataEnd) {
    m_storage.EmptyWriteBuffer();
    if (m_centralDir.m_pInfo->m_bInArchive) return;
    CZipAbstractFile* file = m_storage.m_pFile;
    const unsigned long long end = dataEnd + m_storage.m_uBytesBeforeZip;
    try {
        file->SetLength(end);
        file->SeekToEnd();
        if (!wasOnDisk) return;
        WriteCentralDirectory(true);
        m_storage.FlushFile();
    } catch (...) {
        // The change's own failure is the one reported.
        m_storage.EmptyWriteBuffer();
        m_centralDir.m_pInfo->m_bInArchive = false;
        try {
            file->SetLength(end);
        } catch (...) {
        }
    }
}
