// Entry headers: flags and levels, DOS times, attributes, extra fields.
#include <gtest/gtest.h>

#include <ctime>

#include "zip/ZipCompressor.h"
#include "zip/ZipCryptograph.h"
#include "zip/ZipExtraField.h"
#include "zip/ZipFileHeader.h"
#include "zip/ZipPlatform.h"
#include "zip_test_util.h"

namespace {

time_t Utc(int y, int mo, int d, int h, int mi, int s) {
    struct tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return timegm(&t);
}

TEST(FileHeader, FlagsAndLevelsOfNewEntries) {
    struct {
        unsigned short method;
        int level;
        unsigned flags;
        int readBack;
    } cases[] = {
        {8, 9, 2, 9}, {8, 8, 2, 9}, {8, 1, 6, 1}, {8, 2, 4, 2}, {8, 6, 0, -1}, {8, -1, 0, -1}, {0, 9, 0, 0}, {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        CZipFileHeader h;
        h.SetSystemAttr(ZipPlatform::GetDefaultAttributes());
        h.m_uMethod = c.method;
        h.PrepareData(c.level, false);
        EXPECT_EQ(h.m_uFlag, c.flags) << c.method << "/" << c.level;
        EXPECT_EQ(h.GetCompressionLevel(), c.readBack) << c.method << "/" << c.level;
        EXPECT_EQ(h.m_uVersionNeeded, 20u);
        EXPECT_EQ(h.m_uVersionMadeBy, 20u);
        EXPECT_FALSE(h.IsDataDescriptor());
    }
    CZipFileHeader segmented;
    segmented.PrepareData(9, true);
    EXPECT_TRUE(segmented.IsDataDescriptor());
    EXPECT_EQ(segmented.GetDataDescriptorSize(true), 16u);
    EXPECT_EQ(segmented.GetDataDescriptorSize(false), 12u);

    CZipFileHeader dir;
    dir.SetSystemAttr(ZipPlatform::GetDefaultDirAttributes());
    dir.PrepareData(0, false);
    EXPECT_EQ(dir.m_uVersionNeeded, 10u);
    EXPECT_TRUE(dir.IsDirectory());
}

TEST(FileHeader, DosTimesAreClampedToTheirRange) {
    struct {
        time_t when;
        unsigned date;
        unsigned time;
    } cases[] = {
        {Utc(1970, 1, 1, 0, 0, 0), 33, 0},
        {Utc(1979, 6, 15, 12, 30, 0), 33, 0},
        {Utc(1980, 1, 1, 0, 0, 0), 33, 0},
        {Utc(2024, 1, 2, 3, 4, 7), 44 * 512 + 1 * 32 + 2, 3 * 2048 + 4 * 32 + 3},
        {Utc(2099, 12, 31, 23, 59, 58), 0xEF9F, 0xBF7D},
        {Utc(2107, 12, 31, 23, 59, 59), 0xFF9F, 0xBF7D},
        {Utc(2108, 1, 1, 0, 0, 0), 0xFF9F, 0xBF7D},
        {Utc(2300, 7, 1, 12, 0, 0), 0xFF9F, 0xBF7D},
    };
    for (const auto& c : cases) {
        CZipFileHeader h;
        h.SetModificationTime(c.when);
        EXPECT_EQ(h.m_uModDate, c.date) << c.when;
        EXPECT_EQ(h.m_uModTime, c.time) << c.when;
    }
    CZipFileHeader h;
    h.SetModificationTime(Utc(2024, 1, 2, 3, 4, 7));
    EXPECT_EQ(h.GetModificationTime(), Utc(2024, 1, 2, 3, 4, 6));  // two-second steps
    h.SetModificationTime(Utc(2024, 1, 2, 3, 4, 7), true);
    EXPECT_EQ(h.GetModificationTime(), Utc(2024, 1, 2, 3, 4, 7));
}

TEST(FileHeader, UnixAttributes) {
    CZipFileHeader file;
    EXPECT_TRUE(file.SetSystemAttr(0100644));
    CZipFileHeader copy(file);
    EXPECT_EQ(copy.GetSystemAttr(), 0100644u);
    EXPECT_FALSE(copy.IsDirectory());
    CZipFileHeader dir;
    dir.SetSystemAttr(040750);
    EXPECT_TRUE(dir.IsDirectory());
    EXPECT_EQ(dir.GetSystemAttr(), 040750u);
    // From Unix to DOS and back through the internal form.
    dir.SetSystemCompatibility(0, true);
    EXPECT_TRUE(dir.IsDirectory());
    CZipFileHeader named;
    named.SetFileName("folder/");
    EXPECT_TRUE(named.IsDirectory());  // no attributes, but a directory name
}

TEST(FileHeader, NamesDropLeadingSeparatorsAndPredictSizes) {
    CZipFileHeader h;
    h.SetFileName("/abs/path\\file.txt");
    EXPECT_EQ(h.GetFileName(false), "abs/path\\file.txt");
    EXPECT_EQ(h.PredictFileNameSize(), 17u);
    h.PrepareStringBuffers();
    EXPECT_EQ(h.GetSize(), 46u + 17u);
    EXPECT_EQ(h.GetLocalSize(false), 30u + 17u);
    h.SetModificationTime(time(nullptr), true);
    EXPECT_EQ(h.GetSize(), 46u + 17u + 36u);  // with the NTFS times record
}

TEST(FileHeader, CompressionEfficiency) {
    CZipFileHeader h;
    h.m_uUncomprSize = 100;
    h.m_uComprSize = 100;
    EXPECT_TRUE(h.CompressionEfficient());
    h.m_uComprSize = 101;
    EXPECT_FALSE(h.CompressionEfficient());
    EXPECT_EQ(CZipCryptograph::GetEncryptedInfoSize(0), 12u);
    EXPECT_EQ(CZipCryptograph::GetEncryptedInfoSize(255), 0u);
}

TEST(ExtraField, RecordsWriteAndValidate) {
    CZipExtraField field;
    CZipExtraData* a = field.CreateNew(0x1234);
    a->m_data.Allocate(3);
    a->m_data[0] = 'x';
    a->m_data[1] = 'y';
    a->m_data[2] = 'z';
    field.CreateNew(0x000A, false);
    field.CreateNew(0x7075);
    EXPECT_EQ(field.GetCount(), 3);
    EXPECT_EQ(field.GetAt(0)->GetHeaderID(), 0x000Au);
    EXPECT_EQ(field.GetTotalSize(), 7 + 4 + 4);
    CZipExtraField copy(field);
    copy.RemoveInternalLocalHeaders();
    EXPECT_EQ(copy.GetCount(), 2);
    copy.RemoveInternalHeaders();
    ASSERT_EQ(copy.GetCount(), 1);
    char buf[16];
    copy.Write(buf);
    EXPECT_EQ(std::string(buf, 7), std::string("\x34\x12\x03\x00xyz", 7));
    EXPECT_EQ(field.GetCount(), 3);  // the copy was deep

    CZipExtraData parsed;
    char four[] = {0x34, 0x12, 0x00, 0x00};
    EXPECT_TRUE(parsed.Read(four, 4));
    EXPECT_EQ(parsed.GetHeaderID(), 0x1234u);
    EXPECT_EQ(parsed.m_data.GetSize(), 0u);
    EXPECT_FALSE(parsed.Read(four, 3));
    char shortData[] = {0x01, 0x00, 0x0A, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(parsed.Read(shortData, 12));

    CZipExtraField big;
    big.CreateNew(0x4242)->m_data.Allocate(65531);
    EXPECT_TRUE(big.Validate());
    big.GetAt(0)->m_data.Allocate(65532);
    EXPECT_FALSE(big.Validate());
}

}  // namespace
