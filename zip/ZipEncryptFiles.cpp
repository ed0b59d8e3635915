// Encrypting entries already in an archive, in place: each one grows by its
// encryption header and a data descriptor, so everything behind it moves
// forward first, then it is encrypted where it now stands.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BytesWriter.h"
#include "ZipBundle.h"
#include "ZipCryptograph.h"

using ZipLib::CBytesWriter;

namespace {

const unsigned kEncryptionHeader = 12;
// An encrypted entry's descriptor carries its signature.
const unsigned kNewDescriptor = 16;

// How far an entry (or the stretch of other entries behind it) got; a
// failure part way settles each by it.
enum class Stage { untouched, moving, moved, encrypting, done };

struct Planned : CZipEncryptFileInfo {
    unsigned oldOffset = 0;
    unsigned localSize = 0;
    unsigned dataSize = 0;
    // Growth of the entries to encrypt that lie before this one: where
    // its local header goes.
    unsigned long long before = 0;
    // Its local header and descriptor as they stood, written back when it
    // has to stay plain.
    std::string localHeader;
    std::string descriptor;
    // The entries behind it up to the next one to encrypt, in data order,
    // and the bytes they take (its own tail first).
    CZipArray<CZipFileHeader*> stretch;
    unsigned long long stretchStart = 0, stretchEnd = 0;
    // The moves of that stretch and of its own data, in the plan.
    CZipMoveStep* stretchStep = nullptr;
    CZipMoveStep* dataStep = nullptr;
    // Set once its own data has moved: encrypting, done.
    Stage stage = Stage::untouched;
    // Bytes of its data encrypted on disk; unknown while a write is out.
    unsigned long long encrypted = 0;
    bool certain = true;
    std::shared_ptr<CZipFileHeader> sealed;  // the header as encrypted

    unsigned long long Growth() const { return kEncryptionHeader + m_uDescriptorSizeDiff; }
    unsigned long long NewOffset() const { return oldOffset + before; }
    unsigned long long DataStart() const { return (unsigned long long)oldOffset + localSize; }
    unsigned long long OldEnd() const { return DataStart() + dataSize + descriptor.size(); }
};

bool DescriptorMatches(const char* p, const CZipFileHeader& h) {
    unsigned crc, compressed, uncompressed;
    CBytesWriter::ReadBytes(crc, p);
    CBytesWriter::ReadBytes(compressed, p + 4);
    CBytesWriter::ReadBytes(uncompressed, p + 8);
    return crc == h.m_uCrc32 && compressed == h.m_uComprSize && uncompressed == h.m_uUncomprSize;
}

}  // namespace

