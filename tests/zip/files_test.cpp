// Memory and disk files, and the platform layer under them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/ZipCompatibility.h"
#include "zip/ZipException.h"
#include "zip/ZipFile.h"
#include "zip/ZipMemFile.h"
#include "zip/ZipPathComponent.h"
#include "zip/ZipPlatform.h"
#include "zip_test_util.h"

namespace {

TEST(MemFile, GrowsInSteps) {
    CZipMemFile f(1024);
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(f.GetLength(), 0u);
    f.Write("x", 1);
    EXPECT_EQ(f.GetCapacity(), 1024u);
    std::string more(1024, 'y');
    f.Write(more.data(), unsigned(more.size()));
    EXPECT_EQ(f.GetCapacity(), 2048u);
    EXPECT_EQ(f.GetLength(), 1025u);
}

TEST(MemFile, ReadSeekAndLength) {
    CZipMemFile f(1024);
    f.Write("0123456789", 10);
    char buf[10];
    EXPECT_EQ(f.Read(buf, 10), 0u);  // at the end
    f.Seek(6, CZipAbstractFile::begin);
    EXPECT_EQ(f.Read(buf, 10), 4u);
    EXPECT_EQ(CodeOf([&] { f.Seek(-1, CZipAbstractFile::begin); }), CZipException::memError);
    EXPECT_EQ(CodeOf([&] { f.Seek(-11, CZipAbstractFile::end); }), CZipException::memError);
    EXPECT_EQ(CodeOf([&] { f.Seek(-11, CZipAbstractFile::current); }), CZipException::memError);
    f.Seek(1, CZipAbstractFile::begin);
    f.SetLength(3);
    EXPECT_EQ(f.GetPosition(), 3u);
    EXPECT_EQ(f.GetLength(), 3u);

    CZipMemFile empty(1024);
    EXPECT_EQ(empty.Seek(10, CZipAbstractFile::end), 10u);
    EXPECT_EQ(empty.GetCapacity(), 1024u);
    EXPECT_EQ(empty.GetLength(), 0u);
    empty.Write("z", 1);
    EXPECT_EQ(empty.GetLength(), 11u);
}

TEST(MemFile, CloseResetAndTakeBuffer) {
    CZipMemFile f(1024);
    f.Write("abc", 3);
    f.Close();
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(CodeOf([&] { f.Write("a", 1); }), CZipException::memError);
    f.Reset(1024);
    f.Write("abcd", 4);
    size_t length = 0;
    char* data = f.TakeBuffer(length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data, length), "abcd");
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(f.GetLength(), 0u);
    std::free(data);  // the file frees nothing afterwards (checked by the sanitizer)
}

TEST(DiskFile, OpenReadWriteAndErrors) {
    TempDir dir;
    std::string path = dir.File("f.bin");
    CZipFile f;
    EXPECT_FALSE(f.Open(path.c_str(), CZipFile::modeRead, false));
    try {
        f.Open(path.c_str(), CZipFile::modeRead, true);
        FAIL() << "opened a missing file";
    } catch (const CZipException& e) {
        EXPECT_EQ(e.m_iCode, ENOENT);
        EXPECT_EQ(e.m_szPath, path);
    }
    ASSERT_TRUE(f.Open(path.c_str(), CZipFile::modeReadWrite | CZipFile::modeCreate, true));
    f.Write("hello world", 11);
    EXPECT_EQ(f.GetLength(), 11u);
    EXPECT_EQ(f.GetPosition(), 11u);
    f.SeekToBegin();
    char buf[32];
    EXPECT_EQ(f.Read(buf, 32), 11u);
    EXPECT_EQ(f.Read(buf, 32), 0u);  // end of file, no exception
    f.SetLength(5);
    EXPECT_EQ(f.GetLength(), 5u);
    EXPECT_EQ(f.GetFilePath(), path);
    f.Close();
    EXPECT_TRUE(f.IsClosed());
    EXPECT_EQ(f.GetFilePath(), "");
    // Reading with the create bit never truncates what is there.
    ASSERT_TRUE(f.Open(path.c_str(), CZipFile::modeRead | CZipFile::modeCreate, true));
    EXPECT_EQ(f.GetLength(), 5u);
    f.Close();
}

