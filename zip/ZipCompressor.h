#pragma once
// Turns one entry's data into the stored bytes and back, keeps its CRC-32
// and passes stored bytes through the entry's cryptograph, if any.
#include "ZipAutoBuffer.h"
#include "ZipCollections.h"

class CZipStorage;
class CZipFileHeader;
class CZipCryptograph;

class CZipCompressor {
public:
    enum CompressorType { typeDeflate = 1 };
    enum CompressionLevel { levelDefault = -1, levelStore = 0, levelFastest = 1, levelBest = 9 };
    enum CompressionMethod { methodStore = 0, methodDeflate = 8, methodWinZipAes = 99 };

    // Settings of one compressor type.
    class COptions {
    public:
        COptions() = default;
        COptions(const COptions&) = default;
        COptions& operator=(const COptions&) = default;
        virtual int GetType() const = 0;
        virtual COptions* Clone() const = 0;
        virtual ~COptions() = default;

        int m_iBufferSize = 0x20000;
    };

    // Owned options by compressor type.
    class COptionsMap : public CZipMap<int, COptions*> {
    public:
        COptionsMap() = default;
        COptionsMap(const COptionsMap&) = delete;
        COptionsMap& operator=(const COptionsMap&) = delete;
        ~COptionsMap() { RemoveAll(); }
        // Stores a clone in place of the options of the same type.
        void Set(const COptions* options);
        COptions* Get(int type) const;
        void Remove(int type);
        void RemoveAll();
    };

    static bool IsCompressionSupported(unsigned short method) { return method == methodStore || method == methodDeflate; }
    // A compressor for methods 0 and 8; null for any other.
    static CZipCompressor* CreateCompressor(unsigned short method, CZipStorage* storage);

    explicit CZipCompressor(CZipStorage* storage) : m_pStorage(storage) {}
    CZipCompressor(const CZipCompressor&) = delete;
    CZipCompressor& operator=(const CZipCompressor&) = delete;

    virtual bool CanProcess(unsigned short method) = 0;
    virtual void InitCompression(int level, CZipFileHeader* file, CZipCryptograph* cryptograph);
    virtual void InitDecompression(CZipFileHeader* file, CZipCryptograph* cryptograph);
    virtual void Compress(const void* buffer, unsigned size) = 0;
    // Bytes delivered; 0 at the end of the entry.
    virtual unsigned Decompress(void* buffer, unsigned size) = 0;
    // A compressor may keep its buffer and library state for the next entry
    // (deleting it frees them); afterException drops them.
    virtual void FinishCompression(bool afterException) { (void)afterException; }
    virtual void FinishDecompression(bool afterException) { (void)afterException; }
    virtual const COptions* GetOptions() const { return nullptr; }
    virtual ~CZipCompressor() = default;

    // Copies the map's options of this compressor's type, if any.
    void UpdateOptions(const COptionsMap& optionsMap);

    unsigned GetCrc32() const { return m_uCrc32; }
    unsigned GetComprLeft() const { return m_uComprLeft; }
    unsigned GetUncomprLeft() const { return m_uUncomprLeft; }

protected:
    virtual void UpdateOptions(const COptions* options) { (void)options; }
    virtual int ConvertInternalError(int code) const { return code; }

    void InitBuffer();
    void ReleaseBuffer() { m_pBuffer.Release(); }
    void WriteBuffer(char* buffer, unsigned size);
    void FlushWriteBuffer() {
        WriteBuffer(m_pBuffer.GetBuffer(), m_uComprLeft);
        m_uComprLeft = 0;
    }
    unsigned FillBuffer();
    void UpdateFileCrc(const void* buffer, unsigned size);
    void UpdateCrc(const void* buffer, unsigned size);
    [[noreturn]] void ThrowError(int code, bool isZlibError = false) const;

    CZipStorage* m_pStorage;
    CZipAutoBuffer m_pBuffer;
    CZipCryptograph* m_pCryptograph = nullptr;
    CZipFileHeader* m_pFile = nullptr;
    unsigned m_uUncomprLeft = 0;
    unsigned m_uComprLeft = 0;
    unsigned m_uCrc32 = 0;
};
