#include "ZipCentralDir.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "BytesWriter.h"
#include "ZipBundle.h"
#include "ZipCallback.h"
#include "ZipCompatibility.h"
#include "ZipException.h"
#include "ZipLocalHeaderLayout.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

const char CZipCentralDir::m_gszSignature[] = {0x50, 0x4B, 0x05, 0x06};
const char CZipCentralDir::m_gszSignature64Locator[] = {0x50, 0x4B, 0x06, 0x07};

void CZipCentralDir::CInfo::Init() {
    m_uEndOffset = 0;
    m_uLastVolume = 0;
    m_uVolumeWithCD = 0;
    m_uVolumeEntriesNo = 0;
    m_uEntriesNumber = 0;
    m_uSize = 0;
    m_uOffset = 0;
    m_bInArchive = false;
    m_pszComment.Release();
    m_bCaseSensitive = false;
    m_bFindFastEnabled = false;
    m_iLastIndexAdded = 0xFFFF;
    m_pCompare = GetCZipStrCompFunc(ZipPlatform::GetSystemCaseSensitivity(), true);
    m_iReference = 1;
}

bool CZipCentralDir::CInfo::CheckIfCantBeEmpty() const {
    return m_uVolumeEntriesNo != 0 || m_uEntriesNumber != 0 || m_uSize != 0 || m_uOffset != 0;
}

CZipCentralDir::CZipCentralDir()
    : m_pOpenedFile(nullptr), m_iIgnoredChecks(0), m_pArchive(nullptr), m_pStorage(nullptr), m_pHeaders(nullptr),
      m_pFindArray(nullptr), m_pInfo(nullptr) {}

CZipCentralDir::~CZipCentralDir() { DestroySharedData(); }

void CZipCentralDir::InitOnCreate(CZipBundle* archive) {
    m_pArchive = archive;
    m_pStorage = &archive->m_storage;
}

void CZipCentralDir::CreateSharedData() {
    m_pInfo = new CInfo();
    m_pInfo->Init();
    m_pHeaders = new CZipArray<CZipFileHeader*>();
    m_pFindArray = new CZipArray<CZipFindFast*>();
}

void CZipCentralDir::DestroySharedData() {
    if (!m_pInfo) return;
    if (--m_pInfo->m_iReference <= 0) {
        if (m_pHeaders) {
            for (CZipFileHeader* h : *m_pHeaders) delete h;
            delete m_pHeaders;
        }
        if (m_pFindArray) {
            for (CZipFindFast* f : *m_pFindArray) delete f;
            delete m_pFindArray;
        }
        delete m_pInfo;
    }
    m_pInfo = nullptr;
    m_pHeaders = nullptr;
    m_pFindArray = nullptr;
}

void CZipCentralDir::Init(CZipCentralDir* source) {
    m_pOpenedFile = nullptr;
    m_iIgnoredChecks = checkDataDescriptor | checkVolumeEntries;
    DestroySharedData();
    if (source && source->m_pInfo) {
        m_pInfo = source->m_pInfo;
        m_pHeaders = source->m_pHeaders;
        m_pFindArray = source->m_pFindArray;
        ++m_pInfo->m_iReference;
        m_pStorage->UpdateSegmMode(m_pInfo->m_uLastVolume);
        m_pStorage->m_uBytesBeforeZip = source->m_pStorage->m_uBytesBeforeZip;
    } else {
        CreateSharedData();
    }
}

void CZipCentralDir::Close() {
    m_pOpenedFile = nullptr;
    DestroySharedData();
}

bool CZipCentralDir::IsAnyFileModified() const {
    if (!m_pHeaders) return false;
    for (const CZipFileHeader* h : *m_pHeaders)
        if (h->IsModified()) return true;
    return false;
}

unsigned CZipCentralDir::GetSize(bool whole) const {
    unsigned size = 22 + (m_pInfo ? m_pInfo->m_pszComment.GetSize() : 0);
    if (whole && m_pHeaders)
        for (const CZipFileHeader* h : *m_pHeaders) size += h->GetSize();
    return size;
}

void CZipCentralDir::ThrowError(int code) const {
    CZipString path;
    if (m_pStorage && m_pStorage->m_pFile) path = m_pStorage->m_pFile->GetFilePath();
    CZipException::Throw(code, path);
}

// ---- adding ---------------------------------------------------------------

