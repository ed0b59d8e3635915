#include "ZipStorage.h"

#include <cstring>

#include "ZipException.h"
#include "ZipSplitNamesHandler.h"

const char CZipStorage::m_gszExtHeaderSignat[] = {0x50, 0x4B, 0x07, 0x08};

namespace {
// Open-mode bits of the archive.
enum { omOpen = 0x01, omReadOnly = 0x02, omCreate = 0x04, omAppend = 0x08, omSegmented = 0x700 };
}

CZipStorage::CZipStorage() : m_pSplitNamesHandler(nullptr), m_pCachedSizes(nullptr), m_bAutoDeleteSplitNamesHandler(false) {
    Initialize();
}

CZipStorage::~CZipStorage() {
    ClearSplitNames();
    ClearCachedSizes();
}

void CZipStorage::Initialize() {
    m_pFile = nullptr;
    m_uSplitData = 0;
    m_uBytesInWriteBuffer = 0;
    m_uCurrentVolSize = 0;
    m_uBytesWritten = 0;
    m_uCurrentVolume = 0xFFFF;
    m_uBytesBeforeZip = 0;
    m_iWriteBufferSize = 65536;
    m_iLocateBufferSize = 32768;
    m_pSpanChangeVolumeFunc = nullptr;
    m_pSplitChangeVolumeFunc = nullptr;
    m_pChangeVolumeFunc = nullptr;
    m_szArchivePath.Empty();
    m_state = 0;
}

void CZipStorage::AbandonOpen() {
    m_pWriteBuffer.Release();
    m_pFile = nullptr;
    m_state = 0;
    m_uCurrentVolume = 0xFFFF;
}

void CZipStorage::Open(CZipAbstractFile& file, int openMode, bool autoClose) {
    ZipLib::CBitFlag mode(openMode);
    m_pWriteBuffer.Allocate(unsigned(m_iWriteBufferSize));
    m_uBytesInWriteBuffer = 0;
    m_state = stateOpened;
    if (autoClose) m_state.Set(stateAutoClose);
    m_pFile = &file;
    try {
        if (mode.IsSetAny(omCreate)) {
            m_uCurrentVolume = 0;
            if (mode.IsSetAll(omCreate | omAppend)) m_pFile->SeekToEnd();
            else m_pFile->SetLength(0);
        } else {
            m_state.Set(stateExisting);
            if (mode.IsSetAll(omOpen | omReadOnly)) m_state.Set(stateReadOnly);
            m_pFile->SeekToBegin();
        }
    } catch (...) {
        // A file that cannot be positioned leaves the storage closed.
        AbandonOpen();
        throw;
    }
}

void CZipStorage::Open(const char* path, int openMode, unsigned long long volumeSize) {
    (void)volumeSize;
    ZipLib::CBitFlag mode(openMode);
    // Volumes of segmented archives are not handled by this storage yet.
    if (mode.IsSetAny(omSegmented)) ThrowError(CZipException::internalError);
    m_uCurrentVolume = 0xFFFF;
    m_pWriteBuffer.Allocate(unsigned(m_iWriteBufferSize));
    m_uBytesInWriteBuffer = 0;
    m_state = stateOpened | stateAutoClose;
    m_szArchivePath = path;
    m_pChangeVolumeFunc = nullptr;
    m_pFile = &m_internalfile;
    unsigned flags;
    if (mode.IsSetAny(omCreate)) {
        m_uCurrentVolume = 0;
        flags = mode.IsSetAll(omCreate | omAppend) ? (CZipFile::modeReadWrite | CZipFile::modeNoTruncate)
                                                   : (CZipFile::modeReadWrite | CZipFile::modeCreate);
    } else {
        m_state.Set(stateExisting);
        if (mode.IsSetAll(omOpen | omReadOnly)) {
            m_state.Set(stateReadOnly);
            flags = CZipFile::modeRead | CZipFile::modeNoTruncate;
        } else {
            flags = CZipFile::modeReadWrite | CZipFile::modeNoTruncate;
        }
        m_uCurrentVolume = 0;
    }
    try {
        m_internalfile.Open(path, flags | CZipFile::shareDenyWrite, true);
        if (mode.IsSetAll(omCreate | omAppend)) m_internalfile.SeekToEnd();
    } catch (...) {
        AbandonOpen();
        throw;
    }
}

unsigned CZipStorage::Read(void* buffer, unsigned size, bool atOnce) {
    (void)atOnce;
    if (size == 0) return 0;
    char* p = static_cast<char*>(buffer);
    unsigned got = 0;
    while (got < size) {
        unsigned n = m_pFile->Read(p + got, size - got);
        if (n == 0) ThrowError(CZipException::badZipFile);
        got += n;
        // A short read of a disk file is an error unless more data follows
        // on the next call; an unsegmented archive allows no gaps.
        if (got < size && !IsSegmented()) ThrowError(CZipException::badZipFile);
    }
    return got;
}

unsigned CZipStorage::Write(const void* buffer, unsigned size, bool atOnce) {
    (void)atOnce;
    WriteInternalBuffer(static_cast<const char*>(buffer), size);
    return size;
}

void CZipStorage::WriteInternalBuffer(const char* buffer, unsigned size) {
    while (size > 0) {
        unsigned room = GetFreeInBuffer();
        if (room == 0) {
            Flush();
            room = GetFreeInBuffer();
        }
        unsigned n = size < room ? size : room;
        std::memcpy(m_pWriteBuffer.GetBuffer() + m_uBytesInWriteBuffer, buffer, n);
        m_uBytesInWriteBuffer += n;
        buffer += n;
        size -= n;
    }
}

