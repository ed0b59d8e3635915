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
#include "ZipException.h"

namespace {
// Rooms grow by at least this much, so that a run of small adds does not
// write a copy of the directory for every one.
const unsigned long long kMinRoom = 256 * 1024;
// Readers look for the end record only in the last 64 KiB (+ 22 bytes) of a
// file. A kill can cut a write that reaches past the end, at any page: while
// the room is written, a whole copy of the directory stays within this many
// bytes of the file's end, so a cut write leaves one within their reach.
const unsigned long long kReach = 32 * 1024;
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
    const unsigned long long copySize = m_centralDir.GetWrittenSize();
    const unsigned long long need = entryBound + copySize;
    // Room is taken only where the standing directory lists nothing: an
    // entry removed last keeps its bytes while that directory lists it.
    if (open && dataEnd >= m_uListedEnd && dataEnd + need <= m_uRoomEnd) return true;

    CZipAbstractFile* file = m_storage.m_pFile;
    const unsigned long long before = m_storage.m_uBytesBeforeZip;
    const unsigned long long fileEnd = file->GetLength() - before;
    // Behind everything the file holds: the directory that stands now stays
    // whole until the new copy is down.
    unsigned long long at = std::max(dataEnd + need + std::max(need, kMinRoom), fileEnd);
    // A small directory goes down once every kReach bytes, the last copy
    // ending where that step ends.
    const bool stepped = copySize <= kReach;
    const unsigned long long steps = stepped ? (at - fileEnd + copySize + kReach - 1) / kReach : 0;
    if (stepped) at = fileEnd + steps * kReach - copySize;
    // No room within ZIP offsets: the add goes on the plain road.
    if (at + copySize > kMaxZipOffset) return false;
    const CZipCentralDir::CInfo saved = info;
    try {
        if (stepped) {
            // Front to back: wherever a kill cuts a write, the copy (or the
            // old directory) before the cut is in reach of readers.
            for (unsigned long long i = 1; i <= steps; ++i) {
                const unsigned long long where = fileEnd + i * kReach - copySize;
                FillWithZeros(fileEnd + (i - 1) * kReach, where);
                WriteDirectoryAt(where);
            }
        } else {
            // Too big for that: the copy first, then the hole before it
            // filled. Only a kill that cuts the copy's own write leaves the
            // file without a directory in reach.
            WriteDirectoryAt(at);
            FillWithZeros(fileEnd, at);
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
    Stands(at, dataEnd);
    return true;
}

void CZipChangeEngine::EntryWritten() {
    if (m_storage.m_uDataEnd == ~0ull) return;
    m_storage.Flush();
    // A replacement in the middle leaves the end where it is.
    m_storage.m_uDataEnd = std::max(m_storage.m_uDataEnd, m_storage.GetPosition());
}

void CZipChangeEngine::SettleRoom() {
    // Only adds that the standing directory does not list need it.
    if (!HasRoom() || m_storage.m_uDataEnd <= m_uListedEnd) return;
    WriteDirectory(m_storage.m_uDataEnd, 2);
}

void CZipChangeEngine::ForgetRoom() {
    m_storage.m_uDataEnd = ~0ull;
    m_uRoomEnd = ~0ull;
}
