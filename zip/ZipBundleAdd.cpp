// Adding entries to an archive.
#include <sys/stat.h>

#include <ctime>

#include "ZipBundle.h"
#include "ZipCryptograph.h"
#include "ZipFile.h"
#include "ZipSmClrPass.h"

bool CZipBundle::OpenNewFile(CZipFileHeader& header, int level, const char* sourcePath, unsigned short replaceIndex) {
    if (!CanModify(true, true)) return false;
    if (GetCount() == 0xFFFF) return false;

    if (sourcePath) {
        unsigned attr;
        if (!ZipPlatform::GetFileAttr(sourcePath, attr)) ThrowError(CZipException::fileError, sourcePath);
        time_t modification, creation, access;
        ZipPlatform::GetFileTimes(sourcePath, &modification, &creation, &access);
        header.SetSystemCompatibility(m_iArchiveSystCompatib, false);
        header.SetSystemAttr(attr);
        header.SetModificationTime(modification, m_bStoreFullFileTimes);
        if (m_bStoreFullFileTimes) {
            header.SetCreationTime(creation);
            header.SetLastAccessTime(access);
        }
    } else {
        if (header.m_uExternalAttr == 0) {
            // No attributes given: the platform's defaults, as an add from a
            // memory file gets (mode 0 would extract as "----------").
            unsigned attr = header.IsDirectory() ? ZipPlatform::GetDefaultDirAttributes()
                                                 : ZipPlatform::GetDefaultAttributes();
            header.SetSystemCompatibility(m_iArchiveSystCompatib, false);
            header.SetSystemAttr(attr);
        } else {
            header.SetSystemCompatibility(m_iArchiveSystCompatib, true);
        }
        if (!header.HasTime()) {
            time_t now = ::time(nullptr);
            header.SetModificationTime(now, m_bStoreFullFileTimes);
            if (m_bStoreFullFileTimes) {
                header.SetCreationTime(now);
                header.SetLastAccessTime(now);
            }
        }
    }

    bool isDir = header.IsDirectory();
    CZipString name = header.GetFileName(false);
    if (isDir && (name.IsEmpty() || !CZipPathComponent::HasEndingSeparator(name))) {
        name += CZipPathComponent::m_cSeparator;
        header.SetFileName(name);
    }
    if (header.GetFileName(false).IsEmpty()) {
        name.Format("file%u", unsigned(GetCount()));
        header.SetFileName(name);
    }

    if (WillEncryptNextFile()) {
        header.m_uEncryptionMethod = (unsigned char)m_iEncryptionMethod;
        CreateCryptograph(m_iEncryptionMethod);
    } else {
        header.m_uEncryptionMethod = CZipCryptograph::encNone;
        ClearCryptograph();
    }

    if (level < -1 || level > 9) level = -1;
    header.m_uMethod = m_uCompressionMethod;
    if (level != 0 && m_uCompressionMethod == CZipCompressor::methodStore) level = 0;
    if (level == 0 && m_uCompressionMethod != CZipCompressor::methodStore) header.m_uMethod = CZipCompressor::methodStore;
    if (isDir) {
        level = 0;
        header.m_uMethod = CZipCompressor::methodStore;
    }
    CreateCompressor(header.m_uMethod);

    const bool replacing = m_centralDir.IsValidIndex(replaceIndex);
    // Compressed data has no size before it is written: room to replace
    // an entry is made for stored data only.
    if (replacing && header.m_uMethod != CZipCompressor::methodStore) return false;
    CZipFileHeader* added =
        BeginAdd(header, level, replaceIndex, replacing ? header.m_uLocalComprSize : m_uExpectedSize, false, false);
    try {
        added->WriteLocal(&m_storage);
        if (m_pCryptograph) m_pCryptograph->InitEncode(m_pszPassword, *added, m_storage);
        m_pCompressor->InitCompression(level, added, m_pCryptograph);
    } catch (...) {
        m_iFileOpened = compressing;
        AbandonNewFile();
        throw;
    }
    m_iFileOpened = compressing;
    return true;
}

