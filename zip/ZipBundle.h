#pragma once
// The archive: the one object through which a caller creates, opens, reads,
// changes and closes a ZIP archive. It owns its storage, central directory,
// compressor, cryptograph and options.
//
// Operations that are not allowed in the archive's current state return
// false (or an empty result) and change nothing; damage, I/O failures and
// misuse raise CZipException. Archives that would need ZIP64 are refused
// (212 for an entry of 4 GiB or more, 222 for offsets past 4 GiB).
#include <ctime>
#include <optional>

#include "ZipAbstractFile.h"
#include "ZipAddNewFileInfo.h"
#include "ZipAutoBuffer.h"
#include "ZipCallback.h"
#include "ZipCallbackProvider.h"
#include "ZipCentralDir.h"
#include "ZipChangeEngine.h"
#include "ZipCollections.h"
#include "ZipCompressor.h"
#include "ZipException.h"
#include "ZipExtractTarget.h"
#include "ZipFileHeader.h"
#include "ZipModifyInfo.h"
#include "ZipPathComponent.h"
#include "ZipPlatform.h"
#include "ZipStorage.h"
#include "ZipString.h"

class CZipCryptograph;
class CZipSegmCallback;
class CZipAddFilesEnumerator;
namespace ZipLib {
class CFileFilter;
}

class CZipBundle {
public:
    static const char m_gszVersion[];  // "4.6.2"

    enum OpenMode {
        zipOpen = 0x0001,
        zipOpenReadOnly = zipOpen | 0x0002,
        zipCreate = 0x0004,
        zipCreateAppend = zipCreate | 0x0008,
        zipModeSplit = 0x0100,
        zipModeBinSplit = 0x0200,
        zipModeSpan = 0x0400,
        zipModeSegmented = zipModeSplit | zipModeBinSplit | zipModeSpan,
        zipCreateSplit = zipCreate | zipModeSplit,
        zipCreateBinSplit = zipCreate | zipModeBinSplit,
        zipCreateSpan = zipCreate | zipModeSpan,
        zipOpenSplit = zipOpenReadOnly | zipModeSplit,
        zipOpenBinSplit = zipOpenReadOnly | zipModeBinSplit,
    };

    // afterException of Close.
    enum CloseAfterException { afNoException = 0, afAfterException = 1, afWriteDir = 2 };

    // AddSmartness bits of the adds.
    enum Smartness {
        zipsmLazy = 0x0000,
        zipsmCPassDir = 0x0001,          // don't encrypt directories
        zipsmCPFile0 = 0x0002,           // don't encrypt empty files
        zipsmNotCompSmall = 0x0004,      // store sources of at most 4 bytes
        zipsmCheckForEff = 0x0008,       // store when deflating didn't help
        zipsmMemoryFlag = 0x0010,        // with 8: trial entry in memory
        zipsmCheckForEffInMem = zipsmCheckForEff | zipsmMemoryFlag,
        zipsmSmartPass = zipsmCPassDir | zipsmCPFile0,
        zipsmSmartAdd = zipsmNotCompSmall | zipsmCheckForEff,
        zipsmSafeSmart = zipsmSmartPass | zipsmNotCompSmall,
        zipsmSmartest = zipsmSmartPass | zipsmSmartAdd,
        zipsmIgnoreDirectories = 0x0020,
        zipsmInternal01 = 0xF000,        // a re-add after a failed efficiency check
    };

    // caseMode of FindFile.
    enum FFCaseSens { ffDefault = 0, ffCaseSens = 1, ffNoCaseSens = 2 };

    enum SegmCallbackType { scSpan = 0x01, scSplit = 0x02, scAll = scSpan | scSplit };

    // Commit mode: commit changed local headers on every change, or only on
    // CommitChanges / Close.
    enum CommitMode { cmManual = 0, cmOnChange = 1 };

    // what of PredictFileNameInZip.
    enum Predict { prDir = 0, prFile = 1, prAuto = 2 };

    CZipBundle();
    CZipBundle(const CZipBundle&) = delete;
    CZipBundle& operator=(const CZipBundle&) = delete;
    // Frees everything; does not close or write an open archive.
    virtual ~CZipBundle();

