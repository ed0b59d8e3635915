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
    // Every refusal comes before anything changes, the new name's too.
    if (!CanModify(false, true) || m_storage.m_uBytesBeforeZip != 0) return false;
    const bool rename = newExtension && m_storage.m_pFile->HasFilePath();
    if (rename && !RenameForPrepend(newExtension)) return false;
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
    if (rename) Close(afNoException, false);
    return true;
}

bool CZipBundle::RenameForPrepend(const char* newExtension) {
    const CZipString path = GetArchivePath();
    CZipPathComponent component(path);
    component.SetExtension(newExtension);
    const CZipString renamed = component.GetFullPath();
    // The open file follows its new name.
    if (!ZipPlatform::RenameFile(path, renamed, false)) return false;
    if (ZipPlatform::SetExeAttr(renamed)) return true;
    ZipPlatform::RenameFile(renamed, path, false);
    return false;
}
