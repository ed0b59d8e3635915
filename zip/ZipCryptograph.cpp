#include "ZipCryptograph.h"

#include "ZipCrc32Cryptograph.h"

CZipCryptograph* CZipCryptograph::CreateCryptograph(int method) {
    if (method == encNone) return nullptr;
    return new CZipCrc32Cryptograph();
}
