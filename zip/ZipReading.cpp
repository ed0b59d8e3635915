// Reading, testing and extracting entries: NOT DONE YET. Until it is, no
// entry opens for reading and every extraction or test is refused.

#include "ZipBundle.h"

bool CZipBundle::OpenFile(unsigned short) { return false; }
unsigned CZipBundle::ReadFile(void*, unsigned) { return 0; }
int CZipBundle::CloseFile(const char*, bool) { return 0; }
int CZipBundle::CloseFile(CZipFile&) { return 0; }
bool CZipBundle::ExtractFile(unsigned short, const char*, bool, const char*, ZipPlatform::FileOverwriteMode, unsigned) {
    return false;
}
bool CZipBundle::ExtractFile(unsigned short, CZipAbstractFile&, bool, unsigned) { return false; }
bool CZipBundle::TestFile(unsigned short, unsigned) { return false; }
CZipString CZipBundle::PredictExtractedFileName(const char*, const char*, bool, const char*) const {
    return CZipString();
}
