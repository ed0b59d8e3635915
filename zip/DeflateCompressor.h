#pragma once
// Stored (0) and deflated (8) entries through zlib's raw deflate stream.
// The deflate stream and the work buffer outlive an entry: the next entry
// of the same level resets the stream instead of building a new one; both
// go when the compressor is deleted or an exception ends an entry.
#include <zlib.h>

#include "BaseLibCompressor.h"

namespace ZipLib {
class CDeflateCompressor : public CBaseLibCompressor {
public:
    class COptions : public CBaseLibCompressor::COptions {
    public:
        int GetType() const override { return typeDeflate; }
        CZipCompressor::COptions* Clone() const override { return new COptions(*this); }
        // A read of the entry's end verifies the end of the deflate stream.
        bool m_bCheckLastBlock = true;
    };

    explicit CDeflateCompressor(CZipStorage* storage);
    ~CDeflateCompressor() override;

    bool CanProcess(unsigned short method) override { return method == methodStore || method == methodDeflate; }
    void InitCompression(int level, CZipFileHeader* file, CZipCryptograph* cryptograph) override;
    void InitDecompression(CZipFileHeader* file, CZipCryptograph* cryptograph) override;
    void Compress(const void* buffer, unsigned size) override;
    unsigned Decompress(void* buffer, unsigned size) override;
    void FinishCompression(bool afterException) override;
    void FinishDecompression(bool afterException) override;
    const CZipCompressor::COptions* GetOptions() const override { return &m_options; }
    using CZipCompressor::UpdateOptions;

protected:
    void UpdateOptions(const CZipCompressor::COptions* options) override;
    int ConvertInternalError(int code) const override;
    bool IsCodeErrorOK(int code) const override { return code == Z_OK || code == Z_NEED_DICT; }

    COptions m_options;
    z_stream m_stream;

private:
    // Ends the open stream and frees its recorded blocks; zlibEnd false
    // skips zlib's end call (after an exception its state is not trusted).
    void EndStream(bool zlibEnd);
    // A deflate stream for the level, clean: the kept one reset when it
    // was made alike, else a new one.
    void OpenDeflate(int level);

    // Which zlib stream is open, so that it is ended exactly once.
    enum { streamNone, streamDeflate, streamInflate } m_streamState = streamNone;
    // The level the open deflate stream was made with.
    int m_iDeflateLevel = 0;
};
}  // namespace ZipLib
