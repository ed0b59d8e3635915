// The export's KMZ archive, byte by byte: local header, deflated data,
// central header, end record; and read back by the common tools.
#include "export/kmz.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <zlib.h>

#include "zip_test_util.h"

namespace {

// The document handed over in pieces of `piece` bytes, as the export
// writes it; the archive the same as from one piece.
std::string BuildKmz(const std::string& kml, size_t piece = 1000) {
    CZipMemFile image(1024);
    EXPECT_EQ(PackKmz(image,
                      [&](const KmlSink& sink) {
                          for (size_t at = 0; at < kml.size(); at += piece)
                              if (!sink(kml.data() + at, std::min(piece, kml.size() - at))) return false;
                          return true;
                      }),
              KmzStatus::Packed);
    EXPECT_TRUE(zip.IsClosed());
    size_t length = 0;
    char* bytes = image.TakeBuffer(length);
    std::string archive(bytes ? bytes : "", length);
    std::free(bytes);
    std::string whole;
    EXPECT_EQ(PackKmz(kml, whole), KmzStatus::Packed);
    // Only the time stamp may differ between the two.
    EXPECT_EQ(whole.size(), archive.size());
    return archive;
}

const std::string kName = "aisBrinecastSnapshot.kml";

std::string Inflate(const std::string& raw, size_t expected) {
    std::string out(expected, '\0');
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    s.avail_in = unsigned(raw.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = unsigned(out.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    inflateEnd(&s);
    return out;
}

TEST(KmzLayout, OneEntryArchiveIsExactlyAsTheExportNeedsIt) {
    const std::string kml = KmlLikeText(50000);
    time_t before = time(nullptr);
    const std::string zip = BuildKmz(kml);
    time_t after = time(nullptr);

    const size_t n = kName.size();
    ASSERT_GT(zip.size(), 146u);
    // Local header.
    EXPECT_EQ(zip.substr(0, 4), std::string("PK\x03\x04", 4));
    EXPECT_EQ(U16(zip, 4), 20u);      // version needed
    EXPECT_EQ(U16(zip, 6), 2u);       // flags: maximum compression, no descriptor
    EXPECT_EQ(U16(zip, 8), 8u);       // deflated
    const unsigned dosTime = U16(zip, 10), dosDate = U16(zip, 12);
    const unsigned crc = U32(zip, 14);
    const unsigned csize = U32(zip, 18);
    EXPECT_EQ(U32(zip, 22), kml.size());
    EXPECT_EQ(U16(zip, 26), n);
    EXPECT_EQ(U16(zip, 28), 0u);      // no extra field
    EXPECT_EQ(zip.substr(30, n), kName);
    EXPECT_EQ(crc, unsigned(crc32(0, reinterpret_cast<const Bytef*>(kml.data()), unsigned(kml.size()))));
    // The time is the local time of the add, in two-second steps.
    struct tm t{};
    time_t ts = before;
    localtime_r(&ts, &t);
    (void)after;
    EXPECT_EQ(dosDate, unsigned(t.tm_mday + (t.tm_mon + 1) * 32 + (t.tm_year + 1900 - 1980) * 512));
    EXPECT_LE(unsigned(t.tm_sec / 2 + t.tm_min * 32 + t.tm_hour * 2048), dosTime);
    EXPECT_LE(dosTime, unsigned(t.tm_sec / 2 + t.tm_min * 32 + t.tm_hour * 2048) + 2);

    // Data: exactly the compressed size of raw deflate, inflating to the KML.
    const size_t dataAt = 30 + n;
    ASSERT_EQ(zip.size(), 146u + csize);
    EXPECT_EQ(Inflate(zip.substr(dataAt, csize), kml.size()), kml);

    // Central header right after the data.
    const size_t cd = dataAt + csize;
    EXPECT_EQ(zip.substr(cd, 4), std::string("PK\x01\x02", 4));
    EXPECT_EQ(U16(zip, cd + 4), 0x0314u);  // Unix, version 2.0
    EXPECT_EQ(U16(zip, cd + 6), 20u);
    EXPECT_EQ(U16(zip, cd + 8), 2u);
    EXPECT_EQ(U16(zip, cd + 10), 8u);
    EXPECT_EQ(U16(zip, cd + 12), dosTime);
    EXPECT_EQ(U16(zip, cd + 14), dosDate);
    EXPECT_EQ(U32(zip, cd + 16), crc);
    EXPECT_EQ(U32(zip, cd + 20), csize);
    EXPECT_EQ(U32(zip, cd + 24), kml.size());
    EXPECT_EQ(U16(zip, cd + 28), n);
    EXPECT_EQ(U16(zip, cd + 30), 0u);  // no extra field (no NTFS times)
    EXPECT_EQ(U16(zip, cd + 32), 0u);  // no comment
    EXPECT_EQ(U16(zip, cd + 34), 0u);  // volume
    EXPECT_EQ(U16(zip, cd + 36), 0u);  // internal attributes
    EXPECT_EQ(U32(zip, cd + 38), 0100644u << 16);
    EXPECT_EQ(U32(zip, cd + 42), 0u);  // local header offset
    EXPECT_EQ(zip.substr(cd + 46, n), kName);

    // End record.
    const size_t end = cd + 46 + n;
    ASSERT_EQ(zip.size(), end + 22);
    EXPECT_EQ(zip.substr(end, 4), std::string("PK\x05\x06", 4));
    EXPECT_EQ(U16(zip, end + 4), 0u);
    EXPECT_EQ(U16(zip, end + 6), 0u);
    EXPECT_EQ(U16(zip, end + 8), 1u);
    EXPECT_EQ(U16(zip, end + 10), 1u);
    EXPECT_EQ(U32(zip, end + 12), 46u + n);
    EXPECT_EQ(U32(zip, end + 16), cd);
    EXPECT_EQ(U16(zip, end + 20), 0u);
}

TEST(KmzLayout, TwoExportsInARowAreIndependentAndReadByTheTools) {
    TempDir dir;
    const std::string first = KmlLikeText(3000);
    const std::string second = "<kml>second document</kml>\n";
    std::string a = BuildKmz(first);
    std::string b = BuildKmz(second);
    WriteFile(dir.File("a.kmz"), a);
    WriteFile(dir.File("b.kmz"), b);
    ExpectArchiveValid(dir.File("a.kmz"));
    ExpectArchiveValid(dir.File("b.kmz"));
    EXPECT_EQ(UnzipEntry(dir.File("a.kmz"), kName), first);
    EXPECT_EQ(UnzipEntry(dir.File("b.kmz"), kName), second);
    ToolResult list = RunTool("zipinfo -1 " + Quote(dir.File("b.kmz")));
    EXPECT_EQ(list.output, kName + "\n");
}

}  // namespace