    // --- Opening and state ---------------------------------------------
    // On the caller's file; modes 1, 3, 4 and 12. autoClose: the archive
    // closes the file when it closes. False, nothing opened, when already
    // open or for another mode. Opening an existing archive throws 221 when
    // no end record is found, 222 for a ZIP64 archive, 201 for a damaged
    // directory, with nothing left open.
    bool Open(CZipAbstractFile& file, int mode = zipOpen, bool autoClose = false);
    // On a path; modes 1, 3, 4, 12, and 1, 3 or 4 with one segmented kind:
    // zipCreateSplit, zipCreateBinSplit (volumeSize bytes a volume: 204
    // without one) or zipCreateSpan (needs the spanned callback: 203).
    // Segmented archives are created or read whole; an existing one is
    // read-only. Set the volume callbacks (SetSegmCallback) before Open: the
    // one in use is chosen here. Throws as the other Open does, and the
    // system's error code (2 for a missing file) when the path cannot be
    // opened.
    //
    // Reading an existing segmented archive, name its last volume and its
    // kind. On Linux every drive counts as removable, so an archive of
    // several volumes opened without a segmented mode is taken for a
    // spanned one and needs the spanned callback (203 without it). A split
    // archive («a.z01», «a.z02» ... «a.zip», as `zip -s` writes them) opens
    // with Open("a.zip", zipOpenSplit); a missing volume is 217 unless the
    // split callback finds it. A binary-split one opens by its last volume:
    // Open("a.zip.003", zipOpenBinSplit).
    bool Open(const char* filePath, int mode = zipOpen, unsigned volumeSize = 0);
    // A second, read-only view of an open archive.
    bool OpenFrom(CZipBundle& other, CZipAbstractFile* file = nullptr, bool allowNonReadOnly = false);
    static bool IsZipFile(const char* filePath);
    static bool IsZipFile(CZipAbstractFile& file, bool autoClose = false);

    bool IsClosed(bool archive = true) const { return m_storage.IsClosed(archive); }
    bool IsReadOnly() const { return m_storage.IsReadOnly(); }
    CZipStorage* GetStorage() { return &m_storage; }
    unsigned short GetCount() const { return m_centralDir.GetCount(); }
    bool IsModified() const { return m_centralDir.IsAnyFileModified(); }
    int GetCommitMode() const { return m_iCommitMode; }
    void SetCommitMode(int mode) { m_iCommitMode = mode; }
    int GetSystemCompatibility() const { return m_iArchiveSystCompatib; }
    bool CanModify(bool allowNewSegmented = false, bool needNoOpenFile = true) const;

    bool GetFileInfo(CZipFileHeader& out, unsigned short index) const;
    CZipFileHeader* GetFileInfo(unsigned short index);
    const CZipFileHeader* GetFileInfo(unsigned short index) const;
    CZipFileHeader* operator[](unsigned short index) { return GetFileInfo(index); }
    const CZipFileHeader* operator[](unsigned short index) const { return GetFileInfo(index); }
    // The index of the entry named `name` (with fileNameOnly, the first
    // whose name without its directory is `name`), or 0xFFFF when none is,
    // the archive is closed or name is null. caseMode ffCaseSens and
    // ffNoCaseSens force the case rule; ffDefault uses the archive's.
    // Throws nothing of its own; builds the name index on first use.
    unsigned short FindFile(const char* name, int caseMode = ffDefault, bool fileNameOnly = false);
    void EnableFindFast(bool enable = true);
    bool GetCaseSensitivity() const { return m_bCaseSensitive; }
    void SetCaseSensitivity(bool caseSensitive);

    bool SetCompressionMethod(unsigned short method = CZipCompressor::methodDeflate);
    unsigned short GetCompressionMethod() const { return m_uCompressionMethod; }
    bool SetSystemCompatibility(int system);
    // Only while closed; each size at least 1024.
    void SetAdvanced(int writeBuffer = 65536, int generalBuffer = 65536, int searchBuffer = 32768);
    void SetTempPath(const char* filePath = nullptr, bool force = true);
    CZipString GetTempPath() const { return m_szTempPath; }
    CZipString GetArchivePath() const;
    CZipString GetGlobalComment() const;
    bool SetGlobalComment(const char* comment, unsigned codePage = 0xFFFFFFFF);
    unsigned short GetCurrentVolume() const { return (unsigned short)(m_storage.GetCurrentVolume() + 1); }
    void GetCentralDirInfo(CZipCentralDir::CInfo& info) const;
    bool OverwriteLocalHeader(unsigned short index);
    bool ReadLocalHeader(unsigned short index);
    // which: scSpan the callback asked for spanned volumes, scSplit the one
    // asked for split volumes. Not owned.
    void SetSegmCallback(CZipSegmCallback* callback = nullptr, int which = scAll);
    // An existing segmented archive forgets which volume is open, so the
    // next access opens the one it needs (say, after the caller moved
    // volumes); an entry open for reading is closed.
    bool ResetCurrentVolume();

