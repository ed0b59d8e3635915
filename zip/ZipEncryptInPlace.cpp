// Encrypting entries already in an archive: NOT DONE YET. It moves the data
// of every later entry, which needs the modifying operations; the request
// is refused with false and changes nothing.

#include "ZipBundle.h"

bool CZipBundle::EncryptFilesInternal(CZipArray<unsigned short>*) { return false; }