CZipFileHeader* CZipCentralDir::AddNewFile(const CZipFileHeader& header, unsigned short replaceIndex, int level,
                                           bool copySizes) {
    m_pOpenedFile = nullptr;
    std::unique_ptr<CZipFileHeader> h(new CZipFileHeader(this));
    h->m_uMethod = header.m_uMethod;
    h->m_uModTime = header.m_uModTime;
    h->m_uModDate = header.m_uModDate;
    h->m_tModificationTime = header.m_tModificationTime;
    h->m_tCreationTime = header.m_tCreationTime;
    h->m_tLastAccessTime = header.m_tLastAccessTime;
    h->m_uExternalAttr = header.m_uExternalAttr;
    h->m_uLocalComprSize = header.m_uLocalComprSize;
    h->m_uLocalUncomprSize = header.m_uLocalUncomprSize;
    h->m_uLocalHeaderSize = header.m_uLocalHeaderSize;
    h->m_fileName = header.m_fileName;
    h->m_comment = header.m_comment;
    h->m_aLocalExtraData = header.m_aLocalExtraData;
    h->m_aCentralExtraData = header.m_aCentralExtraData;
    h->m_aCentralExtraData.RemoveInternalHeaders();
    h->m_iSystemCompatibility = header.m_iSystemCompatibility;
    h->m_uEncryptionMethod = header.m_uEncryptionMethod;

    // The archive has made the entry's room (or taken a directory that
    // stood there off the disk).
    m_pStorage->Flush();
    h->PrepareData(level, m_pStorage->IsSegmented());
    if (copySizes) {
        h->m_uCrc32 = header.m_uCrc32;
        h->m_uComprSize = header.m_uComprSize;
        h->m_uUncomprSize = header.m_uUncomprSize;
    }

    unsigned short index;
    if (IsValidIndex(replaceIndex)) {
        h->PrepareStringBuffers();
        if (h->PredictFileNameSize() > 0xFFFF - 1 || !h->m_aLocalExtraData.Validate())
            ThrowError(CZipException::tooLongData);
        CZipFileHeader* old = (*m_pHeaders)[replaceIndex];
        m_pStorage->Seek(old->m_uOffset, CZipStorage::seekFromBeginning);
        RemoveFile(old, replaceIndex, false);
        m_pHeaders->InsertAt(replaceIndex, h.get());
        index = replaceIndex;
    } else {
        // Seek first: once listed, the header must not be freed by a throw.
        if (m_pStorage->m_uDataEnd == ~0ull) m_pStorage->m_pFile->SeekToEnd();
        else m_pStorage->Seek(m_pStorage->m_uDataEnd);
        index = (unsigned short)m_pHeaders->Add(h.get());
    }
    CZipFileHeader* added = h.release();
    m_pOpenedFile = added;
    if (m_pInfo->m_bFindFastEnabled) InsertFindFastElement(added, index);
    m_pInfo->m_iLastIndexAdded = index;
    return added;
}

void CZipCentralDir::CloseNewFile() {
    // The entry stays the opened file until it is finished, so that a
    // failure here still lets the archive drop it.
    if (m_pOpenedFile) m_pOpenedFile->OnNewFileClose(m_pStorage);
    m_pOpenedFile = nullptr;
}

// ---- removing ---------------------------------------------------------------

void CZipCentralDir::RemoveFile(CZipFileHeader* header, unsigned short index, bool shift) {
    if (index == 0xFFFF) {
        auto it = std::find(m_pHeaders->begin(), m_pHeaders->end(), header);
        if (it == m_pHeaders->end()) return;
        index = (unsigned short)(it - m_pHeaders->begin());
    } else if (!header) {
        header = (*m_pHeaders)[index];
    }
    if (m_pInfo->m_bFindFastEnabled) RemoveFindFastElement(header, shift);
    if (m_pOpenedFile == header) m_pOpenedFile = nullptr;
    delete header;
    m_pHeaders->RemoveAt(index);
    if (m_pInfo->m_iLastIndexAdded != 0xFFFF) {
        if (m_pInfo->m_iLastIndexAdded == index) m_pInfo->m_iLastIndexAdded = 0xFFFF;
        else if (m_pInfo->m_iLastIndexAdded > index) --m_pInfo->m_iLastIndexAdded;
    }
}

void CZipCentralDir::RemoveAll() {
    m_pInfo->m_iLastIndexAdded = 0xFFFF;
    ClearFindFastArray();
    RemoveHeaders();
}

void CZipCentralDir::RemoveHeaders() {
    if (!m_pHeaders) return;
    for (CZipFileHeader* h : *m_pHeaders) delete h;
    m_pHeaders->RemoveAll();
    m_pOpenedFile = nullptr;
}

// ---- writing ----------------------------------------------------------------

