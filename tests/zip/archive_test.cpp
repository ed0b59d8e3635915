// The archive's lifetime and adds: modes, closing, callbacks, and what an
// add leaves behind when it fails or the archive would need ZIP64.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/ZipBundle.h"
#include "zip/ZipFile.h"
#include "zip/ZipMemFile.h"
#include "zip_test_util.h"

namespace {

std::string Image(const CZipMemFile& mem) {
    return std::string(mem.GetData() ? mem.GetData() : "", size_t(mem.GetLength()));
}

// Checks an in-memory archive with the tools and lists its entries.
std::string ListWithTools(const CZipMemFile& mem, bool empty = false) {
    TempDir dir;
    std::string path = dir.File("a.zip");
    WriteFile(path, Image(mem));
    ExpectArchiveValid(path, empty);
    return RunTool("zipinfo -1 " + Quote(path) + " 2>/dev/null", false).output;
}

// A source that fails after handing out its first bytes.
// With failingPass 2 the first pass reads clean (the trial entry of the
// efficiency check) and the second one fails.
class FailingSource : public CZipMemFile {
public:
    explicit FailingSource(size_t size, int failingPass = 1) : CZipMemFile(1024), m_failingPass(failingPass) {
        std::string data = RandomBytes(size);
        Write(data.data(), unsigned(data.size()));
    }
    unsigned long long SeekToBegin() override {
        ++m_pass;
        return CZipMemFile::SeekToBegin();
    }
    unsigned Read(void* buffer, unsigned count) override {
        if (m_pass >= m_failingPass && GetPosition() > 0) CZipException::Throw(CZipException::genericError, "source");
        return CZipMemFile::Read(buffer, count);
    }
    int m_failingPass;
    int m_pass = 0;
};

// A source that claims a length it does not have.
class HugeSource : public CZipMemFile {
public:
    explicit HugeSource(unsigned long long length) : CZipMemFile(1024), m_length(length) {}
    unsigned long long GetLength() const override { return m_length; }
    unsigned Read(void*, unsigned) override {
        ADD_FAILURE() << "a source too large was read";
        return 0;
    }
    unsigned long long m_length;
};

// A memory file that stands for the end of a huge file: positions and
// lengths are counted from a base offset.
class FarFile : public CZipMemFile {
public:
    explicit FarFile(unsigned long long base) : CZipMemFile(1024), m_base(base) {}
    unsigned long long GetPosition() const override { return CZipMemFile::GetPosition() + m_base; }
    unsigned long long GetLength() const override { return CZipMemFile::GetLength() + m_base; }
    unsigned long long Seek(long long offset, int from) override {
        if (from == begin) offset -= (long long)m_base;
        return CZipMemFile::Seek(offset, from) + m_base;
    }
    void SetLength(unsigned long long length) override { CZipMemFile::SetLength(length - m_base); }
    unsigned long long m_base;
};

// A memory file that cannot hold more than a limit.
class CappedFile : public CZipMemFile {
public:
    explicit CappedFile(unsigned long long cap) : CZipMemFile(1024), m_cap(cap) {}
    void Write(const void* buffer, unsigned count) override {
        if (GetPosition() + count > m_cap) CZipException::Throw(CZipException::memError);
        CZipMemFile::Write(buffer, count);
    }
    unsigned long long m_cap;
};

class Counting : public CZipActionCallback {
public:
    explicit Counting(int abortAfter = -1) : m_abortAfter(abortAfter) {}
    bool OnProgress(unsigned long long) override { return m_abortAfter < 0 || ++m_calls <= m_abortAfter; }
    int m_abortAfter;
    int m_calls = 0;
};

bool AddMemory(CZipBundle& zip, const char* name, const std::string& data, int level = 9, int smartness = 7) {
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    return zip.AddNewFile(source, name, level, smartness, 65536);
}

TEST(Archive, OpenModesAndClosing) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    for (int mode : {2, 8, 16}) EXPECT_FALSE(zip.Open(mem, mode, false)) << mode;
    for (int mode : {1, 3}) EXPECT_EQ(CodeOf([&] { zip.Open(mem, mode, false); }), 221) << mode;  // no end record
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_EQ(zip.Close(), "");
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    EXPECT_FALSE(zip.Open(mem, CZipBundle::zipCreate, false));
    EXPECT_FALSE(zip.IsClosed());
    EXPECT_EQ(zip.GetArchivePath(), "");
    EXPECT_EQ(zip.Close(), "");
    EXPECT_TRUE(zip.IsClosed());
    EXPECT_FALSE(mem.IsClosed());  // the caller's file stays open
    EXPECT_EQ(Image(mem).size(), 22u);
    ListWithTools(mem, true);

