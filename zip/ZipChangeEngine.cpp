// Keeping an existing archive readable while it changes: a directory stays
// on disk until a new one is whole, room is taken before anything moves,
// and a failed change writes the directory of what the headers then
// describe.
#include "ZipChangeEngine.h"

#include <algorithm>

#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

// ---- the directory on disk --------------------------------------------------

bool CZipChangeEngine::DirectoryStands() const {
    return HasRoom() || (m_centralDir.m_pInfo && m_centralDir.m_pInfo->m_bInArchive);
}

void CZipChangeEngine::Stands(unsigned long long at, unsigned long long listedEnd) {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    info.m_bInArchive = false;
    m_uRoomEnd = at;
    m_uStandingRecord = at + info.m_uSize;
    m_uStandingEnd = m_storage.m_pFile->GetLength() - m_storage.m_uBytesBeforeZip;
    m_uListedEnd = listedEnd;
}

void CZipChangeEngine::DirectoryChanged() {
    CZipCentralDir::CInfo* info = m_centralDir.m_pInfo;
    if (!info || !info->m_bInArchive) return;
    if (m_storage.IsSegmented()) {
        info->m_bInArchive = false;
        return;
    }
    m_storage.Flush();
    // The directory read or last written stays where it is, readable, and
    // the data still ends where it starts.
    m_storage.m_uDataEnd = info->m_uOffset;
    Stands(info->m_uOffset, info->m_uOffset);
}

void CZipChangeEngine::LastEntryRemoved(unsigned long long offset) {
    CZipAbstractFile* file = m_storage.m_pFile;
    if (!m_storage.IsSegmented()) {
        DirectoryChanged();
        if (HasRoom()) {
            m_storage.m_uDataEnd = offset;
            return;
        }
    }
    // Nothing on disk lists the entry: its bytes go at once.
    m_storage.Flush();
    m_centralDir.m_pInfo->m_bInArchive = false;
    file->SetLength(offset + m_storage.m_uBytesBeforeZip);
    file->SeekToEnd();
    m_storage.m_uDataEnd = ~0ull;
}

void CZipChangeEngine::WriteDirectoryAt(unsigned long long at) {
    m_centralDir.m_pInfo->m_bInArchive = false;  // or Write would take it as written
    m_centralDir.Write(true, at);
    m_storage.Flush();
}

void CZipChangeEngine::PutDirectory(unsigned long long dataEnd) {
    CZipAbstractFile* file = m_storage.m_pFile;
    const unsigned long long before = m_storage.m_uBytesBeforeZip;
    const unsigned long long size = m_centralDir.GetWrittenSize();
    if (HasRoom() && dataEnd + size > m_uRoomEnd) {
        // It would overwrite the directory that stands: it goes behind that
        // one first, far enough that writing it again at the data end cannot
        // reach it.
        const unsigned long long fileEnd = file->GetLength() - before;
        const unsigned long long at = std::max(fileEnd, dataEnd + size);
        FillWithZeros(fileEnd, at);
        WriteDirectoryAt(at);
        Stands(at, dataEnd);
    }
    // Written before the file is cut: the room the old layout held is not
    // given up while the new directory still needs it.
    WriteDirectoryAt(dataEnd);
    file->SetLength(file->GetPosition());
    ForgetRoom();
    m_storage.FlushFile();
}

void CZipChangeEngine::WriteDirectory(unsigned long long dataEnd, int attempts) {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    if (info.m_bInArchive) return;
    m_storage.Flush();
    if (dataEnd == ~0ull) dataEnd = m_storage.GetLastDataOffset();
    CZipAbstractFile* file = m_storage.m_pFile;
    for (int attempt = 1;; ++attempt) {
        try {
            PutDirectory(dataEnd);
            return;
        } catch (...) {
            // No part of the new directory stays: the file ends behind the
            // one that stands, or where the data ends.
            m_storage.EmptyWriteBuffer();
            info.m_bInArchive = false;
            try {
                file->SetLength((HasRoom() ? m_uStandingEnd : dataEnd) + m_storage.m_uBytesBeforeZip);
                file->SeekToEnd();
            } catch (...) {
            }
            if (!HasRoom()) m_storage.m_uDataEnd = ~0ull;
            // Once more for an error that passes.
            if (attempt >= attempts) throw;
        }
    }
}

void CZipChangeEngine::Restore(unsigned long long dataEnd) {
    m_mover.Release();
    m_storage.EmptyWriteBuffer();
    if (!m_centralDir.m_pInfo || m_centralDir.m_pInfo->m_bInArchive || m_storage.IsSegmented()) return;
    // Whatever failed, the directory of the changes completed so far goes
    // down: without it a file holds no entry any tool can find. The
    // change's own failure is the one reported.
    try {
        WriteDirectory(dataEnd, 1);
    } catch (...) {
    }
}

void CZipChangeEngine::CutDirectory() {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_storage.Flush();
    const unsigned long long end = info.m_bInArchive ? info.m_uOffset : m_storage.GetLastDataOffset();
    m_storage.m_pFile->SetLength(end + m_storage.m_uBytesBeforeZip);
    m_storage.m_pFile->SeekToEnd();
    info.m_bInArchive = false;
    ForgetRoom();
}

void CZipChangeEngine::FillWithZeros(unsigned long long from, unsigned long long to) {
    if (to <= from) return;
    CZipAbstractFile* file = m_storage.m_pFile;
    CZipAutoBuffer zeros(unsigned(std::min<unsigned long long>(to - from, 65536)), true);
    file->SafeSeek(from + m_storage.m_uBytesBeforeZip, true);
    for (unsigned long long left = to - from; left > 0;) {
        const unsigned n = unsigned(std::min<unsigned long long>(left, zeros.GetSize()));
        file->Write(zeros, n);
        left -= n;
    }
}

