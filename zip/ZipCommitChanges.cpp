// Writing back local headers changed in memory (renamed entries), moving
// the data behind each one when its size changes.
#include <cstring>

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
    if (GetCount() == 0) return true;
    CZipArray<CZipChangeInfo> changes;
    const long long growth = CollectRenamed(changes);
    if (changes.empty()) return true;

    // The recovery reads these: they outlive the change.
    CZipArray<CZipMoveStep*> stepOf;
    size_t headersWritten = 0;
    CZipChange change(m_change, unsigned(m_iBufferSize));
    const unsigned long long dataEnd = change.DataEnd();
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbModify);
    CZipMovePlan& plan = change.Plan();
    const unsigned long long total = PlanRenamedStretches(changes, dataEnd, cb, plan, stepOf);
    change.OnFailure([&] { return RecoverRenamed(changes, plan, stepOf, headersWritten); });
    if (cb) {
        cb->BeginProgress(nullptr, GetArchivePath());
        cb->SetProgressTotal(total);
    }
    // Room first, while the old directory still stands.
    change.Move(growth > 0 ? (unsigned long long)growth : 0);
    WriteRenamedHeaders(changes, headersWritten);
    if (cb) cb->EndProgress();
    change.Complete((unsigned long long)((long long)dataEnd + growth));
    return true;
}

long long CZipBundle::CollectRenamed(CZipArray<CZipChangeInfo>& changes) {
    long long sum = 0;
    // Local headers are read back from the file: nothing may wait in the
    // write buffer.
    m_storage.Flush();
    const unsigned short count = GetCount();
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
    return sum;
}

unsigned long long CZipBundle::PlanRenamedStretches(CZipArray<CZipChangeInfo>& changes, unsigned long long dataEnd,
                                                    CZipActionCallback* cb, CZipMovePlan& plan,
                                                    CZipArray<CZipMoveStep*>& stepOf) {
    const unsigned short count = GetCount();
    const size_t n = changes.size();
    unsigned long long total = 0;
    for (size_t k = 0; k < n; ++k) {
        changes[k].m_uStretchEnd = k + 1 < n ? m_centralDir[changes[k + 1].m_uIndex]->m_uOffset : unsigned(dataEnd);
        total += changes[k].m_uStretchEnd - changes[k].m_uDataStart;
    }
    // Each renamed entry's data and the unchanged entries behind it move by
    // the growth of the headers before them. From the last change back: a
    // stretch moving forward goes after every later one has moved; a run of
    // stretches moving back goes first to last, so that no stretch lands on
    // unread data.
    stepOf.assign(n, nullptr);
    auto add = [&](size_t j) {
        const CZipChangeInfo& c = changes[j];
        const bool forward = c.m_iCumulativeChange > 0;
        CZipMoveStep& step = plan.Add("renamed entry's stretch", c.m_uDataStart, c.m_uStretchEnd,
                                      (unsigned long long)(forward ? c.m_iCumulativeChange : -c.m_iCumulativeChange),
                                      forward);
        const unsigned short nextIndex = j + 1 < n ? changes[j + 1].m_uIndex : count;
        for (unsigned short i = (unsigned short)(c.m_uIndex + 1); i < nextIndex; ++i) step.entries.Add(m_centralDir[i]);
        step.callback = cb;
        stepOf[j] = &step;
    };
    for (size_t k = n; k > 0;) {
        const size_t last = k - 1;
        if (changes[last].m_iCumulativeChange > 0) {
            add(last);
            k = last;
            continue;
        }
        size_t first = last;
        while (first > 0 && changes[first - 1].m_iCumulativeChange <= 0) --first;
        for (size_t j = first; j <= last; ++j) add(j);
        k = first;
    }
    plan.Steps().back().lastCall = true;
    return total;
}

void CZipBundle::WriteRenamedHeaders(const CZipArray<CZipChangeInfo>& changes, size_t& written) {
    long long previous = 0;
    for (size_t j = 0; j < changes.size(); ++j) {
        CZipFileHeader* h = m_centralDir[changes[j].m_uIndex];
        m_storage.Seek((unsigned long long)((long long)h->m_uOffset + previous), CZipStorage::seekFromBeginning);
        h->WriteLocal(&m_storage);
        h->SetModified(false);
        m_storage.Flush();
        written = j + 1;
        previous = changes[j].m_iCumulativeChange;
    }
}

unsigned long long CZipBundle::RecoverRenamed(const CZipArray<CZipChangeInfo>& changes, CZipMovePlan& plan,
                                              const CZipArray<CZipMoveStep*>& stepOf, size_t headersWritten) {
    m_storage.EmptyWriteBuffer();
    // Unchanged entries go where their data now is.
    const unsigned long long end = m_change.Settle(plan, 0);
    auto moved = [&](size_t j) { return stepOf[j]->state == CZipMoveStep::moved; };
    // A renamed entry whose data has moved to its new place gets its new
    // header there, when nothing unmoved lies under it; one that cannot
    // have it leaves the directory.
    CZipArray<CZipFileHeader*> renamed;
    for (size_t j = headersWritten; j < changes.size(); ++j) {
        CZipFileHeader* h = m_centralDir[changes[j].m_uIndex];
        const long long prev = j > 0 ? changes[j - 1].m_iCumulativeChange : 0;
        if (moved(j) && (prev == 0 || moved(j - 1))) {
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
        if (prev <= 0 || stepOf[j - 1]->state == CZipMoveStep::pending) m_change.UnmarkLocalHeader(h->m_uOffset);
        renamed.Add(h);
    }
    for (CZipFileHeader* h : renamed) m_centralDir.RemoveFile(h, 0xFFFF, true);
    return end;
}