void CZipStorage::Flush() {
    if (m_uBytesInWriteBuffer) {
        m_pFile->Write(m_pWriteBuffer.GetBuffer(), m_uBytesInWriteBuffer);
        if (IsSegmented()) m_uBytesWritten += m_uBytesInWriteBuffer;
        m_uBytesInWriteBuffer = 0;
    }
}

void CZipStorage::FlushFile() {
    if (!IsReadOnly()) m_pFile->Flush();
}

unsigned long long CZipStorage::GetPosition() const {
    unsigned long long pos = m_pFile->GetPosition() + m_uBytesInWriteBuffer;
    if (m_uCurrentVolume == 0) pos -= m_uBytesBeforeZip;
    else if (IsBinarySplit()) {
        for (unsigned short v = 0; v < m_uCurrentVolume; ++v) pos += GetCachedSize(v);
    }
    return pos;
}

unsigned long long CZipStorage::Seek(unsigned long long offset, SeekType type) {
    if (type == seekCurrent) return m_pFile->Seek((long long)offset, CZipAbstractFile::current);
    if (m_uCurrentVolume == 0 && m_uBytesBeforeZip != 0) offset += m_uBytesBeforeZip;
    return m_pFile->SafeSeek(offset, type == seekFromBeginning);
}

bool CZipStorage::IsClosed(bool archive) const {
    if (archive) return !m_state.IsSetAny(stateOpened);
    return m_pFile == nullptr || (m_state.IsSetAny(stateAutoClose) && m_pFile->IsClosed());
}

CZipString CZipStorage::Close(bool write, bool getLastVolumeName) {
    CZipString result;
    try {
        if (write) Flush();
        if (getLastVolumeName && m_pFile) result = m_pFile->GetFilePath();
        if (m_pFile) {
            if (write) FlushFile();
            if (m_state.IsSetAny(stateAutoClose)) m_pFile->Close();
        }
    } catch (...) {
        // A file the storage opened itself is released either way.
        if (m_pFile == &m_internalfile && !m_internalfile.IsClosed()) {
            try { m_internalfile.Close(); } catch (...) {}
        }
        ForgetArchive();
        throw;
    }
    ForgetArchive();
    return result;
}

void CZipStorage::ForgetArchive() {
    m_pWriteBuffer.Release();
    m_uBytesInWriteBuffer = 0;
    m_uCurrentVolume = 0xFFFF;
    m_state = 0;
    m_pFile = nullptr;
    m_uBytesBeforeZip = 0;
    ClearSplitNames();
    ClearCachedSizes();
}

void CZipStorage::ThrowError(int code) const {
    CZipString path;
    if (m_pFile) path = m_pFile->GetFilePath();
    CZipException::Throw(code, path);
}

unsigned long long CZipStorage::GetCachedSize(unsigned short volume) const {
    if (!m_pCachedSizes || volume >= m_pCachedSizes->size()) ThrowError(CZipException::genericError);
    return (*m_pCachedSizes)[volume];
}

void CZipStorage::ClearSplitNames() {
    if (m_bAutoDeleteSplitNamesHandler) delete m_pSplitNamesHandler;
    m_pSplitNamesHandler = nullptr;
    m_bAutoDeleteSplitNamesHandler = false;
}

void CZipStorage::ClearCachedSizes() {
    delete m_pCachedSizes;
    m_pCachedSizes = nullptr;
}

unsigned long long CZipStorage::LocateSignature(char* signature, unsigned maxDepth) {
    const unsigned chunkSize = unsigned(m_iLocateBufferSize);
    const unsigned long long length = m_pFile->GetLength();
    const unsigned long long depth = maxDepth < length ? maxDepth : length;
    unsigned long long distance = length - m_pFile->GetPosition();
    CZipAutoBuffer buffer(chunkSize);
    // Signature byte to match next (scanning backwards) and whether a match
    // is under way; both carry over from chunk to chunk.
    int k = 3;
    bool matching = false;
    while (distance < depth) {
        unsigned skip = 0;
        unsigned chunk = chunkSize;
        distance += chunkSize;
        if (distance > depth) {
            skip = unsigned(distance - depth);
            chunk -= skip;
            distance = depth;
        }
        m_pFile->SafeSeek(distance, false);
        unsigned got = 0;
        while (got < chunk) {
            unsigned n = m_pFile->Read(buffer.GetBuffer() + skip + got, chunk - got);
            if (n == 0) ThrowError(CZipException::badZipFile);
            got += n;
        }
        for (long i = long(chunkSize) - 1; i >= long(skip); --i) {
            if (buffer.GetBuffer()[i] == signature[k]) {
                if (k == 0) return length - distance - skip + (unsigned long long)i;
                matching = true;
                --k;
            } else if (matching) {
                k = 3;
                matching = false;
                ++i;  // the same byte may start a new match
            }
        }
    }
    return SignatureNotFound;
}

void CZipStorage::UpdateSegmMode(unsigned short lastVolume) {
    // Volumes of segmented archives are not read by this build: only the
    // single-volume case is accepted.
    if (lastVolume != 0) ThrowError(CZipException::internalError);
    m_uCurrentVolume = 0;
}
