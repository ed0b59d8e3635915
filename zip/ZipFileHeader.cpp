#include "ZipFileHeader.h"

#include <cstring>

#include "BytesWriter.h"
#include "ZipCentralDir.h"
#include "ZipCentralHeaderLayout.h"
#include "ZipCompatibility.h"
#include "ZipCryptograph.h"
#include "ZipException.h"
#include "ZipLocalHeaderLayout.h"
#include "ZipPathComponent.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

const char CZipFileHeader::m_gszSignature[] = {0x50, 0x4B, 0x01, 0x02};
const char CZipFileHeader::m_gszLocalSignature[] = {0x50, 0x4B, 0x03, 0x04};

namespace {
const unsigned kMaxString = 0xFFFF;
const unsigned kNtfsDataSize = 32;
const unsigned kNtfsRecordSize = 4 + kNtfsDataSize;

bool EndsWithSeparator(const CZipFileHeader::StringWithBuffer& name) {
    if (name.HasString()) return CZipPathComponent::HasEndingSeparator(name.GetString());
    if (name.HasBuffer()) {
        char last = name.GetBuffer().GetBuffer()[name.GetBufferSize() - 1];
        return CZipPathComponent::IsSeparator(last);
    }
    return false;
}
}  // namespace

CZipFileHeader::StringWithBuffer& CZipFileHeader::StringWithBuffer::operator=(const StringWithBuffer& other) {
    if (this == &other) return *this;
    if (other.HasString()) SetString(other.GetString());
    else ClearString();
    m_buffer = other.m_buffer;
    return *this;
}

CZipFileHeader::CZipFileHeader() { Initialize(nullptr); }

CZipFileHeader::CZipFileHeader(CZipCentralDir* centralDir) { Initialize(centralDir); }

void CZipFileHeader::Initialize(CZipCentralDir* centralDir) {
    m_uVersionMadeBy = 0;
    m_uVersionNeeded = 0;
    m_uFlag = 0;
    m_uMethod = 8;
    m_uModTime = 0;
    m_uModDate = 0;
    m_uCrc32 = 0;
    m_uComprSize = 0;
    m_uUncomprSize = 0;
    m_uVolumeStart = 0;
    m_uInternalAttr = 0;
    m_uLocalComprSize = 0;
    m_uLocalUncomprSize = 0;
    m_uOffset = 0;
    m_tModificationTime = 0;
    m_tCreationTime = 0;
    m_tLastAccessTime = 0;
    m_uExternalAttr = 0;
    m_uLocalFileNameSize = 0;
    m_uEncryptionMethod = CZipCryptograph::encNone;
    m_uLocalHeaderSize = 0;
    m_bZip64Local = false;
    m_pCentralDir = centralDir;
    m_state = 0;
    m_iSystemCompatibility = (unsigned char)ZipPlatform::GetSystemID();
}

CZipFileHeader& CZipFileHeader::operator=(const CZipFileHeader& other) {
    if (this == &other) return *this;
    m_uVersionMadeBy = other.m_uVersionMadeBy;
    m_uVersionNeeded = other.m_uVersionNeeded;
    m_uFlag = other.m_uFlag;
    m_uMethod = other.m_uMethod;
    m_uModTime = other.m_uModTime;
    m_uModDate = other.m_uModDate;
    m_uCrc32 = other.m_uCrc32;
    m_uComprSize = other.m_uComprSize;
    m_uUncomprSize = other.m_uUncomprSize;
    m_uVolumeStart = other.m_uVolumeStart;
    m_uInternalAttr = other.m_uInternalAttr;
    m_uLocalComprSize = other.m_uLocalComprSize;
    m_uLocalUncomprSize = other.m_uLocalUncomprSize;
    m_uOffset = other.m_uOffset;
    m_aLocalExtraData = other.m_aLocalExtraData;
    m_aCentralExtraData = other.m_aCentralExtraData;
    m_tModificationTime = other.m_tModificationTime;
    m_tCreationTime = other.m_tCreationTime;
    m_tLastAccessTime = other.m_tLastAccessTime;
    m_uExternalAttr = other.m_uExternalAttr;
    m_uLocalFileNameSize = other.m_uLocalFileNameSize;
    m_uEncryptionMethod = other.m_uEncryptionMethod;
    m_uLocalHeaderSize = other.m_uLocalHeaderSize;
    m_bZip64Local = other.m_bZip64Local;
    m_pCentralDir = other.m_pCentralDir;
    m_state = other.m_state;
    m_fileName = other.m_fileName;
    m_comment = other.m_comment;
    m_iSystemCompatibility = other.m_iSystemCompatibility;
    return *this;
}