void CZipCentralDir::Write(bool quiet, unsigned long long at) {
    if (m_pInfo->m_bInArchive) return;
    m_pInfo->m_uEntriesNumber = (unsigned short)m_pHeaders->size();
    CommittedNames committed;
    if (!m_pStorage->IsSegmented()) {
        m_pStorage->Flush();
        ReadCommittedNames(committed);
        if (at == ~0ull) at = m_pStorage->m_uDataEnd;
        if (at == ~0ull) m_pStorage->m_pFile->SeekToEnd();
        else m_pStorage->m_pFile->SafeSeek(at + m_pStorage->m_uBytesBeforeZip);
    }
    m_bQuiet = quiet;
    m_pInfo->m_uSize = 0;
    // Everything the end record points at must fit below 0xFFFFFFFF, or the
    // archive would need ZIP64: refuse before writing any of it.
    for (auto& c : committed) std::swap(c.first->m_fileName, c.second);
    struct PutBack {
        CommittedNames& names;
        ~PutBack() {
            for (auto& c : names) std::swap(c.first->m_fileName, c.second);
        }
    } putBack{committed};
    unsigned long long offset = m_pStorage->GetPosition();
    unsigned long long size = 0;
    for (const CZipFileHeader* h : *m_pHeaders) size += h->GetSize();
    if (offset > kMaxZipOffset || offset + size > kMaxZipOffset) ThrowError(CZipException::noZip64);
    try {
        if (m_pStorage->IsSegmented()) {
            WriteSegmented();
        } else {
            WriteHeaders(false);
            WriteCentralEnd();
        }
    } catch (...) {
        m_bQuiet = false;
        throw;
    }
    m_bQuiet = false;
    m_pInfo->m_bInArchive = true;
}

void CZipCentralDir::ReadCommittedNames(CommittedNames& names) {
    for (CZipFileHeader* h : *m_pHeaders) {
        if (!h->IsModified()) continue;
        try {
            char fixed[ZipLocalHeader::kFixedSize];
            m_pStorage->Seek(h->m_uOffset, CZipStorage::seekFromBeginning);
            m_pStorage->Read(fixed, sizeof fixed, true);
            if (std::memcmp(fixed, CZipFileHeader::m_gszLocalSignature, 4) != 0) continue;
            const unsigned size = (unsigned char)fixed[ZipLocalHeader::kNameSize] |
                                  (unsigned char)fixed[ZipLocalHeader::kNameSize + 1] << 8;
            CZipFileHeader::StringWithBuffer name;
            name.GetBuffer().Allocate(size);
            m_pStorage->Read(name.GetBuffer(), size, true);
            names.emplace_back(h, name);
        } catch (...) {
            // Unreadable: the entry is written with its new name.
        }
    }
}

unsigned CZipCentralDir::GetWrittenSize() {
    unsigned size = GetSize(true);
    if (m_pStorage->IsSegmented() || !IsAnyFileModified()) return size;
    m_pStorage->Flush();
    CommittedNames committed;
    ReadCommittedNames(committed);
    for (auto& c : committed) size = size - c.first->PredictFileNameSize() + c.second.GetBufferSize();
    return size;
}

void CZipCentralDir::WriteHeaders(bool oneSegment) {
    CZipActionCallback* cb = m_bQuiet ? nullptr : m_pArchive->GetCallback(CZipActionCallback::cbSave);
    unsigned short count = (unsigned short)m_pHeaders->size();
    if (cb) {
        cb->BeginProgress(nullptr, nullptr);
        cb->SetProgressTotal(count);
    }
    m_pInfo->m_uVolumeEntriesNo = 0;
    m_pInfo->m_uVolumeWithCD = m_pStorage->IsBinarySplit() ? 0 : m_pStorage->GetCurrentVolume();
    m_pInfo->m_uOffset = CBytesWriter::WriteSafeU32(m_pStorage->GetPosition());
    // Split and spanned offsets count within a volume; binary-split ones
    // within the whole stream, which a change of volume does not move.
    const bool volumes = m_pStorage->IsSegmented() && !m_pStorage->IsBinarySplit();
    bool aborted = false;
    for (unsigned short i = 0; i < count; ++i) {
        CZipFileHeader* h = (*m_pHeaders)[i];
        unsigned short volume = m_pStorage->GetCurrentVolume();
        unsigned size = h->Write(this);
        m_pInfo->m_uSize += size;
        if (volumes && m_pStorage->GetCurrentVolume() != volume) {
            if (i == 0) {
                m_pInfo->m_uVolumeWithCD = m_pStorage->GetCurrentVolume();
                m_pInfo->m_uOffset = CBytesWriter::WriteSafeU32(m_pStorage->GetPosition() - size);
            }
            m_pInfo->m_uVolumeEntriesNo = 1;
        } else {
            ++m_pInfo->m_uVolumeEntriesNo;
        }
        if (cb) {
            bool goOn = (i == count - 1) ? cb->RequestLastCallback(1) : cb->RequestCallback(1);
            if (!goOn) {
                aborted = true;
                break;
            }
        }
    }
    if (cb) cb->EndProgress();
    if (aborted) {
        if (oneSegment) {
            m_pStorage->EmptyWriteBuffer();
            m_pStorage->m_pFile->SetLength((unsigned long long)m_pStorage->m_uBytesBeforeZip + m_pInfo->m_uOffset);
            CZipException::Throw(CZipException::abortedSafely);
        }
        CZipException::Throw(CZipException::abortedAction);
    }
}