// ---- a change that moves data in place --------------------------------------

unsigned long long CZipChangeEngine::Begin(unsigned bufferSize) {
    SettleRoom();
    m_storage.Flush();
    const CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_mover.SetBufferSize(bufferSize);
    return info.m_bInArchive ? info.m_uOffset : m_storage.GetLastDataOffset();
}

void CZipChangeEngine::Grow(unsigned long long dataEnd, unsigned long long growth) {
    if (growth == 0) return;
    // Room for the directory that ends the change, renamed names included.
    const unsigned long long length = dataEnd + growth + m_centralDir.GetSize(true);
    if (length > kMaxZipOffset) m_storage.ThrowError(CZipException::noZip64);
    CZipAbstractFile* file = m_storage.m_pFile;
    m_storage.Flush();
    const unsigned long long before = file->GetLength();
    if (length + m_storage.m_uBytesBeforeZip <= before) return;
    // Written, not only sized: a sparse extension would fail later, in the
    // middle of a move, when the disk is full.
    try {
        FillWithZeros(before - m_storage.m_uBytesBeforeZip, length);
    } catch (...) {
        try {
            file->SetLength(before);
        } catch (...) {
        }
        throw;
    }
}

void CZipChangeEngine::GatherEntries(CZipMoveStep& step) const {
    for (unsigned short i = 0; i < m_centralDir.GetCount(); ++i) {
        CZipFileHeader* h = m_centralDir[i];
        if (h->m_uOffset >= step.start && h->m_uOffset < step.end) step.entries.Add(h);
    }
    std::sort(step.entries.begin(), step.entries.end(),
              [](const CZipFileHeader* a, const CZipFileHeader* b) { return a->m_uOffset < b->m_uOffset; });
}

void CZipChangeEngine::TakeOff() {
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_storage.Flush();
    unsigned long long record;
    if (info.m_bInArchive) record = (unsigned long long)info.m_uOffset + info.m_uSize;
    else if (HasRoom()) record = m_uStandingRecord;
    else return;
    const unsigned long long dataEnd = m_storage.m_uDataEnd;
    if (dataEnd == ~0ull) m_storage.m_uDataEnd = info.m_uOffset;
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
        m_storage.m_uDataEnd = dataEnd;
        throw;
    }
    info.m_bInArchive = false;
    m_uRoomEnd = ~0ull;
}

// ---- the change as one scoped object ----------------------------------------

CZipChange::CZipChange(CZipChangeEngine& engine, unsigned bufferSize, Kind kind)
    : m_engine(engine), m_kind(kind), m_bStood(engine.DirectoryStands()) {
    if (kind == inPlace) m_uDataEnd = engine.Begin(bufferSize);
}

CZipChange::~CZipChange() {
    if (m_bDone) return;
    try {
        m_engine.Restore(Recover());
    } catch (...) {
        m_engine.Restore(m_engine.m_storage.GetLastDataOffset());
    }
}

unsigned long long CZipChange::Recover() {
    CZipCentralDir& dir = m_engine.m_centralDir;
    CZipStorage& storage = m_engine.m_storage;
    if (m_pEntry) {
        CZipFileHeader* entry = m_pEntry;
        m_pEntry = nullptr;
        const unsigned short count = dir.GetCount();
        unsigned short index = 0xFFFF;
        for (unsigned short i = 0; i < count; ++i)
            if (dir[i] == entry) index = i;
        // The unfinished header leaves the directory so that no later write
        // of the directory can describe half an entry.
        if (index != 0xFFFF) dir.RemoveFile(entry, index, true);
        if (index != 0xFFFF && index == count - 1 && m_uEntryStart != ~0ull && !storage.IsSegmented()) {
            // Every byte waiting in the write buffer belongs to this entry or
            // to a directory behind it: neither is on disk.
            dir.m_pInfo->m_bInArchive = false;
            if (storage.m_uDataEnd != ~0ull) storage.m_uDataEnd = m_uEntryStart;
            return m_uEntryStart;
        }
    }
    // Before the directory left the disk nothing has moved or changed.
    if (m_recover && m_bMoving) return m_recover();
    if (m_plan.Empty()) return m_uFloor != ~0ull ? m_uFloor : storage.GetLastDataOffset();
    return m_engine.Settle(m_plan, m_uFloor == ~0ull ? 0 : m_uFloor);
}

void CZipChange::Move(unsigned long long growth) {
    m_engine.Grow(m_uDataEnd, growth);
    m_engine.TakeOff();
    m_bMoving = true;
    m_engine.Run(m_plan);
}

void CZipChange::RoomFor(unsigned long long bound) {
    if (bound != ~0ull && m_engine.KeepRoomFor(bound)) return;
    m_engine.TakeOff();
}

void CZipChange::Writing(CZipFileHeader* entry, unsigned long long start) {
    m_pEntry = entry;
    m_uEntryStart = start;
}

void CZipChange::EntryWritten() { m_engine.EntryWritten(); }

void CZipChange::Complete(unsigned long long dataEnd) {
    m_engine.m_mover.Release();
    // Into room the copy of the directory stands until Close; with nothing
    // on disk before there is nothing to keep.
    if (m_kind == inPlace || (m_bStood && !m_engine.HasRoom())) {
        // A change that wrote no move leaves the old directory standing
        // until the new one is whole.
        if (m_kind == inPlace) m_engine.DirectoryChanged();
        m_engine.WriteDirectory(dataEnd, 2);
    }
    m_bDone = true;
}