// ---- new entries --------------------------------------------------------

void CZipFileHeader::PrepareData(int level, bool segmented) {
    m_uInternalAttr = 0;
    m_uVersionMadeBy = 20;
    m_uCrc32 = 0;
    m_uComprSize = 0;
    m_uUncomprSize = 0;
    m_uFlag = 0;
    if (m_uMethod == 8) {
        switch (level) {
        case 1: m_uFlag |= flCompressOption1 | flCompressOption2; break;
        case 2: m_uFlag |= flCompressOption2; break;
        case 8:
        case 9: m_uFlag |= flCompressOption1; break;
        default: break;
        }
    }
    UpdateFlag(segmented);
    // A new entry's local header is plain (a copied one too): a ZIP64
    // record there would have readers take 8-byte descriptor sizes.
    m_bZip64Local = false;
    m_aLocalExtraData.Remove(CZipExtraField::hidZip64);
    m_uLocalComprSize += CZipCryptograph::GetEncryptedInfoSizeBeforeData(m_uEncryptionMethod);
    m_uVersionNeeded = (unsigned short)(IsDirectory() ? 10 : 20);
}

void CZipFileHeader::UpdateFlag(bool segmented) {
    if (segmented || NeedsDataDescriptor()) m_uFlag |= flDataDescriptor;
    if (IsEncrypted()) m_uFlag |= flEncrypted;
}

int CZipFileHeader::GetCompressionLevel() const {
    if (m_uMethod == 0) return 0;
    bool o1 = (m_uFlag & flCompressOption1) != 0, o2 = (m_uFlag & flCompressOption2) != 0;
    if (o1 && o2) return 1;
    if (o2) return 2;
    if (o1) return 9;
    return -1;
}

void CZipFileHeader::WriteLocal(CZipStorage* storage) {
    namespace L = ZipLocalHeader;
    m_aLocalExtraData.RemoveInternalLocalHeaders();
    if (IsDataDescriptor()) {
        m_uLocalComprSize = 0;
        if (!IsWinZipAesEncryption()) m_uLocalUncomprSize = 0;
    }
    // A local header of ZIP64 form keeps it: its size and its descriptor's
    // layout stay as they are.
    CZipExtraData* zip64 = m_bZip64Local ? m_aLocalExtraData.Lookup(CZipExtraField::hidZip64) : nullptr;
    m_bZip64Local = zip64 != nullptr;
    if (zip64) {
        zip64->m_data.Allocate(L::kZip64SizesSize);
        CBytesWriter::WriteBytes(zip64->m_data, m_uLocalUncomprSize, 8);
        CBytesWriter::WriteBytes(zip64->m_data + 8, m_uLocalComprSize, 8);
    }
    const unsigned fieldCompressed = zip64 ? L::kZip64Mark : m_uLocalComprSize;
    const unsigned fieldUncompressed = zip64 ? L::kZip64Mark : m_uLocalUncomprSize;
    PrepareStringBuffers();
    unsigned nameSize = m_fileName.GetBufferSize();
    if (nameSize > kMaxString || m_comment.GetBufferSize() > kMaxString || !m_aLocalExtraData.Validate())
        storage->ThrowError(CZipException::tooLongData);
    // Offsets are 32-bit and 0xFFFFFFFF would announce ZIP64: refuse rather
    // than write an offset that readers cannot follow.
    if ((!storage->IsSegmented() || storage->IsBinarySplit()) && storage->GetPosition() > kMaxZipOffset)
        storage->ThrowError(CZipException::noZip64);

    unsigned extraSize = unsigned(m_aLocalExtraData.GetTotalSize());
    m_uLocalFileNameSize = (unsigned short)nameSize;
    m_uLocalHeaderSize = L::kFixedSize + nameSize + extraSize;
    CZipAutoBuffer buf(m_uLocalHeaderSize);
    char* p = buf;
    std::memcpy(p + L::kSignature, m_gszLocalSignature, 4);
    CBytesWriter::WriteBytes(p + L::kVersionNeeded, m_uVersionNeeded);
    CBytesWriter::WriteBytes(p + L::kFlag, m_uFlag);
    CBytesWriter::WriteBytes(p + L::kMethod, m_uMethod);
    CBytesWriter::WriteBytes(p + L::kModTime, m_uModTime);
    CBytesWriter::WriteBytes(p + L::kModDate, m_uModDate);
    CBytesWriter::WriteBytes(p + L::kCrc32, m_uCrc32);
    CBytesWriter::WriteBytes(p + L::kComprSize, fieldCompressed);
    CBytesWriter::WriteBytes(p + L::kUncomprSize, fieldUncompressed);
    CBytesWriter::WriteBytes(p + L::kNameSize, (unsigned short)nameSize);
    CBytesWriter::WriteBytes(p + L::kExtraSize, (unsigned short)extraSize);
    if (nameSize) std::memcpy(p + L::kFixedSize, m_fileName.GetBuffer().GetBuffer(), nameSize);
    m_aLocalExtraData.Write(p + L::kFixedSize + nameSize);
    storage->Write(buf, m_uLocalHeaderSize, true);

    m_uVolumeStart = storage->IsBinarySplit() ? 0 : storage->GetCurrentVolume();
    m_uOffset = CBytesWriter::WriteSafeU32(storage->GetPosition() - m_uLocalHeaderSize);
    m_aLocalExtraData.RemoveInternalLocalHeaders();
    ClearFileName();
}

