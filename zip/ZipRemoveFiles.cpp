// Removing entries: their records leave the directory and the data behind
// them moves back over their bytes.
#include <algorithm>

#include "ZipBundle.h"

bool CZipBundle::RemoveFile(unsigned short index, bool removeData) {
    if (removeData) {
        CZipArray<unsigned short> indexes;
        indexes.Add(index);
        return RemoveFiles(indexes);
    }
    if (!CanModify(false, true) || GetCount() == 0) return false;
    if (!m_centralDir.IsValidIndex(index)) return false;
    SettleRoom();
    TakeDirectoryOff();
    // The data stays in the file as unreferenced bytes.
    m_centralDir.RemoveFile(nullptr, index, true);
    CompleteChange();
    return true;
}

bool CZipBundle::RemoveFiles(const CZipArray<CZipString>& names) {
    CZipArray<unsigned short> indexes;
    GetIndexes(names, indexes);
    return RemoveFiles(indexes);
}

bool CZipBundle::RemoveFiles(CZipArray<unsigned short>& indexes) {
    if (!CanModify(false, true) || GetCount() == 0) return false;
    if (indexes.empty()) return true;
    indexes.Sort(true);
    // A repeated index would stop the marking walk at its second copy.
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    const unsigned short count = GetCount();
    for (unsigned short index : indexes)
        if (!m_centralDir.IsValidIndex(index)) return false;
    // Adds kept in room are put on record first: a stop while marking
    // then leaves them in the archive too.
    SettleRoom();

    if (indexes.size() == count) {
        CZipActionCallback* cb = GetCallback(CZipActionCallback::cbDelete);
        if (cb) {
            cb->BeginProgress(nullptr, nullptr);
            cb->SetProgressTotal(count);
        }
        unsigned first = m_centralDir[0]->m_uOffset;
        for (unsigned short i = 1; i < count; ++i) first = std::min(first, m_centralDir[i]->m_uOffset);
        const bool wasOnDisk = m_centralDir.m_pInfo->m_bInArchive;
        TakeDirectoryOff();
        (void)wasOnDisk;
        m_centralDir.RemoveAll();
        CompleteChange(first);
        if (cb) cb->EndProgress();
        return true;
    }

    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbDeleteCnt);
    if (cb) {
        cb->BeginProgress(nullptr, nullptr);
        cb->SetProgressTotal(count);
    }
    CZipArray<CZipDeleteInfo> infos;
    size_t next = 0;
    bool stopped = false;
    for (unsigned short i = indexes[0]; i < count; ++i) {
        const bool remove = next < indexes.size() && indexes[next] == i;
        if (remove) ++next;
        infos.Add(CZipDeleteInfo(m_centralDir[i], remove));
        if (cb && !(i == count - 1 ? cb->RequestLastCallback(1) : cb->RequestCallback(1))) {
            stopped = true;
            break;
        }
    }
    if (cb) cb->EndProgress();
    if (stopped) ThrowError(CZipException::abortedSafely);

    RemoveMarkedFiles(infos, GetCallback(CZipActionCallback::cbDelete));
    return true;
}

void CZipBundle::RemoveMarkedFiles(CZipArray<CZipDeleteInfo>& infos, CZipActionCallback* cb) {
    if (cb) cb->BeginProgress(nullptr, nullptr);
    SettleRoom();
    const bool wasOnDisk = m_centralDir.m_pInfo->m_bInArchive;
    TakeDirectoryOff();
    const unsigned long long dataEnd = m_storage.GetLastDataOffset();
    const size_t n = infos.size();
    // Offsets as they were: the headers of removed entries are freed on
    // the way and kept ones get their new offsets only once moved.
    CZipArray<unsigned long long> starts;
    for (const CZipDeleteInfo& info : infos) starts.Add(info.m_pHeader->m_uOffset);
    auto spanEnd = [&](size_t i) { return i + 1 < n ? starts[i + 1] : dataEnd; };
    unsigned long long total = 0;
    for (size_t i = 0; i < n; ++i)
        if (!infos[i].m_bDelete) total += spanEnd(i) - starts[i];
    if (cb) cb->SetProgressTotal(total);

    unsigned long long removed = 0;
    const size_t none = ~size_t(0);
    size_t pending = none;
    CZipArray<CZipFileHeader*> moving;  // the stretch under way, if any
    unsigned long long movingEnd = 0;
    auto movePending = [&](size_t upTo, unsigned long long end, bool last) {
        for (size_t k = pending; k < upTo; ++k) moving.Add(infos[k].m_pHeader);
        movingEnd = end;
        MovePackedFiles(starts[pending], end, removed, cb, false, last);
        moving.RemoveAll();
        for (size_t k = pending; k < upTo; ++k) infos[k].m_pHeader->m_uOffset -= unsigned(removed);
        pending = none;
    };
    InitBuffer();
    try {
        for (size_t i = 0; i < n; ++i) {
            if (infos[i].m_bDelete) {
                if (pending != none) movePending(i, starts[i], false);
                m_centralDir.RemoveFile(infos[i].m_pHeader, 0xFFFF, true);
                infos[i].m_pHeader = nullptr;
                removed += spanEnd(i) - starts[i];
            } else if (pending == none) {
                pending = i;
            }
        }
        if (pending != none) {
            movePending(n, dataEnd, true);
        } else if (cb && !cb->RequestLastCallback(0)) {
            cb->EndProgress();
            ThrowError(CZipException::abortedAction);
        }
    } catch (...) {
        ReleaseBuffer();
        unsigned long long end = dataEnd;
        if (!moving.empty()) {
            const unsigned long long keptEnd = SettleStoppedMove(moving, movingEnd, removed, false);
            // Behind the last stretch nothing is left to keep.
            if (movingEnd == dataEnd) end = keptEnd;
        }
        RestoreDirectory(wasOnDisk, end);
        throw;
    }
    ReleaseBuffer();
    if (cb) cb->EndProgress();
    CompleteChange(dataEnd - removed);
}

bool CZipBundle::RemoveCentralDirectoryFromArchive() {
    if (IsClosed() || IsReadOnly() || m_storage.IsSegmented()) return false;
    m_centralDir.RemoveFromDisk();
    return true;
}