    // Options handed to every compressor the archive makes (cloned).
    void SetCompressionOptions(const CZipCompressor::COptions* options) { m_compressorsOptions.Set(options); }

    // --- Callbacks -------------------------------------------------------
    void SetCallback(CZipActionCallback* callback = nullptr, int mask = CZipActionCallback::cbAll) {
        m_callbacks.Set(callback, mask);
    }
    CZipActionCallback* GetCallback(CZipActionCallback::CallbackType type) { return m_callbacks.Get(type); }

    // --- Finishing -------------------------------------------------------
    // Writes the directory and flushes: the archive on disk is complete and
    // can still be added to. A segmented archive being created is finished:
    // its last split volume gets the archive's name and it becomes an
    // existing (read-only) one, or, when everything stayed on the first
    // volume, one ordinary archive that can still be added to.
    bool Finalize(bool onlyIfAuto = false);
    bool SetAutoFinalize(bool autoFinalize = true);
    bool GetAutoFinalize() const { return m_bAutoFinalize; }
    void WriteCentralDirectory(bool flush = true);
    // afterException: 0 ordinary, 1 write nothing (after an exception), 2
    // after an exception but still write the directory. Returns the path.
    // When the directory cannot be written (a full disk) Close throws and
    // the archive stays open with no part of the new directory on disk:
    // call it again once there is room, or with 1 to give up.
    CZipString Close(int afterException = afNoException, bool updateTimeStamp = false);

    // --- Adding entries --------------------------------------------------
    // AddNewFile adds a file or directory from disk, or a caller's file
    // object, as a new entry, or in place of info.m_uReplaceIndex. True
    // once the entry is whole in the archive. False, with nothing changed,
    // when adding is not allowed now: the archive is closed or read-only,
    // an entry is open, it holds 65535 entries, the path is empty, the
    // buffer size is 0, or the replace index is wrong.
    // Throws 216 when the source's attributes cannot be read; 226 for a
    // FIFO, socket or device, which is never opened, so the call never
    // blocks; 212 for a source of 4 GiB or more; 222 when the archive would
    // need ZIP64; 206 or 207 when the callback stops it (207: the archive
    // is intact); an errno code when reading the source or writing fails.
    // After a throw the unfinished entry is gone and the entries before it
    // stay readable: a directory that stood on disk is written back.
    bool AddNewFile(CZipAddNewFileInfo& info);
    bool AddNewFile(const char* filePath, int level = -1, bool fullPath = true, int smartness = zipsmSafeSmart,
                    unsigned long bufferSize = 65536);
    bool AddNewFile(const char* filePath, const char* nameInZip, int level = -1, int smartness = zipsmSafeSmart,
                    unsigned long bufferSize = 65536);
    bool AddNewFile(CZipAbstractFile& source, const char* nameInZip, int level = -1, int smartness = zipsmSafeSmart,
                    unsigned long bufferSize = 65536);
    // Low-level steps: OpenNewFile, WriteNewFile..., CloseNewFile(false);
    // CloseNewFile(true) after an exception drops the unfinished entry.
    bool OpenNewFile(CZipFileHeader& header, int level = -1, const char* sourcePath = nullptr) {
        return OpenNewFile(header, level, sourcePath, 0xFFFF);
    }
    bool OpenNewFile(CZipFileHeader& header, int level, const char* sourcePath, unsigned short replaceIndex);
    bool WriteNewFile(const void* data, unsigned size);
    bool CloseNewFile(bool afterException = false);
    // Removes the last entry when its compression was not efficient, or
    // anyway; false for an empty archive or one that may not change. A
    // change of the directory alone: with no directory on disk (a new
    // archive) the file is cut at the entry's local header, else the entry's
    // bytes become room once the directory is written.
    bool RemoveLast(bool removeAnyway = false);
    unsigned PredictMaximumFileSizeInArchive(const char* filePath, bool fullPath);
    unsigned PredictMaximumFileSizeInArchive(CZipFileHeader& header);

