// Making room at the start of the archive file and putting data there (a
// program stub, for example).
#include "ZipBundle.h"
#include "ZipFile.h"

bool CZipBundle::ShiftData(unsigned offset) {
    if (!CanModify(false, true)) return false;
    if (m_storage.m_uBytesBeforeZip != 0) return false;
    if (offset == 0) return true;

    CZipChange change(m_change, unsigned(m_iBufferSize));
    const unsigned long long dataEnd = change.DataEnd();
    CZipMoveStep& step = change.Plan().Add("shift everything", 0, dataEnd, offset, true);
    m_change.GatherEntries(step);
    step.callback = GetCallback(CZipActionCallback::cbMoveData);
    step.lastCall = true;
    if (step.callback) {
        step.callback->BeginProgress(nullptr, GetArchivePath());
        step.callback->SetProgressTotal(dataEnd);
    }
    // The old directory stays where it is until the room is there.
    change.Move(offset);
    if (step.callback) step.callback->EndProgress();
    change.Complete(dataEnd + offset);
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
    data.SeekToBegin();
    CZipAbstractFile* file = m_storage.m_pFile;
    file->SeekToBegin();
    CZipAutoBuffer buffer{unsigned(m_iBufferSize)};
    for (unsigned long long left = length; left > 0;) {
        unsigned want = unsigned(left < buffer.GetSize() ? left : buffer.GetSize());
        unsigned got = data.Read(buffer, want);
        if (got == 0) break;
        file->Write(buffer, got);
        left -= got;
    }
    if (!newExtension || !m_storage.m_pFile->HasFilePath()) return true;

    CZipString path = GetArchivePath();
    Close(afNoException, false);
    CZipPathComponent component(path);
    component.SetExtension(newExtension);
    CZipString renamed = component.GetFullPath();
    if (!ZipPlatform::RenameFile(path, renamed, false)) return false;
    return ZipPlatform::SetExeAttr(renamed);
}