CZipFileHeader* CZipBundle::BeginAdd(const CZipFileHeader& header, int level, unsigned short replaceIndex,
                                     unsigned long long dataSize, bool copied, bool keepNoDescriptor) {
    const bool replacing = m_centralDir.IsValidIndex(replaceIndex);
    m_add.emplace(m_change, unsigned(m_iBufferSize), replacing ? CZipChange::inPlace : CZipChange::append);
    try {
        if (replacing)
            MakeSpaceForReplace(*m_add, replaceIndex, ReplacementSize(header, level, dataSize, keepNoDescriptor),
                                CZipFileHeader(header).GetFileName(false));
        else
            m_add->RoomFor(dataSize == ~0ull ? ~0ull : EntryBound(header, dataSize));
        // The replaced entry leaves the directory only now, with its room
        // made.
        CZipFileHeader* added = m_centralDir.AddNewFile(header, replaceIndex, level, copied);
        m_add->OnFailure(nullptr);
        m_add->Writing(added, m_storage.GetPosition());
        if (keepNoDescriptor && added->IsDataDescriptor()) added->m_uFlag &= ~CZipFileHeader::flDataDescriptor;
        return added;
    } catch (...) {
        DropAdd();
        throw;
    }
}

void CZipBundle::EndAdd() {
    try {
        m_add->EntryWritten();
        Finalize(true);
        m_add->Complete();
    } catch (...) {
        // The directory cannot follow the entry (a full disk): the add fails
        // as a whole and the archive goes back to what it was.
        DropAdd();
        throw;
    }
    m_add.reset();
}

bool CZipBundle::WriteNewFile(const void* data, unsigned size) {
    if (m_iFileOpened != compressing) return false;
    m_pCompressor->Compress(data, size);
    return true;
}

bool CZipBundle::CloseNewFile(bool afterException) {
    if (m_iFileOpened != compressing) return false;
    if (afterException) {
        AbandonNewFile();
        return true;
    }
    CZipFileHeader* added = m_centralDir.GetOpenedFile();
    m_pCompressor->FinishCompression(false);
    if (m_pCryptograph) m_pCryptograph->FinishEncode(*added, m_storage);
    m_centralDir.CloseNewFile();
    m_iFileOpened = nothing;
    ClearCryptograph();
    EndAdd();
    return true;
}

void CZipBundle::AbandonNewFile() {
    if (m_iFileOpened != compressing) return;
    if (m_pCompressor) {
        try {
            m_pCompressor->FinishCompression(true);
        } catch (...) {
        }
    }
    m_iFileOpened = nothing;
    ClearCryptograph();
    m_centralDir.ClearOpenedFile();
    DropAdd();
}

bool CZipBundle::RemoveLast(bool removeAnyway) {
    unsigned short count = GetCount();
    if (count == 0 || !CanModify(true, true)) return false;
    CZipFileHeader* last = m_centralDir[(unsigned short)(count - 1)];
    if (!removeAnyway && last->CompressionEfficient()) return false;
    const unsigned offset = last->m_uOffset;
    m_centralDir.RemoveFile(last, (unsigned short)(count - 1), true);
    m_change.LastEntryRemoved(offset);
    Finalize(true);
    return true;
}

bool CZipBundle::UpdateReplaceIndex(unsigned short& replaceIndex) {
    if (replaceIndex == 0xFFFF) return true;
    // Even the last entry is replaced in place: removing it first would
    // lose it when the new one fails.
    return !m_storage.IsSegmented() && m_centralDir.IsValidIndex(replaceIndex);
}

bool CZipBundle::AddNewFile(const char* path, int level, bool fullPath, int smartness, unsigned long bufferSize) {
    CZipAddNewFileInfo info(path, fullPath);
    info.m_iComprLevel = level;
    info.m_iSmartLevel = smartness;
    info.m_nBufSize = bufferSize;
    return AddNewFile(info);
}

