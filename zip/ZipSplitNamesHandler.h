#pragma once
// Names of the volumes of split archives («a.z01» ... «a.zip») and of
// binary-split archives («a.zip.001» ...).
#include "BitFlag.h"
#include "ZipString.h"

class CZipSplitNamesHandler {
public:
    enum NameFlags { flLast = 0x01, flExisting = 0x02 };

    virtual void Initialize(const CZipString& archivePath) { (void)archivePath; }
    // volumeNumber is 1-based.
    virtual CZipString GetVolumeName(const CZipString& archivePath, unsigned short volumeNumber,
                                     ZipLib::CBitFlag flags) const = 0;
    virtual unsigned GetVolumeNumber(const CZipString& volumePath) const {
        (void)volumePath;
        return 0;
    }
    virtual ~CZipSplitNamesHandler() = default;
};

class CZipRegularSplitNamesHandler : public CZipSplitNamesHandler {
public:
    void Initialize(const CZipString& archivePath) override;
    CZipString GetVolumeName(const CZipString& archivePath, unsigned short volumeNumber,
                             ZipLib::CBitFlag flags) const override;

protected:
    CZipString m_szExt = "zip";
};

class CZipBinSplitNamesHandler : public CZipSplitNamesHandler {
public:
    CZipString GetVolumeName(const CZipString& archivePath, unsigned short volumeNumber,
                             ZipLib::CBitFlag flags) const override;
    unsigned GetVolumeNumber(const CZipString& volumePath) const override;
};