void CZipCentralDir::WriteCentralEnd() {
    unsigned commentSize = m_pInfo->m_pszComment.GetSize();
    // The length field has 16 bits: a longer comment would corrupt the archive.
    if (commentSize > 0xFFFF) ThrowError(CZipException::tooLongData);
    unsigned size = 22 + commentSize;
    if (m_pStorage->IsSegmented() && !m_pStorage->IsBinarySplit()) {
        // The record goes whole onto one volume; none of the entries counted
        // so far is on a volume it moves on to.
        unsigned short volume = m_pStorage->GetCurrentVolume();
        m_pStorage->AssureFree(size);
        if (m_pStorage->GetCurrentVolume() != volume) m_pInfo->m_uVolumeEntriesNo = 0;
    }
    m_pInfo->m_uLastVolume = m_pStorage->IsBinarySplit() ? 0 : m_pStorage->GetCurrentVolume();
    CZipAutoBuffer buf(size);
    char* p = buf;
    std::memcpy(p, m_gszSignature, 4);
    CBytesWriter::WriteBytes(p + 4, m_pInfo->m_uLastVolume);
    CBytesWriter::WriteBytes(p + 6, m_pInfo->m_uVolumeWithCD);
    CBytesWriter::WriteBytes(p + 8, m_pInfo->m_uVolumeEntriesNo);
    CBytesWriter::WriteBytes(p + 10, m_pInfo->m_uEntriesNumber);
    CBytesWriter::WriteBytes(p + 12, m_pInfo->m_uSize);
    // An empty directory is said to start at 0, as zip -d writes it: with
    // data before the archive, its own place reads as extra bytes, which
    // tools take for an empty archive, not a damaged one.
    CBytesWriter::WriteBytes(p + 16, m_pInfo->m_uEntriesNumber ? m_pInfo->m_uOffset : 0u);
    CBytesWriter::WriteBytes(p + 20, (unsigned short)commentSize);
    if (commentSize) std::memcpy(p + 22, m_pInfo->m_pszComment.GetBuffer(), commentSize);
    m_pStorage->Write(buf, size, true);
}

// ---- name index ---------------------------------------------------------------

int CZipCentralDir::CompareElement(const char* name, unsigned short index) const {
    CZipFileHeader* h = (*m_pFindArray)[index]->m_pHeader;
    return (h->GetFileName(false).*(m_pInfo->m_pCompare))(name);
}

void CZipCentralDir::InsertFindFastElement(CZipFileHeader* header, unsigned short index) {
    CZipString name = header->GetFileName(false);
    size_t lo = 0, hi = m_pFindArray->size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = CompareElement(name, (unsigned short)mid);
        if (c == 0) {
            lo = mid;
            break;
        }
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    unsigned short idx = index == 0xFFFF ? (unsigned short)m_pFindArray->size() : index;
    m_pFindArray->InsertAt(lo, new CZipFindFast(header, idx));
}

unsigned short CZipCentralDir::RemoveFindFastElement(CZipFileHeader* header, bool shift) {
    unsigned short removed = 0xFFFF;
    for (size_t i = 0; i < m_pFindArray->size(); ++i) {
        CZipFindFast* f = (*m_pFindArray)[i];
        if (f->m_pHeader == header) {
            removed = f->m_uIndex;
            delete f;
            m_pFindArray->RemoveAt(i);
            break;
        }
    }
    if (shift && removed != 0xFFFF)
        for (CZipFindFast* f : *m_pFindArray)
            if (f->m_uIndex > removed) --f->m_uIndex;
    return removed;
}

void CZipCentralDir::SetComment(const char* comment, unsigned codePage) {
    ZipCompatibility::ConvertStringToBuffer(comment, m_pInfo->m_pszComment, codePage);
    m_pArchive->m_change.DirectoryChanged();
}

void CZipCentralDir::GetComment(CZipString& comment) const {
    ZipCompatibility::ConvertBufferToString(comment, m_pInfo->m_pszComment,
                                            ZipCompatibility::GetDefaultCommentCodePage(m_pArchive->GetSystemCompatibility()));
}

void CZipCentralDir::ClearFindFastArray() {
    if (!m_pFindArray) return;
    for (CZipFindFast* f : *m_pFindArray) delete f;
    m_pFindArray->RemoveAll();
}