void CZipFileHeader::UpdateLocalHeader(CZipStorage* storage) {
    if (storage->IsSegmented() || IsDataDescriptor()) return;
    storage->Flush();
    unsigned long long pos = storage->m_pFile->GetPosition();
    m_uLocalComprSize = m_uComprSize;
    m_uLocalUncomprSize = m_uUncomprSize;
    char buf[12];
    CBytesWriter::WriteBytes(buf, m_uCrc32);
    CBytesWriter::WriteBytes(buf + 4, m_uLocalComprSize);
    CBytesWriter::WriteBytes(buf + 8, m_uLocalUncomprSize);
    storage->Seek((unsigned long long)m_uOffset + ZipLocalHeader::kCrc32, CZipStorage::seekFromBeginning);
    storage->m_pFile->Write(buf, 12);
    storage->m_pFile->SafeSeek(pos, true);
}

void CZipFileHeader::WriteDataDescriptor(CZipStorage* storage) {
    if (!IsDataDescriptor()) return;
    bool signature = NeedsSignatureInDataDescriptor(storage);
    const int sizeBytes = m_bZip64Local ? 8 : 4;
    char buf[24];
    char* p = buf;
    if (signature) {
        std::memcpy(p, CZipStorage::m_gszExtHeaderSignat, 4);
        p += 4;
    }
    CBytesWriter::WriteBytes(p, m_uCrc32);
    CBytesWriter::WriteBytes(p + 4, m_uComprSize, sizeBytes);
    CBytesWriter::WriteBytes(p + 4 + sizeBytes, m_uUncomprSize, sizeBytes);
    storage->Write(buf, GetDataDescriptorSize(signature), true);
}

void CZipFileHeader::OnNewFileClose(CZipStorage* storage) {
    UpdateLocalHeader(storage);
    WriteDataDescriptor(storage);
    storage->Flush();
}

// ---- central header -----------------------------------------------------

void CZipFileHeader::WriteNtfsRecord() {
    CZipExtraData* extra = m_aCentralExtraData.CreateNew(CZipExtraField::hidNtfs);
    extra->m_data.Allocate(kNtfsDataSize, true);
    char* p = extra->m_data;
    CBytesWriter::WriteBytes(p + 4, (unsigned short)1);
    CBytesWriter::WriteBytes(p + 6, (unsigned short)24);
    const time_t* times[3] = {&m_tModificationTime, &m_tLastAccessTime, &m_tCreationTime};
    for (int i = 0; i < 3; ++i) {
        ZipPlatform::FILETIME ft;
        ZipPlatform::ConvertTimeToFileTime(*times[i], ft);
        CBytesWriter::WriteBytes(p + 8 + 8 * i, ft.dwLowDateTime);
        CBytesWriter::WriteBytes(p + 12 + 8 * i, ft.dwHighDateTime);
    }
}