    // Directory trees. AddNewFiles adds, breadth first, every file and
    // directory of the tree that `filter` accepts, each through AddNewFile:
    // - A symbolic link to a file adds that file's data under the link's
    //   name.
    // - A link to a directory is never entered, so no link can loop the
    //   walk. It is left out, and so is a link that cannot be followed;
    //   the enumerator's GetLinksLeftOut() counts both.
    // - FIFOs, sockets and devices are left out.
    // - The archive's own file, and every volume name a split archive can
    //   have, stale ones of an earlier run included, are never added.
    // True when the walk ran to its end. False when the archive is closed,
    // an entry could not be added, or a counting callback stopped it; the
    // entries added until then are kept. Throws what AddNewFile throws,
    // with the same guarantee, and 207 when the multi-action callback
    // stops it between entries.
    bool AddNewFiles(const char* directory, ZipLib::CFileFilter& filter, bool recursive = true, int level = -1,
                     bool skipInitialPath = true, int smartness = zipsmSafeSmart, unsigned long bufferSize = 65536);
    bool AddNewFiles(CZipAddFilesEnumerator& enumerator, ZipLib::CFileFilter& filter, bool skipInitialPath = true);
    void FindMatches(const char* pattern, CZipArray<unsigned short>& indexes, bool fullPath = true);

    // --- Reading entries and names ---------------------------------------
    // Every throw below leaves no entry open (CurrentFile() is null) and
    // the archive usable for the next call. Codes: 201 damage (a local
    // header that does not match its central one, data shorter or longer
    // than declared), 202 CRC mismatch, 206 stopped by the callback with
    // data left, 207 stopped after the last byte, 213 no or a wrong
    // password, 214 a directory with data, 222 ZIP64, 223 WinZip AES, 225
    // an entry sharing bytes with another (an overlapping zip bomb), 500 to
    // 507 zlib, or a system error code.
    //
    // Opens the entry for ReadFile: false, changing nothing, when the
    // archive is closed, the index invalid, a segmented archive is being
    // created, an entry is already open or the method is neither stored
    // nor deflated. Throws 201, 213, 223, 225 or a system error code.
    bool OpenFile(unsigned short index);
    // Up to size bytes of the open entry's data; 0 at its end, or when no
    // entry is open, buffer is null or size is 0. Never more than the
    // entry declares. Throws (201, 500-507, a system error) with the entry
    // closed.
    unsigned ReadFile(void* buffer, unsigned size);
    CZipFileHeader* CurrentFile() { return m_centralDir.GetOpenedFile(); }
    // 1 closed and checked; -1 not read to its end (no CRC to check); -2
    // times or attributes not set on filePath; 0 nothing open for reading.
    // afterException closes without checks. Throws 202 (CRC) or 201 (a data
    // descriptor that does not match), with the entry closed.
    int CloseFile(const char* filePath = nullptr, bool afterException = false);
    // Closes the caller's file, then CloseFile(its path).
    int CloseFile(CZipFile& file);
    // Extracts the entry below filePath (the current directory when empty;
    // made when missing). The name's empty, "." and ".." components go, the
    // rest is kept whole; components below filePath are opened without
    // following links, a link in the way is replaced, never followed.
    // False, writing nothing, for a buffer size of 0, a closed archive, an
    // invalid index, an entry already open, a name with nothing left or an
    // unsupported method; true when done (also when an existing file at
    // least as new is kept under fomOnlyIfNewer); false with the file in
    // place when its times or mode could not be set. A file's data goes
    // into a temporary file beside its place and replaces what stands
    // there only once the CRC is checked: after any failure or stop (the
    // codes above with the target path, 36 a name component longer than
    // the file system takes, thrown before anything is made or written,
    // 216 a directory that cannot be made, 218 a directory where the file
    // goes, 219 a failed rename) what
    // stood there is as it was and nothing of the entry is left, but for
    // 207, thrown with the checked file in place. Directories the
    // extraction made get their stored mode at Close, so that a read-only
    // one receives its files first; one that stood keeps its own.
    bool ExtractFile(unsigned short index, const char* filePath, bool fullPath = true, const char* newName = nullptr,
                     ZipPlatform::FileOverwriteMode mode = ZipPlatform::fomNone, unsigned bufferSize = 65536);
    // Appends the entry's data to target (from its position); with rewind
    // the position is put back, after a throw too. False, writing nothing, for a buffer size
    // of 0, a closed archive, an invalid index, a directory, an entry
    // already open or an unsupported method. Throws the codes above; the
    // target keeps what was written before the failure.
    bool ExtractFile(unsigned short index, CZipAbstractFile& target, bool rewind = true, unsigned bufferSize = 65536);
    // Decompresses the entry and checks its CRC, writing nothing. True
    // when sound; false for a closed archive, a segmented archive being
    // created, a buffer size of 0, an invalid index, an entry already open
    // or an unsupported method. Throws the codes above (201 when the data
    // ends early).
    bool TestFile(unsigned short index, unsigned bufferSize = 65536);

