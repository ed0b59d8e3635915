// Reading the central directory of an existing archive, opening and
// closing its entries, and finding entries by name.
#include <algorithm>
#include <cstring>

#include "BytesWriter.h"
#include "ZipBundle.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipPathComponent.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

namespace {
// The end record and the longest comment it can carry.
const unsigned kEndRecordSearchDepth = 22 + 0xFFFF;
}  // namespace

unsigned long long CZipCentralDir::LocateSignature() {
    m_pStorage->m_pFile->SeekToEnd();
    return m_pStorage->LocateSignature(const_cast<char*>(m_gszSignature), kEndRecordSearchDepth);
}

void CZipCentralDir::Read() {
    unsigned long long endOffset = LocateSignature();
    if (endOffset == CZipStorage::SignatureNotFound) ThrowError(CZipException::cdirNotFound);
    if (endOffset > 0xFFFFFFFFull) ThrowError(CZipException::noZip64);
    m_pInfo->m_uEndOffset = unsigned(endOffset);
    // The offset of a binary-split archive is one of the whole stream.
    const bool stream = m_pStorage->IsBinarySplit();
    if (stream) m_pStorage->Seek(endOffset + 4);
    else m_pStorage->m_pFile->SafeSeek(endOffset + 4);
    char buf[18];
    m_pStorage->Read(buf, 18, true);
    unsigned short commentSize;
    CBytesWriter::ReadBytes(m_pInfo->m_uLastVolume, buf);
    CBytesWriter::ReadBytes(m_pInfo->m_uVolumeWithCD, buf + 2);
    CBytesWriter::ReadBytes(m_pInfo->m_uVolumeEntriesNo, buf + 4);
    CBytesWriter::ReadBytes(m_pInfo->m_uEntriesNumber, buf + 6);
    CBytesWriter::ReadBytes(m_pInfo->m_uSize, buf + 8);
    CBytesWriter::ReadBytes(m_pInfo->m_uOffset, buf + 12);
    CBytesWriter::ReadBytes(commentSize, buf + 16);
    m_pInfo->m_pszComment.Release();
    if (commentSize) {
        m_pInfo->m_pszComment.Allocate(commentSize);
        m_pStorage->Read(m_pInfo->m_pszComment, commentSize, true);
    }
    // A ZIP64 end locator means the real values live in records this
    // library does not read, whatever the plain record says.
    if (endOffset >= 20) {
        char locator[4];
        if (stream) m_pStorage->Seek(endOffset - 20);
        else m_pStorage->m_pFile->SafeSeek(endOffset - 20);
        m_pStorage->Read(locator, 4, true);
        if (std::memcmp(locator, m_gszSignature64Locator, 4) == 0) ThrowError(CZipException::noZip64);
    }
    // Values no archive of volumes can have are damage, found before the
    // record's volumes are asked for (a spanned archive needs a callback).
    unsigned long long directoryEnd = (unsigned long long)m_pInfo->m_uOffset + m_pInfo->m_uSize;
    if (m_pInfo->m_uVolumeWithCD > m_pInfo->m_uLastVolume ||
        m_pInfo->m_uVolumeEntriesNo > m_pInfo->m_uEntriesNumber ||
        (m_pInfo->m_uVolumeWithCD == m_pInfo->m_uLastVolume && !stream && endOffset < directoryEnd))
        ThrowError(CZipException::badZipFile);
    m_pStorage->UpdateSegmMode(m_pInfo->m_uLastVolume);
    // One file holds its whole directory; volumes hold it on or before the
    // last one (a binary-split stream counts as one volume).
    const bool volumes = m_pStorage->IsSegmented() && !m_pStorage->IsBinarySplit();
    if (volumes ? m_pInfo->m_uVolumeWithCD > m_pInfo->m_uLastVolume : m_pInfo->m_uVolumeWithCD != 0)
        ThrowError(CZipException::badZipFile);
    if (!volumes && endOffset < directoryEnd) ThrowError(CZipException::badZipFile);
    if (m_pStorage->m_uBytesBeforeZip == 0 && m_pStorage->GetCurrentVolume() == 0)
        m_pStorage->m_uBytesBeforeZip = unsigned(endOffset - directoryEnd);
    if ((m_pInfo->m_uSize == 0) != (m_pInfo->m_uEntriesNumber == 0)) ThrowError(CZipException::badZipFile);
    m_pInfo->m_bInArchive = true;
    if (volumes && m_pStorage->GetCurrentVolume() != m_pInfo->m_uVolumeWithCD)
        m_pStorage->ChangeVolume(m_pInfo->m_uVolumeWithCD);
    if (m_pInfo->m_uSize != 0) ReadHeaders();
}

void CZipCentralDir::ReadHeaders() {
    m_pStorage->Seek(m_pInfo->m_uOffset, CZipStorage::seekFromBeginning);
    RemoveHeaders();
    for (unsigned i = 0; i < m_pInfo->m_uEntriesNumber; ++i) {
        CZipFileHeader* header = new CZipFileHeader(this);
        m_pHeaders->Add(header);
        if (!header->Read(true)) ThrowError(CZipException::badZipFile);
    }
    // Data order, so that every later walk meets the entries as they lie.
    std::sort(m_pHeaders->begin(), m_pHeaders->end(), [](const CZipFileHeader* a, const CZipFileHeader* b) {
        if (a->m_uVolumeStart != b->m_uVolumeStart) return a->m_uVolumeStart < b->m_uVolumeStart;
        return a->m_uOffset < b->m_uOffset;
    });
    for (size_t i = 1; i < m_pHeaders->size(); ++i) {
        const CZipFileHeader* a = (*m_pHeaders)[i - 1];
        const CZipFileHeader* b = (*m_pHeaders)[i];
        if (a->m_uVolumeStart == b->m_uVolumeStart && a->m_uOffset == b->m_uOffset)
            CZipException::Throw(CZipException::badZipFile);
    }
    RebuildFindFastArray();
}

