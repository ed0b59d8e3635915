// Making room at the start of the archive file and putting data there (a
// program stub, for example).
#include "ZipBundle.h"
#include "ZipFile.h"

bool CZipBundle::ShiftData(unsigned offset) {
    if (!CanModify(false, true)) return false;
    if (m_storage.m_uBytesBeforeZip != 0) return false;
    if (offset == 0) return true;

    const unsigned long long dataEnd = m_change.Begin(unsigned(m_iBufferSize));
    // The old directory stays where it is until the room is there.
    m_change.Grow(offset);
    m_change.TakeOff();

    CZipMovePlan plan;
    CZipMoveStep& step = plan.Add("shift everything", 0, dataEnd, offset, true);
    m_change.GatherEntries(step);
    step.callback = GetCallback(CZipActionCallback::cbMoveData);
    step.lastCall = true;
    if (step.callback) {
        step.callback->BeginProgress(nullptr, GetArchivePath());
        step.callback->SetProgressTotal(dataEnd);
    }
    try {
        m_change.Run(plan);
    } catch (...) {
        m_change.Fail(plan, 0);
        throw;
    }
    if (step.callback) step.callback->EndProgress();
    m_change.Complete(dataEnd + offset);
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
        m_change.Restore(m_storage.GetLastDataOffset());
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
