// What the directory does when one of its headers changes: a new name
// waits for the next commit, a central-only change takes the directory
// off the disk until it is written again.
#include "ZipBundle.h"
#include "ZipCentralDir.h"

bool CZipCentralDir::OnFileNameChange(CZipFileHeader* header, bool centralOnly) {
    if (m_pArchive->GetCommitMode() == CZipBundle::cmOnChange && !centralOnly) {
        if (!m_pArchive->CommitChanges()) return false;
    } else if (!m_pArchive->CanModify()) {
        return false;
    }
    if (centralOnly) RemoveFromDisk();
    if (m_pInfo->m_bFindFastEnabled) {
        unsigned short index = RemoveFindFastElement(header, false);
        InsertFindFastElement(header, index);
    }
    return true;
}

bool CZipCentralDir::OnFileCentralChange() {
    if (!m_pArchive->CanModify()) return false;
    RemoveFromDisk();
    m_pArchive->Finalize(true);
    return true;
}
