// Reading an entry's records: its central header, its local header with the
// consistency checks, and its data descriptor.
#include <cstring>

#include "BytesWriter.h"
#include "ZipCentralDir.h"
#include "ZipCentralHeaderLayout.h"
#include "ZipCompressor.h"
#include "ZipCryptograph.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipLocalHeaderLayout.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

namespace {
const unsigned kNtfsDataSize = 32;
// The low four flag bits: encryption, the compression option and the
// data descriptor; higher bits may legitimately differ between the records.
const unsigned short kCheckedFlags = 0x000F;

void ReadBytesInto(CZipStorage* storage, CZipAutoBuffer& buffer, unsigned short size) {
    if (size == 0) {
        buffer.Release();
        return;
    }
    buffer.Allocate(size);
    storage->Read(buffer, size, true);
}
}  // namespace

bool CZipFileHeader::Read(bool readSignature) {
    namespace C = ZipCentralHeader;
    CZipStorage* storage = m_pCentralDir->m_pStorage;
    char buf[C::kFixedSize];
    if (readSignature) {
        storage->Read(buf, C::kFixedSize, true);
        if (std::memcmp(buf + C::kSignature, m_gszSignature, C::kSignatureSize) != 0) return false;
    } else {
        storage->Read(buf + C::kSignatureSize, C::kFixedSize - C::kSignatureSize, true);
    }
    unsigned short versionMadeBy, nameSize, extraSize, commentSize;
    CBytesWriter::ReadBytes(versionMadeBy, buf + C::kVersionMadeBy);
    CBytesWriter::ReadBytes(m_uVersionNeeded, buf + C::kVersionNeeded);
    CBytesWriter::ReadBytes(m_uFlag, buf + C::kFlag);
    CBytesWriter::ReadBytes(m_uMethod, buf + C::kMethod);
    CBytesWriter::ReadBytes(m_uModTime, buf + C::kModTime);
    CBytesWriter::ReadBytes(m_uModDate, buf + C::kModDate);
    CBytesWriter::ReadBytes(m_uCrc32, buf + C::kCrc32);
    CBytesWriter::ReadBytes(m_uComprSize, buf + C::kComprSize);
    CBytesWriter::ReadBytes(m_uUncomprSize, buf + C::kUncomprSize);
    CBytesWriter::ReadBytes(nameSize, buf + C::kNameSize);
    CBytesWriter::ReadBytes(extraSize, buf + C::kExtraSize);
    CBytesWriter::ReadBytes(commentSize, buf + C::kCommentSize);
    CBytesWriter::ReadBytes(m_uVolumeStart, buf + C::kVolumeStart);
    CBytesWriter::ReadBytes(m_uInternalAttr, buf + C::kInternalAttr);
    CBytesWriter::ReadBytes(m_uExternalAttr, buf + C::kExternalAttr);
    CBytesWriter::ReadBytes(m_uOffset, buf + C::kOffset);
    m_uVersionMadeBy = (unsigned char)(versionMadeBy & 0xFF);
    m_iSystemCompatibility = (unsigned char)(versionMadeBy >> 8);
    m_uEncryptionMethod = (m_uFlag & flEncrypted) ? CZipCryptograph::encStandard : CZipCryptograph::encNone;

    unsigned short volume = storage->GetCurrentVolume();
    m_fileName.ClearString();
    ReadBytesInto(storage, m_fileName.GetBuffer(), nameSize);
    if (!m_aCentralExtraData.Read(storage, extraSize)) return false;
    // Values of 0xFFFFFFFF with a ZIP64 record stand for 64-bit ones that
    // this library cannot hold.
    if ((m_uComprSize == 0xFFFFFFFFu || m_uUncomprSize == 0xFFFFFFFFu || m_uOffset == 0xFFFFFFFFu ||
         m_uVolumeStart == 0xFFFF) &&
        m_aCentralExtraData.Lookup(CZipExtraField::hidZip64))
        storage->ThrowError(CZipException::noZip64);
    ReadNtfsRecord();
    m_comment.ClearString();
    ReadBytesInto(storage, m_comment.GetBuffer(), commentSize);
    m_aCentralExtraData.RemoveInternalHeaders();
    return storage->GetCurrentVolume() == volume || storage->IsBinarySplit();
}

