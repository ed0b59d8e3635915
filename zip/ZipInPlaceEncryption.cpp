#include "ZipInPlaceEncryption.h"

#include <algorithm>
#include <cstring>

#include "BytesWriter.h"
#include "ZipBundle.h"
#include "ZipCryptograph.h"
#include "ZipLocalHeaderLayout.h"

using ZipLib::CBytesWriter;

namespace {

const unsigned kEncryptionHeader = 12;
// An encrypted entry's descriptor carries its signature.
const bool kNewDescriptorSignature = true;

// The local header's size fields made 0, as the descriptor now gives the
// sizes; in ZIP64 form the marked fields stay marked and the record's
// values become 0, as python's zipfile writes a streamed entry.
void ClearLocalSizes(std::string& local) {
    namespace L = ZipLocalHeader;
    unsigned short nameSize, extraSize;
    CBytesWriter::ReadBytes(nameSize, &local[L::kNameSize]);
    CBytesWriter::ReadBytes(extraSize, &local[L::kExtraSize]);
    size_t record = 0, recordSize = 0;
    for (size_t at = L::kFixedSize + nameSize, end = at + extraSize; at + 4 <= end;) {
        unsigned short id, size;
        CBytesWriter::ReadBytes(id, &local[at]);
        CBytesWriter::ReadBytes(size, &local[at + 2]);
        if (id == CZipExtraField::hidZip64 && at + 4 + size <= end) {
            record = at + 4;
            recordSize = size;
            break;
        }
        at += 4 + size;
    }
    size_t marked = 0;
    for (unsigned field : {L::kUncomprSize, L::kComprSize}) {
        unsigned value;
        CBytesWriter::ReadBytes(value, &local[field]);
        if (record && value == L::kZip64Mark && recordSize >= (marked + 1) * 8) {
            std::memset(&local[record + marked * 8], 0, 8);
            ++marked;
        } else {
            CBytesWriter::WriteBytes(&local[field], 0u);
        }
    }
}

}  // namespace

unsigned long long CZipInPlaceEncryption::Entry::Growth() const { return kEncryptionHeader + m_uDescriptorSizeDiff; }

CZipInPlaceEncryption::CZipInPlaceEncryption(CZipBundle& zip, CZipArray<unsigned short>* indexes) : m_zip(zip) {
    if (indexes) {
        indexes->Sort(true);
        m_listed.assign(indexes->begin(), indexes->end());
    } else {
        for (unsigned short i = 0; i < zip.GetCount(); ++i) m_listed.push_back(i);
    }
    // A repeated index would encrypt its entry twice.
    m_listed.erase(std::unique(m_listed.begin(), m_listed.end()), m_listed.end());
}

CZipInPlaceEncryption::~CZipInPlaceEncryption() = default;

// ---- collecting: nothing changes ----------------------------------------

bool CZipInPlaceEncryption::Collect(unsigned long long dataEnd) {
    m_uDataEnd = m_uEnd = dataEnd;
    CZipActionCallback* cb = m_zip.GetCallback(CZipActionCallback::cbEncryptPrepare);
    if (cb) {
        cb->BeginProgress(nullptr, nullptr);
        cb->SetProgressTotal(m_listed.size());
    }
    bool stopped = false;
    for (size_t i = m_listed.size(); i-- > 0;) {
        const unsigned short index = m_listed[i];
        if (m_zip.m_centralDir.IsValidIndex(index) && !m_zip.m_centralDir[index]->IsEncrypted()) CollectEntry(index);
        if (cb && !cb->RequestCallback(1)) {
            stopped = true;
            break;
        }
    }
    if (cb && !stopped && !cb->RequestLastCallback(0)) stopped = true;
    if (cb) cb->EndProgress();
    if (stopped) m_zip.ThrowError(CZipException::abortedSafely);
    return !m_entries.empty();
}

void CZipInPlaceEncryption::CollectEntry(unsigned short index) {
    CZipFileHeader* h = m_zip.m_centralDir[index];
    if (!h->ReadLocal(&m_zip.m_centralDir)) m_zip.ThrowError(CZipException::badZipFile);
    Entry e;
    e.m_pHeader = h;
    e.m_uIndex = index;
    e.oldOffset = h->m_uOffset;
    e.localSize = h->GetLocalSize(true);
    e.dataSize = h->m_uComprSize;
    e.m_uUncompressedOffset = e.oldOffset + e.localSize;
    // The local header keeps its bytes and size: rewritten from the
    // central record it could lose records and shrink.
    e.m_uLocalSizeDiff = 0;
    e.localHeader.resize(e.localSize);
    CZipStorage& storage = m_zip.m_storage;
    storage.Seek(e.oldOffset, CZipStorage::seekFromBeginning);
    storage.Read(&e.localHeader[0], e.localSize, true);
    if (h->IsDataDescriptor()) e.descriptor = ReadDescriptor(*h, e.DataStart() + e.dataSize);
    // With the flag set the descriptor's size is known before it exists.
    CZipFileHeader withDescriptor(*h);
    withDescriptor.m_uFlag |= CZipFileHeader::flDataDescriptor;
    e.m_uDescriptorSizeDiff =
        withDescriptor.GetDataDescriptorSize(kNewDescriptorSignature) - unsigned(e.descriptor.size());
    m_entries.push_back(std::move(e));
}