    void SetRootPath(const char* filePath = nullptr);
    CZipString GetRootPath() const { return m_szRootPath; }
    CZipString TrimRootPath(CZipPathComponent& component) const;
    static bool RemovePathBeginning(const char* beginning, CZipString& filePath, ZIPSTRINGCOMPARE compare);
    CZipString PredictFileNameInZip(const char* filePath, bool fullPath, int what = prAuto) const;
    CZipString PredictExtractedFileName(const char* nameInZip, const char* filePath, bool fullPath,
                                        const char* newName = nullptr) const;
    unsigned short WillBeDuplicated(const char* filePath, bool fullPath, bool fileNameOnly = false, int what = prAuto);

    // --- Modifying -------------------------------------------------------
    // Changes in place of an unsegmented archive: data is moved through one
    // buffer, never recompressed. A change that moves data (removing,
    // replacing, shifting, copying in place of an entry, committing renamed
    // entries, encrypting) writes its directory before it returns; so does
    // every change under auto-finalize. Changes of the directory alone (the
    // archive or an entry comment, attributes, times, SetFileName(name,
    // true), RemoveFile(index, false), RemoveLast) and adds into room kept
    // ahead of them leave the directory that stood on disk as it was, and
    // readable, until the next write of the directory (Finalize, Close, a
    // change that moves data): a kill before that finds the archive as that
    // directory describes it. A change that fails writes the directory of
    // the changes completed before it (every entry it did not touch stays
    // readable); on a full disk a change that grows the file leaves it as it
    // was. 206: aborted while moving (entries cut in two are gone, the
    // others readable), 207: aborted with nothing of the change left.
    //
    // Without removeData only the record goes; the data stays unreferenced.
    bool RemoveFile(unsigned short index, bool removeData = true);
    // Sorts the caller's indexes; false for any invalid one.
    bool RemoveFiles(CZipArray<unsigned short>& indexes);
    bool RemoveFiles(const CZipArray<CZipString>& names);
    void GetIndexes(const CZipArray<CZipString>& names, CZipArray<unsigned short>& indexes);
    // Moves the whole archive offset bytes into its file (offsets stay
    // absolute); false when data stands before the archive already.
    bool ShiftData(unsigned offset);
    // Puts data before the archive; with a new extension a disk archive is
    // renamed and made executable first (false, nothing changed, when that
    // cannot be done), then the data goes in and the archive is closed; a
    // throw after the rename leaves the archive under its new name.
    bool PrependData(CZipAbstractFile& data, const char* newExtension = nullptr);
    bool PrependData(const char* filePath, const char* newExtension = nullptr);
    // Copies an entry as packed (an encrypted one stays encrypted with its
    // own password), appended or in place of replaceIndex. The caller may
    // hold the general buffer for several copies.
    bool GetFromArchive(CZipBundle& source, unsigned short index, const char* newName = nullptr,
                        unsigned short replaceIndex = 0xFFFF, bool convertSystem = false,
                        CZipActionCallback* callback = nullptr);
    bool GetFromArchive(CZipBundle& source, CZipArray<unsigned short>& indexes, bool convertSystem = false);
    // Writes back the local headers of renamed entries, moving the data
    // behind each one that changes size.
    bool CommitChanges();
    bool RemoveCentralDirectoryFromArchive();

