// The directory of a segmented archive, and turning one that never left
// its first volume into an ordinary archive.
#include <cstring>

#include "BytesWriter.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipFile.h"
#include "ZipFileMapping.h"
#include "ZipLocalHeaderLayout.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

namespace {
// The marker that opens the first volume of a segmented archive.
const unsigned kMarkerSize = 4;
}  // namespace

void CZipCentralDir::WriteSegmented() {
    const unsigned whole = GetSize(true);
    // What an ordinary archive saves: the marker and every descriptor but
    // those encryption needs.
    unsigned long long saved = kMarkerSize;
    for (const CZipFileHeader* h : *m_pHeaders)
        if (!h->NeedsDataDescriptor()) saved += h->GetDataDescriptorSize(m_pStorage);
    if (m_pStorage->GetCurrentVolume() == 0 && m_pStorage->GetFreeInVolume() + saved >= whole) {
        bool inBuffer = m_pStorage->m_uBytesWritten == 0 && m_pStorage->GetFreeInBuffer() >= whole;
        if (RemoveDataDescr(inBuffer)) {
            try {
                WriteHeaders(true);
                WriteCentralEnd();
                if (m_pStorage->GetCurrentVolume() != 0) ThrowError(CZipException::badZipFile);
            } catch (...) {
                // What is on disk is no segmented volume any more: finish it
                // as the one file it is.
                try {
                    m_pStorage->FinalizeSegm();
                } catch (...) {
                }
                m_pInfo->m_uLastVolume = 0;
                throw;
            }
            return;
        }
    }
    if (!m_pStorage->IsBinarySplit()) m_pStorage->AssureFree(whole);
    WriteHeaders(false);
    WriteCentralEnd();
}

bool CZipCentralDir::RemoveDataDescr(bool inBuffer) {
    ZipLib::CZipFileMapping mapping;
    CZipFile* file = nullptr;
    char* data;
    unsigned long long size;
    if (inBuffer) {
        data = m_pStorage->m_pWriteBuffer.GetBuffer();
        size = m_pStorage->m_uBytesInWriteBuffer;
    } else {
        m_pStorage->Flush();
        file = dynamic_cast<CZipFile*>(m_pStorage->m_pFile);
        if (!mapping.CreateMapping(file)) return false;
        data = mapping.GetMappedMemory();
        size = file->GetLength();
    }
    if (size < kMarkerSize || std::memcmp(data, CZipStorage::m_gszExtHeaderSignat, kMarkerSize) != 0) return false;
    const unsigned short count = GetCount();
    // Every entry must lie where its header says, in order, or moving the
    // bytes would corrupt them.
    for (unsigned short i = 0; i < count; ++i) {
        const CZipFileHeader* h = (*m_pHeaders)[i];
        unsigned long long end = i + 1 < count ? (*m_pHeaders)[(unsigned short)(i + 1)]->m_uOffset : size;
        unsigned long long minimum = (unsigned long long)h->m_uOffset + h->m_uLocalHeaderSize +
                                     (h->NeedsDataDescriptor() ? 0 : h->GetDataDescriptorSize(m_pStorage));
        if (h->m_uVolumeStart != 0 || h->m_uOffset < kMarkerSize || minimum > end || end > size)
            ThrowError(CZipException::internalError);
    }
    unsigned long long shift = kMarkerSize;
    for (unsigned short i = 0; i < count; ++i) {
        CZipFileHeader* h = (*m_pHeaders)[i];
        unsigned long long start = h->m_uOffset;
        unsigned long long end = i + 1 < count ? (*m_pHeaders)[(unsigned short)(i + 1)]->m_uOffset : size;
        unsigned drop = 0;
        if (!h->NeedsDataDescriptor()) {
            drop = h->GetDataDescriptorSize(m_pStorage);
            h->m_uFlag &= (unsigned short)~CZipFileHeader::flDataDescriptor;
            h->m_uLocalComprSize = h->m_uComprSize;
            h->m_uLocalUncomprSize = h->m_uUncomprSize;
            char* local = data + start;
            CBytesWriter::WriteBytes(local + ZipLocalHeader::kFlag, h->m_uFlag);
            CBytesWriter::WriteBytes(local + ZipLocalHeader::kCrc32, h->m_uCrc32);
            CBytesWriter::WriteBytes(local + ZipLocalHeader::kComprSize, h->m_uComprSize);
            CBytesWriter::WriteBytes(local + ZipLocalHeader::kUncomprSize, h->m_uUncomprSize);
        }
        std::memmove(data + start - shift, data + start, size_t(end - start - drop));
        h->m_uOffset = unsigned(start - shift);
        shift += drop;
    }
    const unsigned long long compacted = size - shift;
    if (inBuffer) {
        m_pStorage->m_uBytesInWriteBuffer = unsigned(compacted);
    } else {
        mapping.RemoveMapping();
        file->SetLength(compacted);
        file->SeekToEnd();
        m_pStorage->m_uBytesWritten = unsigned(compacted);
    }
    return true;
}