// ---- entries ------------------------------------------------------------

namespace {
// Whether the entry at `index` (its local header read) shares bytes with
// its neighbours in data order: entries that reuse each other's data make
// a small archive extract into far more than it holds. Offsets of split
// and spanned volumes count within their volume, so only neighbours on
// one volume compare; the neighbour before counts its local header at no
// less than its fixed part.
bool OverlapsNeighbour(const CZipArray<CZipFileHeader*>& headers, size_t index) {
    const CZipFileHeader* h = headers[index];
    const unsigned long long start = h->m_uOffset;
    const unsigned long long end = start + h->GetLocalSize(true) + h->m_uComprSize;
    if (index > 0) {
        const CZipFileHeader* before = headers[index - 1];
        if (before->m_uVolumeStart == h->m_uVolumeStart && before->m_uOffset < start &&
            before->m_uOffset + 30ull + before->m_uComprSize > start)
            return true;
    }
    if (index + 1 < headers.size()) {
        const CZipFileHeader* after = headers[index + 1];
        if (after->m_uVolumeStart == h->m_uVolumeStart && after->m_uOffset > start && end > after->m_uOffset)
            return true;
    }
    return false;
}
}  // namespace

void CZipCentralDir::OpenFile(unsigned short index) {
    CZipFileHeader* header = (*m_pHeaders)[index];
    m_pOpenedFile = nullptr;
    if (!header->ReadLocal(this)) ThrowError(CZipException::badZipFile);
    if (OverlapsNeighbour(*m_pHeaders, index)) ThrowError(CZipException::overlappingEntries);
    m_pOpenedFile = header;
}

void CZipCentralDir::CloseFile(bool afterException) {
    CZipFileHeader* header = m_pOpenedFile;
    // Forgotten first: a failing check must not leave the entry open.
    m_pOpenedFile = nullptr;
    if (!afterException && header && IsConsistencyCheckOn(checkDataDescriptor) &&
        !header->CheckDataDescriptor(m_pStorage))
        ThrowError(CZipException::badZipFile);
}

// ---- finding --------------------------------------------------------------

void CZipCentralDir::EnableFindFast(bool enable, bool caseSensitive) {
    if (m_pInfo->m_bFindFastEnabled == enable) return;
    m_pInfo->m_bFindFastEnabled = enable;
    if (enable) BuildFindFastArray(caseSensitive);
    else ClearFindFastArray();
}

void CZipCentralDir::BuildFindFastArray(bool caseSensitive) {
    ClearFindFastArray();
    m_pInfo->m_bCaseSensitive = caseSensitive;
    m_pInfo->m_pCompare = GetCZipStrCompFunc(caseSensitive, true);
    for (unsigned short i = 0; i < GetCount(); ++i) m_pFindArray->Add(new CZipFindFast((*m_pHeaders)[i], i));
    ZIPSTRINGCOMPARE compare = m_pInfo->m_pCompare;
    std::sort(m_pFindArray->begin(), m_pFindArray->end(), [compare](CZipFindFast* a, CZipFindFast* b) {
        return (a->m_pHeader->GetFileName(false).*compare)(b->m_pHeader->GetFileName(false)) < 0;
    });
}

unsigned short CZipCentralDir::FindFileNameIndex(const char* name) const {
    size_t lo = 0, hi = m_pFindArray->size();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        int c = CompareElement(name, (unsigned short)mid);
        if (c == 0) return (unsigned short)mid;
        if (c > 0) hi = mid;
        else lo = mid + 1;
    }
    return 0xFFFF;
}

unsigned short CZipCentralDir::FindFile(const char* name, bool caseSensitive, bool sporadically, bool fileNameOnly) {
    if (!m_pInfo->m_bFindFastEnabled) EnableFindFast(true, sporadically ? !caseSensitive : caseSensitive);
    bool sameCase = m_pInfo->m_bCaseSensitive == caseSensitive;
    ZIPSTRINGCOMPARE compare = sameCase ? m_pInfo->m_pCompare : GetCZipStrCompFunc(caseSensitive, true);
    if (fileNameOnly) {
        for (const CZipFindFast* element : *m_pFindArray) {
            CZipString path = element->m_pHeader->GetFileName(false);
            CZipPathComponent::RemoveSeparators(path);
            CZipPathComponent component(path);
            if ((component.GetFileName().*compare)(name) == 0) return element->m_uIndex;
        }
        return 0xFFFF;
    }
    if (!sameCase) {
        if (sporadically) {
            for (unsigned short i = 0; i < GetCount(); ++i)
                if (((*m_pHeaders)[i]->GetFileName(false).*compare)(name) == 0) return i;
            return 0xFFFF;
        }
        BuildFindFastArray(caseSensitive);
    }
    unsigned short found = FindFileNameIndex(name);
    return found == 0xFFFF ? 0xFFFF : (*m_pFindArray)[found]->m_uIndex;
}
