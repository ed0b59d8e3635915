#pragma once
// The extra-field records of one local or central header, in order. The
// field owns its records.
#include "ZipCollections.h"
#include "ZipExtraData.h"

class CZipStorage;

class CZipExtraField {
public:
    // Header IDs the library writes or interprets itself.
    enum InternalHeaderID {
        hidZip64 = 0x0001,
        hidNtfs = 0x000A,
        hidInternal5A4C = 0x5A4C,
        hidUnicodeComment = 0x6375,
        hidUnicodePath = 0x7075,
        hidWinZipAes = 0x9901,
    };

    // IDs whose records carry no size field (none).
    static const CZipArray<unsigned short> m_aNoSizeExtraHeadersID;

    CZipExtraField() = default;
    CZipExtraField(const CZipExtraField& other) { *this = other; }
    CZipExtraField& operator=(const CZipExtraField& other);
    ~CZipExtraField() { Clear(); }

    int GetCount() const { return int(m_aData.size()); }
    CZipExtraData* GetAt(int index) const { return m_aData.at(size_t(index)); }
    void Add(CZipExtraData* extra) { m_aData.Add(extra); }
    CZipExtraData* CreateNew(unsigned short headerID, bool append = true) {
        int index;
        return CreateNew(headerID, index, append);
    }
    CZipExtraData* CreateNew(unsigned short headerID, int& index, bool append = true);
    CZipExtraData* Lookup(unsigned short headerID) const {
        int index;
        return Lookup(headerID, index);
    }
    CZipExtraData* Lookup(unsigned short headerID, int& index) const;
    void Remove(unsigned short headerID);
    void RemoveAt(int index);
    void Clear();
    void RemoveInternalHeaders();
    void RemoveInternalLocalHeaders();

    int GetTotalSize() const;
    // The whole field fits a 16-bit length.
    bool Validate() const { return GetTotalSize() < 65536; }
    // Reads size bytes at the storage's position; false when malformed.
    bool Read(CZipStorage* storage, unsigned short size);
    // Every record back to back.
    void Write(char* buffer) const;

    static bool HasSize(unsigned short headerID);

protected:
    CZipArray<CZipExtraData*> m_aData;
};
