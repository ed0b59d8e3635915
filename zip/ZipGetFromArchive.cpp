// Copying entries from another open archive as they are packed: no
// decompressing, no recompressing, and an encrypted entry stays encrypted
// with its own password.
#include "ZipBundle.h"
#include "ZipCryptograph.h"

namespace {
// The general buffer (when the caller holds none) and the cryptograph live
// for one copy, however it ends.
struct CopyScope {
    explicit CopyScope(CZipBundle& zip, bool ownBuffer, void (CZipBundle::*release)())
        : m_zip(zip), m_own(ownBuffer), m_release(release) {}
    ~CopyScope() {
        if (m_own) (m_zip.*m_release)();
    }
    CZipBundle& m_zip;
    bool m_own;
    void (CZipBundle::*m_release)();
};
}  // namespace

bool CZipBundle::GetFromArchive(CZipBundle& source, unsigned short index, const char* newName,
                                unsigned short replaceIndex, bool convertSystem, CZipActionCallback* cb) {
    if (!CanCopyFrom(source, index, replaceIndex)) return false;
    const CZipFileHeader& original = *source.m_centralDir[index];
    CZipFileHeader header;
    const bool keepNoDescriptor = PrepareCopiedHeader(source, index, newName, convertSystem, header);
    const unsigned long long dataSize = header.m_uComprSize;
    const bool replacing = replaceIndex != 0xFFFF;
    const bool ownBuffer = !m_pBuffer.IsAllocated();
    if (ownBuffer) InitBuffer();
    CopyScope buffer(*this, ownBuffer, &CZipBundle::ReleaseBuffer);
    CopyScope cryptograph(*this, true, &CZipBundle::ClearCryptograph);

    CZipFileHeader* added = BeginAdd(header, header.GetCompressionLevel(), replaceIndex, dataSize, true, keepNoDescriptor);
    if (cb) {
        cb->BeginProgress(added->GetFileName(false), source.GetArchivePath());
        cb->SetProgressTotal(dataSize);
    }
    bool stopped = false, ended = false;
    try {
        if (!CopyPackedData(source, original, *added, dataSize, cb, stopped)) {
            // The partial entry never stays: the archive keeps what it had.
            ended = true;
            CZipException::Throw(replacing || m_storage.IsSegmented() ? CZipException::abortedAction
                                                                      : CZipException::abortedSafely);
        }
        FinishCopiedEntry(*added);
        ended = true;
        EndAdd();
    } catch (...) {
        m_centralDir.ClearOpenedFile();
        DropAdd();
        if (cb && ended) cb->EndProgress();
        throw;
    }
    if (cb) cb->EndProgress();
    if (stopped) CZipException::Throw(CZipException::abortedSafely);
    return true;
}

bool CZipBundle::CanCopyFrom(const CZipBundle& source, unsigned short index, unsigned short& replaceIndex) {
    if (&source == this || IsClosed() || source.IsClosed()) return false;
    if (m_iFileOpened != nothing || source.m_iFileOpened != nothing) return false;
    if (!CanModify(true, true) || m_storage.IsExistingSegmented()) return false;
    if (!source.m_centralDir.IsValidIndex(index)) return false;
    if (replaceIndex != 0xFFFF && m_storage.IsSegmented()) return false;
    return UpdateReplaceIndex(replaceIndex);
}

bool CZipBundle::PrepareCopiedHeader(CZipBundle& source, unsigned short index, const char* newName,
                                     bool convertSystem, CZipFileHeader& header) {
    CZipFileHeader* original = source.m_centralDir[index];
    if (!original->ReadLocal(&source.m_centralDir)) source.ThrowError(CZipException::badZipFile);
    header = *original;
    header.m_pCentralDir = nullptr;
    if (header.IsDataDescriptor()) {
        if (header.m_uLocalComprSize == 0) header.m_uLocalComprSize = header.m_uComprSize;
        if (header.m_uLocalUncomprSize == 0) header.m_uLocalUncomprSize = header.m_uUncomprSize;
    }
    const unsigned overhead = header.GetEncryptedInfoSize();
    if (header.m_uLocalComprSize >= overhead) header.m_uLocalComprSize -= overhead;
    if (newName) header.SetFileName(newName);
    else header.GetFileName(false);
    if (convertSystem) header.SetSystemCompatibility(m_iArchiveSystCompatib, true);

    // The check byte of a copied encryption header comes from the CRC when
    // the entry had no descriptor; it must keep having none.
    const bool keepNoDescriptor = !header.IsDataDescriptor() && header.m_uEncryptionMethod == CZipCryptograph::encStandard;
    if (!header.IsEncrypted() && WillEncryptNextFile()) {
        header.m_uEncryptionMethod = (unsigned char)m_iEncryptionMethod;
        CreateCryptograph(m_iEncryptionMethod);
    } else {
        ClearCryptograph();
    }
    return keepNoDescriptor;
}

bool CZipBundle::CopyPackedData(CZipBundle& source, const CZipFileHeader& original, CZipFileHeader& added,
                                unsigned long long dataSize, CZipActionCallback* cb, bool& stopped) {
    added.WriteLocal(&m_storage);
    if (m_pCryptograph) m_pCryptograph->InitEncode(m_pszPassword, added, m_storage);

    // Reading the local header left a split source on the entry's volume,
    // right behind it; offsets of the others count in the whole stream.
    if (!source.m_storage.IsSplit() || source.m_storage.IsBinarySplit())
        source.m_storage.Seek((unsigned long long)original.m_uOffset + original.m_uLocalHeaderSize,
                              CZipStorage::seekFromBeginning);
    unsigned long long left = dataSize;
    while (left > 0) {
        unsigned want = unsigned(left < m_pBuffer.GetSize() ? left : m_pBuffer.GetSize());
        // Through the storage: data may go on in the next volume.
        unsigned got = source.m_storage.Read(m_pBuffer, want, false);
        if (got == 0) break;
        if (m_pCryptograph) m_pCryptograph->Encode(m_pBuffer, got);
        m_storage.Write(m_pBuffer, got, false);
        left -= got;
        if (cb && !cb->RequestCallback(got)) {
            stopped = true;
            break;
        }
    }
    if (!stopped && cb && !cb->RequestLastCallback(0)) stopped = true;
    // The source ended before its header said.
    if (left > 0 && !stopped) source.ThrowError(CZipException::badZipFile);
    return left == 0;
}

void CZipBundle::FinishCopiedEntry(CZipFileHeader& added) {
    m_centralDir.ClearOpenedFile();
    if (m_pCryptograph) m_pCryptograph->FinishEncode(added, m_storage);
    added.WriteDataDescriptor(&m_storage);
    m_storage.Flush();
}

bool CZipBundle::GetFromArchive(CZipBundle& source, CZipArray<unsigned short>& indexes, bool convertSystem) {
    indexes.Sort(true);
    InitBuffer();
    CopyScope buffer(*this, true, &CZipBundle::ReleaseBuffer);
    for (unsigned short index : indexes)
        if (!GetFromArchive(source, index, nullptr, 0xFFFF, convertSystem, GetCallback(CZipActionCallback::cbGet)))
            return false;
    Finalize(true);
    return true;
}
