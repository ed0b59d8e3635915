#pragma once
// The layer between an archive and the file that holds it: opening, one
// write buffer for every write, exact reads, seeks corrected for data before
// the archive, the backward signature search and the volumes of segmented
// archives.
#include <functional>

#include "BitFlag.h"
#include "ZipAutoBuffer.h"
#include "ZipCollections.h"
#include "ZipFile.h"
#include "ZipString.h"

class CZipSegmCallback;
class CZipSplitNamesHandler;

class CZipStorage {
public:
    enum SeekType { seekFromBeginning = 0, seekFromEnd = 1, seekCurrent = 2 };

    // State bits.
    enum State {
        stateOpened = 0x01,
        stateReadOnly = 0x02,
        stateAutoClose = 0x04,
        stateExisting = 0x08,
        stateSegmented = 0x10,
        stateSplit = 0x30,
        stateBinarySplit = 0x70,
        stateSpan = 0x90,
    };

    static const char m_gszExtHeaderSignat[];  // 50 4B 07 08
    static const unsigned long long SignatureNotFound = ~0ULL;

    CZipStorage();
    CZipStorage(const CZipStorage&) = delete;
    CZipStorage& operator=(const CZipStorage&) = delete;
    virtual ~CZipStorage();

    // On the caller's file; autoClose: the storage closes it on Close.
    void Open(CZipAbstractFile& file, int openMode, bool autoClose);
    // On a path with the internal file.
    void Open(const char* filePath, int openMode, unsigned long long volumeSize);

    // Exactly size bytes or error 201.
    unsigned Read(void* buffer, unsigned size, bool atOnce);
    // Through the write buffer.
    unsigned Write(const void* buffer, unsigned size, bool atOnce);
    void Flush();
    // Forces a new archive's file to the device; an existing one's is
    // left to the page cache.
    void FlushFile();
    void EmptyWriteBuffer() { m_uBytesInWriteBuffer = 0; }
    unsigned GetFreeInBuffer() const { return m_pWriteBuffer.GetSize() - m_uBytesInWriteBuffer; }

    // Logical position: file position plus waiting bytes, less the bytes
    // before the archive on volume 0.
    unsigned long long GetPosition() const;
    unsigned long long Seek(unsigned long long offset, SeekType type = seekFromBeginning);
    // Absolute offset of the last signature within the final maxDepth bytes.
    unsigned long long LocateSignature(char* signature, unsigned maxDepth);
    // The archive's length, less the bytes before it; all volumes together
    // for an existing binary-split archive.
    unsigned long long GetLastDataOffset();

    // archive true: no archive open; false: the file is gone or closed.
    bool IsClosed(bool archive) const;
    unsigned short GetCurrentVolume() const { return m_uCurrentVolume; }
    // Returns the archive path (or the last volume's name).
    CZipString Close(bool write, bool getLastVolumeName = false);

    bool IsReadOnly() const { return m_state.IsSetAny(stateReadOnly) || IsExistingSegmented(); }
    bool IsExisting() const { return m_state.IsSetAny(stateExisting); }
    bool IsSegmented() const { return m_state.IsSetAny(stateSegmented); }
    bool IsSplit() const { return m_state.IsSetAll(stateSplit); }
    bool IsBinarySplit() const { return m_state.IsSetAll(stateBinarySplit); }
    bool IsSpanned() const { return m_state.IsSetAll(stateSpan); }
    bool IsExistingSegmented() const { return m_state.IsSetAll(stateExisting | stateSegmented); }
    bool IsNewSegmented() const { return IsSegmented() && !IsExisting(); }

    int GetWriteBufferSize() const { return m_iWriteBufferSize; }
    void SetWriteBufferSize(int size) { m_iWriteBufferSize = size; }
    int GetLocateBufferSize() const { return m_iLocateBufferSize; }
    void SetLocateBufferSize(int size) { m_iLocateBufferSize = size; }

    [[noreturn]] void ThrowError(int code) const;