std::string CZipInPlaceEncryption::ReadDescriptor(const CZipFileHeader& header, unsigned long long at) {
    // Tools write it with or without its signature: the bytes tell.
    const unsigned withSignature = header.GetDataDescriptorSize(true), plain = header.GetDataDescriptorSize(false);
    const unsigned avail =
        at >= m_uDataEnd ? 0 : unsigned(std::min<unsigned long long>(withSignature, m_uDataEnd - at));
    char buf[24] = {};
    if (avail) {
        m_zip.m_storage.Seek(at, CZipStorage::seekFromBeginning);
        m_zip.m_storage.Read(buf, avail, true);
    }
    const bool signature = avail >= withSignature && std::memcmp(buf, CZipStorage::m_gszExtHeaderSignat, 4) == 0;
    unsigned size;
    if (signature && header.DescriptorMatches(buf + 4)) size = withSignature;
    else if (avail >= plain && header.DescriptorMatches(buf)) size = plain;
    else size = signature ? withSignature : plain;
    if (size > avail) m_zip.ThrowError(CZipException::badZipFile);
    return std::string(buf, size);
}

// ---- ordering and measuring: nothing changes ----------------------------

unsigned long long CZipInPlaceEncryption::OrderAndMeasure() {
    // Data order, not index order: other tools need not keep them alike.
    const unsigned short count = m_zip.GetCount();
    std::vector<CZipFileHeader*> order;
    for (unsigned short i = 0; i < count; ++i) order.push_back(m_zip.m_centralDir[i]);
    std::sort(order.begin(), order.end(),
              [](const CZipFileHeader* a, const CZipFileHeader* b) { return a->m_uOffset < b->m_uOffset; });
    // Entries that share or overlap their bytes cannot each grow.
    for (size_t i = 0; i < order.size(); ++i)
        if ((i + 1 < order.size() && order[i]->m_uOffset == order[i + 1]->m_uOffset) ||
            order[i]->m_uOffset >= m_uDataEnd)
            m_zip.ThrowError(CZipException::badZipFile);
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry& a, const Entry& b) { return a.oldOffset < b.oldOffset; });
    size_t at = 0;
    for (size_t k = 0; k < m_entries.size(); ++k) {
        Entry& e = m_entries[k];
        while (order[at] != e.m_pHeader) ++at;
        const unsigned long long stop = k + 1 < m_entries.size() ? m_entries[k + 1].oldOffset : m_uDataEnd;
        if (e.OldEnd() > (at + 1 < order.size() ? order[at + 1]->m_uOffset : m_uDataEnd))
            m_zip.ThrowError(CZipException::badZipFile);
        for (size_t j = at + 1; j < order.size() && order[j]->m_uOffset < stop; ++j) e.stretch.Add(order[j]);
        e.stretchStart = e.OldEnd();
        e.stretchEnd = stop;
        e.before = m_uGrowth;
        m_uGrowth += e.Growth();
        m_uToProcess += (e.stretchEnd - e.stretchStart) + 2ull * e.dataSize;
    }
    return m_uGrowth;
}

// ---- moving -------------------------------------------------------------

void CZipInPlaceEncryption::BuildMovePlan(CZipMovePlan& plan) {
    m_pPlan = &plan;
    CZipActionCallback* mover = m_zip.GetCallback(CZipActionCallback::cbEncryptMoveData);
    for (size_t k = m_entries.size(); k-- > 0;) {
        Entry& e = m_entries[k];
        e.stretchStep = &plan.Add("entries behind an entry to encrypt", e.stretchStart, e.stretchEnd,
                                        e.before + e.Growth(), true);
        e.stretchStep->entries = e.stretch;
        e.dataStep = &plan.Add("entry to encrypt", e.DataStart(), e.DataStart() + e.dataSize,
                                     e.before + kEncryptionHeader, true);
        for (CZipMoveStep* step : {e.stretchStep, e.dataStep}) {
            step->callback = mover;
            step->lastCall = true;
            step->progress = true;
        }
    }
    m_multi = m_zip.GetCallback(CZipActionCallback::cbMultiEncrypt);
}

