// Reading segmented archives: what the end record makes of an archive,
// finding and opening the volume that holds the data asked for, and the
// volume sizes that turn binary-split offsets into volumes.
#include "ZipException.h"
#include "ZipPlatform.h"
#include "ZipSegmCallback.h"
#include "ZipSplitNamesHandler.h"
#include "ZipStorage.h"

namespace {
enum { omSplit = 0x100, omBinSplit = 0x200, omSpan = 0x400 };
const unsigned kLastVolume = 0xFFFFFFFF;
const unsigned kVolumeReadFlags = CZipFile::modeRead | CZipFile::modeNoTruncate | CZipFile::shareDenyWrite;
const int kSegmentationBits = 0xF0;
}  // namespace

void CZipStorage::OpenExistingSegmented(const ZipLib::CBitFlag& mode) {
    if (mode.IsSetAny(omSpan)) {
        m_state.Set(stateSpan);
        m_pChangeVolumeFunc = m_pSpanChangeVolumeFunc;
        return;
    }
    if (mode.IsSetAny(omSplit)) {
        m_state.Set(stateSplit);
        m_pChangeVolumeFunc = m_pSplitChangeVolumeFunc;
        return;
    }
    if (!mode.IsSetAny(omBinSplit)) return;
    m_state.Set(stateBinarySplit);
    m_pChangeVolumeFunc = m_pSplitChangeVolumeFunc;
    EnsureSplitNames();
    // The given file is the last volume; its number says how many there are.
    unsigned number = m_pSplitNamesHandler->GetVolumeNumber(m_szArchivePath);
    if (number == 0 || number > 0xFFFF) ThrowError(CZipException::badZipFile);
    m_uCurrentVolume = (unsigned short)(number - 1);
    if (m_uCurrentVolume > 0) {
        m_uSplitData = m_uCurrentVolume;
        CacheSizes();
    } else {
        ClearSplitNames();
        m_state.Clear(kSegmentationBits);
    }
}

void CZipStorage::CacheSizes() {
    const unsigned short last = (unsigned short)m_uSplitData;
    ClearCachedSizes();
    m_pCachedSizes = new CZipArray<unsigned long long>();
    m_pCachedSizes->resize(size_t(last) + 1);
    (*m_pCachedSizes)[last] = m_pFile->GetLength();
    for (unsigned short v = last; v-- > 0;) {
        ChangeVolume(v);
        (*m_pCachedSizes)[v] = m_pFile->GetLength();
    }
    ChangeVolume(last);
}

unsigned long long CZipStorage::GetVolumesOffset(unsigned short volume) const {
    unsigned long long offset = 0;
    for (unsigned short v = 0; v < volume; ++v) offset += GetCachedSize(v);
    return offset;
}

void CZipStorage::SeekInVolumes(unsigned long long offset) {
    const unsigned short last = (unsigned short)m_uSplitData;
    unsigned short volume = 0;
    unsigned long long start = 0;
    while (volume < last && offset >= start + GetCachedSize(volume)) {
        start += GetCachedSize(volume);
        ++volume;
    }
    if (volume != m_uCurrentVolume) ChangeVolume(volume);
    m_pFile->SafeSeek(offset - start, true);
}

void CZipStorage::UpdateSegmMode(unsigned short lastVolume) {
    if (!IsBinarySplit()) m_uCurrentVolume = lastVolume;
    if (lastVolume == 0 && !IsBinarySplit()) {
        m_state.Clear(kSegmentationBits);
        ClearSplitNames();
        return;
    }
    // Volumes are files the storage opens by name: a caller's file object
    // (a memory file) holds one archive, so a record naming others is damage.
    if (m_pFile != &m_internalfile) ThrowError(CZipException::badZipFile);
    if (!IsSegmented()) {
        // Linux calls every drive removable: such an archive is spanned
        // unless the caller names the split mode at open.
        m_state.Set(ZipPlatform::IsDriveRemovable(m_szArchivePath) ? stateSpan : stateSplit);
    }
    if (IsSpanned()) {
        if (!m_pSpanChangeVolumeFunc) ThrowError(CZipException::noCallback);
        m_pChangeVolumeFunc = m_pSpanChangeVolumeFunc;
        m_uSplitData = lastVolume;
    } else {
        EnsureSplitNames();
        if (!IsBinarySplit()) m_uSplitData = lastVolume;
        m_pChangeVolumeFunc = m_pSplitChangeVolumeFunc;
    }
    m_pWriteBuffer.Release();
    m_uBytesInWriteBuffer = 0;
}

void CZipStorage::ChangeVolume(unsigned short volume) {
    // Data past the last volume is damage, not a volume to ask for.
    if (IsExisting() && volume > m_uSplitData) ThrowError(CZipException::badZipFile);
    m_uCurrentVolume = volume;
    try {
        CZipString path = IsSpanned() ? ChangeSpannedRead() : ChangeSplitRead();
        m_internalfile.Open(path, kVolumeReadFlags, true);
        m_pFile = &m_internalfile;
    } catch (...) {
        // Unknown now: the next access opens the volume it needs.
        m_uCurrentVolume = 0xFFFF;
        throw;
    }
}

void CZipStorage::ChangeVolumeDec() {
    if (m_uCurrentVolume == 0 || m_uCurrentVolume == 0xFFFF) ThrowError(CZipException::badZipFile);
    ChangeVolume((unsigned short)(m_uCurrentVolume - 1));
}

CZipString CZipStorage::ChangeSpannedRead() {
    CZipString path = m_internalfile.GetFilePath();
    m_internalfile.Close();
    CallCallback(0, CZipSegmCallback::scVolumeNeededForRead, path);
    return m_pChangeVolumeFunc->m_szExternalFile;
}

CZipString CZipStorage::ChangeSplitRead() {
    const bool last = m_uCurrentVolume == m_uSplitData;
    CZipString name = GetSplitVolumeName(last);
    if (m_pChangeVolumeFunc) {
        int code = CZipSegmCallback::scVolumeNeededForRead;
        for (;;) {
            CallCallback(last ? kLastVolume : 0, code, name);
            name = m_pChangeVolumeFunc->m_szExternalFile;
            if (ZipPlatform::FileExists(name) == 1) break;
            code = CZipSegmCallback::scFileNotFound;
        }
    } else if (ZipPlatform::FileExists(name) != 1) {
        CZipException::Throw(CZipException::notFound, name);
    }
    m_internalfile.Close();
    return name;
}