    CZipBundle onDisk;
    EXPECT_EQ(CodeOf([&] { onDisk.Open("/nonexistent/dir/a.zip", CZipBundle::zipCreateSplit); }), 204);  // no volume size
    EXPECT_EQ(CodeOf([&] { onDisk.Open("/nonexistent/dir/a.zip", CZipBundle::zipCreate); }), ENOENT);
    EXPECT_TRUE(onDisk.IsClosed());
}

TEST(Archive, AppendModeKeepsWhatWasThere) {
    CZipMemFile mem(1024);
    mem.Write("#!stub\n", 7);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreateAppend, false));
    ASSERT_TRUE(AddMemory(zip, "after.txt", "after the stub"));
    zip.Close();
    EXPECT_EQ(Image(mem).substr(0, 7), "#!stub\n");
    EXPECT_EQ(U32(Image(mem), Image(mem).size() - 6), 7u + 30 + 9 + (U32(Image(mem), 7 + 18)));
    EXPECT_EQ(ListWithTools(mem), "after.txt\n");
    // Mode 4 empties the file first.
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    zip.Close();
    EXPECT_EQ(Image(mem).size(), 22u);
}

TEST(Archive, AdvancedSettingsOnlyWhileClosed) {
    CZipBundle zip;
    zip.SetAdvanced(100, 100, 100);
    EXPECT_EQ(zip.GetStorage()->GetWriteBufferSize(), 1024);
    EXPECT_EQ(zip.GetStorage()->GetLocateBufferSize(), 1024);
    CZipMemFile mem(1024);
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    zip.SetAdvanced(4096, 4096, 4096);
    EXPECT_EQ(zip.GetStorage()->GetWriteBufferSize(), 1024);
    // A small write buffer still writes a sound archive.
    ASSERT_TRUE(AddMemory(zip, "k.kml", KmlLikeText(20000)));
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "k.kml\n");
}

TEST(Archive, CallbackRegistration) {
    CZipBundle zip;
    Counting a, b;
    zip.SetCallback(&a, CZipActionCallback::cbAdd);
    zip.SetCallback(&b, CZipActionCallback::cbAdd);
    EXPECT_EQ(zip.GetCallback(CZipActionCallback::cbAdd), &a);
    EXPECT_EQ(a.m_iType, CZipActionCallback::cbAdd);
    zip.SetCallback(nullptr, CZipActionCallback::cbAdd);
    zip.SetCallback(&b, CZipActionCallback::cbAdd);
    EXPECT_EQ(zip.GetCallback(CZipActionCallback::cbAdd), &b);
    EXPECT_EQ(zip.GetCallback(CZipActionCallback::cbSave), nullptr);
}

TEST(Archive, AbortingCallbackLeavesNoPartialEntry) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(AddMemory(zip, "kept.txt", "kept"));
    const std::string before = Image(mem);
    Counting abort(0);
    zip.SetCallback(&abort, CZipActionCallback::cbAdd);
    CZipMemFile big(1024);
    std::string data = RandomBytes(300000);
    big.Write(data.data(), unsigned(data.size()));
    EXPECT_EQ(CodeOf([&] { zip.AddNewFile(big, "big.bin", 6, 7, 65536); }), CZipException::abortedSafely);
    EXPECT_EQ(zip.GetCount(), 1);
    // Nothing of the partial entry stays; the directory of what was there
    // is written behind the earlier entry.
    EXPECT_TRUE(Image(mem).compare(0, before.size(), before) == 0);
    EXPECT_EQ(ListWithTools(mem), "kept.txt\n");
    zip.SetCallback(nullptr, CZipActionCallback::cbAdd);
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "kept.txt\n");
}

