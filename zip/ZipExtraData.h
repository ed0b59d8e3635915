#pragma once
// One extra-field record: header ID, data size, data.
#include "ZipAutoBuffer.h"

class CZipExtraData {
public:
    CZipExtraData() = default;
    explicit CZipExtraData(unsigned short headerID) : m_uHeaderID(headerID) {}
    CZipExtraData(const CZipExtraData&) = default;
    CZipExtraData& operator=(const CZipExtraData&) = default;

    unsigned short GetHeaderID() const { return m_uHeaderID; }
    // 4 + the data length.
    int GetTotalSize() const { return 4 + int(m_data.GetSize()); }
    // Parses one record from available bytes; false when malformed.
    bool Read(char* buffer, unsigned short available);
    // Returns the bytes written.
    int Write(char* buffer) const;

    CZipAutoBuffer m_data;
    bool m_bHasSize = true;

protected:
    unsigned short m_uHeaderID = 0;
};
