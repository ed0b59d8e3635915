#pragma once
// Directory walks that add what they meet to an archive, make the adds
// replace entries of the same name, or count files and bytes beforehand.
#include "DirEnumerator.h"

class CZipBundle;
class CZipActionCallback;
class CZipAddNewFileInfo;

class CZipAddFilesEnumerator : public ZipLib::CDirEnumerator {
public:
    CZipAddFilesEnumerator(const char* directory, bool recursive = true, int level = -1, int smartness = 7,
                           unsigned long bufferSize = 65536)
        : CDirEnumerator(directory, recursive), m_iComprLevel(level), m_iSmartLevel(smartness), m_nBufSize(bufferSize) {}

    virtual void Initialize(CZipBundle* archive);
    virtual void UpdateAddNewFileInfo(CZipAddNewFileInfo* info) { (void)info; }
    CZipBundle* GetZip() { return m_pZip; }
    int GetSmartness() const { return m_iSmartLevel; }

protected:
    bool Process(const char* filePath, const ZipLib::CFileInfo& info) override;

    CZipBundle* m_pZip = nullptr;
    CZipActionCallback* m_pMultiCallback = nullptr;
    // The archive's own file, which the walk must not add to itself.
    int m_iComprLevel;
    int m_iSmartLevel;
    unsigned long m_nBufSize;
};

class CReplacingAddFilesEnumerator : public CZipAddFilesEnumerator {
public:
    using CZipAddFilesEnumerator::CZipAddFilesEnumerator;
    void UpdateAddNewFileInfo(CZipAddNewFileInfo* info) override;
};

class CCalculateAddFilesEnumerator : public ZipLib::CDirEnumerator {
public:
    CCalculateAddFilesEnumerator(const char* directory, bool recursive, CZipActionCallback* callback, bool countDirectories)
        : CDirEnumerator(directory, recursive), m_pCallback(callback), m_bCountDirectories(countDirectories) {}

    unsigned long long m_uTotalBytes = 0;
    unsigned m_uTotalFiles = 0;

protected:
    bool Process(const char* filePath, const ZipLib::CFileInfo& info) override;
    void OnEnumerationBegin() override;
    void OnEnumerationEnd(bool result) override;

    CZipActionCallback* m_pCallback;
    bool m_bCountDirectories;
};
