// Writing segmented archives: the first volume, moving on to the next one
// when a volume is full, and finishing the last one.
#include "ZipException.h"
#include "ZipPathComponent.h"
#include "ZipPlatform.h"
#include "ZipSegmCallback.h"
#include "ZipSplitNamesHandler.h"
#include "ZipStorage.h"

namespace {
enum { omBinSplit = 0x200, omSpan = 0x400 };
const unsigned short kMaxSpannedVolumes = 999;
const unsigned short kMaxSplitVolumes = 0xFFFF;
const unsigned kLastVolume = 0xFFFFFFFF;
const unsigned kNewVolumeFlags = CZipFile::modeReadWrite | CZipFile::modeCreate | CZipFile::shareDenyWrite;
}  // namespace

void CZipStorage::OpenNewSegmented(const ZipLib::CBitFlag& mode, unsigned long long volumeSize) {
    m_uCurrentVolume = 0;
    m_uBytesWritten = 0;
    if (mode.IsSetAny(omSpan)) {
        if (!m_pSpanChangeVolumeFunc) ThrowError(CZipException::noCallback);
        if (!ZipPlatform::IsDriveRemovable(m_szArchivePath)) ThrowError(CZipException::nonRemovable);
        m_state.Set(stateSpan);
        m_pChangeVolumeFunc = m_pSpanChangeVolumeFunc;
    } else {
        // The volume size lives in 32 bits, as every size of the format.
        if (volumeSize == 0 || volumeSize > 0xFFFFFFFFull) ThrowError(CZipException::noVolumeSize);
        m_uSplitData = unsigned(volumeSize);
        if (mode.IsSetAny(omBinSplit)) {
            m_state.Set(stateBinarySplit);
            ClearCachedSizes();
            m_pCachedSizes = new CZipArray<unsigned long long>();
        } else {
            m_state.Set(stateSplit);
        }
        EnsureSplitNames();
        m_pChangeVolumeFunc = m_pSplitChangeVolumeFunc;
    }
    NextVolume(4);
    Write(m_gszExtHeaderSignat, 4, true);
}

unsigned CZipStorage::GetFreeInVolume() const {
    long long used = (long long)m_uBytesInWriteBuffer;
    // A spanned volume's free space is the device's, asked after each flush.
    if (!IsSpanned()) used += m_uBytesWritten;
    long long free = (long long)m_uCurrentVolSize - used;
    return free > 0 ? unsigned(free) : 0;
}

unsigned CZipStorage::AssureFree(unsigned neededBytes) {
    for (;;) {
        unsigned free = GetFreeInVolume();
        if (free >= neededBytes) return free;
        if (m_uBytesWritten == 0 && m_uBytesInWriteBuffer == 0) {
            // Another empty disk would be no larger: asking for one would
            // never end.
            if (IsSpanned()) ThrowError(CZipException::internalError);
            // A block larger than a split volume goes whole into this one.
            m_uCurrentVolSize = neededBytes;
            return neededBytes;
        }
        NextVolume(neededBytes);
    }
}

unsigned CZipStorage::GetFreeVolumeSpace() const {
    if (!m_pFile || !m_pFile->HasFilePath()) return 0;
    CZipString path = m_pFile->GetFilePath();
    if (path.IsEmpty()) return 0;
    CZipString dir = CZipPathComponent(path).GetFilePath();
    if (dir.IsEmpty()) dir = path.c_str()[0] == '/' ? "/" : ".";
    unsigned long long free = m_freeSpaceQuery ? m_freeSpaceQuery(dir) : ZipPlatform::GetDeviceFreeSpace(dir);
    return free > 0xFFFFFFFFull ? 0xFFFFFFFFu : unsigned(free);
}

