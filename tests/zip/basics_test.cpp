// The value types: string, buffer, flags, containers, byte codec, errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "zip/BitFlag.h"
#include "zip/BytesWriter.h"
#include "zip/ZipAutoBuffer.h"
#include "zip/ZipCollections.h"
#include "zip/ZipException.h"
#include "zip/ZipString.h"

using ZipLib::CBytesWriter;

namespace {

TEST(ZipString, NullTrimAndIndex) {
    EXPECT_TRUE(CZipString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_EQ(CZipString::zslen(nullptr), 0u);
    CZipString slashes("////");
    slashes.TrimLeft('/');
    EXPECT_TRUE(slashes.IsEmpty());
    CZipString path("a/b//");
    path.TrimRight("/\\");
    EXPECT_EQ(path, "a/b");
    EXPECT_THROW((void)path[10], std::out_of_range);
    EXPECT_EQ(path.Left(1), "a");
    EXPECT_EQ(path.Mid(2), "b");
    EXPECT_EQ(CZipString("a\\b\\c").Replace('\\', '/'), 2);
}

TEST(ZipString, FormatGrowsUpToItsLimit) {
    struct {
        size_t length;
        size_t kept;
    } cases[] = {{0, 0}, {1022, 1022}, {1023, 1023}, {5000, 5000}, {7166, 7166}, {8000, 7166}};
    for (const auto& c : cases) {
        std::string text(c.length, 'x');
        CZipString s("old");
        s.Format("%s", text.c_str());
        EXPECT_EQ(s.size(), c.kept) << c.length;
    }
    CZipString n;
    n.Format("file%u", 3u);
    EXPECT_EQ(n, "file3");
}

TEST(ZipString, ComparisonsAndBuffer) {
    CZipString a("Name.TXT");
    EXPECT_LT(a.Compare("Z"), 0);
    EXPECT_EQ(a.CompareNoCase("name.txt"), 0);
    EXPECT_EQ(a.CollateNoCase("name.txt"), 0);
    EXPECT_NE(a.Collate("name.txt"), 0);
    EXPECT_EQ((a.*GetCZipStrCompFunc(false, false))("NAME.txt"), 0);
    EXPECT_EQ((a.*GetCZipStrCompFunc(true, false))("NAME.txt") == 0, false);
    CZipString lower = a;
    lower.MakeLower();
    EXPECT_EQ(lower, "name.txt");
    CZipString b;
    char* p = b.GetBuffer(8);
    p[0] = 'h';
    p[1] = 'i';
    p[2] = '\0';
    b.ReleaseBuffer();
    EXPECT_EQ(b, "hi");
    EXPECT_TRUE(ZipLib::IsStringAscii(a));
    EXPECT_FALSE(ZipLib::IsStringAscii(CZipString("caf\xc3\xa9")));
}

TEST(AutoBuffer, AllocateKeepsBlockOfSameSizeAndCopiesDeep) {
    CZipAutoBuffer buf(16, true);
    char* first = buf;
    buf[0] = 'x';
    buf.Allocate(16, true);
    EXPECT_EQ(static_cast<char*>(buf), first);
    EXPECT_EQ(buf[0], '\0');
    buf[1] = 'y';
    CZipAutoBuffer copy(buf);
    EXPECT_NE(static_cast<char*>(copy), static_cast<char*>(buf));
    EXPECT_EQ(copy[1], 'y');
    buf.Allocate(0);
    EXPECT_FALSE(buf.IsAllocated());
    EXPECT_EQ(buf.GetSize(), 0u);
    copy = buf;
    EXPECT_FALSE(copy.IsAllocated());
}

TEST(BitFlag, SetClearAnyAll) {
    ZipLib::CBitFlag f;
    f.Set(0x5);
    EXPECT_TRUE(f.IsSetAll(0x5));
    EXPECT_TRUE(f.IsSetAny(0x6));
    EXPECT_FALSE(f.IsSetAll(0x6));
    f.Change(0x1, false);
    EXPECT_EQ(int(f), 0x4);
    f.Clear(0x4);
    EXPECT_EQ(int(f), 0);
}

TEST(Containers, ArrayMapList) {
    CZipArray<int> a;
    EXPECT_EQ(a.Add(5), 0u);
    try {
        CZipArray<int> empty;
        (void)empty.GetUpperBound();
        FAIL() << "no exception";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.m_iCode, CZipException::outOfBounds);
    }
    EXPECT_THROW((void)a.GetAt(3), std::out_of_range);
    a.InsertAt(0, 9);
    a.InsertAt(2, 1);
    a.Sort(true);
    EXPECT_EQ(a, (std::vector<int>{1, 5, 9}));
    a.Sort([](const void* x, const void* y) { return *static_cast<const int*>(y) - *static_cast<const int*>(x); });
    EXPECT_EQ(a, (std::vector<int>{9, 5, 1}));

    CZipMap<int, int> m;
    m.SetAt(1, 10);
    m.SetAt(1, 20);
    int v = 0;
    EXPECT_TRUE(m.Lookup(1, v));
    EXPECT_EQ(v, 10);
    EXPECT_FALSE(m.Lookup(2, v));
    EXPECT_TRUE(m.RemoveKey(1));
    EXPECT_FALSE(m.RemoveKey(1));

    CZipPtrList<void*> l;
    int x;
    l.AddTail(&x);
    auto pos = l.Find(&x);
    EXPECT_TRUE(l.IteratorValid(pos));
    l.RemoveAt(pos);
    EXPECT_EQ(l.GetCount(), 0u);
}

TEST(BytesWriter, LittleEndianBothWays) {
    char buf[4];
    CBytesWriter::WriteBytes(buf, 258u, 4);
    EXPECT_EQ(std::string(buf, 4), std::string("\x02\x01\x00\x00", 4));
    unsigned v = 0;
    CBytesWriter::ReadBytes(v, buf, 4);
    EXPECT_EQ(v, 258u);
    unsigned short s = 0xFFFF;
    CBytesWriter::ReadBytes(s, buf, 1);
    EXPECT_EQ(s, 2u);
    CBytesWriter::WriteBytes(buf, (unsigned short)0xABCD);
    EXPECT_EQ((unsigned char)buf[0], 0xCD);
    EXPECT_EQ((unsigned char)buf[1], 0xAB);
}

TEST(ZipException, Descriptions) {
    struct {
        int code;
        int err;
        const char* text;
    } cases[] = {
        {CZipException::badCrc, 13, "Crc is mismatched."},
        {CZipException::genericError, 0, "Unspecified error"},
        {CZipException::genericError, 28, "No space left on device."},
        {CZipException::fileError, 0, "A file error occurred (Unspecified error)."},
        {CZipException::fileError, 13, "A file error occurred (Permission denied.)."},
        {CZipException::notRemoved, 2, "Error while removing a file (No such file or directory.)."},
        {CZipException::errNo, 2, "No such file or directory."},
        {CZipException::errNo, CZipException::errNo, "Unspecified error"},
        {999, 0, "Unspecified error"},
        {999, 2, "No such file or directory."},
        {ENOTSUP, 0, "Unspecified error"},
        {CZipException::noZip64, 0,
         "The Zip64 format has not been enabled for the library, but is required to use the archive."},
        {CZipException::memError, 0, "Not enough memory."},
    };
    for (const auto& c : cases) {
        CZipException e(c.code, nullptr);
        errno = c.err;
        EXPECT_EQ(e.GetErrorDescription(), c.text) << c.code << "/" << c.err;
    }
    errno = 0;
    CZipException e(CZipException::badCrc, nullptr);
    EXPECT_TRUE(e.m_szPath.IsEmpty());
    char small[5];
    EXPECT_TRUE(e.GetErrorMessage(small, 5));
    EXPECT_STREQ(small, "Crc ");
    EXPECT_FALSE(e.GetErrorMessage(nullptr, 5));
    EXPECT_FALSE(e.GetErrorMessage(small, 0));
    errno = 7;
    CZipException withPath(CZipException::badZipFile, "a.zip");
    EXPECT_EQ(withPath.m_szPath, "a.zip");
    EXPECT_EQ(withPath.m_iErrno, 7);
}

}  // namespace
