#pragma once
// One add request for CZipBundle::AddNewFile; the add may change it (the
// predicted name, level 0, smartness 0 or 0xF000).
#include "BitFlag.h"
#include "ZipString.h"

class CZipAbstractFile;

class CZipAddNewFileInfo {
public:
    CZipAddNewFileInfo(const char* filePath, bool fullPath = true) {
        Defaults();
        m_szFilePath = filePath;
        m_bFullPath = fullPath;
    }
    CZipAddNewFileInfo(const char* filePath, const char* nameInZip) {
        Defaults();
        m_szFilePath = filePath;
        m_szFileNameInZip = nameInZip;
    }
    CZipAddNewFileInfo(CZipAbstractFile* file, const char* nameInZip) {
        Defaults();
        m_pFile = file;
        m_szFileNameInZip = nameInZip;
    }

    void Defaults() {
        m_pFile = nullptr;
        m_szFilePath.Empty();
        m_szFileNameInZip.Empty();
        m_bFullPath = true;
        m_iComprLevel = -1;
        m_iSmartLevel = 7;
        m_uReplaceIndex = 0xFFFF;
        m_nBufSize = 65536;
    }

    CZipAbstractFile* m_pFile;     // not owned
    CZipString m_szFilePath;
    CZipString m_szFileNameInZip;  // empty: predicted from the path
    bool m_bFullPath;
    int m_iComprLevel;
    ZipLib::CBitFlag m_iSmartLevel;
    unsigned short m_uReplaceIndex;
    unsigned long m_nBufSize;
};
