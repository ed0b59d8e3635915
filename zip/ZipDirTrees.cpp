// Adding directory trees and matching entry names by wildcard: NOT DONE YET.
// Walks report that they did not run, adds are refused with false, and no
// pattern matches anything.

#include "DirEnumerator.h"
#include "Wildcard.h"
#include "ZipAddFilesEnumerator.h"
#include "ZipBundle.h"

namespace ZipLib {
bool CFileInfo::IsDirectory() const { return ZipPlatform::IsDirectory(m_uAttributes); }
bool CDirEnumerator::IsDots(const char* name) { return CZipString(name) == "." || CZipString(name) == ".."; }
bool CDirEnumerator::Start(CFileFilter&) { return false; }

void CWildcard::SetPattern(const char* pattern, bool caseSensitive) {
    m_szPattern = pattern;
    m_bCaseSensitive = caseSensitive;
}
bool CWildcard::IsMatch(const char*, int* code) {
    if (code) *code = matchNone;
    return false;
}
bool CWildcard::IsPattern(const char*) { return false; }
bool CWildcard::IsPatternValid(const char*, int* error) {
    if (error) *error = patternEmpty;
    return false;
}
int CWildcard::Match(const char*, const char*) { return matchNone; }
int CWildcard::MatchAfterStar(const char*, const char*) { return matchNone; }
}  // namespace ZipLib

void CZipAddFilesEnumerator::Initialize(CZipBundle* archive) { m_pZip = archive; }
bool CZipAddFilesEnumerator::Process(const char*, const ZipLib::CFileInfo&) { return false; }
void CReplacingAddFilesEnumerator::UpdateAddNewFileInfo(CZipAddNewFileInfo*) {}
bool CCalculateAddFilesEnumerator::Process(const char*, const ZipLib::CFileInfo&) { return false; }
void CCalculateAddFilesEnumerator::OnEnumerationBegin() {}
void CCalculateAddFilesEnumerator::OnEnumerationEnd(bool) {}

bool CZipBundle::AddNewFiles(const char*, ZipLib::CFileFilter&, bool, int, bool, int, unsigned long) { return false; }
bool CZipBundle::AddNewFiles(CZipAddFilesEnumerator&, ZipLib::CFileFilter&, bool) { return false; }
void CZipBundle::FindMatches(const char*, CZipArray<unsigned short>&, bool) {}
