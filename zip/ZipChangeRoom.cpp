// Room kept ahead of entries added to an archive whose directory stood on
// disk. A copy of the directory waits at the room's far end, so that until
// the new directory is written (and the file cut behind it) the file stays
// a readable archive of the entries before the adds, whether the add fails,
// the disk fills or the process is killed; the room is written, not only
// sized, so a full disk fails before anything is taken off.
#include <algorithm>

#include "ZipBundle.h"
#include "ZipChangeEngine.h"
#include "ZipCompatibility.h"

namespace {
// Rooms grow by at least this much, so that a run of small adds does not
// write a copy of the directory for every one.
const unsigned long long kMinRoom = 256 * 1024;
}  // namespace

unsigned long long CZipBundle::EntryBound(const CZipFileHeader& header, unsigned long long dataSize) {
    CZipFileHeader probe(header);
    // Deflate's worst case: a few bytes per stored block of its own.
    probe.m_uComprSize = unsigned(std::min<unsigned long long>(dataSize + (dataSize >> 10) + 64, kMaxZipOffset));
    return (unsigned long long)PredictMaximumFileSizeInArchive(probe) + 1024;
}

bool CZipChangeEngine::KeepRoomFor(unsigned long long entryBound) {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    const bool open = HasRoom();
    if (m_storage.IsSegmented() || (!open && !info.m_bInArchive)) return false;
    m_storage.Flush();
    const unsigned long long dataEnd = open ? m_storage.m_uDataEnd : info.m_uOffset;
    const unsigned long long need = entryBound + m_centralDir.GetSize(true);
    if (open && dataEnd + need <= m_uRoomEnd) return true;

    CZipAbstractFile* file = m_storage.m_pFile;
    const unsigned long long before = m_storage.m_uBytesBeforeZip;
    const unsigned long long fileEnd = file->GetLength() - before;
    // Behind everything the file holds: the copy that stands now stays
    // whole until the new one is down.
    const unsigned long long at = std::max(dataEnd + need + std::max(need, kMinRoom), fileEnd);
    if (at + m_centralDir.GetSize(true) > kMaxZipOffset) {
        // No room within ZIP offsets: the add goes on the plain road.
        if (open) SettleRoom();
        return false;
    }
    const CZipCentralDir::CInfo saved = info;
    try {
        info.m_bInArchive = false;  // or Write would take it as written
        m_centralDir.Write(true, at);
        m_storage.Flush();
        info.m_bInArchive = false;
        // The copy first, then the hole before it filled: the file's end
        // holds a directory all the while.
        CZipAutoBuffer zeros(65536, true);
        file->SafeSeek(fileEnd + before, true);
        for (unsigned long long left = at - fileEnd; left > 0;) {
            const unsigned n = unsigned(std::min<unsigned long long>(left, zeros.GetSize()));
            file->Write(zeros, n);
            left -= n;
        }
    } catch (...) {
        m_storage.EmptyWriteBuffer();
        info.m_uOffset = saved.m_uOffset;
        info.m_uSize = saved.m_uSize;
        info.m_uEntriesNumber = saved.m_uEntriesNumber;
        info.m_uVolumeEntriesNo = saved.m_uVolumeEntriesNo;
        info.m_bInArchive = saved.m_bInArchive;
        try {
            file->SetLength(fileEnd + before);
        } catch (...) {
        }
        throw;
    }
    m_storage.m_uDataEnd = dataEnd;
    m_uRoomEnd = at;
    return true;
}

void CZipChangeEngine::EntryWritten() {
    if (m_storage.m_uDataEnd == ~0ull) return;
    m_storage.Flush();
    // A replacement in the middle leaves the end where it is.
    m_storage.m_uDataEnd = std::max(m_storage.m_uDataEnd, m_storage.GetPosition());
}

void CZipChangeEngine::SettleRoom() {
    if (m_storage.m_uDataEnd == ~0ull || m_centralDir.m_pInfo->m_bInArchive) return;
    // Once more for an error that passes; after that the copy stands.
    for (int attempt = 0;; ++attempt) {
        try {
            WriteDirectoryAt(m_storage.m_uDataEnd);
            return;
        } catch (...) {
            m_storage.EmptyWriteBuffer();
            m_centralDir.m_pInfo->m_bInArchive = false;
            if (attempt > 0) throw;
        }
    }
}

void CZipChangeEngine::ForgetRoom() {
    m_storage.m_uDataEnd = ~0ull;
    m_uRoomEnd = ~0ull;
}