    // --- Encryption ------------------------------------------------------
    // The password for the entries read and added next (null: none),
    // converted to codePage (0xFFFFFFFF: the archive's default). False,
    // changing nothing, while an entry is open. The old password is wiped
    // from memory; every open and Close wipe it too. Throws nothing.
    bool SetPassword(const char* password = nullptr, unsigned codePage = 0xFFFFFFFF);
    CZipString GetPassword() const;
    bool SetEncryptionMethod(int method = 0);
    int GetEncryptionMethod() const { return m_iEncryptionMethod; }
    bool WillEncryptNextFile() const { return m_pszPassword.GetSize() != 0 && m_iEncryptionMethod != 0xFF; }
    // Encrypts, in place and with the password set, the listed entries
    // (all with none given) that are not encrypted yet; sorts the list.
    // False when nothing may change or no password is set. 207: stopped
    // while collecting, nothing changed; 206: stopped while moving.
    bool EncryptFilesInternal(CZipArray<unsigned short>* indexes);

protected:
    friend class CZipCentralDir;
    friend class CZipSmClrPass;
    friend class CZipRootPathRestorer;
    friend class CZipInPlaceEncryption;

    virtual void CreateCryptograph(int method);
    virtual void CreateCompressor(unsigned short method);

    void Initialize();
    void OpenInternal(int mode);
    // OpenInternal, closing storage and directory again when it throws.
    void OpenOrAbandon(int mode);
    // With the storage open: whether an end record is found; closes the storage.
    bool EndRecordFound();
    void InitOnOpen(int systemCompatibility, CZipCentralDir* source = nullptr);
    // At Close: the kept target directory goes, directory modes are set.
    void FinishExtraction();
    void ClearCryptograph();
    void ClearCompressor();
    void InitBuffer() { m_pBuffer.Allocate(unsigned(m_iBufferSize)); }
    void ReleaseBuffer() { m_pBuffer.Release(); }
    [[noreturn]] void ThrowError(int code, const char* filePath = nullptr) const;

    bool UpdateReplaceIndex(unsigned short& replaceIndex);
    // The steps of AddNewFile: the entry's attributes, times and name from
    // the source (true for a directory); the size when it is known without
    // opening the source; a directory entry; the source's data into a new
    // entry (false when the entry cannot be opened); the stored re-add when
    // deflating did not pay.
    bool GatherSourceFacts(CZipAddNewFileInfo& info, CZipFileHeader& header);
    static bool SizeWithoutOpening(const CZipAddNewFileInfo& info, unsigned long long& size);
    bool AddDirectoryEntry(CZipAddNewFileInfo& info, CZipFileHeader& header);
    bool CopySourceIntoEntry(CZipAddNewFileInfo& info, CZipFileHeader& header, CZipAbstractFile& source,
                             unsigned long long size);
    bool StoreIfNotEfficient(CZipAddNewFileInfo& info);
    // Every failure road of an add of new data ends here: drops the entry
    // open for writing, if any (DropAdd).
    void AbandonNewFile();

    // The one road of every entry added, new data or a copy. BeginAdd: the
    // room it needs, kept ahead of it for dataSize bytes (~0: not known),
    // or made at the entry it replaces, then its header in the directory
    // (copied: sizes taken from the template) with the storage at its local
    // header; throws with nothing left of it. EndAdd once its last byte is
    // written: with auto-finalize, or where a directory stood on disk and
    // no room holds a copy, the directory is written; a failure there
    // takes the entry out again and rethrows. DropAdd takes it out: the
    // header leaves and the directory of what the archive held before is
    // written back, where the entry started when it was the last.
    CZipFileHeader* BeginAdd(const CZipFileHeader& header, int level, unsigned short replaceIndex,
                             unsigned long long dataSize, bool copied, bool keepNoDescriptor);
    void EndAdd();
    void DropAdd() { m_add.reset(); }
    // The bytes an entry of dataSize bytes of data takes in place of
    // another: local header, data, encryption header when it is encrypted
    // now, descriptor. Throws 211 when its local header cannot be written.
    unsigned long long ReplacementSize(const CZipFileHeader& header, int level, unsigned long long dataSize,
                                       bool keepNoDescriptor);
    // The room of `needed` bytes at entry index, made by the change: the
    // entries behind it move.
    void MakeSpaceForReplace(CZipChange& change, unsigned short index, unsigned long long needed, const char* name);