unsigned CZipFileHeader::Write(CZipCentralDir* centralDir) {
    namespace C = ZipCentralHeader;
    if (!centralDir) centralDir = m_pCentralDir;
    if (!centralDir || !centralDir->m_pStorage) CZipException::Throw(CZipException::internalError);
    m_aCentralExtraData.RemoveInternalHeaders();
    // Extended times only when they were asked for: by default an entry
    // carries no extra field at all.
    if (m_tModificationTime || m_tCreationTime || m_tLastAccessTime) WriteNtfsRecord();
    PrepareStringBuffers();
    unsigned nameSize = m_fileName.GetBufferSize();
    unsigned commentSize = m_comment.GetBufferSize();
    if (nameSize > kMaxString || commentSize > kMaxString || !m_aCentralExtraData.Validate()) {
        m_aCentralExtraData.RemoveInternalHeaders();
        CZipException::Throw(CZipException::tooLongData);
    }
    unsigned extraSize = unsigned(m_aCentralExtraData.GetTotalSize());
    unsigned size = C::kFixedSize + nameSize + extraSize + commentSize;
    CZipAutoBuffer buf(size);
    char* p = buf;
    std::memcpy(p + C::kSignature, m_gszSignature, C::kSignatureSize);
    CBytesWriter::WriteBytes(p + C::kVersionMadeBy, (unsigned short)((m_iSystemCompatibility << 8) | m_uVersionMadeBy));
    CBytesWriter::WriteBytes(p + C::kVersionNeeded, m_uVersionNeeded);
    CBytesWriter::WriteBytes(p + C::kFlag, m_uFlag);
    CBytesWriter::WriteBytes(p + C::kMethod, m_uMethod);
    CBytesWriter::WriteBytes(p + C::kModTime, m_uModTime);
    CBytesWriter::WriteBytes(p + C::kModDate, m_uModDate);
    CBytesWriter::WriteBytes(p + C::kCrc32, m_uCrc32);
    CBytesWriter::WriteBytes(p + C::kComprSize, m_uComprSize);
    CBytesWriter::WriteBytes(p + C::kUncomprSize, m_uUncomprSize);
    CBytesWriter::WriteBytes(p + C::kNameSize, (unsigned short)nameSize);
    CBytesWriter::WriteBytes(p + C::kExtraSize, (unsigned short)extraSize);
    CBytesWriter::WriteBytes(p + C::kCommentSize, (unsigned short)commentSize);
    CBytesWriter::WriteBytes(p + C::kVolumeStart, m_uVolumeStart);
    CBytesWriter::WriteBytes(p + C::kInternalAttr, m_uInternalAttr);
    CBytesWriter::WriteBytes(p + C::kExternalAttr, m_uExternalAttr);
    CBytesWriter::WriteBytes(p + C::kOffset, m_uOffset);
    char* q = p + C::kFixedSize;
    if (nameSize) std::memcpy(q, m_fileName.GetBuffer().GetBuffer(), nameSize);
    q += nameSize;
    m_aCentralExtraData.Write(q);
    q += extraSize;
    if (commentSize) std::memcpy(q, m_comment.GetBuffer().GetBuffer(), commentSize);
    m_aCentralExtraData.RemoveInternalHeaders();
    centralDir->m_pStorage->Write(buf, size, true);
    ClearFileName();
    return size;
}

// ---- sizes --------------------------------------------------------------

unsigned CZipFileHeader::GetSize() const {
    unsigned size = ZipCentralHeader::kFixedSize + PredictFileNameSize() + unsigned(m_aCentralExtraData.GetTotalSize()) +
                    PredictCommentSize();
    if ((m_tModificationTime || m_tCreationTime || m_tLastAccessTime) && !m_aCentralExtraData.Lookup(CZipExtraField::hidNtfs))
        size += kNtfsRecordSize;
    return size;
}

unsigned CZipFileHeader::GetLocalSize(bool real) const {
    if (real) return m_uLocalHeaderSize;
    return ZipLocalHeader::kFixedSize + PredictFileNameSize() + unsigned(m_aLocalExtraData.GetTotalSize());
}

