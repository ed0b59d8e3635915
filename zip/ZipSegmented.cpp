// Segmented archives (split, binary split, spanned volumes): NOT DONE YET.
// The storage refuses segmented open modes with 215, so none of these run
// on a real archive; each refuses the same way should one be reached.

#include "ZipBundle.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipSplitNamesHandler.h"
#include "ZipStorage.h"

namespace {
[[noreturn]] void NotBuilt() { CZipException::Throw(CZipException::internalError); }
}  // namespace

void CZipStorage::NextVolume(unsigned) { ThrowError(CZipException::internalError); }
unsigned CZipStorage::AssureFree(unsigned) { ThrowError(CZipException::internalError); }
unsigned CZipStorage::GetFreeVolumeSpace() const { return 0; }
void CZipStorage::ChangeVolume(unsigned short) { ThrowError(CZipException::internalError); }
void CZipStorage::ChangeVolumeDec() { ThrowError(CZipException::internalError); }
CZipString CZipStorage::ChangeSpannedRead() { ThrowError(CZipException::internalError); }
CZipString CZipStorage::ChangeSplitRead() { ThrowError(CZipException::internalError); }
void CZipStorage::CallCallback(unsigned int, int, CZipString) { ThrowError(CZipException::internalError); }
CZipString CZipStorage::GetSplitVolumeName(unsigned short, bool) const { return CZipString(); }
void CZipStorage::EnsureSplitNames() { ThrowError(CZipException::internalError); }
CZipString CZipStorage::RenameLastFileInSplitArchive() { ThrowError(CZipException::internalError); }
void CZipStorage::FinalizeSegm() { ThrowError(CZipException::internalError); }
void CZipStorage::CacheSizes() { ThrowError(CZipException::internalError); }

// Never installed: the storage keeps no handler it was not built to use.
void CZipStorage::SetSplitNamesHandler(CZipSplitNamesHandler* handler, bool autoDelete) {
    if (autoDelete) delete handler;
}

void CZipCentralDir::RemoveDataDescr(bool) { NotBuilt(); }

// No archive is ever an existing segmented one.
bool CZipBundle::ResetCurrentVolume() { return false; }