TEST(Archive, FailedAddRemovesTheUnfinishedEntry) {
    struct {
        const char* label;
        int closeMode;
    } cases[] = {{"write the directory anyway", CZipBundle::afWriteDir}, {"ordinary close", CZipBundle::afNoException}};
    for (const auto& c : cases) {
        // Level 0 stores the entry: the clean-up must not depend on deflating.
        for (int level : {0, 6}) {
            SCOPED_TRACE(std::string(c.label) + ", level " + std::to_string(level));
            CZipMemFile mem(1024);
            CZipBundle zip;
            ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
            ASSERT_TRUE(AddMemory(zip, "first.txt", "first entry"));
            FailingSource source(200000);
            EXPECT_EQ(CodeOf([&] { zip.AddNewFile(source, "broken.bin", level, 7, 65536); }),
                      CZipException::genericError);
            EXPECT_EQ(zip.GetCount(), 1);
            ASSERT_TRUE(AddMemory(zip, "third.txt", "after the failure"));
            zip.Close(c.closeMode);
            EXPECT_EQ(ListWithTools(mem), "first.txt\nthird.txt\n");
        }
    }
}

// An archive file on a disk that fills up at a given length: the write that
// crosses it puts down what fits, then fails with ENOSPC.
class FullDisk : public CZipFile {
public:
    explicit FullDisk(const std::string& path) : CZipFile(path.c_str(), modeReadWrite | modeCreate) {}
    void Write(const void* buffer, unsigned count) override {
        unsigned long long pos = GetPosition();
        if (pos + count > m_cap) {
            if (pos < m_cap) CZipFile::Write(buffer, unsigned(m_cap - pos));
            CZipException::Throw(ENOSPC, GetFilePath());
        }
        CZipFile::Write(buffer, count);
    }
    unsigned long long m_cap = ~0ull;
};

enum class Failure { source, sourceInReAdd, diskFullInData, diskFullInDirectory, lowLevelWrite };
const char* Name(Failure f) {
    switch (f) {
    case Failure::source: return "source fails";
    case Failure::sourceInReAdd: return "source fails when stored after the efficiency check";
    case Failure::diskFullInData: return "disk full in the data";
    case Failure::diskFullInDirectory: return "disk full in the directory";
    case Failure::lowLevelWrite: return "disk full under WriteNewFile";
    }
    return "";
}

// The length of an auto-finalized archive of "first.txt" and `second`.
unsigned long long LengthWithBoth(int level, const std::string& second) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    zip.Open(mem, CZipBundle::zipCreate, false);
    zip.SetAutoFinalize(true);
    AddMemory(zip, "first.txt", "first entry", level);
    AddMemory(zip, "broken.bin", second, level);
    return mem.GetLength();
}