unsigned CZipFileHeader::GetDataDescriptorSize(bool withSignature) const {
    if (!IsDataDescriptor()) return 0;
    return (withSignature ? 16 : 12) + (m_bZip64Local ? 8 : 0);
}

unsigned CZipFileHeader::GetDataDescriptorSize(const CZipStorage* storage) const {
    return GetDataDescriptorSize(NeedsSignatureInDataDescriptor(storage));
}

bool CZipFileHeader::NeedsSignatureInDataDescriptor(const CZipStorage* storage) const {
    return storage->IsSegmented() || IsEncrypted();
}

unsigned CZipFileHeader::GetEncryptedInfoSize() const {
    return CZipCryptograph::GetEncryptedInfoSize(m_uEncryptionMethod);
}

unsigned CZipFileHeader::GetDataSize(bool reduce) const {
    unsigned enc = GetEncryptedInfoSize();
    return reduce ? m_uComprSize - enc : m_uComprSize + enc;
}

bool CZipFileHeader::CompressionEfficient() const {
    unsigned before = m_uComprSize - GetEncryptedInfoSize();
    return m_uUncomprSize >= before;
}

bool CZipFileHeader::IsWinZipAesEncryption() const {
    return CZipCryptograph::IsWinZipAesEncryption(m_uEncryptionMethod);
}

// ---- times --------------------------------------------------------------

bool CZipFileHeader::TimesChanged(const CZipFileHeader& before) {
    if (!m_pCentralDir) return true;
    if (m_uModDate == before.m_uModDate && m_uModTime == before.m_uModTime &&
        m_tModificationTime == before.m_tModificationTime && m_tCreationTime == before.m_tCreationTime &&
        m_tLastAccessTime == before.m_tLastAccessTime)
        return true;
    if (m_pCentralDir->OnFileCentralChange()) return true;
    m_uModDate = before.m_uModDate;
    m_uModTime = before.m_uModTime;
    m_tModificationTime = before.m_tModificationTime;
    m_tCreationTime = before.m_tCreationTime;
    m_tLastAccessTime = before.m_tLastAccessTime;
    return false;
}

void CZipFileHeader::SetModificationTime(const time_t& ttime, bool extended) {
    if (!m_pCentralDir) {
        PutModificationTime(ttime, extended);
        return;
    }
    const CZipFileHeader before(*this);
    PutModificationTime(ttime, extended);
    TimesChanged(before);
}

void CZipFileHeader::SetCreationTime(const time_t& ttime) { SetExtendedTime(&CZipFileHeader::m_tCreationTime, ttime); }

void CZipFileHeader::SetLastAccessTime(const time_t& ttime) {
    SetExtendedTime(&CZipFileHeader::m_tLastAccessTime, ttime);
}

void CZipFileHeader::SetExtendedTime(time_t CZipFileHeader::*field, const time_t& ttime) {
    if (!m_pCentralDir) {
        this->*field = ttime;
        return;
    }
    const CZipFileHeader before(*this);
    this->*field = ttime;
    TimesChanged(before);
}

void CZipFileHeader::PutModificationTime(const time_t& ttime, bool extended) {
    if (extended) {
        m_tModificationTime = ttime;
    } else {
        m_tModificationTime = 0;
        m_tCreationTime = 0;
        m_tLastAccessTime = 0;
    }
    struct tm t;
    if (!localtime_r(&ttime, &t)) {
        m_uModDate = 33;
        m_uModTime = 0;
        return;
    }
    int year = t.tm_year + 1900;
    // The DOS year field counts 1980..2107: times outside are clamped to
    // the first or last representable moment, never wrapped.
    if (year < 1980) {
        m_uModDate = 33;  // 1 January 1980
        m_uModTime = 0;
        return;
    }
    if (year > 2107) {
        m_uModDate = (unsigned short)(31 + 12 * 32 + 127 * 512);
        m_uModTime = (unsigned short)(29 + 59 * 32 + 23 * 2048);
        return;
    }
    m_uModDate = (unsigned short)(t.tm_mday + (t.tm_mon + 1) * 32 + (year - 1980) * 512);
    m_uModTime = (unsigned short)(t.tm_sec / 2 + t.tm_min * 32 + t.tm_hour * 2048);
}

