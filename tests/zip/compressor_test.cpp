// The stored and deflate compressors on a storage over a memory file.
#include <gtest/gtest.h>

#include <zlib.h>

#include "zip/DeflateCompressor.h"
#include "zip/ZipException.h"
#include "zip/ZipFileHeader.h"
#include "zip/ZipMemFile.h"
#include "zip/ZipStorage.h"
#include "zip_test_util.h"

namespace {

struct Probe : ZipLib::CDeflateCompressor {
    using CDeflateCompressor::CDeflateCompressor;
    unsigned BufferSize() const { return m_pBuffer.GetSize(); }
};

class CompressorTest : public ::testing::Test {
protected:
    void SetUp() override { storage.Open(mem, 4, false); }
    void TearDown() override {
        if (!storage.IsClosed(true)) storage.Close(false);
    }
    std::string Written() {
        storage.Flush();
        return std::string(mem.GetData() ? mem.GetData() : "", size_t(mem.GetLength()));
    }
    std::string Pack(const std::string& data, unsigned short method, int level) {
        header = CZipFileHeader();
        header.m_uMethod = method;
        ZipLib::CDeflateCompressor c(&storage);
        c.InitCompression(level, &header, nullptr);
        c.Compress(data.data(), unsigned(data.size()));
        c.FinishCompression(false);
        return Written();
    }
    CZipMemFile mem{1024};
    CZipStorage storage;
    CZipFileHeader header;
};

TEST_F(CompressorTest, NothingIsWrittenBeforeTheEndAndTheStreamInflates) {
    std::string data = KmlLikeText(100).substr(0, 100);
    ZipLib::CDeflateCompressor c(&storage);
    header.m_uMethod = 8;
    c.InitCompression(9, &header, nullptr);
    c.Compress(data.data(), unsigned(data.size()));
    EXPECT_EQ(storage.GetPosition(), 0u);
    c.FinishCompression(false);
    std::string raw = Written();
    EXPECT_EQ(header.m_uComprSize, raw.size());
    EXPECT_EQ(header.m_uUncomprSize, 100u);
    EXPECT_EQ(header.m_uCrc32, unsigned(crc32(0, reinterpret_cast<const Bytef*>(data.data()), 100)));
    std::string out(100, '\0');
    uLongf outLen = 100;
    z_stream s{};
    inflateInit2(&s, -15);
    s.next_in = reinterpret_cast<Bytef*>(&raw[0]);
    s.avail_in = unsigned(raw.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = unsigned(outLen);
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    inflateEnd(&s);
    EXPECT_EQ(out, data);
}

TEST_F(CompressorTest, EmptyAndStoredEntries) {
    EXPECT_EQ(Pack("", 8, 9).size(), 2u);
    EXPECT_EQ(header.m_uComprSize, 2u);
    EXPECT_EQ(header.m_uUncomprSize, 0u);
    EXPECT_EQ(header.m_uCrc32, 0u);
    mem.SetLength(0);
    mem.SeekToBegin();
    EXPECT_EQ(Pack("stored bytes", 0, 9), "stored bytes");
    EXPECT_EQ(header.m_uComprSize, header.m_uUncomprSize);
}

TEST_F(CompressorTest, DecompressesWhatItCompressedAndNoticesACutStream) {
    const std::string data = KmlLikeText(300000);
    for (bool checkLast : {true, false}) {
        mem.SetLength(0);
        mem.SeekToBegin();
        std::string raw = Pack(data, 8, 6);
        storage.Seek(0);
        ZipLib::CDeflateCompressor::COptions options;
        options.m_bCheckLastBlock = checkLast;
        CZipCompressor::COptionsMap map;
        map.Set(&options);
        ZipLib::CDeflateCompressor d(&storage);
        d.UpdateOptions(map);
        CZipFileHeader cut = header;
        cut.m_uComprSize -= 40;  // the end of the stream is missing
        for (CZipFileHeader* h : {&header, &cut}) {
            storage.Seek(0);
            d.InitDecompression(h, nullptr);
            std::string out;
            char buf[4096];
            try {
                unsigned n;
                while ((n = d.Decompress(buf, sizeof buf)) > 0) out.append(buf, n);
                EXPECT_TRUE(h == &header || !checkLast) << "a cut stream passed";
            } catch (const CZipException& e) {
                EXPECT_TRUE(h == &cut && checkLast);
                EXPECT_EQ(e.m_iCode, CZipException::badZipFile);
            }
            d.FinishDecompression(false);
            if (h == &header) {
                EXPECT_EQ(out, data);
                EXPECT_EQ(d.GetCrc32(), header.m_uCrc32);
            }
        }
    }
}

TEST(CompressorOptions, FactoryAndOptionsMap) {
    CZipStorage storage;
    EXPECT_EQ(CZipCompressor::CreateCompressor(12, &storage), nullptr);
    EXPECT_FALSE(CZipCompressor::IsCompressionSupported(12));
    EXPECT_TRUE(CZipCompressor::IsCompressionSupported(0));

    CZipCompressor::COptionsMap map;
    ZipLib::CDeflateCompressor::COptions first, second;
    first.m_iBufferSize = 4096;
    second.m_iBufferSize = 0;  // means the default
    map.Set(&first);
    map.Set(&second);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.Get(CZipCompressor::typeDeflate)->m_iBufferSize, 0);
    map.Set(nullptr);
    EXPECT_EQ(map.size(), 1u);

    CZipMemFile mem(1024);
    storage.Open(mem, 4, false);
    CZipFileHeader h;
    Probe p(&storage);
    p.UpdateOptions(map);
    p.InitCompression(1, &h, nullptr);
    EXPECT_EQ(p.BufferSize(), 0x20000u);
    p.FinishCompression(true);
    map.Set(&first);
    Probe q(&storage);
    q.UpdateOptions(map);
    q.InitCompression(1, &h, nullptr);
    EXPECT_EQ(q.BufferSize(), 4096u);
    q.FinishCompression(true);
    storage.Close(false);
}

}  // namespace
