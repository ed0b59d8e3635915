// Writing back local headers changed in memory (renamed entries), moving
// the data behind each one when its size changes.
#include <cstring>
#include <vector>

#include "ZipBundle.h"

bool CZipFileHeader::IsStringModified(const StringWithBuffer& s) const {
    if (!s.HasString()) return false;
    CZipAutoBuffer bytes;
    if (&s == &m_comment) ConvertComment(bytes);
    else ConvertFileName(bytes);
    if (bytes.GetSize() != s.GetBufferSize()) return true;
    return bytes.GetSize() != 0 && std::memcmp(bytes.GetBuffer(), s.GetBuffer().GetBuffer(), bytes.GetSize()) != 0;
}

bool CZipBundle::OverwriteLocalHeader(unsigned short index) {
    if (IsClosed() || m_storage.IsSegmented() || !m_centralDir.IsValidIndex(index)) return false;
    CZipFileHeader* h = m_centralDir[index];
    m_storage.Flush();
    m_storage.Seek(h->m_uOffset, CZipStorage::seekFromBeginning);
    h->WriteLocal(&m_storage);
    m_storage.Flush();
    return true;
}

bool CZipBundle::CommitChanges() {
    if (!CanModify(false, true)) return false;
    const unsigned short count = GetCount();
    if (count == 0) return true;

    CZipArray<CZipChangeInfo> changes;
    long long sum = 0;
    // Local headers are read back from the file: nothing may wait in the
    // write buffer.
    m_storage.Flush();
    for (unsigned short i = 0; i < count; ++i) {
        CZipFileHeader* h = m_centralDir[i];
        if (!h->IsModified()) continue;
        // A name edited through the reference GetFileName hands out has
        // stale bytes: the text is what gets written.
        if (h->IsStringModified(h->m_fileName)) h->m_fileName.ClearBuffer();
        h->m_aLocalExtraData.Clear();
        if (!h->ReadLocal(&m_centralDir)) ThrowError(CZipException::badZipFile);
        const unsigned oldSize = h->m_uLocalHeaderSize;
        h->m_aLocalExtraData.RemoveInternalLocalHeaders();
        h->PrepareStringBuffers();
        sum += (long long)h->GetLocalSize(false) - oldSize;
        CZipChangeInfo change;
        change.m_uIndex = i;
        change.m_uDataStart = h->m_uOffset + oldSize;
        change.m_iCumulativeChange = sum;
        changes.Add(change);
    }
    if (changes.empty()) return true;

    // Room kept for adds goes first: moves could run through its copy.
    SettleRoom();
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    m_storage.Flush();
    const bool wasOnDisk = info.m_bInArchive;
    const unsigned long long dataEnd = wasOnDisk ? info.m_uOffset : m_storage.GetLastDataOffset();
    const size_t n = changes.size();
    unsigned long long total = 0;
    for (size_t k = 0; k < n; ++k) {
        changes[k].m_uStretchEnd = k + 1 < n ? m_centralDir[changes[k + 1].m_uIndex]->m_uOffset : unsigned(dataEnd);
        total += changes[k].m_uStretchEnd - changes[k].m_uDataStart;
    }
    if (sum > 0) {
        if (dataEnd + sum + m_centralDir.GetSize(true) > kMaxZipOffset) ThrowError(CZipException::noZip64);
        // Room first, while the old directory still stands.
        ReserveRoom(dataEnd + sum + m_centralDir.GetSize(true));
    }
    TakeDirectoryOff();

    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbModify);
    if (cb) {
        cb->BeginProgress(nullptr, GetArchivePath());
        cb->SetProgressTotal(total);
    }
    // For a failure part way: which stretches have moved, which one was
    // moving, and how far the rewriting of headers got.
    std::vector<char> moved(n, 0);
    const size_t none = ~size_t(0);
    size_t moving = none, offsetsUpdated = 0, headersWritten = 0;
    auto move = [&](size_t j, bool last) {
        const CZipChangeInfo& c = changes[j];
        const bool forward = c.m_iCumulativeChange > 0;
        const unsigned long long delta =
            (unsigned long long)(forward ? c.m_iCumulativeChange : -c.m_iCumulativeChange);
        moving = j;
        MovePackedFiles(c.m_uDataStart, c.m_uStretchEnd, delta, cb, forward, last);
        moved[j] = 1;
        moving = none;
    };
    InitBuffer();
    try {
        // From the last change back: a stretch moving forward goes after
        // every later one has moved; a run of stretches moving back goes
        // first to last, so that no stretch lands on unread data.
        size_t k = n;
        while (k > 0) {
            size_t last = k - 1;
            if (changes[last].m_iCumulativeChange > 0) {
                move(last, last == 0);
                k = last;
                continue;
            }
            size_t first = last;
            while (first > 0 && changes[first - 1].m_iCumulativeChange <= 0) --first;
            for (size_t j = first; j <= last; ++j) move(j, first == 0 && j == last);
            k = first;
        }
        ReleaseBuffer();

        long long previous = 0;
        for (size_t j = 0; j < n; ++j) {
            const CZipChangeInfo& c = changes[j];
            const unsigned short nextIndex = j + 1 < n ? changes[j + 1].m_uIndex : count;
            for (unsigned short i = (unsigned short)(c.m_uIndex + 1); i < nextIndex; ++i)
                m_centralDir[i]->m_uOffset = unsigned((long long)m_centralDir[i]->m_uOffset + c.m_iCumulativeChange);
            offsetsUpdated = j + 1;
            CZipFileHeader* h = m_centralDir[c.m_uIndex];
            m_storage.Seek((unsigned long long)((long long)h->m_uOffset + previous), CZipStorage::seekFromBeginning);
            h->WriteLocal(&m_storage);
            h->SetModified(false);
            m_storage.Flush();
            headersWritten = j + 1;
            previous = c.m_iCumulativeChange;
        }
    } catch (...) {
        ReleaseBuffer();
        m_storage.EmptyWriteBuffer();
        // Unchanged entries go where their data now is; a renamed entry
        // whose header was not rewritten has none that matches it and
        // leaves the directory.
        std::vector<CZipArray<CZipFileHeader*>> unchanged(n);
        CZipArray<CZipFileHeader*> renamed;
        for (size_t j = 0; j < n; ++j) {
            const unsigned short nextIndex = j + 1 < n ? changes[j + 1].m_uIndex : count;
            for (unsigned short i = (unsigned short)(changes[j].m_uIndex + 1); i < nextIndex; ++i)
                unchanged[j].Add(m_centralDir[i]);
        }
        for (size_t j = offsetsUpdated; j < n; ++j) {
            const long long change = changes[j].m_iCumulativeChange;
            if (moved[j]) {
                for (CZipFileHeader* h : unchanged[j]) h->m_uOffset = unsigned((long long)h->m_uOffset + change);
            } else if (j == moving) {
                SettleStoppedMove(unchanged[j], changes[j].m_uStretchEnd,
                                  (unsigned long long)(change > 0 ? change : -change), change > 0);
            }
        }
        // A renamed entry whose data has moved to its new place gets its
        // new header there, when nothing unmoved lies under it; one that
        // cannot have it leaves the directory.
        for (size_t j = headersWritten; j < n; ++j) {
            CZipFileHeader* h = m_centralDir[changes[j].m_uIndex];
            const long long prev = j > 0 ? changes[j - 1].m_iCumulativeChange : 0;
            if (moved[j] && (prev == 0 || moved[j - 1])) {
                try {
                    m_storage.Seek((unsigned long long)((long long)h->m_uOffset + prev), CZipStorage::seekFromBeginning);
                    h->WriteLocal(&m_storage);
                    m_storage.Flush();
                    h->SetModified(false);
                    continue;
                } catch (...) {
                    m_storage.EmptyWriteBuffer();
                }
            }
            // Its old header lies under no moved data of the stretch before.
            if (prev <= 0 || (!moved[j - 1] && moving != j - 1)) UnmarkLocalHeader(h->m_uOffset);
            renamed.Add(h);
        }
        for (CZipFileHeader* h : renamed) m_centralDir.RemoveFile(h, 0xFFFF, true);
        RestoreDirectory(wasOnDisk, sum > 0 ? dataEnd + sum : dataEnd);
        throw;
    }
    if (cb) cb->EndProgress();
    CompleteChange((unsigned long long)((long long)dataEnd + sum));
    return true;
}