time_t CZipFileHeader::GetModificationTime() const {
    if (m_tModificationTime != 0) return m_tModificationTime;
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_sec = (m_uModTime & 0x1F) * 2;
    t.tm_min = (m_uModTime >> 5) & 0x3F;
    t.tm_hour = m_uModTime >> 11;
    t.tm_mday = m_uModDate & 0x1F;
    t.tm_mon = ((m_uModDate >> 5) & 0x0F) - 1;
    t.tm_year = (m_uModDate >> 9) + 1980 - 1900;
    t.tm_isdst = -1;
    return mktime(&t);
}

// ---- attributes ---------------------------------------------------------

unsigned CZipFileHeader::GetSystemAttr() const {
    int sys = ZipPlatform::GetSystemID();
    int compat = m_iSystemCompatibility;
    if (!ZipCompatibility::IsPlatformSupported(compat))
        return EndsWithSeparator(m_fileName) ? ZipPlatform::GetDefaultDirAttributes() : ZipPlatform::GetDefaultAttributes();
    unsigned raw = compat == ZipCompatibility::zcUnix ? (m_uExternalAttr >> 16) : (m_uExternalAttr & 0xFFFF);
    unsigned attr = ZipCompatibility::ConvertToSystem(raw, compat, sys);
    if ((m_uComprSize == 0 || m_uExternalAttr == 0) && !ZipPlatform::IsDirectory(attr) && EndsWithSeparator(m_fileName)) {
        raw |= ZipCompatibility::ConvertToSystem(ZipPlatform::GetDefaultDirAttributes(), sys, compat);
        attr = ZipCompatibility::ConvertToSystem(raw, compat, sys);
    }
    if (ZipPlatform::IsDirectory(attr) && compat != ZipCompatibility::zcUnix) attr = ZipPlatform::GetDefaultDirAttributes();
    return attr;
}

bool CZipFileHeader::SetSystemAttr(unsigned attr) {
    int sys = ZipPlatform::GetSystemID();
    int compat = m_iSystemCompatibility;
    unsigned value;
    if (compat == ZipCompatibility::zcUnix) {
        value = ZipCompatibility::ConvertToSystem(attr, sys, compat) << 16;
        if (ZipPlatform::IsDirectory(attr)) value |= ZipCompatibility::attDir;
    } else {
        value = (ZipCompatibility::ConvertToSystem(attr, sys, compat) & 0xFFFF) |
                (ZipCompatibility::ConvertToSystem(attr, sys, ZipCompatibility::zcUnix) << 16);
    }
    if (value == m_uExternalAttr) return true;
    // Set before the directory is told: with auto-finalize it is written
    // at once, and must hold the new value.
    const unsigned old = m_uExternalAttr;
    m_uExternalAttr = value;
    if (m_pCentralDir && !m_pCentralDir->OnFileCentralChange()) {
        m_uExternalAttr = old;
        return false;
    }
    return true;
}

// A trailing separator makes a directory whatever the attributes say:
// tools disagree on those, never on the name.
bool CZipFileHeader::IsDirectory() const {
    return EndsWithSeparator(m_fileName) || ZipPlatform::IsDirectory(GetSystemAttr());
}

void CZipFileHeader::SetSystemCompatibility(int system, bool convertAttributes) {
    if (!convertAttributes || system == m_iSystemCompatibility) {
        m_iSystemCompatibility = (unsigned char)system;
        return;
    }
    unsigned attr = GetSystemAttr();
    m_iSystemCompatibility = (unsigned char)system;
    SetSystemAttr(attr);
}

// ---- names and comments -------------------------------------------------

unsigned CZipFileHeader::GetDefaultFileNameCodePage() const {
    return ZipCompatibility::GetDefaultNameCodePage(m_iSystemCompatibility);
}

unsigned CZipFileHeader::GetDefaultCommentCodePage() const {
    return ZipCompatibility::GetDefaultCommentCodePage(m_iSystemCompatibility);
}

void CZipFileHeader::ConvertFileName(CZipAutoBuffer& buffer) const {
    CZipString name = m_fileName.HasString() ? m_fileName.GetString() : CZipString();
    ZipCompatibility::SlashBackslashChg(name, false);
    ZipCompatibility::ConvertStringToBuffer(name, buffer, GetDefaultFileNameCodePage());
}

