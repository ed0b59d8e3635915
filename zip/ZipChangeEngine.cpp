// Keeping an existing archive readable while a change moves its data:
// room is taken before anything moves, and a failed change writes the
// directory of what the headers then describe.
#include "ZipChangeEngine.h"

#include <algorithm>

#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

unsigned long long CZipChangeEngine::Begin(unsigned bufferSize) {
    SettleRoom();
    m_storage.Flush();
    const CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_uDataEnd = info.m_bInArchive ? info.m_uOffset : m_storage.GetLastDataOffset();
    m_mover.SetBufferSize(bufferSize);
    return m_uDataEnd;
}

void CZipChangeEngine::Grow(unsigned long long growth) {
    if (growth == 0) return;
    const unsigned long long length = m_uDataEnd + growth + m_centralDir.GetSize(true);
    if (length > kMaxZipOffset) m_storage.ThrowError(CZipException::noZip64);
    ReserveRoom(length);
}

void CZipChangeEngine::GatherEntries(CZipMoveStep& step) const {
    for (unsigned short i = 0; i < m_centralDir.GetCount(); ++i) {
        CZipFileHeader* h = m_centralDir[i];
        if (h->m_uOffset >= step.start && h->m_uOffset < step.end) step.entries.Add(h);
    }
    std::sort(step.entries.begin(), step.entries.end(),
              [](const CZipFileHeader* a, const CZipFileHeader* b) { return a->m_uOffset < b->m_uOffset; });
}

void CZipChangeEngine::ReserveRoom(unsigned long long length) {
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

void CZipChangeEngine::TakeOff() {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_storage.Flush();
    if (!info.m_bInArchive) return;
    if (m_storage.m_uDataEnd == ~0ull) m_storage.m_uDataEnd = info.m_uOffset;
    const unsigned long long record = (unsigned long long)info.m_uOffset + info.m_uSize;
    const char none[4] = {0, 0, 0, 0};
    try {
        m_storage.Seek(record);
        m_storage.m_pFile->Write(none, 4);
    } catch (...) {
        // Nothing else has changed: the record gets its signature back.
        try {
            m_storage.Seek(record);
            m_storage.m_pFile->Write(CZipCentralDir::m_gszSignature, 4);
        } catch (...) {
        }
        m_storage.m_uDataEnd = ~0ull;
        throw;
    }
    info.m_bInArchive = false;
}

void CZipChangeEngine::WriteDirectoryAt(unsigned long long dataEnd) {
    // Written before the file is cut: the room the old layout held is not
    // given up while the new directory still needs it.
    m_centralDir.Write(true, dataEnd);
    m_storage.Flush();
    m_storage.m_pFile->SetLength(m_storage.m_pFile->GetPosition());
    ForgetRoom();
    m_storage.FlushFile();
}

void CZipChangeEngine::Restore(unsigned long long dataEnd) {
    m_mover.Release();
    m_storage.EmptyWriteBuffer();
    if (m_centralDir.m_pInfo->m_bInArchive || m_storage.IsSegmented()) return;
    // Whatever failed, the directory of the changes completed so far goes
    // back: without it a file holds no entry any tool can find.
    try {
        WriteDirectoryAt(dataEnd);
    } catch (...) {
        // The change's own failure is the one reported. With room kept the
        // copy of the old directory at its end stands; otherwise no half
        // directory stays.
        m_storage.EmptyWriteBuffer();
        m_centralDir.m_pInfo->m_bInArchive = false;
        if (!HasRoom()) {
            try {
                m_storage.m_pFile->SetLength(dataEnd + m_storage.m_uBytesBeforeZip);
                m_storage.m_pFile->SeekToEnd();
                m_storage.m_uDataEnd = ~0ull;
            } catch (...) {
            }
        }
    }
}

void CZipChangeEngine::Complete(unsigned long long dataEnd) {
    m_mover.Release();
    if (m_storage.IsSegmented() || m_centralDir.m_pInfo->m_bInArchive) return;
    m_storage.Flush();
    if (dataEnd == ~0ull) dataEnd = m_storage.GetLastDataOffset();
    if (m_centralDir.IsAnyFileModified()) {
        m_storage.m_pFile->SetLength(dataEnd + m_storage.m_uBytesBeforeZip);
        m_storage.m_pFile->SeekToEnd();
        ForgetRoom();
        return;
    }
    for (int attempt = 0;; ++attempt) {
        try {
            WriteDirectoryAt(dataEnd);
            return;
        } catch (...) {
            m_storage.EmptyWriteBuffer();
            m_centralDir.m_pInfo->m_bInArchive = false;
            // Once more, for an error that passes.
            if (attempt > 0) throw;
        }
    }
}

void CZipChangeEngine::UnmarkLocalHeader(unsigned long long offset) {
    const char none[4] = {0, 0, 0, 0};
    try {
        m_storage.Seek(offset);
        m_storage.m_pFile->Write(none, 4);
    } catch (...) {
    }
}