TEST(Archive, FailedAddLeavesEarlierEntriesReadable) {
    struct Case {
        Failure failure;
        int level;
        bool autoFinalize;
        int closeMode;
    };
    std::vector<Case> cases;
    for (int level : {0, 6}) {
        // Without auto-finalize nothing stands on disk before Close: Close(1)
        // leaves no archive by contract, so only the writing closes count.
        for (Failure f : {Failure::source, Failure::diskFullInData})
            for (int mode : {CZipBundle::afNoException, CZipBundle::afWriteDir}) cases.push_back({f, level, false, mode});
        for (Failure f : {Failure::source, Failure::diskFullInData, Failure::diskFullInDirectory})
            for (int mode : {CZipBundle::afNoException, CZipBundle::afAfterException, CZipBundle::afWriteDir})
                cases.push_back({f, level, true, mode});
        // A caller of the low-level steps closes after an exception with 1 or 2.
        for (int mode : {CZipBundle::afAfterException, CZipBundle::afWriteDir})
            cases.push_back({Failure::lowLevelWrite, level, true, mode});
    }
    for (int mode : {CZipBundle::afNoException, CZipBundle::afAfterException, CZipBundle::afWriteDir})
        cases.push_back({Failure::sourceInReAdd, 6, true, mode});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.failure)) + ", level " + std::to_string(c.level) +
                     (c.autoFinalize ? ", auto-finalize" : "") + ", close " + std::to_string(c.closeMode));
        TempDir dir;
        const std::string path = dir.File("a.zip");
        FullDisk file(path);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(file, CZipBundle::zipCreate, false));
        ASSERT_TRUE(zip.SetAutoFinalize(c.autoFinalize));
        ASSERT_TRUE(AddMemory(zip, "first.txt", "first entry", c.level));
        // The disk stays full: whatever is written afterwards must fit in
        // what the failed entry gave back.
        const std::string noise = RandomBytes(300000);
        switch (c.failure) {
        case Failure::source: {
            FailingSource source(200000);
            EXPECT_EQ(CodeOf([&] { zip.AddNewFile(source, "broken.bin", c.level, 7, 65536); }),
                      CZipException::genericError);
            break;
        }
        case Failure::sourceInReAdd: {
            FailingSource source(200000, 2);
            const int smartness = CZipBundle::zipsmSafeSmart | CZipBundle::zipsmCheckForEff;
            EXPECT_EQ(CodeOf([&] { zip.AddNewFile(source, "broken.bin", c.level, smartness, 65536); }),
                      CZipException::genericError);
            EXPECT_EQ(source.m_pass, 2);
            break;
        }
        case Failure::diskFullInData:
            file.m_cap = file.GetLength() + 100000;
            EXPECT_EQ(CodeOf([&] { AddMemory(zip, "broken.bin", noise, c.level); }), ENOSPC);
            break;
        case Failure::diskFullInDirectory: {
            // The entry fits; the directory that should follow it does not.
            const std::string text = KmlLikeText(20000);
            file.m_cap = LengthWithBoth(c.level, text) - 1;
            EXPECT_EQ(CodeOf([&] { AddMemory(zip, "broken.bin", text, c.level); }), ENOSPC);
            break;
        }
        case Failure::lowLevelWrite: {
            CZipFileHeader header;
            header.SetFileName("broken.bin");
            ASSERT_TRUE(zip.OpenNewFile(header, c.level));
            file.m_cap = file.GetLength() + 100000;
            EXPECT_EQ(CodeOf([&] { zip.WriteNewFile(noise.data(), unsigned(noise.size())); }), ENOSPC);
            break;
        }
        }
        if (c.failure != Failure::lowLevelWrite) {
            EXPECT_EQ(zip.GetCount(), 1);
        }
        EXPECT_EQ(CodeOf([&] { zip.Close(c.closeMode); }), 0);
        EXPECT_TRUE(zip.IsClosed());
        ExpectArchiveValid(path);
        EXPECT_EQ(RunTool("zipinfo -1 " + Quote(path), false).output, "first.txt\n");
        EXPECT_EQ(UnzipEntry(path, "first.txt"), "first entry");
    }
}

TEST(Archive, StorageFailureThenCloseAfterExceptionAndReuse) {
    CappedFile mem(100000);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    std::string noise = RandomBytes(300000);
    EXPECT_EQ(CodeOf([&] { AddMemory(zip, "too-big.bin", noise, 1); }), CZipException::memError);
    EXPECT_EQ(zip.GetCount(), 0);
    EXPECT_EQ(zip.Close(CZipBundle::afAfterException), "");
    EXPECT_TRUE(zip.IsClosed());
    // The same objects serve the next archive, as the export reuses them.
    mem.Reset(1024);
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(AddMemory(zip, "small.txt", "fits"));
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "small.txt\n");
}

// A file whose seek to its end fails once armed: the entry being opened
// must not stay listed after the throw.
class SeekFails : public CZipMemFile {
public:
    SeekFails() : CZipMemFile(1024) {}
    unsigned long long SeekToEnd() override {
        if (armed) CZipException::Throw(CZipException::genericError);
        return CZipMemFile::SeekToEnd();
    }
    bool armed = false;
};