    // Segmented archives.
    // Asks for the next volume to write (flushing the current one).
    void NextVolume(unsigned neededBytes);
    // Moves on to new volumes until neededBytes fit in the current one; a
    // split block larger than a volume goes whole into an empty one, and a
    // spanned one that no empty volume can hold throws 215.
    unsigned AssureFree(unsigned neededBytes);
    // Room left on the volume being written: its free space less what is
    // written to it (split) and what waits in the buffer.
    unsigned GetFreeInVolume() const;
    // Free space of the device of the current volume, at most 0xFFFFFFFF.
    unsigned GetFreeVolumeSpace() const;
    // The question GetFreeVolumeSpace asks about a volume's directory; the
    // platform's device free space unless a caller puts in its own figure.
    using FreeSpaceQuery = std::function<unsigned long long(const char* directory)>;
    void SetFreeSpaceQuery(FreeSpaceQuery query) { m_freeSpaceQuery = std::move(query); }
    // The path given at open; the last volume's name once a split archive
    // is finished.
    CZipString GetArchivePath() const { return m_szArchivePath; }
    // Opens the given volume for reading, asking the callback when there is
    // one; a volume past the last one of an existing archive is 201.
    void ChangeVolume(unsigned short volume);
    void ChangeVolume() { ChangeVolume((unsigned short)(m_uCurrentVolume + 1)); }
    void ChangeVolumeDec();
    CZipString ChangeSpannedRead();
    CZipString ChangeSplitRead();
    void CallCallback(unsigned int size, int code, CZipString filePath);
    CZipString GetSplitVolumeName(unsigned short volume, bool last) const;
    CZipString GetSplitVolumeName(bool last) const { return GetSplitVolumeName(m_uCurrentVolume, last); }
    void EnsureSplitNames();
    void ClearSplitNames();
    CZipString RenameLastFileInSplitArchive();
    void UpdateSegmMode(unsigned short lastVolume);
    void FinalizeSegm();
    unsigned long long GetCachedSize(unsigned short volume) const;
    void ClearCachedSizes();
    // Back to the closed state, whatever Close managed to do.
    void ForgetArchive();
    void SetSplitNamesHandler(CZipSplitNamesHandler* handler, bool autoDelete);

    // The file now in use: the caller's or the internal one.
    CZipAbstractFile* m_pFile;
    unsigned m_uSplitData;
    unsigned m_uBytesInWriteBuffer;
    unsigned m_uCurrentVolSize;
    CZipAutoBuffer m_pWriteBuffer;
    unsigned m_uBytesWritten;
    unsigned short m_uCurrentVolume;
    unsigned m_uBytesBeforeZip;
    // Where the archive's data ends while the file holds more behind it (a
    // directory standing on disk while the one in memory differs, room kept
    // for adds with a copy of the directory at its far end, data moving);
    // ~0: at the file's end.
    unsigned long long m_uDataEnd = ~0ull;
    int m_iWriteBufferSize;
    int m_iLocateBufferSize;
    CZipSegmCallback* m_pSpanChangeVolumeFunc;
    CZipSegmCallback* m_pSplitChangeVolumeFunc;

protected:
    void Initialize();
    // After a failed Open: nothing allocated, nothing open.
    void AbandonOpen();
    void WriteInternalBuffer(const char* buffer, unsigned size);
    void OpenNewSegmented(const ZipLib::CBitFlag& mode, unsigned long long volumeSize);
    void OpenExistingSegmented(const ZipLib::CBitFlag& mode);
    void CacheSizes();
    // Sum of the cached sizes of the volumes before the given one.
    unsigned long long GetVolumesOffset(unsigned short volume) const;
    // To an offset of the whole byte stream of a binary-split archive.
    void SeekInVolumes(unsigned long long offset);
    // count bytes of the archive ending distance bytes before its end.
    void ReadBeforeEnd(unsigned long long length, unsigned long long distance, char* buffer, unsigned count);

    ZipLib::CBitFlag m_state;
    CZipSegmCallback* m_pChangeVolumeFunc;
    CZipString m_szArchivePath;
    CZipFile m_internalfile;
    CZipSplitNamesHandler* m_pSplitNamesHandler;
    CZipArray<unsigned long long>* m_pCachedSizes;
    bool m_bAutoDeleteSplitNamesHandler;
    FreeSpaceQuery m_freeSpaceQuery;
};
