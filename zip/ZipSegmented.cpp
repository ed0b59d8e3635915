// Writing segmented archives (split, binary split, spanned volumes): NOT
// DONE YET. The archive refuses to create one, so none of these run; each
// refuses should one be reached.

#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipStorage.h"

namespace {
[[noreturn]] void NotBuilt() { CZipException::Throw(CZipException::internalError); }
}  // namespace

void CZipStorage::OpenNewSegmented(const ZipLib::CBitFlag&, unsigned long long) {
    ThrowError(CZipException::internalError);
}
void CZipStorage::NextVolume(unsigned) { ThrowError(CZipException::internalError); }
unsigned CZipStorage::AssureFree(unsigned) { ThrowError(CZipException::internalError); }
unsigned CZipStorage::GetFreeInVolume() const { return 0; }
unsigned CZipStorage::GetFreeVolumeSpace() const { return 0; }
CZipString CZipStorage::RenameLastFileInSplitArchive() { ThrowError(CZipException::internalError); }
void CZipStorage::FinalizeSegm() { ThrowError(CZipException::internalError); }

void CZipCentralDir::RemoveDataDescr(bool) { NotBuilt(); }
