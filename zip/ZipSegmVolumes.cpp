// The volumes of a segmented archive: their names and the caller's
// callback that is asked for each of them.
#include "ZipException.h"
#include "ZipSegmCallback.h"
#include "ZipSplitNamesHandler.h"
#include "ZipStorage.h"

void CZipStorage::CallCallback(unsigned int size, int code, CZipString filePath) {
    if (!m_pChangeVolumeFunc) ThrowError(CZipException::internalError);
    m_pChangeVolumeFunc->m_szExternalFile = filePath;
    m_pChangeVolumeFunc->m_uVolumeNeeded = unsigned(m_uCurrentVolume) + 1;
    m_pChangeVolumeFunc->m_iCode = code;
    if (!m_pChangeVolumeFunc->OnVolumeNeeded(size)) CZipException::Throw(CZipException::aborted, filePath);
}

CZipString CZipStorage::GetSplitVolumeName(unsigned short volume, bool last) const {
    if (!m_pSplitNamesHandler) CZipException::Throw(CZipException::genericError, m_szArchivePath);
    ZipLib::CBitFlag flags;
    if (last) flags.Set(CZipSplitNamesHandler::flLast);
    if (IsExisting()) flags.Set(CZipSplitNamesHandler::flExisting);
    return m_pSplitNamesHandler->GetVolumeName(m_szArchivePath, (unsigned short)(volume + 1), flags);
}

void CZipStorage::EnsureSplitNames() {
    if (!IsSplit()) return;
    if (!m_pSplitNamesHandler) {
        if (IsBinarySplit()) m_pSplitNamesHandler = new CZipBinSplitNamesHandler();
        else m_pSplitNamesHandler = new CZipRegularSplitNamesHandler();
        m_bAutoDeleteSplitNamesHandler = true;
    }
    m_pSplitNamesHandler->Initialize(m_szArchivePath);
}

void CZipStorage::SetSplitNamesHandler(CZipSplitNamesHandler* handler, bool autoDelete) {
    ClearSplitNames();
    m_pSplitNamesHandler = handler;
    m_bAutoDeleteSplitNamesHandler = handler && autoDelete;
}
