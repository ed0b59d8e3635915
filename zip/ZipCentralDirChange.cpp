// What the directory does when one of its headers changes: a new name
// waits for the next commit, a central-only change leaves the directory on
// disk standing until it is written again.
#include "ZipBundle.h"
#include "ZipCentralDir.h"

bool CZipCentralDir::OnFileNameChange(CZipFileHeader* header, bool centralOnly) {
    if (m_pArchive->GetCommitMode() == CZipBundle::cmOnChange && !centralOnly) {
        if (!m_pArchive->CommitChanges()) return false;
    } else if (!m_pArchive->CanModify()) {
        return false;
    }
    if (centralOnly) m_pArchive->m_change.DirectoryChanged();
    if (m_pInfo->m_bFindFastEnabled) {
        unsigned short index = RemoveFindFastElement(header, false);
        InsertFindFastElement(header, index);
    }
    return true;
}

bool CZipCentralDir::OnFileCentralChange() {
    if (!m_pArchive->CanModify()) return false;
    m_pArchive->m_change.DirectoryChanged();
    m_pArchive->Finalize(true);
    return true;
}
