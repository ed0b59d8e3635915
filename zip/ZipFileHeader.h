#pragma once
// One archive entry: the values of its local header, central header and
// data descriptor, its name, comment, times and attributes, and the writing
// and reading of those records.
#include <ctime>

#include "BitFlag.h"
#include "ZipAutoBuffer.h"
#include "ZipExtraField.h"
#include "ZipString.h"

class CZipCentralDir;
class CZipStorage;

// The largest offset or size a record's 32 bits hold; 0xFFFFFFFF would
// announce ZIP64.
constexpr unsigned long long kMaxZipOffset = 0xFFFFFFFEull;

class CZipFileHeader {
public:
    // General-purpose flag bits.
    enum Flags {
        flEncrypted = 0x0001,
        flCompressOption1 = 0x0002,
        flCompressOption2 = 0x0004,
        flDataDescriptor = 0x0008,
    };
    enum State { sfModified = 0x20 };

    static const char m_gszSignature[];       // 50 4B 01 02
    static const char m_gszLocalSignature[];  // 50 4B 03 04

    // A name or comment as raw bytes and as text; either may be missing.
    class StringWithBuffer {
    public:
        StringWithBuffer() = default;
        StringWithBuffer(const StringWithBuffer& other) { *this = other; }
        StringWithBuffer& operator=(const StringWithBuffer& other);
        ~StringWithBuffer() { ClearString(); }

        bool HasBuffer() const { return m_buffer.IsAllocated() && m_buffer.GetSize() > 0; }
        bool HasString() const { return m_pString != nullptr; }
        void AllocateString() {
            ClearString();
            m_pString = new CZipString();
        }
        void ClearString() {
            delete m_pString;
            m_pString = nullptr;
        }
        const CZipString& GetString() const { return *m_pString; }
        CZipString& GetString() { return *m_pString; }
        void SetString(const char* text) {
            if (!m_pString) m_pString = new CZipString();
            *m_pString = text;
        }
        void ClearBuffer() { m_buffer.Release(); }
        unsigned GetBufferSize() const { return m_buffer.GetSize(); }
        const CZipAutoBuffer& GetBuffer() const { return m_buffer; }
        CZipAutoBuffer& GetBuffer() { return m_buffer; }

    protected:
        CZipAutoBuffer m_buffer;
        CZipString* m_pString = nullptr;
    };

    // A template header, not in an archive.
    CZipFileHeader();
    // A header owned by the directory.
    explicit CZipFileHeader(CZipCentralDir* centralDir);
    CZipFileHeader(const CZipFileHeader& other) { *this = other; }
    CZipFileHeader& operator=(const CZipFileHeader& other);
    virtual ~CZipFileHeader() = default;

    // Records.
    bool Read(bool readSignature);
    bool ReadLocal(CZipCentralDir* centralDir);
    // The central header; returns its size. Raises 211 when too long.
    unsigned Write(CZipCentralDir* centralDir);
    // The local header of a new entry; raises 211 (too long) or 222 (its
    // offset would need ZIP64).
    void WriteLocal(CZipStorage* storage);
    void PrepareData(int level, bool segmented);
    void UpdateLocalHeader(CZipStorage* storage);
    void WriteDataDescriptor(CZipStorage* storage);
    void OnNewFileClose(CZipStorage* storage);
    // True when the entry has no descriptor or the one at the storage's
    // position matches CRC and sizes (8-byte sizes after a local header of
    // ZIP64 form).
    bool CheckDataDescriptor(CZipStorage* storage) const;
    // The descriptor's fields after its optional signature (CRC, then the
    // two sizes) match the header's.
    bool DescriptorMatches(const char* fields) const;
    // Name and local extra field fit a local header.
    bool CanBeWrittenLocally() const;

    // Sizes.
    unsigned GetSize() const;
    unsigned GetLocalSize(bool real) const;
    // 12 or 16, 8 more after a local header of ZIP64 form; 0 without one.
    unsigned GetDataDescriptorSize(bool withSignature) const;
    unsigned GetDataDescriptorSize(const CZipStorage* storage) const;
    unsigned GetEncryptedInfoSize() const;
    unsigned GetDataSize(bool reduce) const;
    bool CompressionEfficient() const;