bool CZipBundle::EncryptFilesInternal(CZipArray<unsigned short>* indexes) {
    if (!CanModify(false, true) || GetCount() == 0 || !WillEncryptNextFile()) return false;
    if (m_storage.IsSegmented()) return false;
    const unsigned short count = GetCount();
    CZipArray<unsigned short> all;
    if (indexes) {
        indexes->Sort(true);
    } else {
        for (unsigned short i = 0; i < count; ++i) all.Add(i);
        indexes = &all;
    }
    // A repeated index would encrypt its entry twice.
    std::vector<unsigned short> listed(indexes->begin(), indexes->end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());

    const unsigned long long dataEnd = m_change.Begin(unsigned(m_iBufferSize));
    CZipAbstractFile* file = m_storage.m_pFile;

    // Collecting changes nothing, in memory or on disk: a stop here leaves
    // the archive as it was.
    std::vector<Planned> plan;
    auto collect = [&](unsigned short index) {
        CZipFileHeader* h = m_centralDir[index];
        if (!h->ReadLocal(&m_centralDir)) ThrowError(CZipException::badZipFile);
        Planned p;
        p.m_pHeader = h;
        p.m_uIndex = index;
        p.oldOffset = h->m_uOffset;
        p.localSize = h->m_uLocalHeaderSize;
        p.dataSize = h->m_uComprSize;
        p.m_uUncompressedOffset = p.oldOffset + p.localSize;
        // The local header keeps its bytes and size: rewritten from the
        // central record it could lose records and shrink.
        p.m_uLocalSizeDiff = 0;
        p.localHeader.resize(p.localSize);
        m_storage.Seek(p.oldOffset, CZipStorage::seekFromBeginning);
        m_storage.Read(&p.localHeader[0], p.localSize, true);
        unsigned oldDescriptor = 0;
        if (h->IsDataDescriptor()) {
            // Tools write it with or without its signature: the bytes tell.
            const unsigned long long at = p.DataStart() + p.dataSize;
            const unsigned avail = at >= dataEnd ? 0 : unsigned(std::min<unsigned long long>(16, dataEnd - at));
            char buf[16] = {};
            if (avail) {
                m_storage.Seek(at, CZipStorage::seekFromBeginning);
                m_storage.Read(buf, avail, true);
            }
            const bool signature = avail >= 16 && std::memcmp(buf, CZipStorage::m_gszExtHeaderSignat, 4) == 0;
            if (signature && DescriptorMatches(buf + 4, *h)) oldDescriptor = 16;
            else if (avail >= 12 && DescriptorMatches(buf, *h)) oldDescriptor = 12;
            else oldDescriptor = signature ? 16 : 12;
            if (oldDescriptor > avail) ThrowError(CZipException::badZipFile);
            p.descriptor.assign(buf, oldDescriptor);
        }
        p.m_uDescriptorSizeDiff = kNewDescriptor - oldDescriptor;
        plan.push_back(std::move(p));
    };

    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbEncryptPrepare);
    if (cb) {
        cb->BeginProgress(nullptr, nullptr);
        cb->SetProgressTotal(listed.size());
    }
    bool stopped = false;
    for (size_t i = listed.size(); i-- > 0;) {
        const unsigned short index = listed[i];
        if (m_centralDir.IsValidIndex(index) && !m_centralDir[index]->IsEncrypted()) collect(index);
        if (cb && !cb->RequestCallback(1)) {
            stopped = true;
            break;
        }
    }
    if (cb && !stopped && !cb->RequestLastCallback(0)) stopped = true;
    if (cb) cb->EndProgress();
    if (stopped) ThrowError(CZipException::abortedSafely);
    if (plan.empty()) return true;

    // Data order, not index order: other tools need not keep them alike.
    std::vector<CZipFileHeader*> order;
    for (unsigned short i = 0; i < count; ++i) order.push_back(m_centralDir[i]);
    std::sort(order.begin(), order.end(),
              [](const CZipFileHeader* a, const CZipFileHeader* b) { return a->m_uOffset < b->m_uOffset; });
    // Entries that share or overlap their bytes cannot each grow.
    for (size_t i = 0; i < order.size(); ++i)
        if ((i + 1 < order.size() && order[i]->m_uOffset == order[i + 1]->m_uOffset) || order[i]->m_uOffset >= dataEnd)
            ThrowError(CZipException::badZipFile);
    std::sort(plan.begin(), plan.end(), [](const Planned& a, const Planned& b) { return a.oldOffset < b.oldOffset; });
    unsigned long long total = 0, toProcess = 0;
    size_t at = 0;
    for (size_t k = 0; k < plan.size(); ++k) {
        Planned& p = plan[k];
        while (order[at] != p.m_pHeader) ++at;
        const unsigned long long stop = k + 1 < plan.size() ? plan[k + 1].oldOffset : dataEnd;
        if (p.OldEnd() > (at + 1 < order.size() ? order[at + 1]->m_uOffset : dataEnd))
            ThrowError(CZipException::badZipFile);
        for (size_t j = at + 1; j < order.size() && order[j]->m_uOffset < stop; ++j) p.stretch.Add(order[j]);
        p.stretchStart = p.OldEnd();
        p.stretchEnd = stop;
        p.before = total;
        total += p.Growth();
        toProcess += (p.stretchEnd - p.stretchStart) + 2ull * p.dataSize;
    }
    // Room first, while the old directory still stands: a full disk
    // fails here and leaves the archive as it was.
    m_change.Grow(total);
    m_change.TakeOff();

    // From the end back, so that nothing lands on bytes not yet moved.
    CZipMovePlan movePlan;
    CZipActionCallback* mover = GetCallback(CZipActionCallback::cbEncryptMoveData);
    for (size_t k = plan.size(); k-- > 0;) {
        Planned& p = plan[k];
        p.stretchStep = &movePlan.Add("entries behind an entry to encrypt", p.stretchStart, p.stretchEnd,
                                      p.before + p.Growth(), true);
        p.stretchStep->entries = p.stretch;
        p.dataStep = &movePlan.Add("entry to encrypt", p.DataStart(), p.DataStart() + p.dataSize,
                                   p.before + kEncryptionHeader, true);
        for (CZipMoveStep* step : {p.stretchStep, p.dataStep}) {
            step->callback = mover;
            step->lastCall = true;
            step->progress = true;
        }
    }
    // Nothing has moved while the last stretch has not.
    unsigned long long end = dataEnd;

    CZipActionCallback* multi = GetCallback(CZipActionCallback::cbMultiEncrypt);
    char* buffer = nullptr;  // the general buffer, once allocated
    unsigned bufferSize = 0;

    // Puts an entry that cannot be encrypted back as it was, plain, in
    // front of its moved data: its first `encrypted` bytes are decrypted
    // again, its old local header goes just before the data and its old
    // descriptor just after. False when that fails.
    auto restorePlain = [&](Planned& p) {
        try {
            const unsigned long long at0 = p.NewOffset() + kEncryptionHeader;
            if (p.encrypted) {
                std::unique_ptr<CZipCryptograph> back(CZipCryptograph::CreateCryptograph(m_iEncryptionMethod));
                m_storage.Seek(p.NewOffset() + p.localSize, CZipStorage::seekFromBeginning);
                back->InitDecode(m_pszPassword, *p.sealed, m_storage, true);
                unsigned long long pos = at0 + p.localSize;
                for (unsigned long long left = p.encrypted; left > 0;) {
                    const unsigned n = unsigned(std::min<unsigned long long>(left, bufferSize));
                    m_storage.Seek(pos, CZipStorage::seekFromBeginning);
                    m_storage.Read(buffer, n, false);
                    back->Decode(buffer, n);
                    m_storage.Seek(pos, CZipStorage::seekFromBeginning);
                    file->Write(buffer, n);
                    pos += n;
                    left -= n;
                }
            }
            m_storage.Seek(at0, CZipStorage::seekFromBeginning);
            file->Write(p.localHeader.data(), p.localSize);
            if (!p.descriptor.empty()) {
                m_storage.Seek(at0 + p.localSize + p.dataSize, CZipStorage::seekFromBeginning);
                file->Write(p.descriptor.data(), unsigned(p.descriptor.size()));
            }
            p.m_pHeader->m_uOffset = unsigned(at0);
            return true;
        } catch (...) {
            return false;
        }
    };

    // Points every header at the whole copy of its entry: encrypted where
    // it was finished, plain (old or moved) where it was not; an entry
    // that has neither leaves the directory.
    auto settle = [&]() {
        // A move stopped with no write half done (an abort, a failed read)
        // is finished first: the bytes not yet moved are intact, and no
        // entry is lost to a stop.
        for (Planned& p : plan) {
            m_change.Finish(*p.stretchStep);
            m_change.Finish(*p.dataStep);
        }
        end = m_change.Settle(movePlan, end);
        CZipArray<CZipFileHeader*> dropped;
        for (Planned& p : plan) {
            const CZipMoveStep& data = *p.dataStep;
            Stage stage = p.stage;
            if (data.state == CZipMoveStep::pending) {
                stage = Stage::untouched;
            } else if (data.state == CZipMoveStep::moving) {
                // Its old copy may still be whole.
                stage = p.OldEnd() <= data.settled + data.delta - data.unsure ? Stage::untouched : Stage::moving;
            } else if (stage == Stage::untouched) {
                stage = Stage::moved;
            } else if (stage == Stage::encrypting && !p.certain) {
                stage = Stage::moving;
            }
            switch (stage) {
            case Stage::untouched: break;
            case Stage::moved:
            case Stage::encrypting:
                if (!restorePlain(p)) {
                    if (stage == Stage::encrypting) m_change.UnmarkLocalHeader(p.NewOffset());
                    dropped.Add(p.m_pHeader);
                }
                break;
            case Stage::done: {
                CZipFileHeader* h = p.m_pHeader;
                h->m_uEncryptionMethod = p.sealed->m_uEncryptionMethod;
                h->m_uFlag = p.sealed->m_uFlag;
                h->m_uComprSize = p.sealed->m_uComprSize;
                h->m_uLocalComprSize = 0;
                h->m_uLocalUncomprSize = 0;
                h->m_uOffset = unsigned(p.NewOffset());
                break;
            }
            default:
                m_change.UnmarkLocalHeader(p.NewOffset());
                dropped.Add(p.m_pHeader);
                break;
            }
        }
        for (CZipFileHeader* h : dropped) m_centralDir.RemoveFile(h, 0xFFFF, true);
    };

    InitBuffer();
    buffer = m_pBuffer;
    bufferSize = m_pBuffer.GetSize();
    bool settled = false;
    try {
        if (multi) multi->MultiActionsInit(unsigned(plan.size()), toProcess, CZipActionCallback::cbEncryptMoveData);
        m_change.Run(movePlan);
        end = dataEnd + total;

        CreateCryptograph(m_iEncryptionMethod);
        if (multi) multi->SetReactType(CZipActionCallback::cbEncrypt);
        CZipActionCallback* encryptor = GetCallback(CZipActionCallback::cbEncrypt);
        for (Planned& p : plan) {
            CZipFileHeader* h = p.m_pHeader;
            p.sealed = std::make_shared<CZipFileHeader>(*h);
            CZipFileHeader& sealed = *p.sealed;
            sealed.m_uEncryptionMethod = (unsigned char)m_iEncryptionMethod;
            sealed.UpdateFlag(false);
            p.stage = Stage::encrypting;
            if (encryptor) {
                encryptor->BeginProgress(h->GetFileName(false), nullptr);
                encryptor->SetProgressTotal(p.dataSize);
            }
            // The old local header with the flags, time and sizes of an
            // entry whose sizes follow in its descriptor; readers check
            // the password against this time.
            std::string local = p.localHeader;
            unsigned short localFlags;
            CBytesWriter::ReadBytes(localFlags, &local[6]);
            CBytesWriter::WriteBytes(&local[6], (unsigned short)(localFlags | (sealed.m_uFlag & 0x0009)));
            CBytesWriter::WriteBytes(&local[10], sealed.m_uModTime);
            CBytesWriter::WriteBytes(&local[12], sealed.m_uModDate);
            CBytesWriter::WriteBytes(&local[14], sealed.m_uCrc32);
            CBytesWriter::WriteBytes(&local[18], 0u);
            CBytesWriter::WriteBytes(&local[22], 0u);
            m_storage.Seek(p.NewOffset(), CZipStorage::seekFromBeginning);
            m_storage.Write(local.data(), p.localSize, true);
            m_pCryptograph->InitEncode(m_pszPassword, sealed, m_storage);
            m_storage.Flush();

            unsigned long long pos = p.NewOffset() + p.localSize + kEncryptionHeader;
            unsigned long long left = p.dataSize;
            bool aborted = false;
            while (left > 0) {
                const unsigned want = unsigned(std::min<unsigned long long>(left, bufferSize));
                m_storage.Seek(pos, CZipStorage::seekFromBeginning);
                unsigned got = 0;
                while (got < want) {
                    const unsigned n = file->Read(buffer + got, want - got);
                    if (n == 0) break;
                    got += n;
                }
                if (got == 0) break;
                m_pCryptograph->Encode(buffer, got);
                m_storage.Seek(pos, CZipStorage::seekFromBeginning);
                p.certain = false;
                file->Write(buffer, got);
                p.certain = true;
                p.encrypted += got;
                pos += got;
                left -= got;
                if (got < want) break;
                if (encryptor && !encryptor->RequestCallback(got)) {
                    aborted = true;
                    break;
                }
            }
            if (left == 0) {
                m_pCryptograph->FinishEncode(sealed, m_storage);
                sealed.WriteDataDescriptor(&m_storage);
                m_storage.Flush();
                p.stage = Stage::done;
            }
            if (encryptor && !aborted && !encryptor->RequestLastCallback(0)) aborted = true;
            if (aborted) {
                encryptor->EndProgress();
                ThrowError(CZipException::abortedAction);
            }
            // The file ended inside the entry's data.
            if (left > 0) ThrowError(CZipException::badZipFile);
            if (encryptor) encryptor->EndProgress();
            if (multi) multi->MultiActionsNext();
        }
        settle();
        settled = true;
    } catch (...) {
        m_storage.EmptyWriteBuffer();
        if (!settled) settle();
        ReleaseBuffer();
        ClearCryptograph();
        m_change.Restore(end);
        if (multi) multi->MultiActionsEnd();
        throw;
    }
    ReleaseBuffer();
    ClearCryptograph();
    if (multi) multi->MultiActionsEnd();
    m_change.Complete(dataEnd + total);
    return true;
}
