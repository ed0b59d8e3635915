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
    (void)wasOnDisk;
    m_storage.EmptyWriteBuffer();
    if (m_centralDir.m_pInfo->m_bInArchive || m_storage.IsSegmented()) return;
    CZipAbstractFile* file = m_storage.m_pFile;
    // Whatever failed, the directory of the changes completed so far goes
    // back: without it a file holds no entry any tool can find. Written
    // before the file is cut, into room the old layout still holds.
    try {
        m_centralDir.Write(true, dataEnd);
        m_storage.Flush();
        file->SetLength(file->GetPosition());
        ForgetRoom();
        m_storage.FlushFile();
    } catch (...) {
        // The change's own failure is the one reported. With room kept the
        // copy of the old directory at its end stands; otherwise no half
        // directory stays.
        m_storage.EmptyWriteBuffer();
        m_centralDir.m_pInfo->m_bInArchive = false;
        if (!HasRoom()) {
            try {
                file->SetLength(dataEnd + m_storage.m_uBytesBeforeZip);
                file->SeekToEnd();
                m_storage.m_uDataEnd = ~0ull;
            } catch (...) {
            }
        }
    }
}

void CZipBundle::CompleteChange(unsigned long long dataEnd) {
    // Data moved in place: the directory goes back at once, so that a kill
    // after the change returns loses nothing. A header renamed and not yet
    // committed would give its entry a name its local header lacks.
    if (m_storage.IsSegmented() || m_centralDir.m_pInfo->m_bInArchive) return;
    CZipAbstractFile* file = m_storage.m_pFile;
    m_storage.Flush();
    if (dataEnd == ~0ull) dataEnd = m_storage.GetLastDataOffset();
    if (IsModified()) {
        file->SetLength(dataEnd + m_storage.m_uBytesBeforeZip);
        file->SeekToEnd();
        ForgetRoom();
        return;
    }
    // Written before the file is cut: the room the old layout held is not
    // given up while the new directory still needs it.
    for (int attempt = 0;; ++attempt) {
        try {
            m_centralDir.Write(true, dataEnd);
            m_storage.Flush();
            file->SetLength(file->GetPosition());
            ForgetRoom();
            m_storage.FlushFile();
            return;
        } catch (...) {
            m_storage.EmptyWriteBuffer();
            m_centralDir.m_pInfo->m_bInArchive = false;
            // Once more, for an error that passes.
            if (attempt > 0) throw;
        }
    }
}