bool CZipBundle::AddNewFile(const char* path, const char* nameInZip, int level, int smartness, unsigned long bufferSize) {
    CZipAddNewFileInfo info(path, nameInZip);
    info.m_iComprLevel = level;
    info.m_iSmartLevel = smartness;
    info.m_nBufSize = bufferSize;
    return AddNewFile(info);
}

bool CZipBundle::AddNewFile(CZipAbstractFile& source, const char* nameInZip, int level, int smartness,
                            unsigned long bufferSize) {
    CZipAddNewFileInfo info(&source, nameInZip);
    info.m_iComprLevel = level;
    info.m_iSmartLevel = smartness;
    info.m_nBufSize = bufferSize;
    return AddNewFile(info);
}

bool CZipBundle::AddNewFile(CZipAddNewFileInfo& info) {
    // A buffer of 0 bytes would never get past the first read.
    if (m_iBufferSize == 0 || info.m_nBufSize == 0 || info.m_nBufSize > 0xFFFFFFFFul) return false;
    if (!CanModify(true, true)) return false;
    if (info.m_pFile) {
        info.m_szFilePath = info.m_pFile->GetFilePath();
    } else {
        CZipPathComponent::RemoveSeparators(info.m_szFilePath);
        if (info.m_szFilePath.IsEmpty()) return false;
    }
    if (!UpdateReplaceIndex(info.m_uReplaceIndex)) return false;
    const bool replacing = info.m_uReplaceIndex != 0xFFFF;

    CZipFileHeader header;
    if (GatherSourceFacts(info, header)) return AddDirectoryEntry(info, header);

    CZipSmClrPass clearPass;
    if (m_uCompressionMethod == CZipCompressor::methodStore) info.m_iComprLevel = 0;
    bool checkEff = info.m_iSmartLevel.IsSetAny(zipsmCheckForEff) && info.m_iComprLevel != 0;
    const bool spareEmpty = info.m_iSmartLevel.IsSetAny(zipsmCPFile0) && WillEncryptNextFile();
    const bool storeSmall = info.m_iSmartLevel.IsSetAny(zipsmNotCompSmall) && info.m_iComprLevel != 0;
    // Every replacement is built in a temporary archive first, stored ones
    // too: the replaced entry must stay whole until nothing can fail.
    bool useTemporary = (checkEff && m_storage.IsSegmented()) || replacing;
    unsigned long long size = 0;
    const bool sizeKnown = (storeSmall || spareEmpty || useTemporary) && SizeWithoutOpening(info, size);
    if (!sizeKnown && useTemporary) useTemporary = checkEff = false;
    if (sizeKnown) {
        if (size == 0 && spareEmpty) clearPass.ClearPasswordSmartly(this);
        if (size <= 4 && storeSmall) {
            info.m_iComprLevel = 0;
            checkEff = false;
        }
        if (size > kMaxZipOffset) ThrowError(CZipException::tooBigSize, info.m_szFilePath);
    }
    if (useTemporary) {
        CZipString tempPath;
        if (!(checkEff && info.m_iSmartLevel.IsSetAny(zipsmMemoryFlag))) {
            tempPath = ZipPlatform::GetTmpFileName(m_szTempPath.IsEmpty() ? nullptr : m_szTempPath.c_str(), size);
            useTemporary = !tempPath.IsEmpty();
        }
        if (useTemporary) return AddThroughTemporaryArchive(info, tempPath, checkEff);
    }
    // A replacement on the direct road is stored: its room is made before
    // its data is written.
    if (replacing) info.m_iComprLevel = 0;

    CZipFile ownFile;
    CZipAbstractFile* source = info.m_pFile;
    if (source) {
        source->SeekToBegin();
    } else {
        ownFile.Open(info.m_szFilePath, CZipFile::modeRead | CZipFile::shareDenyWrite, true);
        source = &ownFile;
    }
    if (!sizeKnown) size = source->GetLength();
    if (size > kMaxZipOffset) ThrowError(CZipException::tooBigSize, info.m_szFilePath);

    if (!CopySourceIntoEntry(info, header, *source, size)) return false;
    if (!checkEff) return true;
    if (source == &ownFile) ownFile.Close();
    return StoreIfNotEfficient(info);
}

