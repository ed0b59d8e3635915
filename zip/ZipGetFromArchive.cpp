// Copying entries from another open archive as they are packed: no
// decompressing, no recompressing, and an encrypted entry stays encrypted
// with its own password.
#include "ZipBundle.h"
#include "ZipCryptograph.h"

bool CZipBundle::GetFromArchive(CZipBundle& source, unsigned short index, const char* newName,
                                unsigned short replaceIndex, bool convertSystem, CZipActionCallback* cb) {
    if (!CanCopyFrom(source, index, replaceIndex)) return false;
    const CZipFileHeader& original = *source.m_centralDir[index];
    CZipFileHeader header;
    const bool keepNoDescriptor = PrepareCopiedHeader(source, index, newName, convertSystem, header);
    const int level = header.GetCompressionLevel();
    const unsigned long long dataSize = header.m_uComprSize;
    const bool replacing = replaceIndex != 0xFFFF;
    const bool wasOnDisk = m_centralDir.m_pInfo->m_bInArchive;
    const bool ownBuffer = !m_pBuffer.IsAllocated();
    if (ownBuffer) InitBuffer();

    CZipFileHeader* added = nullptr;
    unsigned long long entryStart = 0;
    int code = 0;
    try {
        MakeRoomForCopy(header, level, dataSize, replaceIndex, keepNoDescriptor);
        // The old entry leaves the directory only now, with its room made.
        added = m_centralDir.AddNewFile(header, replaceIndex, level, true);
        if (keepNoDescriptor && added->IsDataDescriptor()) added->m_uFlag &= ~CZipFileHeader::flDataDescriptor;
        if (cb) {
            cb->BeginProgress(added->GetFileName(false), source.GetArchivePath());
            cb->SetProgressTotal(dataSize);
        }
        entryStart = m_storage.GetPosition();
        bool stopped = false;
        if (CopyPackedData(source, original, *added, dataSize, cb, stopped)) {
            FinishCopiedEntry(*added);
            if (stopped) code = CZipException::abortedSafely;
        } else {
            // The partial entry never stays: the archive keeps what it had.
            code = replacing || m_storage.IsSegmented() ? CZipException::abortedAction : CZipException::abortedSafely;
            CZipException::Throw(code);
        }
    } catch (...) {
        ClearCryptograph();
        if (ownBuffer) ReleaseBuffer();
        DropCopiedEntry(added, entryStart);
        if (cb && code) cb->EndProgress();
        throw;
    }
    ClearCryptograph();
    if (ownBuffer) ReleaseBuffer();
    // With room kept the copy of the old directory stands until Close.
    if ((wasOnDisk && !m_change.HasRoom()) || replacing) {
        try {
            CompleteCopy(added, entryStart, replacing);
        } catch (...) {
            if (cb) cb->EndProgress();
            throw;
        }
    }
    if (cb) cb->EndProgress();
    if (code) CZipException::Throw(code);
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

void CZipBundle::MakeRoomForCopy(CZipFileHeader& header, int level, unsigned long long dataSize,
                                 unsigned short replaceIndex, bool keepNoDescriptor) {
    if (replaceIndex == 0xFFFF) {
        m_change.KeepRoomFor(EntryBound(header, dataSize));
        return;
    }
    CZipFileHeader probe(header);
    probe.m_aLocalExtraData.RemoveInternalLocalHeaders();
    probe.PrepareData(level, false);
    if (keepNoDescriptor) probe.m_uFlag &= ~CZipFileHeader::flDataDescriptor;
    if (!probe.CanBeWrittenLocally()) ThrowError(CZipException::tooLongData);
    const unsigned long long needed = probe.GetLocalSize(false) + dataSize +
                                      (m_pCryptograph ? CZipCryptograph::GetEncryptedInfoSize(probe.m_uEncryptionMethod) : 0) +
                                      probe.GetDataDescriptorSize(&m_storage);
    MakeSpaceForReplace(replaceIndex, needed, header.GetFileName(false));
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
    m_change.EntryWritten();
}

void CZipBundle::DropCopiedEntry(CZipFileHeader* added, unsigned long long entryStart) {
    m_centralDir.ClearOpenedFile();
    m_storage.EmptyWriteBuffer();
    bool cut = false;
    if (added) {
        cut = added == m_centralDir[(unsigned short)(GetCount() - 1)];
        m_centralDir.RemoveFile(added, 0xFFFF, true);
    }
    try {
        m_change.Restore(cut ? entryStart : m_storage.GetLastDataOffset());
    } catch (...) {
    }
}

void CZipBundle::CompleteCopy(CZipFileHeader* added, unsigned long long entryStart, bool replacing) {
    try {
        m_change.Complete();
    } catch (...) {
        // An appended copy goes again, so that the old directory fits where
        // it stood; a replacement has nothing left to go back to.
        if (!replacing) {
            m_centralDir.RemoveFile(added, 0xFFFF, true);
            m_change.Restore(entryStart);
        } else {
            m_change.Restore(m_storage.GetLastDataOffset());
        }
        throw;
    }
}

bool CZipBundle::GetFromArchive(CZipBundle& source, CZipArray<unsigned short>& indexes, bool convertSystem) {
    indexes.Sort(true);
    InitBuffer();
    try {
        for (unsigned short index : indexes) {
            if (!GetFromArchive(source, index, nullptr, 0xFFFF, convertSystem, GetCallback(CZipActionCallback::cbGet))) {
                ReleaseBuffer();
                return false;
            }
        }
    } catch (...) {
        ReleaseBuffer();
        throw;
    }
    ReleaseBuffer();
    Finalize(true);
    return true;
}