    // The steps of GetFromArchive: whether the copy may be made; the copied
    // header with sizes from its descriptor, its new name, system and
    // encryption (true when it must keep having no descriptor); its local
    // header and packed bytes, read through the source storage across
    // volumes (true when every byte came, stopped set when the callback
    // said stop; throws 201 when the source ends early); its descriptor.
    bool CanCopyFrom(const CZipBundle& source, unsigned short index, unsigned short& replaceIndex);
    bool PrepareCopiedHeader(CZipBundle& source, unsigned short index, const char* newName, bool convertSystem,
                             CZipFileHeader& header);
    bool CopyPackedData(CZipBundle& source, const CZipFileHeader& original, CZipFileHeader& added,
                        unsigned long long dataSize, CZipActionCallback* cb, bool& stopped);
    void FinishCopiedEntry(CZipFileHeader& added);
    // The add's source compressed into a temporary archive first (in
    // memory when tempPath is empty), then copied in place of the replaced
    // entry without recompressing.
    bool AddThroughTemporaryArchive(CZipAddNewFileInfo& info, const CZipString& tempPath, bool checkEfficiency);

    // The most an entry of dataSize source bytes takes with its records.
    unsigned long long EntryBound(const CZipFileHeader& header, unsigned long long dataSize);
    // The steps of CommitChanges: the renamed entries with their header
    // growth, read back from their local headers (returns the growth of
    // all; nothing changes on disk); the plan moving each one's stretch
    // (returns the bytes it moves); the new local headers once the data
    // stands, written counting those done; after a failure, the renamed
    // entries whose new header cannot be written where their data now is
    // leave the directory; returns where the data then ends.
    long long CollectRenamed(CZipArray<CZipChangeInfo>& changes);
    unsigned long long PlanRenamedStretches(CZipArray<CZipChangeInfo>& changes, unsigned long long dataEnd,
                                            CZipActionCallback* cb, CZipMovePlan& plan,
                                            CZipArray<CZipMoveStep*>& stepOf);
    void WriteRenamedHeaders(const CZipArray<CZipChangeInfo>& changes, size_t& written);
    unsigned long long RecoverRenamed(const CZipArray<CZipChangeInfo>& changes, CZipMovePlan& plan,
                                      const CZipArray<CZipMoveStep*>& stepOf, size_t headersWritten);
    // The marked entries' data squeezed out; the records leave as they go.
    void RemoveMarkedFiles(CZipArray<CZipDeleteInfo>& infos, CZipActionCallback* callback);
    // PrependData's rename to the new extension, the file made executable;
    // false, the name as it was, when either fails.
    bool RenameForPrepend(const char* newExtension);

    enum FileState { nothing = 0, extract = -1, compressing = 1 };

    bool m_bRemoveDriveLetter;
    ZipLib::CZipCallbackProvider m_callbacks;
    bool m_bCaseSensitive;
    bool m_bStoreFullFileTimes;
    ZIPSTRINGCOMPARE m_pZipCompare;
    CZipStorage m_storage;
    CZipCentralDir m_centralDir;
    // Every change in place goes through it.
    CZipChangeEngine m_change;
    // The change of the entry being added, from BeginAdd to EndAdd.
    std::optional<CZipChange> m_add;
    int m_iFileOpened;
    // The source size of the entry OpenNewFile opens, ~0 when not known.
    unsigned long long m_uExpectedSize;
    bool m_bAutoFinalize;
    int m_iCommitMode;
    CZipString m_szRootPath;
    CZipString m_szTempPath;
    int m_iArchiveSystCompatib;
    CZipAutoBuffer m_pszPassword;
    CZipCryptograph* m_pCryptograph;
    CZipCompressor* m_pCompressor;
    int m_iEncryptionMethod;
    unsigned short m_uCompressionMethod;
    CZipAutoBuffer m_pBuffer;
    // The read buffer of AddNewFile, kept for the next add until Close.
    CZipAutoBuffer m_addBuffer;
    int m_iBufferSize;
    CZipCompressor::COptionsMap m_compressorsOptions;
    // The buffer of ExtractFile and TestFile, kept for the next entry
    // until Close.
    CZipAutoBuffer m_readBuffer;
    // The directory last extracted into, and the modes of extracted
    // directories, set at Close (or when the archive object goes).
    ZipLib::CDirectoryCache m_dirCache;
    ZipLib::CDirectoryModes m_dirModes;
};