TEST(Archive, FailedSeekWhileOpeningAnEntryLeavesNoHeader) {
    SeekFails mem;
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(AddMemory(zip, "first.txt", "one"));
    mem.armed = true;
    EXPECT_EQ(CodeOf([&] { AddMemory(zip, "second.txt", "two"); }), CZipException::genericError);
    EXPECT_EQ(zip.GetCount(), 1);
    mem.armed = false;
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "first.txt\n");
}

TEST(Archive, CommentLongerThanTheEndRecordHoldsIsRefused) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(AddMemory(zip, "a.txt", "text"));
    EXPECT_FALSE(zip.SetGlobalComment(std::string(70000, 'c').c_str()));
    EXPECT_TRUE(zip.SetGlobalComment(std::string(65535, 'c').c_str()));
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "a.txt\n");
}

TEST(Archive, Zip64IsRefusedNeverWrittenCut) {
    // An entry of 4 GiB or more.
    for (unsigned long long length : {0xFFFFFFFFull, 0x100000000ull, 0x200000010ull}) {
        CZipMemFile mem(1024);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
        HugeSource huge(length);
        EXPECT_EQ(CodeOf([&] { zip.AddNewFile(huge, "huge.bin", 6, 7, 65536); }), CZipException::tooBigSize) << length;
        EXPECT_EQ(zip.GetCount(), 0);
        zip.Close();
        EXPECT_EQ(Image(mem).size(), 22u);
    }
    // A local header that would start past 0xFFFFFFFE.
    {
        FarFile far(0xFFFFFFFFull);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(far, CZipBundle::zipCreateAppend, false));
        EXPECT_EQ(CodeOf([&] { AddMemory(zip, "late.txt", "late"); }), CZipException::noZip64);
        EXPECT_EQ(zip.GetCount(), 0);
        zip.Close(CZipBundle::afAfterException);
    }
    // An entry that fits, but whose directory would start past the limit.
    {
        FarFile far(0xFFFFFF00ull);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(far, CZipBundle::zipCreateAppend, false));
        EXPECT_TRUE(AddMemory(zip, "edge.bin", RandomBytes(1000), 0));
        EXPECT_EQ(zip[0]->m_uOffset, 0xFFFFFF00u);
        EXPECT_EQ(CodeOf([&] { zip.Close(); }), CZipException::noZip64);
        EXPECT_FALSE(zip.IsClosed());
        zip.Close(CZipBundle::afAfterException);
        EXPECT_TRUE(zip.IsClosed());
    }
}

TEST(Archive, LevelsMethodsAndNames) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    const std::string text = KmlLikeText(4000);
    ASSERT_TRUE(AddMemory(zip, "level12", text, 12));
    EXPECT_EQ(zip[0]->m_uMethod, 8u);
    EXPECT_EQ(zip[0]->GetCompressionLevel(), -1);
    ASSERT_TRUE(AddMemory(zip, "level0", text, 0));
    EXPECT_EQ(zip[1]->m_uMethod, 0u);
    ASSERT_TRUE(zip.SetCompressionMethod(0));
    EXPECT_FALSE(zip.SetCompressionMethod(12));
    ASSERT_TRUE(AddMemory(zip, "archiveStores", text, 9));
    EXPECT_EQ(zip[2]->m_uMethod, 0u);
    ASSERT_TRUE(zip.SetCompressionMethod(8));

    CZipFileHeader unnamed;
    ASSERT_TRUE(zip.OpenNewFile(unnamed, 9));
    EXPECT_FALSE(zip.Finalize());  // not behind a half-written entry
    EXPECT_TRUE(zip.WriteNewFile("data", 4));
    EXPECT_TRUE(zip.CloseNewFile());
    EXPECT_EQ(zip[3]->GetFileName(false), "file3");
    EXPECT_FALSE(zip.WriteNewFile("data", 4));

    CZipFileHeader dir;
    dir.SetSystemAttr(ZipPlatform::GetDefaultDirAttributes());
    dir.SetFileName("folder");
    ASSERT_TRUE(zip.OpenNewFile(dir, 9));
    EXPECT_TRUE(zip.CloseNewFile());
    EXPECT_EQ(zip[4]->GetFileName(false), "folder/");
    EXPECT_EQ(zip[4]->m_uMethod, 0u);

    // Extended times are written only when asked for.
    CZipFileHeader timed;
    timed.SetFileName("timed.txt");
    timed.SetModificationTime(time(nullptr), true);
    ASSERT_TRUE(zip.OpenNewFile(timed, 6));
    zip.WriteNewFile("x", 1);
    zip.CloseNewFile();
    zip.Close();
    const std::string img = Image(mem);
    EXPECT_EQ(ListWithTools(mem), "level12\nlevel0\narchiveStores\nfile3\nfolder/\ntimed.txt\n");
    size_t cd = U32(img, img.size() - 6);
    int withExtra = 0;
    for (size_t at = cd; at + 46 <= img.size() && img.compare(at, 4, "PK\x01\x02") == 0;) {
        unsigned extra = U16(img, at + 30);
        if (extra) {
            ++withExtra;
            EXPECT_EQ(extra, 36u);
            EXPECT_EQ(U16(img, at + 46 + U16(img, at + 28)), 0x000Au);
        }
        at += 46 + U16(img, at + 28) + extra + U16(img, at + 32);
    }
    EXPECT_EQ(withExtra, 1);
}

