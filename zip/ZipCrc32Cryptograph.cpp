// Traditional ZIP encryption: NOT DONE YET. The archive refuses passwords
// and the cryptograph factory refuses with 215, so no object of this class
// exists; its operations refuse the same way.

#include "ZipBundle.h"
#include "ZipCrc32Cryptograph.h"
#include "ZipException.h"

namespace {
[[noreturn]] void NotBuilt() { CZipException::Throw(CZipException::internalError); }
}  // namespace

bool CZipCrc32Cryptograph::InitDecode(CZipAutoBuffer&, CZipFileHeader&, CZipStorage&, bool) { NotBuilt(); }
void CZipCrc32Cryptograph::InitEncode(CZipAutoBuffer&, CZipFileHeader&, CZipStorage&) { NotBuilt(); }
void CZipCrc32Cryptograph::Decode(char*, unsigned) { NotBuilt(); }
void CZipCrc32Cryptograph::Encode(char*, unsigned) { NotBuilt(); }
void CZipCrc32Cryptograph::CryptInitKeys(CZipAutoBuffer&) { NotBuilt(); }
void CZipCrc32Cryptograph::CryptUpdateKeys(char) { NotBuilt(); }
char CZipCrc32Cryptograph::CryptDecryptByte() { NotBuilt(); }
unsigned CZipCrc32Cryptograph::CryptCRC32(unsigned, char) { NotBuilt(); }
void CZipCrc32Cryptograph::CryptEncode(char&) { NotBuilt(); }
void CZipCrc32Cryptograph::CryptDecode(char&) { NotBuilt(); }

// Encrypting entries already in an archive needs a password, which is refused.
bool CZipBundle::EncryptFilesInternal(CZipArray<unsigned short>*) { return false; }