// A read-only file reads ahead; every read and seek must answer as the
// unbuffered read-write file does on the same bytes.
TEST(DiskFile, ReadAheadAnswersAsPlainReads) {
    TempDir dir;
    std::string path = dir.File("f.bin");
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 251);
    {
        CZipFile w(path.c_str(), CZipFile::modeWrite | CZipFile::modeCreate);
        w.Write(bytes.data(), unsigned(bytes.size()));
    }
    CZipFile ahead(path.c_str(), CZipFile::modeRead);
    CZipFile plain(path.c_str(), CZipFile::modeReadWrite | CZipFile::modeNoTruncate);
    struct Step {
        long long offset;  // seek first unless from is -1
        int from;
        unsigned read;
    };
    const Step steps[] = {
        {0, -1, 30},                              // fills the read-ahead
        {0, -1, 100},
        {-50, CZipAbstractFile::current, 20},     // back within it
        {65000, CZipAbstractFile::begin, 1000},   // across its end
        {10, CZipAbstractFile::begin, 5},         // before it
        {0, -1, 70000},                           // larger than it: straight through
        {-3, CZipAbstractFile::current, 3},
        {-10, CZipAbstractFile::end, 100},        // short at the end
        {0, -1, 10},                              // nothing left
        {5, CZipAbstractFile::end, 10},           // past the end
        {199990, CZipAbstractFile::begin, 0},
        {4, CZipAbstractFile::current, 4},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.offset << " from " << s.from << " read " << s.read);
        if (s.from != -1) {
            EXPECT_EQ(ahead.Seek(s.offset, s.from), plain.Seek(s.offset, s.from));
        }
        std::string a(s.read, 'a'), p(s.read, 'a');
        EXPECT_EQ(ahead.Read(&a[0], s.read), plain.Read(&p[0], s.read));
        EXPECT_EQ(a, p);
        EXPECT_EQ(ahead.GetPosition(), plain.GetPosition());
    }
    EXPECT_EQ(CodeOf([&] { ahead.Seek(-1, CZipAbstractFile::begin); }), EINVAL);
    EXPECT_EQ(CodeOf([&] { ahead.Seek(-300000, CZipAbstractFile::current); }), EINVAL);
    EXPECT_EQ(ahead.GetLength(), bytes.size());
    ahead.SeekToBegin();
    std::string all(bytes.size(), '\0');
    EXPECT_EQ(ahead.Read(&all[0], 1000), 1000u);
    EXPECT_EQ(ahead.Read(&all[1000], unsigned(bytes.size() - 1000)), bytes.size() - 1000);
    EXPECT_EQ(all, bytes);
}

TEST(DiskFile, FailedCloseReleasesTheDescriptor) {
    TempDir dir;
    std::string path = dir.File("f.bin");
    int reused = -1;
    {
        CZipFile f(path.c_str(), CZipFile::modeWrite | CZipFile::modeCreate);
        int fd = int(reinterpret_cast<intptr_t>(static_cast<void*>(f)));
        ::close(fd);  // make the file's own close() fail
        EXPECT_EQ(CodeOf([&] { f.Close(); }), EBADF);
        EXPECT_TRUE(f.IsClosed());
        // The number is free again and is handed to the next open ...
        reused = ::open(path.c_str(), O_RDONLY);
        ASSERT_EQ(reused, fd);
    }
    // ... and the file's destructor did not close it a second time.
    EXPECT_NE(fcntl(reused, F_GETFD), -1);
    ::close(reused);
}

TEST(PathComponent, Splitting) {
    struct {
        const char* path;
        const char* dir;
        const char* title;
        const char* ext;
        const char* name;
    } cases[] = {
        {"dir/sub/name.tar.gz", "dir/sub", "name.tar", "gz", "name.tar.gz"},
        {"name", "", "name", "", "name"},
        {"dir/", "dir", "", "", ""},
        // A dot before an empty extension stays: "end." is not "end", and
        // "..." never turns into "..".
        {"dir/end.", "dir", "end", "", "end."},
        {"a/...", "a", "..", "", "..."},
        {".hidden", "", "", "hidden", ".hidden"},
        // Prefixes are cut first; backslashes do not split here.
        {"\\\\?\\UNC\\server\\x.txt", "", "server\\x", "txt", "server\\x.txt"},
        {"\\\\server/x", "server", "x", "", "x"},
    };
    for (const auto& c : cases) {
        CZipPathComponent pc(c.path);
        EXPECT_EQ(pc.GetFileDir(), c.dir) << c.path;
        EXPECT_EQ(pc.GetFileTitle(), c.title) << c.path;
        EXPECT_EQ(pc.GetFileExt(), c.ext) << c.path;
        EXPECT_EQ(pc.GetFileName(), c.name) << c.path;
    }
    EXPECT_EQ(CZipPathComponent("dir/sub/name.tar.gz").GetFullPath(), "dir/sub/name.tar.gz");
    EXPECT_EQ(CZipPathComponent("name").GetFullPath(), "./name");
    EXPECT_EQ(CZipPathComponent("\\\\?\\unc\\a/b").GetFilePath(), "\\\\?\\unc\\a");
    EXPECT_EQ(CZipPathComponent("\\\\srv/b").GetFilePath(), "\\\\srv");
    CZipString s("a//");
    CZipPathComponent::AppendSeparator(s);
    EXPECT_EQ(s, "a/");
    EXPECT_FALSE(CZipPathComponent::HasEndingSeparator(CZipString()));
}

