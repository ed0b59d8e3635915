// The stored and deflate compressors on a storage over a memory file, and
// their reuse from one entry of an archive to the next.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "zip/DeflateCompressor.h"
#include "zip/ZipBundle.h"
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

// The bytes of entry `index`'s data in an archive image.
std::string EntryData(CZipBundle& zip, const std::string& image, unsigned short index) {
    const CZipFileHeader* h = zip[index];
    size_t start = h->m_uOffset + 30 + U16(image, h->m_uOffset + 26) + U16(image, h->m_uOffset + 28);
    return image.substr(start, h->m_uComprSize);
}

std::string Image(const CZipMemFile& mem) { return std::string(mem.GetData(), size_t(mem.GetLength())); }

// Adds with detect-leaks on or off, at a level.
void Add(CZipBundle& zip, const std::string& name, const std::string& data, int level, bool detectLeaks) {
    ZipLib::CDeflateCompressor::COptions options;
    options.m_bDetectLibMemoryLeaks = detectLeaks;
    zip.SetCompressionOptions(&options);
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    ASSERT_TRUE(zip.AddNewFile(source, name.c_str(), level, 0, 65536));
}

// The archive keeps its deflate stream from entry to entry: whatever came
// before, an entry's bytes are those it gets alone in a fresh archive.
TEST(CompressorReuse, EachEntryDeflatesAsInAFreshArchive) {
    struct {
        const char* label;
        int level;
        bool detectLeaks;
        bool failedAddBefore;  // a source that throws mid-deflate at the same level
        bool readBefore;       // an entry read back (an inflate stream) in between
    } cases[] = {
        {"first", 6, true, false, false},
        {"same level again", 6, true, false, false},
        {"after an add failed mid-deflate", 6, true, true, false},
        {"other level", 1, true, false, false},
        {"stored", 0, true, false, false},
        {"deflated after stored", 1, true, false, false},
        {"zlib's blocks not recorded", 1, false, false, false},
        {"after a failure, not recorded", 1, false, true, false},
        {"after a read", 1, true, false, true},
    };
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    std::vector<std::string> alone;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string data = KmlLikeText(150000 + 7000 * alone.size());
        if (c.failedAddBefore) {
            CZipMemFile failing(1024);
            const std::string noise = RandomBytes(200000);
            failing.Write(noise.data(), unsigned(noise.size()));
            struct Breaks : CZipActionCallback {
                bool OnProgress(unsigned long long) override { CZipException::Throw(CZipException::genericError); }
            } breaks;
            zip.SetCallback(&breaks, CZipActionCallback::cbAdd);
            EXPECT_EQ(CodeOf([&] { zip.AddNewFile(failing, "broken", c.level, 0, 65536); }),
                      CZipException::genericError);
            zip.SetCallback(nullptr);
        }
        if (c.readBefore) {
            CZipMemFile sink(1024);
            ASSERT_TRUE(zip.ExtractFile(0, sink));
        }
        Add(zip, c.label, data, c.level, c.detectLeaks);

        CZipMemFile freshMem(1024);
        CZipBundle fresh;
        ASSERT_TRUE(fresh.Open(freshMem, CZipBundle::zipCreate, false));
        Add(fresh, c.label, data, c.level, c.detectLeaks);
        fresh.Close();
        fresh.Open(freshMem, CZipBundle::zipOpen, false);
        alone.push_back(EntryData(fresh, Image(freshMem), 0));
        fresh.Close();
    }
    zip.Close();
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipOpen, false));
    ASSERT_EQ(zip.GetCount(), alone.size());
    for (unsigned short i = 0; i < alone.size(); ++i) {
        SCOPED_TRACE(cases[i].label);
        EXPECT_EQ(EntryData(zip, Image(mem), i), alone[i]);
    }
    zip.Close();
    TempDir dir;
    WriteFile(dir.File("a.zip"), Image(mem));
    ExpectArchiveValid(dir.File("a.zip"));
}

}  // namespace