void CZipStorage::NextVolume(unsigned neededBytes) {
    Flush();
    bool advanced = false;
    if (m_uBytesWritten != 0) {
        unsigned short limit = IsSpanned() ? kMaxSpannedVolumes : kMaxSplitVolumes;
        if (m_uCurrentVolume + 1 >= limit) ThrowError(CZipException::tooManyVolumes);
        m_uBytesWritten = 0;
        ++m_uCurrentVolume;
        advanced = true;
    }
    CZipString name = IsSpanned() ? m_szArchivePath : GetSplitVolumeName(false);
    if (!m_internalfile.IsClosed()) {
        m_internalfile.Flush();
        if (IsBinarySplit() && advanced) m_pCachedSizes->Add(m_internalfile.GetLength());
        m_internalfile.Close();
    }
    m_pFile = &m_internalfile;
    if (m_pChangeVolumeFunc) {
        int code = CZipSegmCallback::scVolumeNeededForWrite;
        for (;;) {
            CallCallback(neededBytes, code, name);
            name = m_pChangeVolumeFunc->m_szExternalFile;
            if (ZipPlatform::FileExists(name) != 0) {
                code = CZipSegmCallback::scFileAlreadyExists;
                continue;
            }
            if (IsSpanned()) {
                CZipString label;
                label.Format("pkback# %.3d", int(m_uCurrentVolume) + 1);
                if (!ZipPlatform::SetVolLabel(CZipPathComponent(name).GetFilePath(), label)) {
                    code = CZipSegmCallback::scCannotSetVolLabel;
                    continue;
                }
            }
            if (!m_internalfile.Open(name, kNewVolumeFlags, false)) {
                code = CZipSegmCallback::scFileCreationFailure;
                continue;
            }
            break;
        }
        m_uCurrentVolSize = IsSpanned() ? GetFreeVolumeSpace() : m_uSplitData;
    } else {
        if (IsSpanned()) ThrowError(CZipException::internalError);
        m_uCurrentVolSize = m_uSplitData;
        m_internalfile.Open(name, kNewVolumeFlags, true);
    }
}

CZipString CZipStorage::RenameLastFileInSplitArchive() {
    CZipString current = m_internalfile.GetFilePath();
    CZipString name = GetSplitVolumeName(true);
    if (m_pChangeVolumeFunc) {
        int code = CZipSegmCallback::scVolumeNeededForWrite;
        // The volume being renamed is no clash with itself (a binary-split
        // volume keeps its name).
        for (;;) {
            CallCallback(kLastVolume, code, name);
            name = m_pChangeVolumeFunc->m_szExternalFile;
            if (name == current.c_str() || ZipPlatform::FileExists(name) == 0) break;
            code = CZipSegmCallback::scFileAlreadyExists;
        }
    }
    m_internalfile.Flush();
    m_internalfile.Close();
    if (!(name == current.c_str())) {
        if (!m_pChangeVolumeFunc && ZipPlatform::FileExists(name) != 0) ZipPlatform::RemoveFile(name, true);
        ZipPlatform::RenameFile(current, name, true);
    }
    return name;
}

void CZipStorage::FinalizeSegm() {
    Flush();
    CZipString last;
    if (IsSplit()) {
        unsigned long long lastSize = m_internalfile.GetLength();
        last = RenameLastFileInSplitArchive();
        if (IsBinarySplit() && m_uCurrentVolume > 0) m_pCachedSizes->Add(lastSize);
    } else {
        last = m_internalfile.GetFilePath();
        m_internalfile.Flush();
        m_internalfile.Close();
    }
    m_state.Set(stateExisting);
    if (m_uCurrentVolume > 0) {
        m_uSplitData = m_uCurrentVolume;
        if (IsSplit()) m_szArchivePath = last;
    } else {
        if (IsSplit()) {
            ClearSplitNames();
            if (IsBinarySplit()) ClearCachedSizes();
        }
        m_state.Clear(stateSegmented | stateSplit | stateBinarySplit | stateSpan);
        m_szArchivePath = last;
    }
    // Read-write either way: a result collapsed to one ordinary archive can
    // still be added to, as after any Finalize.
    m_internalfile.Open(last, CZipFile::modeReadWrite | CZipFile::modeNoTruncate | CZipFile::shareDenyWrite, true);
    m_pFile = &m_internalfile;
    m_internalfile.SeekToEnd();
}
