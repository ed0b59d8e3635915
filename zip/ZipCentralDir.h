#pragma once
// The central directory of an open archive: the entry headers, the end
// record's values, the archive comment and an optional sorted name index.
// Several directories may share one set of data (reference-counted).
#include <utility>
#include <vector>

#include "ZipAutoBuffer.h"
#include "ZipCollections.h"
#include "ZipFileHeader.h"
#include "ZipString.h"

class CZipBundle;
class CZipStorage;

class CZipCentralDir {
public:
    // Checks on reading; a check runs when its bit is not ignored.
    enum ConsistencyCheck {
        checkNone = 0x0000,
        checkCRC = 0x0001,
        checkLocalMethod = 0x0002,
        checkLocalSizes = 0x0004,
        checkLocalCRC = 0x0008,
        checkLocalFlag = 0x0010,
        checkLocalAll = 0x001E,
        checkDataDescriptor = 0x0100,
        checkVolumeEntries = 0x0200,
        checkDecryptionVerifier = 0x0400,
        checkAll = 0xFFFF,
    };

    // One element of the name index.
    struct CZipFindFast {
        CZipFindFast() = default;
        CZipFindFast(CZipFileHeader* header, unsigned short index) : m_pHeader(header), m_uIndex(index) {}
        CZipFileHeader* m_pHeader = nullptr;
        unsigned short m_uIndex = 0;
    };

    // The shared data: end record values and index settings.
    struct CInfo {
        void Init();
        bool CheckIfCantBeEmpty() const;

        unsigned m_uEndOffset = 0;
        unsigned short m_uLastVolume = 0;
        unsigned short m_uVolumeWithCD = 0;
        unsigned short m_uVolumeEntriesNo = 0;
        unsigned short m_uEntriesNumber = 0;
        unsigned m_uSize = 0;
        unsigned m_uOffset = 0;
        bool m_bInArchive = false;
        CZipAutoBuffer m_pszComment;
        bool m_bCaseSensitive = false;
        bool m_bFindFastEnabled = false;
        unsigned short m_iLastIndexAdded = 0xFFFF;
        ZIPSTRINGCOMPARE m_pCompare = nullptr;
        int m_iReference = 0;
    };

    static const char m_gszSignature[];           // 50 4B 05 06
    static const char m_gszSignature64Locator[];  // 50 4B 06 07

    CZipCentralDir();
    CZipCentralDir(const CZipCentralDir&) = delete;
    CZipCentralDir& operator=(const CZipCentralDir&) = delete;
    virtual ~CZipCentralDir();

    void InitOnCreate(CZipBundle* archive);
    // New shared data, or the source's shared data.
    void Init(CZipCentralDir* source = nullptr);
    void Close();

    // Finds, reads and checks the directory of an existing archive.
    void Read();
    // Writes the headers and the end record unless already in the archive:
    // at the end of the file, or of an unsegmented archive at `at` (an
    // archive offset). Quiet: the save callback is not asked (a directory
    // that ends a change in place must not stop half written). Raises 222
    // when the directory would pass 4 GiB.
    void Write(bool quiet = false, unsigned long long at = ~0ull);

    CZipFileHeader* operator[](unsigned short index) const { return (*m_pHeaders)[index]; }
    unsigned short GetCount() const { return m_pHeaders ? (unsigned short)m_pHeaders->size() : 0; }
    bool IsValidIndex(unsigned short index) const { return index != 0xFFFF && index < GetCount(); }
    bool IsAnyFileModified() const;

    void OpenFile(unsigned short index);
    void CloseFile(bool afterException = false);
    // Appends (or inserts at replaceIndex) a header made from the template
    // and makes it the opened file.
    CZipFileHeader* AddNewFile(const CZipFileHeader& header, unsigned short replaceIndex, int level,
                               bool copySizes = false);
    void CloseNewFile();
    CZipFileHeader* GetOpenedFile() const { return m_pOpenedFile; }
    // Forgets the opened file without finishing it.
    void ClearOpenedFile() { m_pOpenedFile = nullptr; }

    void RemoveFile(CZipFileHeader* header, unsigned short index = 0xFFFF, bool shift = true);
    void RemoveAll();
    void RemoveHeaders();

    // 22 + comment, plus every central header when whole.
    unsigned GetSize(bool whole = false) const;
    // What Write puts down: the whole size, with the names that renamed
    // headers waiting for their commit are written with.
    unsigned GetWrittenSize();

    // The comment changes in memory; the directory on disk stands until
    // the next write (CZipChangeEngine::DirectoryChanged).
    void SetComment(const char* comment, unsigned codePage);
    void GetComment(CZipString& comment) const;

    unsigned short FindFile(const char* name, bool caseSensitive, bool sporadically, bool fileNameOnly);
    void EnableFindFast(bool enable, bool caseSensitive);
    void BuildFindFastArray(bool caseSensitive);
    void RebuildFindFastArray() {
        if (m_pInfo && m_pInfo->m_bFindFastEnabled) BuildFindFastArray(m_pInfo->m_bCaseSensitive);
    }
    void ClearFindFastArray();
    void InsertFindFastElement(CZipFileHeader* header, unsigned short index);
    unsigned short RemoveFindFastElement(CZipFileHeader* header, bool shift);
    unsigned short FindFileNameIndex(const char* name) const;
    int CompareElement(const char* name, unsigned short index) const;

    // A header's name, comment, attributes or times changed (false: the
    // archive may not change now, the caller puts the old value back). A
    // new local name waits for its commit (at once under commit on change);
    // a change of the central header alone leaves the directory on disk
    // standing until the next write, which auto-finalize makes at once.
    bool OnFileNameChange(CZipFileHeader* header, bool centralOnly);
    bool OnFileCentralChange();

    void GetInfo(CInfo& info) const { info = *m_pInfo; }
    bool IsConsistencyCheckOn(int check) const { return (m_iIgnoredChecks & check) == 0; }
    unsigned long long LocateSignature();
    [[noreturn]] void ThrowError(int code) const;

protected:
    friend class CZipBundle;
    friend class CZipChange;
    friend class CZipChangeEngine;
    friend class CZipMover;
    friend class CZipFileHeader;

    typedef std::vector<std::pair<CZipFileHeader*, CZipFileHeader::StringWithBuffer>> CommittedNames;
    // A header renamed under manual commit keeps, in every directory written
    // before its commit, the name its local header has: a directory with the
    // new one would not match it, and python refuses such an entry. Their
    // names as read from the local headers (none that cannot be read).
    void ReadCommittedNames(CommittedNames& names);
    void ReadHeaders();
    void WriteHeaders(bool oneSegment);
    void WriteCentralEnd();
    // The directory of a segmented archive; one still on its first volume
    // is turned into an ordinary archive when the directory fits there.
    void WriteSegmented();
    // Drops the data descriptors (but those encryption needs) and the
    // leading marker from a segmented archive on volume 0, in the write
    // buffer or in a mapping of the file; false when the file cannot be
    // mapped (the archive stays segmented).
    bool RemoveDataDescr(bool inBuffer);
    void CreateSharedData();
    void DestroySharedData();

    CZipFileHeader* m_pOpenedFile;
    bool m_bQuiet = false;
    int m_iIgnoredChecks;
    CZipBundle* m_pArchive;
    CZipStorage* m_pStorage;
    CZipArray<CZipFileHeader*>* m_pHeaders;
    CZipArray<CZipFindFast*>* m_pFindArray;
    CInfo* m_pInfo;
};
