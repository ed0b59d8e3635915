#include "ZipAddFilesEnumerator.h"

#include <sys/stat.h>

#include "ZipBundle.h"

namespace {
bool Identify(const char* path, unsigned long long& device, unsigned long long& inode) {
    struct stat st;
    if (!path || !*path || ::stat(path, &st) != 0) return false;
    device = (unsigned long long)st.st_dev;
    inode = (unsigned long long)st.st_ino;
    return true;
}
}  // namespace

void CZipAddFilesEnumerator::Initialize(CZipBundle* archive) {
    m_pZip = archive;
    m_pMultiCallback = archive ? archive->GetCallback(CZipActionCallback::cbMultiAdd) : nullptr;
    m_bArchiveOnDisk = archive && Identify(archive->GetArchivePath(), m_uArchiveDevice, m_uArchiveInode);
}

bool CZipAddFilesEnumerator::Process(const char* filePath, const ZipLib::CFileInfo& info) {
    if (!m_pZip) return false;
    if (info.IsDirectory() && (m_iSmartLevel & CZipBundle::zipsmIgnoreDirectories)) return true;
    // An archive written inside the tree it packs would read its own
    // growing file without end.
    unsigned long long device, inode;
    if (m_bArchiveOnDisk && !info.IsDirectory() && Identify(filePath, device, inode) && device == m_uArchiveDevice &&
        inode == m_uArchiveInode)
        return true;
    CZipAddNewFileInfo add(filePath, m_pZip->GetRootPath().IsEmpty());
    add.m_iComprLevel = m_iComprLevel;
    add.m_iSmartLevel = m_iSmartLevel;
    add.m_nBufSize = m_nBufSize;
    UpdateAddNewFileInfo(&add);
    bool added = m_pZip->AddNewFile(add);
    if (added && m_pMultiCallback && !m_pMultiCallback->MultiActionsNext())
        CZipException::Throw(CZipException::abortedSafely);
    return added;
}

void CReplacingAddFilesEnumerator::UpdateAddNewFileInfo(CZipAddNewFileInfo* info) {
    CZipString name = m_pZip->PredictFileNameInZip(info->m_szFilePath, info->m_bFullPath, CZipBundle::prAuto);
    unsigned short index = m_pZip->FindFile(name, CZipBundle::ffDefault, false);
    if (index != 0xFFFF) info->m_uReplaceIndex = index;
}

void CCalculateAddFilesEnumerator::OnEnumerationBegin() {
    if (m_pCallback) m_pCallback->BeginProgress(nullptr, nullptr);
}

bool CCalculateAddFilesEnumerator::Process(const char*, const ZipLib::CFileInfo& info) {
    bool isDir = info.IsDirectory();
    if (isDir && !m_bCountDirectories) return true;
    ++m_uTotalFiles;
    // A directory's entry carries no data, whatever size the file system
    // gives the directory itself.
    if (!isDir) m_uTotalBytes += info.m_uSize;
    return !m_pCallback || m_pCallback->RequestCallback(1);
}

void CCalculateAddFilesEnumerator::OnEnumerationEnd(bool result) {
    if (m_pCallback) {
        if (result) result = m_pCallback->RequestLastCallback(0);
        m_pCallback->EndProgress();
    }
    if (!result) CZipException::Throw(CZipException::abortedSafely);
}