void CZipInPlaceEncryption::Move(CZipChange& change, unsigned long long growth) {
    if (m_multi)
        m_multi->MultiActionsInit(unsigned(m_entries.size()), m_uToProcess, CZipActionCallback::cbEncryptMoveData);
    change.Move(growth);
    m_uEnd = m_uDataEnd + m_uGrowth;
}

// ---- encrypting where the entries now stand -----------------------------

void CZipInPlaceEncryption::EncryptEach() {
    m_zip.InitBuffer();
    m_zip.CreateCryptograph(m_zip.m_iEncryptionMethod);
    if (m_multi) m_multi->SetReactType(CZipActionCallback::cbEncrypt);
    CZipActionCallback* encryptor = m_zip.GetCallback(CZipActionCallback::cbEncrypt);
    for (Entry& e : m_entries) {
        EncryptEntry(e, encryptor);
        if (m_multi) m_multi->MultiActionsNext();
    }
}

std::string CZipInPlaceEncryption::SealedLocalHeader(const Entry& e) const {
    namespace L = ZipLocalHeader;
    const CZipFileHeader& sealed = *e.sealed;
    // Readers check the password against this time.
    std::string local = e.localHeader;
    unsigned short localFlags;
    CBytesWriter::ReadBytes(localFlags, &local[L::kFlag]);
    const unsigned short encryptedFlags = CZipFileHeader::flEncrypted | CZipFileHeader::flDataDescriptor;
    CBytesWriter::WriteBytes(&local[L::kFlag], (unsigned short)(localFlags | (sealed.m_uFlag & encryptedFlags)));
    CBytesWriter::WriteBytes(&local[L::kModTime], sealed.m_uModTime);
    CBytesWriter::WriteBytes(&local[L::kModDate], sealed.m_uModDate);
    CBytesWriter::WriteBytes(&local[L::kCrc32], sealed.m_uCrc32);
    ClearLocalSizes(local);
    return local;
}

void CZipInPlaceEncryption::EncryptEntry(Entry& e, CZipActionCallback* encryptor) {
    CZipStorage& storage = m_zip.m_storage;
    CZipAbstractFile* file = storage.m_pFile;
    char* buffer = m_zip.m_pBuffer;
    const unsigned bufferSize = m_zip.m_pBuffer.GetSize();
    CZipCryptograph* cryptograph = m_zip.m_pCryptograph;

    CZipFileHeader* h = e.m_pHeader;
    e.sealed = std::make_shared<CZipFileHeader>(*h);
    CZipFileHeader& sealed = *e.sealed;
    sealed.m_uEncryptionMethod = (unsigned char)m_zip.m_iEncryptionMethod;
    sealed.UpdateFlag(false);
    e.stage = Stage::encrypting;
    if (encryptor) {
        encryptor->BeginProgress(h->GetFileName(false), nullptr);
        encryptor->SetProgressTotal(e.dataSize);
    }
    const std::string local = SealedLocalHeader(e);
    storage.Seek(e.NewOffset(), CZipStorage::seekFromBeginning);
    storage.Write(local.data(), e.localSize, true);
    cryptograph->InitEncode(m_zip.m_pszPassword, sealed, storage);
    storage.Flush();

    unsigned long long pos = e.NewOffset() + e.localSize + kEncryptionHeader;
    unsigned long long left = e.dataSize;
    bool aborted = false;
    while (left > 0) {
        const unsigned want = unsigned(std::min<unsigned long long>(left, bufferSize));
        storage.Seek(pos, CZipStorage::seekFromBeginning);
        unsigned got = 0;
        while (got < want) {
            const unsigned n = file->Read(buffer + got, want - got);
            if (n == 0) break;
            got += n;
        }
        if (got == 0) break;
        cryptograph->Encode(buffer, got);
        storage.Seek(pos, CZipStorage::seekFromBeginning);
        e.certain = false;
        file->Write(buffer, got);
        e.certain = true;
        e.encrypted += got;
        pos += got;
        left -= got;
        if (got < want) break;
        if (encryptor && !encryptor->RequestCallback(got)) {
            aborted = true;
            break;
        }
    }
    if (left == 0) {
        cryptograph->FinishEncode(sealed, storage);
        sealed.WriteDataDescriptor(&storage);
        storage.Flush();
        e.stage = Stage::done;
    }
    if (encryptor && !aborted && !encryptor->RequestLastCallback(0)) aborted = true;
    if (aborted) {
        encryptor->EndProgress();
        m_zip.ThrowError(CZipException::abortedAction);
    }
    // The file ended inside the entry's data.
    if (left > 0) m_zip.ThrowError(CZipException::badZipFile);
    if (encryptor) encryptor->EndProgress();
}

