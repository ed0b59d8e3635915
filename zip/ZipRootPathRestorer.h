#pragma once
// Sets an archive's root path for one scope and restores the old one.
#include "ZipString.h"

class CZipBundle;

class CZipRootPathRestorer {
public:
    CZipRootPathRestorer() = default;
    CZipRootPathRestorer(const CZipRootPathRestorer&) = delete;
    CZipRootPathRestorer& operator=(const CZipRootPathRestorer&) = delete;
    ~CZipRootPathRestorer();

    void SetNewRootPath(CZipBundle* archive, const char* filePath);

protected:
    CZipBundle* m_pZip = nullptr;
    CZipString m_szOldRootPath;
};
