#pragma once
// Clears an archive's password for one add and sets it back when the scope
// ends, however it ends.
#include "ZipAutoBuffer.h"

class CZipBundle;

class CZipSmClrPass {
public:
    CZipSmClrPass() = default;
    CZipSmClrPass(const CZipSmClrPass&) = delete;
    CZipSmClrPass& operator=(const CZipSmClrPass&) = delete;
    ~CZipSmClrPass();

    void ClearPasswordSmartly(CZipBundle* archive);

protected:
    CZipBundle* m_pZip = nullptr;
    CZipAutoBuffer m_pass;  // the cleared password's bytes, wiped at the end
};
