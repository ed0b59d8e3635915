#include "ZipStorage.h"

#include <cstring>

#include "ZipException.h"
#include "ZipSegmCallback.h"
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
    m_uDataEnd = ~0ull;
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
    ZipLib::CBitFlag mode(openMode);
    m_uCurrentVolume = 0xFFFF;
    m_pWriteBuffer.Allocate(unsigned(m_iWriteBufferSize));
    m_uBytesInWriteBuffer = 0;
    m_uDataEnd = ~0ull;
    m_state = stateOpened | stateAutoClose;
    m_szArchivePath = path;
    m_pChangeVolumeFunc = nullptr;
    m_pFile = &m_internalfile;
    try {
        if (mode.IsSetAny(omCreate) && mode.IsSetAny(omSegmented)) {
            OpenNewSegmented(mode, volumeSize);
            return;
        }
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
        m_internalfile.Open(path, flags | CZipFile::shareDenyWrite, true);
        if (mode.IsSetAll(omCreate | omAppend)) m_internalfile.SeekToEnd();
        if (!mode.IsSetAny(omCreate) && mode.IsSetAny(omSegmented)) OpenExistingSegmented(mode);
    } catch (...) {
        if (!m_internalfile.IsClosed()) {
            try {
                m_internalfile.Close();
            } catch (...) {
            }
        }
        ClearSplitNames();
        ClearCachedSizes();
        AbandonOpen();
        throw;
    }
}

unsigned CZipStorage::Read(void* buffer, unsigned size, bool atOnce) {
    if (size == 0) return 0;
    char* p = static_cast<char*>(buffer);
    // Split and spanned volumes never cut a block that must come at once;
    // a binary-split archive is one stream cut anywhere.
    const bool whole = atOnce && !IsBinarySplit();
    unsigned got = 0;
    while (got < size) {
        unsigned n = m_pFile->Read(p + got, size - got);
        if (n == 0) {
            if (!IsSegmented() || (whole && got > 0)) ThrowError(CZipException::badZipFile);
            ChangeVolume();
            continue;
        }
        got += n;
        if (got < size && (!IsSegmented() || whole)) ThrowError(CZipException::badZipFile);
    }
    return got;
}

unsigned CZipStorage::Write(const void* buffer, unsigned size, bool atOnce) {
    const char* p = static_cast<const char*>(buffer);
    if (!IsSegmented()) {
        WriteInternalBuffer(p, size);
        return size;
    }
    if (atOnce && !IsBinarySplit()) {
        AssureFree(size);
        WriteInternalBuffer(p, size);
        return size;
    }
    unsigned left = size;
    while (left > 0) {
        unsigned room = AssureFree(1);
        unsigned n = left < room ? left : room;
        WriteInternalBuffer(p, n);
        p += n;
        left -= n;
    }
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
        if (IsSpanned()) m_uCurrentVolSize = GetFreeVolumeSpace();
    }
}

void CZipStorage::FlushFile() {
    // An archive changed in place is not forced to the device: that wait
    // grows with all the data a change moved, a kill loses nothing without
    // it (the page cache outlives the process), and zip does not sync either.
    if (!IsReadOnly() && !IsExisting()) m_pFile->Flush();
}

unsigned long long CZipStorage::GetPosition() const {
    unsigned long long pos = m_pFile->GetPosition() + m_uBytesInWriteBuffer;
    // Binary-split offsets are offsets of the whole stream.
    if (IsBinarySplit()) return pos + GetVolumesOffset(m_uCurrentVolume) - m_uBytesBeforeZip;
    if (m_uCurrentVolume == 0) pos -= m_uBytesBeforeZip;
    return pos;
}

unsigned long long CZipStorage::Seek(unsigned long long offset, SeekType type) {
    if (type == seekCurrent) {
        if (!IsExistingSegmented()) return m_pFile->Seek((long long)offset, CZipAbstractFile::current);
        // Forward over the ends of volumes.
        for (;;) {
            unsigned long long pos = m_pFile->GetPosition();
            unsigned long long left = m_pFile->GetLength() - pos;
            if (offset <= left) return m_pFile->SafeSeek(pos + offset, true);
            offset -= left;
            ChangeVolume();
        }
    }
    if (type == seekFromBeginning && IsExistingSegmented() && IsBinarySplit()) {
        SeekInVolumes(offset + m_uBytesBeforeZip);
        return offset;
    }
    if (m_uCurrentVolume == 0 && m_uBytesBeforeZip != 0) offset += m_uBytesBeforeZip;
    return m_pFile->SafeSeek(offset, type == seekFromBeginning);
}

unsigned long long CZipStorage::GetLastDataOffset() {
    if (m_uDataEnd != ~0ull) return m_uDataEnd;
    if (IsExistingSegmented() && IsBinarySplit())
        return GetVolumesOffset((unsigned short)m_uSplitData) + GetCachedSize((unsigned short)m_uSplitData) -
               m_uBytesBeforeZip;
    return m_pFile->GetLength() - m_uBytesBeforeZip;
}

bool CZipStorage::IsClosed(bool archive) const {
    if (archive) return !m_state.IsSetAny(stateOpened);
    return m_pFile == nullptr || (m_state.IsSetAny(stateAutoClose) && m_pFile->IsClosed());
}

CZipString CZipStorage::Close(bool write, bool getLastVolumeName) {
    CZipString result;
    bool renamed = false;
    try {
        if (write) {
            Flush();
            if (IsNewSegmented() && IsSplit()) {
                result = RenameLastFileInSplitArchive();
                renamed = true;
            }
        }
        if (getLastVolumeName && !renamed) {
            if (IsExistingSegmented() && IsSplit() && m_pSplitNamesHandler)
                result = GetSplitVolumeName((unsigned short)m_uSplitData, true);
            else if (m_pFile)
                result = m_pFile->GetFilePath();
        }
        if (m_pFile && !renamed) {
            if (write) FlushFile();
            if (m_state.IsSetAny(stateAutoClose)) m_pFile->Close();
        }
    } catch (...) {
        // A file the storage opened itself is released either way.
        if (!m_internalfile.IsClosed()) {
            try {
                m_internalfile.Close();
            } catch (...) {
            }
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

void CZipStorage::ReadBeforeEnd(unsigned long long length, unsigned long long distance, char* buffer,
                                unsigned count) {
    if (IsExistingSegmented() && IsBinarySplit()) {
        SeekInVolumes(length - distance);
        Read(buffer, count, false);
        return;
    }
    m_pFile->SafeSeek(distance, false);
    unsigned got = 0;
    while (got < count) {
        unsigned n = m_pFile->Read(buffer + got, count - got);
        if (n == 0) ThrowError(CZipException::badZipFile);
        got += n;
    }
}

unsigned long long CZipStorage::LocateSignature(char* signature, unsigned maxDepth) {
    const unsigned chunkSize = unsigned(m_iLocateBufferSize);
    // A binary-split archive is searched as the one stream its volumes make.
    const bool stream = IsExistingSegmented() && IsBinarySplit();
    const unsigned long long length = stream ? GetLastDataOffset() + m_uBytesBeforeZip : m_pFile->GetLength();
    const unsigned long long depth = maxDepth < length ? maxDepth : length;
    unsigned long long distance = stream ? 0 : length - m_pFile->GetPosition();
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
        ReadBeforeEnd(length, distance, buffer.GetBuffer() + skip, chunk);
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