// ---- settling -----------------------------------------------------------

void CZipInPlaceEncryption::Settle() {
    CZipChangeEngine& change = m_zip.m_change;
    // A move stopped with no write half done (an abort, a failed read) is
    // finished first: the bytes not yet moved are intact, and no entry is
    // lost to a stop.
    for (Entry& e : m_entries) {
        change.Finish(*e.stretchStep);
        change.Finish(*e.dataStep);
    }
    m_uEnd = change.Settle(*m_pPlan, m_uEnd);
    CZipArray<CZipFileHeader*> dropped;
    for (Entry& e : m_entries) {
        const Stage stage = Outcome(e);
        switch (stage) {
        case Stage::untouched: break;
        case Stage::moved:
        case Stage::encrypting:
            if (!RestorePlain(e)) {
                if (stage == Stage::encrypting) change.UnmarkLocalHeader(e.NewOffset());
                dropped.Add(e.m_pHeader);
            }
            break;
        case Stage::done: Seal(e); break;
        default:
            change.UnmarkLocalHeader(e.NewOffset());
            dropped.Add(e.m_pHeader);
            break;
        }
    }
    for (CZipFileHeader* h : dropped) m_zip.m_centralDir.RemoveFile(h, 0xFFFF, true);
    m_bSettled = true;
}

CZipInPlaceEncryption::Stage CZipInPlaceEncryption::Outcome(const Entry& e) const {
    const CZipMoveStep& data = *e.dataStep;
    if (data.state == CZipMoveStep::pending) return Stage::untouched;
    // Its old copy may still be whole.
    if (data.state == CZipMoveStep::moving)
        return e.OldEnd() <= data.settled + data.delta - data.unsure ? Stage::untouched : Stage::moving;
    if (e.stage == Stage::untouched) return Stage::moved;
    if (e.stage == Stage::encrypting && !e.certain) return Stage::moving;
    return e.stage;
}

bool CZipInPlaceEncryption::RestorePlain(Entry& e) {
    CZipStorage& storage = m_zip.m_storage;
    CZipAbstractFile* file = storage.m_pFile;
    try {
        const unsigned long long at0 = e.NewOffset() + kEncryptionHeader;
        if (e.encrypted) {
            char* buffer = m_zip.m_pBuffer;
            const unsigned bufferSize = m_zip.m_pBuffer.GetSize();
            std::unique_ptr<CZipCryptograph> back(CZipCryptograph::CreateCryptograph(m_zip.m_iEncryptionMethod));
            storage.Seek(e.NewOffset() + e.localSize, CZipStorage::seekFromBeginning);
            back->InitDecode(m_zip.m_pszPassword, *e.sealed, storage, true);
            unsigned long long pos = at0 + e.localSize;
            for (unsigned long long left = e.encrypted; left > 0;) {
                const unsigned n = unsigned(std::min<unsigned long long>(left, bufferSize));
                storage.Seek(pos, CZipStorage::seekFromBeginning);
                storage.Read(buffer, n, false);
                back->Decode(buffer, n);
                storage.Seek(pos, CZipStorage::seekFromBeginning);
                file->Write(buffer, n);
                pos += n;
                left -= n;
            }
        }
        storage.Seek(at0, CZipStorage::seekFromBeginning);
        file->Write(e.localHeader.data(), e.localSize);
        if (!e.descriptor.empty()) {
            storage.Seek(at0 + e.localSize + e.dataSize, CZipStorage::seekFromBeginning);
            file->Write(e.descriptor.data(), unsigned(e.descriptor.size()));
        }
        e.m_pHeader->m_uOffset = unsigned(at0);
        return true;
    } catch (...) {
        return false;
    }
}

void CZipInPlaceEncryption::Seal(Entry& e) {
    CZipFileHeader* h = e.m_pHeader;
    h->m_uEncryptionMethod = (unsigned char)e.sealed->GetEncryptionMethod();
    h->m_uFlag = e.sealed->m_uFlag;
    h->m_uComprSize = e.sealed->m_uComprSize;
    h->m_uLocalComprSize = 0;
    h->m_uLocalUncomprSize = 0;
    h->m_uOffset = unsigned(e.NewOffset());
}

unsigned long long CZipInPlaceEncryption::SettleAfterFailure() {
    m_zip.m_storage.EmptyWriteBuffer();
    if (!m_bSettled) Settle();
    Release();
    return m_uEnd;
}

void CZipInPlaceEncryption::Release() {
    m_zip.ReleaseBuffer();
    m_zip.ClearCryptograph();
}

void CZipInPlaceEncryption::EndProgress() {
    if (m_multi) m_multi->MultiActionsEnd();
}
