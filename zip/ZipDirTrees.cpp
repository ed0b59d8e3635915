// Adding directory trees: NOT DONE YET. Walks report that they did not run
// and adds are refused with false.

#include "DirEnumerator.h"
#include "ZipAddFilesEnumerator.h"
#include "ZipBundle.h"

namespace ZipLib {
bool CFileInfo::IsDirectory() const { return ZipPlatform::IsDirectory(m_uAttributes); }
bool CDirEnumerator::IsDots(const char* name) { return CZipString(name) == "." || CZipString(name) == ".."; }
bool CDirEnumerator::Start(CFileFilter&) { return false; }

}  // namespace ZipLib

void CZipAddFilesEnumerator::Initialize(CZipBundle* archive) { m_pZip = archive; }
bool CZipAddFilesEnumerator::Process(const char*, const ZipLib::CFileInfo&) { return false; }
void CReplacingAddFilesEnumerator::UpdateAddNewFileInfo(CZipAddNewFileInfo*) {}
bool CCalculateAddFilesEnumerator::Process(const char*, const ZipLib::CFileInfo&) { return false; }
void CCalculateAddFilesEnumerator::OnEnumerationBegin() {}
void CCalculateAddFilesEnumerator::OnEnumerationEnd(bool) {}

bool CZipBundle::AddNewFiles(const char*, ZipLib::CFileFilter&, bool, int, bool, int, unsigned long) { return false; }
bool CZipBundle::AddNewFiles(CZipAddFilesEnumerator&, ZipLib::CFileFilter&, bool) { return false; }