void CZipFileHeader::ReadNtfsRecord() {
    const CZipExtraData* extra = m_aCentralExtraData.Lookup(CZipExtraField::hidNtfs);
    if (!extra || extra->m_data.GetSize() < kNtfsDataSize) return;
    const char* p = extra->m_data;
    unsigned short tag, size;
    CBytesWriter::ReadBytes(tag, p + 4);
    CBytesWriter::ReadBytes(size, p + 6);
    if (tag != 1 || size != 24) return;
    time_t* times[3] = {&m_tModificationTime, &m_tLastAccessTime, &m_tCreationTime};
    for (int i = 0; i < 3; ++i) {
        ZipPlatform::FILETIME ft;
        CBytesWriter::ReadBytes(ft.dwLowDateTime, p + 8 + 8 * i);
        CBytesWriter::ReadBytes(ft.dwHighDateTime, p + 12 + 8 * i);
        time_t t = 0;
        *times[i] = ZipPlatform::ConvertFileTimeToTime(ft, t) ? t : 0;
    }
}

bool CZipFileHeader::ReadLocal(CZipCentralDir* centralDir) {
    namespace L = ZipLocalHeader;
    CZipStorage* storage = centralDir->m_pStorage;
    // Volume numbers count in split and spanned archives; a single file and
    // a binary-split stream hold everything on volume 0.
    if (storage->IsSegmented() && !storage->IsBinarySplit()) {
        if (storage->GetCurrentVolume() != m_uVolumeStart) storage->ChangeVolume(m_uVolumeStart);
    } else if (m_uVolumeStart != 0) {
        return false;
    }
    const unsigned short volume = storage->GetCurrentVolume();
    // Seeking past the end would grow a memory file (by up to 4 GiB for a
    // crafted offset): a header that cannot be there is no match. A single
    // file on disk only reads nothing there (201), so its length, three
    // seeks to learn, is not asked for every entry.
    if ((!storage->m_pFile->HasFilePath() || storage->IsSegmented()) &&
        (unsigned long long)m_uOffset + L::kFixedSize > storage->GetLastDataOffset())
        return false;
    storage->Seek(m_uOffset, CZipStorage::seekFromBeginning);
    char buf[L::kFixedSize];
    storage->Read(buf, L::kFixedSize, true);
    if (std::memcmp(buf + L::kSignature, m_gszLocalSignature, 4) != 0) return false;
    unsigned short flag, method, nameSize, extraSize;
    unsigned crc, comprSize, uncomprSize;
    CBytesWriter::ReadBytes(flag, buf + L::kFlag);
    CBytesWriter::ReadBytes(method, buf + L::kMethod);
    CBytesWriter::ReadBytes(crc, buf + L::kCrc32);
    CBytesWriter::ReadBytes(comprSize, buf + L::kComprSize);
    CBytesWriter::ReadBytes(uncomprSize, buf + L::kUncomprSize);
    CBytesWriter::ReadBytes(nameSize, buf + L::kNameSize);
    CBytesWriter::ReadBytes(extraSize, buf + L::kExtraSize);
    if (centralDir->IsConsistencyCheckOn(CZipCentralDir::checkLocalFlag) &&
        (flag & kCheckedFlags) != (m_uFlag & kCheckedFlags))
        return false;
    m_uLocalFileNameSize = nameSize;
    CZipAutoBuffer name;
    ReadBytesInto(storage, name, nameSize);  // read, not skipped: no seek past the end
    m_uLocalHeaderSize = L::kFixedSize + nameSize + extraSize;
    if (!m_aLocalExtraData.Read(storage, extraSize)) return false;
    m_bZip64Local = false;
    if ((comprSize == L::kZip64Mark || uncomprSize == L::kZip64Mark) &&
        !TakeZip64LocalSizes(storage, uncomprSize, comprSize))
        return false;
    m_uLocalComprSize = comprSize;
    m_uLocalUncomprSize = uncomprSize;
    if (method == CZipCompressor::methodWinZipAes && IsEncrypted()) storage->ThrowError(CZipException::noAES);
    if (centralDir->IsConsistencyCheckOn(CZipCentralDir::checkLocalMethod) && method != m_uMethod) return false;
    if (!(flag & flDataDescriptor)) {
        if (centralDir->IsConsistencyCheckOn(CZipCentralDir::checkLocalCRC) && crc != m_uCrc32) return false;
        if (centralDir->IsConsistencyCheckOn(CZipCentralDir::checkLocalSizes) &&
            ((comprSize != 0 && comprSize != m_uComprSize) || uncomprSize != m_uUncomprSize))
            return false;
    }
    // A local header of a split or spanned archive never crosses volumes.
    return storage->GetCurrentVolume() == volume || storage->IsBinarySplit();
}