TEST(Platform, AttributesAndConversions) {
    EXPECT_TRUE(ZipPlatform::IsDirectory(040755));
    EXPECT_FALSE(ZipPlatform::IsDirectory(0100644));
    EXPECT_EQ(ZipCompatibility::ConvertToSystem(0100644, 3, 3), 0100644u);
    EXPECT_EQ(ZipCompatibility::ConvertToSystem(0100644, 3, 25), 0100644u);
    EXPECT_EQ(CodeOf([] { ZipCompatibility::ConvertToSystem(0100644, 3, 1); }), CZipException::platfNotSupp);
    EXPECT_EQ(ZipCompatibility::GetAsInternalAttributes(0100644, 3), 0x20u);
    EXPECT_EQ(ZipCompatibility::ConvertToSystem(0x20, 0, 3), 0100664u);
    EXPECT_EQ(ZipCompatibility::GetAsInternalAttributes(040755, 3), 0x10u);
    EXPECT_EQ(ZipCompatibility::ConvertToSystem(0x10, 0, 3), 040775u);
    for (int id : {0, 3, 6, 7, 11, 15, 20}) EXPECT_TRUE(ZipCompatibility::IsPlatformSupported(id)) << id;
    for (int id : {1, 2, 10, 19, 21}) EXPECT_FALSE(ZipCompatibility::IsPlatformSupported(id)) << id;
    CZipString p("a\\b\\c");
    ZipCompatibility::NormalizePathSeparators(p);
    EXPECT_EQ(p, "a/b/c");
}

TEST(Platform, FileTimes) {
    ZipPlatform::FILETIME ft;
    ZipPlatform::ConvertTimeToFileTime(1, ft);
    unsigned long long v = (unsigned long long)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
    EXPECT_EQ(v, 116444736010000000ull);
    time_t back = 0;
    EXPECT_TRUE(ZipPlatform::ConvertFileTimeToTime(ft, back));
    EXPECT_EQ(back, 1);
    time_t before = time(nullptr);
    ZipPlatform::ConvertTimeToFileTime(0, ft);
    ZipPlatform::ConvertFileTimeToTime(ft, back);
    EXPECT_GE(back, before);
    ZipPlatform::FILETIME zero;
    EXPECT_FALSE(ZipPlatform::ConvertFileTimeToTime(zero, back));
    EXPECT_EQ(back, 0);
}

TEST(Platform, DirectoriesFilesAndTemporaryNames) {
    TempDir dir;
    std::string deep = dir.File("a/b/c/");
    EXPECT_TRUE(ZipPlatform::ForceDirectory(deep.c_str()));
    EXPECT_EQ(ZipPlatform::FileExists(dir.File("a/b/c").c_str()), -1);
    EXPECT_TRUE(ZipPlatform::ForceDirectory(deep.c_str()));
    WriteFile(dir.File("plain"), "12345");
    EXPECT_FALSE(ZipPlatform::ForceDirectory(dir.File("plain").c_str()));
    EXPECT_EQ(ZipPlatform::FileExists(dir.File("plain").c_str()), 1);
    EXPECT_EQ(ZipPlatform::FileExists(dir.File("none").c_str()), 0);
    unsigned size = 0;
    EXPECT_TRUE(ZipPlatform::GetFileSize(dir.File("plain").c_str(), size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(ZipPlatform::GetFileSize(dir.File("none").c_str(), size));
    unsigned attr = 0;
    chmod(dir.File("plain").c_str(), 04755);
    EXPECT_TRUE(ZipPlatform::GetFileAttr(dir.File("plain").c_str(), attr));
    EXPECT_EQ(attr, 0100755u);  // set-user-id dropped
    time_t m = 1, c = 1, a = 1;
    EXPECT_FALSE(ZipPlatform::GetFileTimes(dir.File("none").c_str(), &m, &c, &a));
    EXPECT_GT(m, 1);
    EXPECT_EQ(CodeOf([&] { ZipPlatform::RemoveFile(dir.File("none").c_str(), true); }), CZipException::notRemoved);
    EXPECT_FALSE(ZipPlatform::RemoveFile(dir.File("none").c_str(), false));
    EXPECT_EQ(CodeOf([&] { ZipPlatform::RenameFile(dir.File("none").c_str(), dir.File("x").c_str()); }),
              CZipException::notRenamed);

    CZipString tmp = ZipPlatform::GetTmpFileName(nullptr, 0);
    ASSERT_FALSE(tmp.IsEmpty());
    EXPECT_EQ(tmp.Left(8), "/tmp/zar");
    EXPECT_EQ(ZipPlatform::FileExists(tmp), 1);
    unsigned tmpSize = 1;
    EXPECT_TRUE(ZipPlatform::GetFileSize(tmp, tmpSize));
    EXPECT_EQ(tmpSize, 0u);
    EXPECT_TRUE(ZipPlatform::RemoveFile(tmp));
    EXPECT_TRUE(ZipPlatform::GetTmpFileName(dir.path().c_str(), ~0ull).IsEmpty());
}

}  // namespace