bool CZipBundle::GatherSourceFacts(CZipAddNewFileInfo& info, CZipFileHeader& header) {
    const CZipString& path = info.m_szFilePath;
    unsigned attr;
    time_t modification, creation, access;
    if (info.m_pFile) {
        attr = ZipPlatform::GetDefaultAttributes();
        modification = creation = access = ::time(nullptr);
    } else {
        if (!ZipPlatform::GetFileAttr(path, attr)) ThrowError(CZipException::fileError, path);
        // Opening a FIFO would block for ever, a device read without end.
        if (!ZipPlatform::IsDirectory(attr) && !S_ISREG(attr)) ThrowError(CZipException::specialFile, path);
        ZipPlatform::GetFileTimes(path, &modification, &creation, &access);
    }
    header.SetSystemCompatibility(m_iArchiveSystCompatib, false);
    header.SetSystemAttr(attr);
    const bool isDir = header.IsDirectory();
    if (info.m_szFileNameInZip.IsEmpty())
        info.m_szFileNameInZip = PredictFileNameInZip(path, info.m_bFullPath, isDir ? prDir : prFile);
    header.SetFileName(info.m_szFileNameInZip);
    header.SetModificationTime(modification, m_bStoreFullFileTimes);
    if (m_bStoreFullFileTimes) {
        header.SetCreationTime(creation);
        header.SetLastAccessTime(access);
    }
    return isDir;
}

bool CZipBundle::SizeWithoutOpening(const CZipAddNewFileInfo& info, unsigned long long& size) {
    if (info.m_pFile) {
        size = info.m_pFile->GetLength();
        return true;
    }
    unsigned s;
    if (!ZipPlatform::GetFileSize(info.m_szFilePath, s)) return false;
    size = s;
    return true;
}

bool CZipBundle::AddDirectoryEntry(CZipAddNewFileInfo& info, CZipFileHeader& header) {
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbAdd);
    if (cb) {
        cb->BeginProgress(header.GetFileName(false), info.m_szFilePath);
        cb->SetProgressTotal(0);
    }
    CZipSmClrPass clearPass;
    if (info.m_iSmartLevel.IsSetAny(zipsmCPassDir)) clearPass.ClearPasswordSmartly(this);
    bool ok;
    try {
        m_uExpectedSize = 0;
        ok = OpenNewFile(header, 0, nullptr, info.m_uReplaceIndex);
        m_uExpectedSize = ~0ull;
        CloseNewFile(false);
    } catch (...) {
        m_uExpectedSize = ~0ull;
        AbandonNewFile();
        throw;
    }
    if (cb) cb->EndProgress();
    return ok;
}