void CZipFileHeader::ConvertFileName(CZipString& text) const {
    ZipCompatibility::ConvertBufferToString(text, m_fileName.GetBuffer(), GetDefaultFileNameCodePage());
    ZipCompatibility::NormalizePathSeparators(text);
}

void CZipFileHeader::ConvertComment(CZipAutoBuffer& buffer) const {
    ZipCompatibility::ConvertStringToBuffer(m_comment.HasString() ? m_comment.GetString().c_str() : "", buffer,
                                            GetDefaultCommentCodePage());
}

void CZipFileHeader::ConvertComment(CZipString& text) const {
    ZipCompatibility::ConvertBufferToString(text, m_comment.GetBuffer(), GetDefaultCommentCodePage());
}

CZipString& CZipFileHeader::GetFileName(bool clearBuffer) {
    if (!m_fileName.HasString()) {
        m_fileName.AllocateString();
        ConvertFileName(m_fileName.GetString());
    }
    if (clearBuffer) m_fileName.ClearBuffer();
    return m_fileName.GetString();
}

bool CZipFileHeader::SetFileName(const char* name, bool centralOnly) {
    CZipString newName(name);
    if (!(IsDirectory() && newName.GetLength() == 1 && CZipPathComponent::IsSeparator(newName[0])))
        CZipPathComponent::RemoveSeparatorsLeft(newName);
    if (!m_pCentralDir) {
        m_fileName.ClearBuffer();
        m_fileName.SetString(newName);
        return true;
    }
    CZipString current = GetFileName(false);
    CZipString wanted = newName;
    if (IsDirectory()) CZipPathComponent::AppendSeparator(wanted);
    else CZipPathComponent::RemoveSeparators(wanted);
    if (current.Collate(wanted) == 0) return true;
    m_fileName.ClearBuffer();
    m_fileName.SetString(newName);
    // Marked before the commit the change may trigger, so that the commit
    // writes this entry's local header too.
    const bool wasModified = IsModified();
    if (!centralOnly) SetModified();
    bool ok = m_pCentralDir->OnFileNameChange(this, centralOnly);
    if (!centralOnly && !ok) {
        m_fileName.ClearBuffer();
        m_fileName.SetString(current);
        SetModified(wasModified);
    }
    return ok;
}

CZipString CZipFileHeader::GetComment(bool clearBuffer) {
    if (!m_comment.HasString()) {
        m_comment.AllocateString();
        ConvertComment(m_comment.GetString());
    }
    if (clearBuffer) m_comment.ClearBuffer();
    return m_comment.GetString();
}

bool CZipFileHeader::SetComment(const char* comment) {
    if (!m_pCentralDir) {
        m_comment.ClearBuffer();
        m_comment.SetString(comment);
        return true;
    }
    CZipString current = GetComment(false);
    if (current.Collate(comment) == 0) return true;
    m_comment.ClearBuffer();
    m_comment.SetString(comment);
    if (!m_pCentralDir->OnFileCentralChange()) {
        m_comment.SetString(current);
        return false;
    }
    return true;
}

unsigned short CZipFileHeader::PredictFileNameSize() const {
    if (m_fileName.HasBuffer() || !m_fileName.HasString()) return (unsigned short)m_fileName.GetBufferSize();
    CZipAutoBuffer buffer;
    ConvertFileName(buffer);
    return (unsigned short)buffer.GetSize();
}

unsigned short CZipFileHeader::PredictCommentSize() const {
    if (m_comment.HasBuffer() || !m_comment.HasString()) return (unsigned short)m_comment.GetBufferSize();
    CZipAutoBuffer buffer;
    ConvertComment(buffer);
    return (unsigned short)buffer.GetSize();
}

void CZipFileHeader::PrepareStringBuffers() {
    if (!m_fileName.HasBuffer() && m_fileName.HasString()) ConvertFileName(m_fileName.GetBuffer());
    if (!m_comment.HasBuffer() && m_comment.HasString()) ConvertComment(m_comment.GetBuffer());
}

bool CZipFileHeader::CanBeWrittenLocally() const {
    unsigned nameSize = m_fileName.GetBufferSize();
    if (!m_fileName.HasBuffer() && m_fileName.HasString()) {
        CZipAutoBuffer bytes;
        ConvertFileName(bytes);
        nameSize = bytes.GetSize();
    }
    return nameSize <= kMaxString && m_aLocalExtraData.Validate();
}
