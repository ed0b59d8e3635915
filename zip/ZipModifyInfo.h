#pragma once
// Records local to one modifying operation (removing entries, committing
// changed local headers, encrypting entries in place).
class CZipFileHeader;

struct CZipDeleteInfo {
    CZipDeleteInfo() = default;
    CZipDeleteInfo(CZipFileHeader* header, bool del) : m_pHeader(header), m_bDelete(del) {}
    CZipFileHeader* m_pHeader = nullptr;  // not owned
    bool m_bDelete = false;
};

struct CZipChangeInfo {
    unsigned short m_uIndex = 0;
    unsigned m_uDataStart = 0;      // local-header offset + old local size
    unsigned m_uStretchEnd = 0;     // 0 until computed
    long long m_iCumulativeChange = 0;
};

struct CZipEncryptFileInfo {
    CZipFileHeader* m_pHeader = nullptr;
    unsigned m_uLocalSizeDiff = 0;
    unsigned m_uDescriptorSizeDiff = 0;
    unsigned short m_uIndex = 0;
    unsigned m_uUncompressedOffset = 0;
};