TEST(Archive, EntriesWithoutAttributesGetThePlatformDefaults) {
    struct {
        const char* name;
        unsigned attributes;  // 0: none given
        const char* mode;     // as zipinfo shows it
    } cases[] = {
        {"plain.txt", 0, "-rw-r--r--"},
        {"folder/", 0, "drwxr-xr-x"},
        {"secret.txt", 0100600, "-rw-------"},
        {"run.sh", 0100755, "-rwxr-xr-x"},
    };
    TempDir dir;
    const std::string path = dir.File("a.zip");
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipCreate));
    for (const auto& c : cases) {
        CZipFileHeader header;
        header.SetFileName(c.name);
        if (c.attributes) header.SetSystemAttr(c.attributes);
        ASSERT_TRUE(zip.OpenNewFile(header, 6)) << c.name;
        if (!header.IsDirectory()) zip.WriteNewFile("data", 4);
        ASSERT_TRUE(zip.CloseNewFile()) << c.name;
    }
    // The same as an add from a memory file gives.
    ASSERT_TRUE(AddMemory(zip, "memory.txt", "data"));
    zip.Close();
    ExpectArchiveValid(path);
    // zipinfo's lines: the mode first, the name last.
    std::map<std::string, std::string> modes;
    std::istringstream lines(RunTool("zipinfo " + Quote(path), false).output);
    for (std::string line; std::getline(lines, line);) {
        size_t lastSpace = line.rfind(' ');
        if (line.find("  2.0 unx ") == 10 && lastSpace != std::string::npos)
            modes[line.substr(lastSpace + 1)] = line.substr(0, 10);
    }
    for (const auto& c : cases) EXPECT_EQ(modes[c.name], c.mode) << c.name;
    EXPECT_EQ(modes["memory.txt"], "-rw-r--r--");
}

TEST(Archive, RemoveLastAndAutoFinalize) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(zip.SetAutoFinalize(true));
    ASSERT_TRUE(AddMemory(zip, "one.kml", KmlLikeText(2000)));
    EXPECT_EQ(ListWithTools(mem), "one.kml\n");  // complete after every entry
    ASSERT_TRUE(AddMemory(zip, "two.kml", KmlLikeText(3000)));
    EXPECT_EQ(ListWithTools(mem), "one.kml\ntwo.kml\n");
    const unsigned offset = zip[1]->m_uOffset;
    EXPECT_FALSE(zip.RemoveLast(false));  // deflating two.kml paid off
    EXPECT_TRUE(zip.RemoveLast(true));
    EXPECT_EQ(zip.GetCount(), 1);
    // The data ends at its local header: under auto-finalize the directory
    // goes there at once, and the archive on disk is complete.
    const std::string image = Image(mem);
    ASSERT_GE(image.size(), 22u);
    EXPECT_EQ(U32(image, image.size() - 22 + 16), offset);
    EXPECT_EQ(ListWithTools(mem), "one.kml\n");
    zip.Close();
    EXPECT_EQ(ListWithTools(mem), "one.kml\n");
    EXPECT_FALSE(zip.RemoveLast(true));  // closed
}