bool CZipFileHeader::TakeZip64LocalSizes(CZipStorage* storage, unsigned& uncompressed, unsigned& compressed) {
    namespace L = ZipLocalHeader;
    CZipExtraData* zip64 = m_aLocalExtraData.Lookup(CZipExtraField::hidZip64);
    // Without the record the fields mean what they say.
    if (!zip64) return true;
    // Only the fields marked are in the record, in this order.
    unsigned* fields[2] = {&uncompressed, &compressed};
    unsigned at = 0;
    for (unsigned* field : fields) {
        if (*field != L::kZip64Mark) continue;
        if (zip64->m_data.GetSize() < at + 8) return false;
        unsigned low, high;
        CBytesWriter::ReadBytes(low, zip64->m_data + at);
        CBytesWriter::ReadBytes(high, zip64->m_data + at + 4);
        // A size that 32 bits cannot hold: the archive needs ZIP64.
        if (high != 0 || low == L::kZip64Mark) storage->ThrowError(CZipException::noZip64);
        *field = low;
        at += 8;
    }
    // Kept in the one layout it is written back in.
    zip64->m_data.Allocate(L::kZip64SizesSize);
    CBytesWriter::WriteBytes(zip64->m_data, uncompressed, 8);
    CBytesWriter::WriteBytes(zip64->m_data + 8, compressed, 8);
    m_bZip64Local = true;
    return true;
}

bool CZipFileHeader::CheckDataDescriptor(CZipStorage* storage) const {
    if (!IsDataDescriptor()) return true;
    const unsigned plain = GetDataDescriptorSize(false);
    char buf[24];
    storage->Read(buf, plain, true);
    const char* p = buf;
    if (std::memcmp(buf, CZipStorage::m_gszExtHeaderSignat, 4) == 0) {
        storage->Read(buf + plain, 4, true);
        p = buf + 4;
    }
    return DescriptorMatches(p);
}

bool CZipFileHeader::DescriptorMatches(const char* fields) const {
    const int sizeBytes = m_bZip64Local ? 8 : 4;
    unsigned crc, comprSize, uncomprSize, comprHigh = 0, uncomprHigh = 0;
    CBytesWriter::ReadBytes(crc, fields);
    CBytesWriter::ReadBytes(comprSize, fields + 4);
    CBytesWriter::ReadBytes(uncomprSize, fields + 4 + sizeBytes);
    if (m_bZip64Local) {
        CBytesWriter::ReadBytes(comprHigh, fields + 8);
        CBytesWriter::ReadBytes(uncomprHigh, fields + 16);
    }
    return crc == m_uCrc32 && comprSize == m_uComprSize && uncomprSize == m_uUncomprSize && comprHigh == 0 &&
           uncomprHigh == 0;
}
