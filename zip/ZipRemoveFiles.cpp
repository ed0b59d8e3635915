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
    // The data stays in the file as unreferenced bytes; a change of the
    // directory alone.
    m_centralDir.RemoveFile(nullptr, index, true);
    m_change.DirectoryChanged();
    Finalize(true);
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
    m_change.SettleRoom();

    if (indexes.size() == count) {
        CZipActionCallback* cb = GetCallback(CZipActionCallback::cbDelete);
        if (cb) {
            cb->BeginProgress(nullptr, nullptr);
            cb->SetProgressTotal(count);
        }
        unsigned first = m_centralDir[0]->m_uOffset;
        for (unsigned short i = 1; i < count; ++i) first = std::min(first, m_centralDir[i]->m_uOffset);
        // Nothing moves: the old directory stands until the new one is down.
        CZipChange change(m_change, unsigned(m_iBufferSize));
        m_centralDir.RemoveAll();
        change.Complete(first);
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
    CZipChange change(m_change, unsigned(m_iBufferSize));
    const unsigned long long dataEnd = change.DataEnd();
    // Each stretch of kept entries moves back over the removed bytes before
    // it; a removed entry leaves the directory as its bytes are overwritten.
    CZipMovePlan& plan = change.Plan();
    CZipMoveStep* stretch = nullptr;
    CZipArray<CZipFileHeader*> leaving;
    unsigned long long removed = 0, total = 0;
    const size_t n = infos.size();
    for (size_t i = 0; i < n; ++i) {
        CZipFileHeader* h = infos[i].m_pHeader;
        const unsigned long long start = h->m_uOffset;
        const unsigned long long end = i + 1 < n ? infos[i + 1].m_pHeader->m_uOffset : dataEnd;
        if (infos[i].m_bDelete) {
            removed += end - start;
            leaving.Add(h);
            stretch = nullptr;
            continue;
        }
        if (removed == 0) continue;
        if (!stretch) {
            stretch = &plan.Add("kept stretch", start, end, removed, false);
            stretch->callback = cb;
            stretch->leaving = leaving;
            leaving.RemoveAll();
        }
        stretch->end = end;
        stretch->entries.Add(h);
        total += end - start;
    }
    if (stretch) stretch->lastCall = true;
    // Removed entries behind the last kept one keep their bytes up to the
    // data end while they are listed.
    if (plan.Empty() || !leaving.empty()) change.SetFloor(dataEnd);
    if (cb) cb->SetProgressTotal(total);
    change.Move();
    // Nothing overwrites those: they leave now.
    for (CZipFileHeader* h : leaving) m_centralDir.RemoveFile(h, 0xFFFF, true);
    if (!stretch && cb && !cb->RequestLastCallback(0)) {
        cb->EndProgress();
        ThrowError(CZipException::abortedAction);
    }
    if (cb) cb->EndProgress();
    change.Complete(dataEnd - removed);
}

bool CZipBundle::RemoveCentralDirectoryFromArchive() {
    if (IsClosed() || IsReadOnly() || m_storage.IsSegmented()) return false;
    m_change.CutDirectory();
    return true;
}
