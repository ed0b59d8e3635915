// Modifying archives in place (removing, moving packed data, prepending,
// copying from another archive, overwriting local headers): NOT DONE YET.
// Each request is refused with false and changes nothing; the internal data
// movers, which no built feature calls, refuse with 215.

#include "ZipBundle.h"

bool CZipBundle::RemoveFile(unsigned short, bool) { return false; }
bool CZipBundle::RemoveFiles(CZipArray<unsigned short>&) { return false; }
bool CZipBundle::RemoveFiles(const CZipArray<CZipString>&) { return false; }
bool CZipBundle::ShiftData(unsigned) { return false; }
bool CZipBundle::PrependData(CZipAbstractFile&, const char*) { return false; }
bool CZipBundle::PrependData(const char*, const char*) { return false; }
bool CZipBundle::GetFromArchive(CZipBundle&, unsigned short, const char*, unsigned short, bool, CZipActionCallback*) {
    return false;
}
bool CZipBundle::GetFromArchive(CZipBundle&, CZipArray<unsigned short>&, bool) { return false; }
bool CZipBundle::RemoveCentralDirectoryFromArchive() { return false; }
bool CZipBundle::OverwriteLocalHeader(unsigned short) { return false; }

void CZipBundle::MovePackedFiles(unsigned long long, unsigned long long, unsigned long long, CZipActionCallback*, bool,
                                 bool) {
    ThrowError(CZipException::internalError);
}

void CZipBundle::MakeSpaceForReplace(unsigned short, unsigned long long, const char*) {
    ThrowError(CZipException::internalError);
}

bool CZipFileHeader::IsStringModified(const StringWithBuffer&) const { return false; }
