#include "ZipAddFilesEnumerator.h"

#include "ZipBundle.h"


void CZipAddFilesEnumerator::Initialize(CZipBundle* archive) {
    m_pZip = archive;
    m_pMultiCallback = archive ? archive->GetCallback(CZipActionCallback::cbMultiAdd) : nullptr;
}

bool CZipAddFilesEnumerator::Process(const char* filePath, const ZipLib::CFileInfo& info) {
    if (!m_pZip) return false;
    if (info.IsDirectory() && (m_iSmartLevel & CZipBundle::zipsmIgnoreDirectories)) return true;
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
    // A directory entry is found with or without its trailing separator.
    unsigned attr;
    if (index == 0xFFFF && ZipPlatform::GetFileAttr(info->m_szFilePath, attr) && ZipPlatform::IsDirectory(attr)) {
        CZipString other = name;
        if (CZipPathComponent::HasEndingSeparator(other)) CZipPathComponent::RemoveSeparators(other);
        else CZipPathComponent::AppendSeparator(other);
        index = m_pZip->FindFile(other, CZipBundle::ffDefault, false);
    }
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
