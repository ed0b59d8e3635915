// Making room at the start of the archive file and putting data there (a
// program stub, for example).
#include <algorithm>

#include "ZipBundle.h"
#include "ZipFile.h"

bool CZipBundle::ShiftData(unsigned offset) {
    if (!CanModify(false, true)) return false;
    if (m_storage.m_uBytesBeforeZip != 0) return false;
    if (offset == 0) return true;

    // Room kept for adds goes first: moves could run through its copy.
    SettleRoom();
    CZipCentralDir::CInfo& info = *m_centralDir.m_pInfo;
    const bool wasOnDisk = info.m_bInArchive;
    m_storage.Flush();
    const unsigned long long dataEnd = wasOnDisk ? info.m_uOffset : m_storage.GetLastDataOffset();
    const unsigned long long directorySize = m_centralDir.GetSize(true);
    if (dataEnd + offset + directorySize > kMaxZipOffset) ThrowError(CZipException::noZip64);
    // The old directory stays where it is until the room is there.
    ReserveRoom(dataEnd + offset + directorySize);
    TakeDirectoryOff();

    InitBuffer();  // kept for a following PrependData
    CZipActionCallback* cb = GetCallback(CZipActionCallback::cbMoveData);
    if (cb) {
        cb->BeginProgress(nullptr, GetArchivePath());
        cb->SetProgressTotal(dataEnd);
    }
    bool moving = true;
    unsigned long long end = dataEnd + offset;
    try {
        MovePackedFiles(0, dataEnd, offset, cb, true, true);
        moving = false;
        for (unsigned short i = 0; i < GetCount(); ++i) m_centralDir[i]->m_uOffset += offset;
    } catch (...) {
        if (moving) {
            CZipArray<CZipFileHeader*> stretch;
            for (unsigned short i = 0; i < GetCount(); ++i) stretch.Add(m_centralDir[i]);
            std::sort(stretch.begin(), stretch.end(),
                      [](const CZipFileHeader* a, const CZipFileHeader* b) { return a->m_uOffset < b->m_uOffset; });
            end = SettleStoppedMove(stretch, dataEnd, offset, true);
        }
        RestoreDirectory(wasOnDisk, end);
        throw;
    }
    if (cb) cb->EndProgress();
    CompleteChange(dataEnd + offset);
    return true;
}

bool CZipBundle::PrependData(const char* filePath, const char* newExtension) {
    CZipFile file;
    file.Open(filePath, CZipFile::modeRead | CZipFile::shareDenyWrite, true);
    return PrependData(file, newExtension);
}

bool CZipBundle::PrependData(CZipAbstractFile& data, const char* newExtension) {
    if (data.IsClosed()) return false;
    const unsigned long long length = data.GetLength();
    if (length == 0) return true;
    if (length > kMaxZipOffset) return false;
    const bool wasOnDisk = m_centralDir.m_pInfo->m_bInArchive;
    if (!ShiftData(unsigned(length))) return false;
    try {
        data.SeekToBegin();
        CZipAbstractFile* file = m_storage.m_pFile;
        file->SeekToBegin();
        if (!m_pBuffer.IsAllocated()) InitBuffer();
        for (unsigned long long left = length; left > 0;) {
            unsigned want = unsigned(left < m_pBuffer.GetSize() ? left : m_pBuffer.GetSize());
            unsigned got = data.Read(m_pBuffer, want);
            if (got == 0) break;
            file->Write(m_pBuffer, got);
            left -= got;
        }
    } catch (...) {
        ReleaseBuffer();
        RestoreDirectory(wasOnDisk, m_storage.GetLastDataOffset());
        throw;
    }
    ReleaseBuffer();
    if (!newExtension || !m_storage.m_pFile->HasFilePath()) return true;

    CZipString path = GetArchivePath();
    Close(afNoException, false);
    CZipPathComponent component(path);
    component.SetExtension(newExtension);
    CZipString renamed = component.GetFullPath();
    if (!ZipPlatform::RenameFile(path, renamed, false)) return false;
    return ZipPlatform::SetExeAttr(renamed);
}