    // Flags and states.
    bool IsDataDescriptor() const { return (m_uFlag & flDataDescriptor) != 0; }
    bool NeedsDataDescriptor() const { return m_uEncryptionMethod == 0; }
    bool NeedsSignatureInDataDescriptor(const CZipStorage* storage) const;
    bool IsEncrypted() const { return m_uEncryptionMethod != 0xFF; }
    int GetEncryptionMethod() const { return m_uEncryptionMethod; }
    bool IsWinZipAesEncryption() const;
    // The local header as read gave its sizes in a ZIP64 record under
    // 0xFFFFFFFF fields (python's zipfile writes small entries so); it is
    // written back in that form and its descriptor has 8-byte sizes.
    bool HasZip64LocalSizes() const { return m_bZip64Local; }
    bool IsModified() const { return m_state.IsSetAny(sfModified); }
    void SetModified(bool modified = true) { m_state.Change(sfModified, modified); }
    bool HasTime() const { return m_uModTime != 0 || m_uModDate != 0; }
    int GetCompressionLevel() const;
    // Flag bits for encryption and the descriptor, as PrepareData sets them.
    void UpdateFlag(bool segmented);

    // Times. DOS fields hold local time in two-second steps, 1980-2107.
    // On an entry of an archive a new time is a change of its central
    // header, written with the directory; one the archive may not take now
    // leaves the old time.
    time_t GetModificationTime() const;
    // extended: also keep the time as the extended (NTFS) time.
    void SetModificationTime(const time_t& ttime, bool extended = false);
    time_t GetCreationTime() const { return m_tCreationTime; }
    void SetCreationTime(const time_t& ttime);
    time_t GetLastAccessTime() const { return m_tLastAccessTime; }
    void SetLastAccessTime(const time_t& ttime);

    // Attributes in the platform's own form.
    unsigned GetSystemAttr() const;
    bool SetSystemAttr(unsigned attr);
    bool IsDirectory() const;
    int GetSystemCompatibility() const { return m_iSystemCompatibility; }
    void SetSystemCompatibility(int system, bool convertAttributes);

    // Names and comments.
    CZipString& GetFileName(bool clearBuffer = true);
    bool SetFileName(const char* name, bool centralOnly = false);
    CZipString GetComment(bool clearBuffer = false);
    bool SetComment(const char* comment);
    unsigned short PredictFileNameSize() const;
    unsigned short PredictCommentSize() const;
    void PrepareStringBuffers();
    void ConvertFileName(CZipAutoBuffer& buffer) const;
    void ConvertFileName(CZipString& text) const;
    void ConvertComment(CZipAutoBuffer& buffer) const;
    void ConvertComment(CZipString& text) const;
    // Drops the text of the name; its bytes stay.
    void ClearFileName() { m_fileName.ClearString(); }
    unsigned GetDefaultFileNameCodePage() const;
    unsigned GetDefaultCommentCodePage() const;

    unsigned char m_uVersionMadeBy;
    unsigned short m_uVersionNeeded;
    unsigned short m_uFlag;
    unsigned short m_uMethod;
    unsigned short m_uModTime;
    unsigned short m_uModDate;
    unsigned m_uCrc32;
    unsigned m_uComprSize;
    unsigned m_uUncomprSize;
    unsigned short m_uVolumeStart;
    unsigned short m_uInternalAttr;
    unsigned m_uLocalComprSize;
    unsigned m_uLocalUncomprSize;
    unsigned m_uOffset;
    CZipExtraField m_aLocalExtraData;
    CZipExtraField m_aCentralExtraData;

protected:
    friend class CZipCentralDir;
    friend class CZipBundle;
    friend class CZipInPlaceEncryption;

    void Initialize(CZipCentralDir* centralDir);
    bool IsStringModified(const StringWithBuffer& s) const;
    void PutModificationTime(const time_t& ttime, bool extended);
    void SetExtendedTime(time_t CZipFileHeader::*field, const time_t& ttime);
    // After one of the times changed on an entry of an archive: the
    // directory is told; false (the old times back) when it refuses.
    bool TimesChanged(const CZipFileHeader& before);
    void WriteNtfsRecord();
    void ReadNtfsRecord();
    bool TakeZip64LocalSizes(CZipStorage* storage, unsigned& uncompressed, unsigned& compressed);

    time_t m_tModificationTime;
    time_t m_tCreationTime;
    time_t m_tLastAccessTime;
    unsigned m_uExternalAttr;
    unsigned short m_uLocalFileNameSize;
    unsigned char m_uEncryptionMethod;
    unsigned m_uLocalHeaderSize;
    bool m_bZip64Local;
    CZipCentralDir* m_pCentralDir;
    ZipLib::CBitFlag m_state;
    StringWithBuffer m_fileName;
    StringWithBuffer m_comment;
    unsigned char m_iSystemCompatibility;
};