TEST(Archive, AddFromDiskErrorsAndReplacingTheLastEntry) {
    TempDir dir;
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(dir.File("a.zip").c_str(), CZipBundle::zipCreate));
    EXPECT_EQ(CodeOf([&] { zip.AddNewFile(dir.File("missing").c_str(), "m"); }), CZipException::fileError);
    EXPECT_FALSE(zip.AddNewFile(CZipString(""), -1));
    WriteFile(dir.File("v1"), "version one");
    WriteFile(dir.File("v2"), "version two, longer");
    ASSERT_TRUE(zip.AddNewFile(dir.File("v1").c_str(), "doc.txt"));
    CZipAddNewFileInfo info(dir.File("v2").c_str(), "doc.txt");
    info.m_uReplaceIndex = 0;
    ASSERT_TRUE(zip.AddNewFile(info));
    EXPECT_EQ(zip.GetCount(), 1);
    CZipAddNewFileInfo bad(dir.File("v2").c_str(), "x");
    bad.m_uReplaceIndex = 5;
    EXPECT_FALSE(zip.AddNewFile(bad));
    bad.m_nBufSize = 0;
    bad.m_uReplaceIndex = 0xFFFF;
    EXPECT_FALSE(zip.AddNewFile(bad));
    EXPECT_EQ(zip.Close(), dir.File("a.zip"));
    ExpectArchiveValid(dir.File("a.zip"));
    EXPECT_EQ(UnzipEntry(dir.File("a.zip"), "doc.txt"), "version two, longer");
}

TEST(Archive, NamePrediction) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    struct {
        const char* root;
        const char* path;
        bool fullPath;
        int what;
        const char* name;
    } cases[] = {
        {nullptr, "dir/", true, CZipBundle::prAuto, "dir/"},
        {nullptr, "///", true, CZipBundle::prAuto, ""},
        {nullptr, "", true, CZipBundle::prAuto, ""},
        {nullptr, "a/b/c.txt", true, CZipBundle::prFile, "a/b/c.txt"},
        {nullptr, "a/b/c.txt", false, CZipBundle::prFile, "c.txt"},
        {nullptr, "a/b", false, CZipBundle::prDir, "b/"},
        {"/data/in", "/data/in/sub/a.txt", false, CZipBundle::prFile, "sub/a.txt"},
        {"/data/in/", "/data/inner/a.txt", false, CZipBundle::prFile, "a.txt"},
        {"/data/in", "/data/in", false, CZipBundle::prFile, ""},
    };
    for (const auto& c : cases) {
        zip.SetRootPath(c.root);
        EXPECT_EQ(zip.PredictFileNameInZip(c.path, c.fullPath, c.what), c.name) << c.path;
    }
    CZipString p("directory/a");
    EXPECT_FALSE(CZipBundle::RemovePathBeginning("dir", p, &CZipString::Collate));
    EXPECT_EQ(p, "directory/a");
    zip.Close();
}

// Run as a child with an unknown user locale (see the test below).
TEST(Locale, UserLocaleIsBuiltOnFirstUse) {
    CZipString s("ABC");
    s.MakeLower();
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(CZipString("A").CollateNoCase("a"), 0);
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate, false));
    ASSERT_TRUE(AddMemory(zip, "x.txt", "x"));
    zip.Close();
}

TEST(Locale, UnknownUserLocaleFallsBackToClassic) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    ToolResult r = RunTool("env LANG=xx_YY.UTF-8 LC_ALL=xx_YY.UTF-8 " + Quote(self) +
                           " --gtest_filter=Locale.UserLocaleIsBuiltOnFirstUse");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
}

}  // namespace
