#include "ZipCryptograph.h"

#include "ZipException.h"

CZipCryptograph* CZipCryptograph::CreateCryptograph(int method) {
    if (method == encNone) return nullptr;
    // The traditional cryptograph is not part of this build yet; the
    // archive refuses passwords until it is, so nobody asks for one.
    CZipException::Throw(CZipException::internalError);
}