bool CZipBundle::CopySourceIntoEntry(CZipAddNewFileInfo& info, CZipFileHeader& header, CZipAbstractFile& source,
                                     unsigned long long size) {
    header.m_uLocalUncomprSize = unsigned(size);
    if (info.m_iComprLevel == 0) header.m_uLocalComprSize = unsigned(size);
    m_uExpectedSize = size;
    bool opened;
    try {
        opened = OpenNewFile(header, info.m_iComprLevel, nullptr, info.m_uReplaceIndex);
    } catch (...) {
        m_uExpectedSize = ~0ull;
        throw;
    }
    m_uExpectedSize = ~0ull;
    if (!opened) return false;

    CZipActionCallback* cb =
        GetCallback(info.m_iSmartLevel.IsSetAny(zipsmInternal01) ? CZipActionCallback::cbAddStore : CZipActionCallback::cbAdd);
    try {
        if (cb) {
            cb->BeginProgress(info.m_szFileNameInZip, info.m_szFilePath);
            cb->SetProgressTotal(size);
        }
        CZipAutoBuffer& buffer = m_addBuffer;
        buffer.Allocate(unsigned(info.m_nBufSize));
        const unsigned bufSize = buffer.GetSize();
        int abortCode = 0;
        bool abortAtEnd = false;
        // A replacement takes at most the size its room was made for: a
        // source growing meanwhile must not run into the next entry.
        // So does an entry written into room kept ahead of a directory copy.
        const bool capped = info.m_uReplaceIndex != 0xFFFF || m_change.HasRoom();
        unsigned long long left = size;
        unsigned n = 0;
        do {
            const unsigned want = capped && left < bufSize ? unsigned(left) : bufSize;
            if (want == 0) break;
            n = source.Read(buffer, want);
            if (n == 0) break;
            left -= n < left ? n : left;
            WriteNewFile(buffer, n);
            if (cb && !cb->RequestCallback(n)) {
                char probe;
                if (n == bufSize && source.Read(&probe, 1) == 1) {
                    // The entry is incomplete: drop it (the archive stays
                    // intact unless it is segmented or lost the replaced
                    // entry).
                    abortCode = m_storage.IsSegmented() || info.m_uReplaceIndex != 0xFFFF
                                    ? CZipException::abortedAction
                                    : CZipException::abortedSafely;
                    AbandonNewFile();
                } else {
                    abortAtEnd = true;
                }
                break;
            }
        } while (n == bufSize);
        if (cb && !abortCode && !abortAtEnd && !cb->RequestLastCallback(0)) abortAtEnd = true;
        if (abortAtEnd) {
            try {
                abortCode = CloseNewFile(false) ? CZipException::abortedSafely : CZipException::abortedAction;
            } catch (...) {
                abortCode = CZipException::abortedAction;
            }
            AbandonNewFile();
        }
        if (abortCode) {
            cb->EndProgress();
            CZipException::Throw(abortCode);
        }
        CloseNewFile(false);
        if (cb) cb->EndProgress();
    } catch (...) {
        AbandonNewFile();
        throw;
    }
    return true;
}

bool CZipBundle::StoreIfNotEfficient(CZipAddNewFileInfo& info) {
    if (!RemoveLast(false)) return true;
    info.m_iComprLevel = 0;
    info.m_iSmartLevel = zipsmInternal01;
    return AddNewFile(info);
}

unsigned CZipBundle::PredictMaximumFileSizeInArchive(const char* path, bool fullPath) {
    unsigned attr;
    if (!ZipPlatform::GetFileAttr(path, attr)) ThrowError(CZipException::fileError, path);
    CZipFileHeader header;
    header.SetSystemCompatibility(m_iArchiveSystCompatib, false);
    header.SetSystemAttr(attr);
    bool isDir = header.IsDirectory();
    unsigned size = 0;
    if (!isDir && !ZipPlatform::GetFileSize(path, size)) return 0;
    header.SetFileName(PredictFileNameInZip(path, fullPath, isDir ? prDir : prFile));
    header.m_uComprSize = size;
    return PredictMaximumFileSizeInArchive(header);
}

unsigned CZipBundle::PredictMaximumFileSizeInArchive(CZipFileHeader& header) {
    CZipFileHeader h(header);
    h.m_pCentralDir = nullptr;
    h.SetSystemCompatibility(m_iArchiveSystCompatib, true);
    h.m_uEncryptionMethod = (unsigned char)(WillEncryptNextFile() ? m_iEncryptionMethod : CZipCryptograph::encNone);
    h.m_uMethod = CZipCompressor::methodStore;
    unsigned dataSize = header.m_uComprSize;
    h.PrepareData(0, m_storage.IsSegmented());
    h.m_uComprSize = dataSize;
    return h.GetLocalSize(false) + h.GetSize() + h.GetDataSize(false) + h.GetDataDescriptorSize(&m_storage);
}
