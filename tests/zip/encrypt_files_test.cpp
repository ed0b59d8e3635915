// Encrypting entries already in an archive, in place: checked with unzip,
// python's zipfile, 7z and zipinfo and against the archive's own bytes; and
// what a refusal, a full disk, an abort or a failing write leave behind.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zip/ZipBundle.h"
#include "zip/ZipFile.h"
#include "zip/ZipMemFile.h"
#include "zip_test_util.h"

namespace {

const char kPassword[] = "secret";

bool AddMemory(CZipBundle& zip, const char* name, const std::string& data, int level) {
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    CZipAddNewFileInfo info(&source, name);
    info.m_iComprLevel = level;
    return zip.AddNewFile(info);
}

// ---- the archives ------------------------------------------------------------------

typedef std::map<std::string, std::string> Contents;  // by entry name

// Made by the library: deflated, stored, an empty file, a directory, an
// entry encrypted already, and one more behind them.
Contents MakeMixed(const std::string& path, const TempDir& dir) {
    const Contents contents = {
        {"deflated.kml", KmlLikeText(30000)}, {"stored.bin", RandomBytes(5000, 2)}, {"empty.txt", ""},
        {"folder/", ""}, {"already.txt", std::string(50 * 17, 'e')}, {"last.kml", KmlLikeText(9000)},
    };
    std::filesystem::create_directories(dir.File("folder"));
    CZipBundle zip;
    EXPECT_TRUE(zip.Open(path.c_str(), CZipBundle::zipCreate));
    EXPECT_TRUE(AddMemory(zip, "deflated.kml", contents.at("deflated.kml"), 9));
    EXPECT_TRUE(AddMemory(zip, "stored.bin", contents.at("stored.bin"), 0));
    EXPECT_TRUE(AddMemory(zip, "empty.txt", "", 6));
    EXPECT_TRUE(zip.AddNewFile(dir.File("folder").c_str(), "folder"));
    EXPECT_TRUE(zip.SetPassword(kPassword));
    EXPECT_TRUE(AddMemory(zip, "already.txt", contents.at("already.txt"), 6));
    EXPECT_TRUE(zip.SetPassword());
    EXPECT_TRUE(AddMemory(zip, "last.kml", contents.at("last.kml"), 6));
    zip.Close();
    return contents;
}

// Written by zip to a pipe: every entry has a descriptor with its
// signature, and local headers carry zip's extra records.
Contents MakeZipPipe(const std::string& path, const TempDir& dir) {
    const std::string t = dir.File("t");
    std::filesystem::create_directories(t + "/sub");
    Contents contents = {{"t/", ""}, {"t/sub/", ""}, {"t/text.kml", KmlLikeText(20000)},
                         {"t/random.bin", RandomBytes(3000, 9)}, {"t/sub/empty.txt", ""}};
    for (const auto& c : contents)
        if (c.first.back() != '/') WriteFile(dir.File(c.first), c.second);
    if (RunTool("cd " + Quote(dir.path()) + " && zip -qr - t | cat > " + Quote(path)).status != 0) return {};
    return contents;
}

std::string Le(unsigned value, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char((value >> (8 * i)) & 0xFF);
    return s;
}

// Stored entries with descriptors without a signature (which the format
// allows): each grows by 4 descriptor bytes, not 0 or 16.
Contents MakeShortDescriptors(const std::string& path, const TempDir&) {
    const Contents contents = {{"one.txt", std::string(700, '1')}, {"two.bin", RandomBytes(900, 5)}};
    std::string out, central;
    for (const auto& c : contents) {
        const unsigned crc = unsigned(crc32(0, reinterpret_cast<const Bytef*>(c.second.data()), uInt(c.second.size())));
        const unsigned size = unsigned(c.second.size()), offset = unsigned(out.size());
        const std::string name = c.first;
        out += "PK\x03\x04" + Le(20, 2) + Le(8, 2) + Le(0, 2) + Le(0x6000, 2) + Le(0x5021, 2) + Le(0, 4) + Le(0, 4) +
               Le(0, 4) + Le(unsigned(name.size()), 2) + Le(0, 2) + name + c.second + Le(crc, 4) + Le(size, 4) +
               Le(size, 4);
        central += std::string("PK\x01\x02", 4) + Le(0x314, 2) + Le(20, 2) + Le(8, 2) + Le(0, 2) + Le(0x6000, 2) +
                   Le(0x5021, 2) + Le(crc, 4) + Le(size, 4) + Le(size, 4) + Le(unsigned(name.size()), 2) + Le(0, 2) +
                   Le(0, 2) + Le(0, 2) + Le(0, 2) + Le(0100644u << 16, 4) + Le(offset, 4) + name;
    }
    const unsigned n = unsigned(contents.size());
    out += central + std::string("PK\x05\x06", 4) + Le(0, 2) + Le(0, 2) + Le(n, 2) + Le(n, 2) +
           Le(unsigned(central.size()), 4) + Le(unsigned(out.size()), 4) + Le(0, 2);
    WriteFile(path, out);
    return contents;
}

// ---- what the bytes say -----------------------------------------------------------------

struct Entry {
    unsigned flags = 0, localFlags = 0, time = 0, localTime = 0;
    unsigned compressed = 0, uncompressed = 0;
    unsigned descriptor = 0;  // bytes after the data
    std::string packed;       // the data as stored
};

std::map<std::string, Entry> ReadEntries(const std::string& path) {
    const std::string b = ReadFile(path);
    std::map<std::string, Entry> entries;
    const size_t end = b.rfind(std::string("PK\x05\x06", 4));
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) return entries;
    size_t p = U32(b, end + 16);
    for (unsigned i = 0, count = U16(b, end + 10); i < count; ++i) {
        Entry e;
        e.flags = U16(b, p + 8);
        e.time = U16(b, p + 12);
        e.compressed = U32(b, p + 20);
        e.uncompressed = U32(b, p + 24);
        const unsigned n = U16(b, p + 28), offset = U32(b, p + 42);
        const std::string name = b.substr(p + 46, n);
        p += 46 + n + U16(b, p + 30) + U16(b, p + 32);
        EXPECT_EQ(b.substr(offset, 4), std::string("PK\x03\x04", 4)) << name;
        e.localFlags = U16(b, offset + 6);
        e.localTime = U16(b, offset + 10);
        const size_t data = offset + 30 + U16(b, offset + 26) + U16(b, offset + 28);
        e.packed = b.substr(data, e.compressed);
        if (e.flags & 8)
            e.descriptor = b.substr(data + e.compressed, 4) == std::string("PK\x07\x08", 4) ? 16 : 12;
        entries[name] = e;
    }
    return entries;
}

// zipinfo's word on each entry: encrypted or not.
std::map<std::string, bool> ZipinfoEncrypted(const std::string& path) {
    std::map<std::string, bool> result;
    std::istringstream lines(RunTool("zipinfo -v " + Quote(path), false).output);
    std::string line, name;
    bool nameNext = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Central directory entry #", 0) == 0) {
            nameNext = true;
            name.clear();
        } else if (nameNext && line.rfind("  ", 0) == 0 && line.rfind("  There are an extra", 0) != 0) {
            // (that note follows an entry with a data descriptor)
            name = line.substr(2);
            nameNext = false;
        } else if (line.find("file security status:") != std::string::npos && !name.empty()) {
            result[name] = line.find("not encrypted") == std::string::npos;
        }
    }
    return result;
}

// Names python's zipfile reads in full with the password, each with the
// CRC-32 and length of what it read; failure when any entry cannot be read.
std::map<std::string, std::string> PythonReads(const std::string& path, int& status) {
    ToolResult r = RunTool("python3 -c 'import sys, zipfile, zlib\n"
                           "z = zipfile.ZipFile(sys.argv[1])\n"
                           "for i in z.infolist():\n"
                           "    d = z.read(i, pwd=b\"secret\")\n"
                           "    print(i.filename, zlib.crc32(d), len(d))' " +
                               Quote(path),
                           false);
    status = r.status;
    std::map<std::string, std::string> read;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t space = line.find(' ');
        read[line.substr(0, space)] = line.substr(space + 1);
    }
    return read;
}

std::string CrcAndLength(const std::string& data) {
    const unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()));
    return std::to_string(crc) + " " + std::to_string(data.size());
}

// Every entry the archive lists reads back its content with the password,
// by python and by unzip; returns the names listed.
std::set<std::string> ExpectReadable(const std::string& path, const Contents& contents) {
    int status = -1;
    const std::map<std::string, std::string> read = PythonReads(path, status);
    EXPECT_EQ(status, 0);
    std::set<std::string> names;
    for (const auto& r : read) {
        names.insert(r.first);
        EXPECT_EQ(contents.count(r.first), 1u) << r.first;
        if (contents.count(r.first)) {
            EXPECT_EQ(r.second, CrcAndLength(contents.at(r.first))) << r.first;
        }
    }
    ToolResult u = RunTool("unzip -P secret -t " + Quote(path));
    EXPECT_EQ(u.status, 0) << u.output;
    return names;
}

// ---- encrypting -------------------------------------------------------------------------

struct EncryptCase {
    const char* label;
    std::function<Contents(const std::string&, const TempDir&)> make;
    std::vector<std::string> listed;  // by name ("?" an invalid index)
    bool all;                         // a null list
};

const std::vector<EncryptCase>& EncryptCases() {
    static const std::vector<EncryptCase> cases = {
        {"AllOfMixed", MakeMixed, {}, true},
        // Out of order, repeated, encrypted already, and an invalid index.
        {"SomeOfMixed", MakeMixed, {"last.kml", "empty.txt", "folder/", "already.txt", "empty.txt", "?"}, false},
        // Only the first grows; everything behind it moves.
        {"FirstOfMixed", MakeMixed, {"deflated.kml"}, false},
        {"LastOfMixed", MakeMixed, {"last.kml"}, false},
        {"AllOfZipPipe", MakeZipPipe, {}, true},
        {"AllWithShortDescriptors", MakeShortDescriptors, {}, true},
    };
    return cases;
}

class EncryptFiles : public ::testing::TestWithParam<size_t> {};

TEST_P(EncryptFiles, ToolsReadTheEncryptedArchive) {
    const EncryptCase& c = EncryptCases()[GetParam()];
    TempDir dir;
    const std::string path = dir.File("a.zip");
    const Contents contents = c.make(path, dir);
    if (contents.empty()) GTEST_SKIP() << "zip is missing";
    const std::map<std::string, Entry> before = ReadEntries(path);
    const unsigned long long lengthBefore = ReadFile(path).size();
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
        ASSERT_TRUE(zip.SetPassword(kPassword));
        CZipArray<unsigned short> indexes;
        for (const std::string& n : c.listed) {
            indexes.Add(n == "?" ? 0xFFFF : zip.FindFile(n.c_str()));
            if (n != "?") {
                ASSERT_NE(indexes.back(), 0xFFFF) << n;
            }
        }
        ASSERT_TRUE(zip.EncryptFilesInternal(c.all ? nullptr : &indexes));
        zip.Close();
    }

    const std::map<std::string, Entry> after = ReadEntries(path);
    const std::map<std::string, bool> zipinfo = ZipinfoEncrypted(path);
    unsigned long long growth = 0;
    ASSERT_EQ(after.size(), before.size());
    for (const auto& b : before) {
        const std::string& name = b.first;
        SCOPED_TRACE(name);
        const Entry& old = b.second;
        const Entry& now = after.at(name);
        const bool wasEncrypted = (old.flags & 1) != 0;
        const bool listed = c.all || std::find(c.listed.begin(), c.listed.end(), name) != c.listed.end();
        EXPECT_EQ(zipinfo.at(name), wasEncrypted || listed);
        // Both headers say the same; readers take the check byte from the time.
        EXPECT_EQ(now.localFlags & 0xF, now.flags & 0xF);
        EXPECT_EQ(now.localTime, now.time);
        if (wasEncrypted || !listed) {
            EXPECT_EQ(now.flags, old.flags);
            EXPECT_TRUE(now.packed == old.packed);
            continue;
        }
        EXPECT_EQ(now.flags, old.flags | 9u);
        EXPECT_EQ(now.compressed, old.compressed + 12);
        EXPECT_EQ(now.descriptor, 16u);
        growth += 12 + 16 - old.descriptor;
        // A wrong password fails (an empty entry has no data to fail on).
        if (now.uncompressed > 0) {
            ToolResult wrong = RunTool("unzip -P wrong -t " + Quote(path) + " " + Quote(name));
            EXPECT_NE(wrong.status, 0) << wrong.output;
        }
    }
    EXPECT_EQ(ReadFile(path).size(), lengthBefore + growth);
    EXPECT_EQ(ExpectReadable(path, contents).size(), contents.size());
    ToolResult z = RunTool("7z t -psecret " + Quote(path));
    EXPECT_EQ(z.status, 0) << z.output;
    // And the library itself reads them back.
    CZipBundle reread;
    ASSERT_TRUE(reread.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
    ASSERT_TRUE(reread.SetPassword(kPassword));
    for (unsigned short i = 0; i < reread.GetCount(); ++i) {
        const std::string name = reread[i]->GetFileName(false);
        EXPECT_TRUE(reread.TestFile(i)) << name;
        if (reread[i]->IsDirectory()) continue;
        CZipMemFile out(1024);
        ASSERT_TRUE(reread.ExtractFile(i, out)) << name;
        std::string data(size_t(out.GetLength()), '\0');
        out.SeekToBegin();
        if (!data.empty()) out.Read(&data[0], unsigned(data.size()));
        EXPECT_TRUE(data == contents.at(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, EncryptFiles, ::testing::Range<size_t>(0, EncryptCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& p) { return EncryptCases()[p.param].label; });

// ---- refusals ---------------------------------------------------------------------------

TEST(EncryptFiles, RefusalsChangeNothing) {
    struct {
        const char* label;
        bool emptyArchive;
        int mode;
        std::function<bool(CZipBundle&)> request;
        bool answer;
    } cases[] = {
        {"no password", false, CZipBundle::zipOpen, [](CZipBundle& zip) { return zip.EncryptFilesInternal(nullptr); },
         false},
        {"encryption switched off", false, CZipBundle::zipOpen,
         [](CZipBundle& zip) {
             zip.SetPassword(kPassword);
             EXPECT_TRUE(zip.SetEncryptionMethod(0xFF));
             return zip.EncryptFilesInternal(nullptr);
         },
         false},
        {"read-only", false, CZipBundle::zipOpenReadOnly,
         [](CZipBundle& zip) {
             zip.SetPassword(kPassword);
             return zip.EncryptFilesInternal(nullptr);
         },
         false},
        {"an entry open for reading", false, CZipBundle::zipOpen,
         [](CZipBundle& zip) {
             zip.SetPassword(kPassword);
             EXPECT_TRUE(zip.OpenFile(0));
             const bool answer = zip.EncryptFilesInternal(nullptr);
             zip.CloseFile(nullptr, true);
             return answer;
         },
         false},
        {"no entries", true, CZipBundle::zipOpen,
         [](CZipBundle& zip) {
             zip.SetPassword(kPassword);
             return zip.EncryptFilesInternal(nullptr);
         },
         false},
        {"nothing left to encrypt", false, CZipBundle::zipOpen,
         [](CZipBundle& zip) {
             zip.SetPassword(kPassword);
             CZipArray<unsigned short> indexes;
             indexes.Add(zip.FindFile("already.txt"));
             indexes.Add(0xFFFF);
             return zip.EncryptFilesInternal(&indexes);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string path = dir.File("a.zip");
        if (c.emptyArchive) {
            CZipBundle empty;
            ASSERT_TRUE(empty.Open(path.c_str(), CZipBundle::zipCreate));
            empty.Close();
        } else {
            MakeMixed(path, dir);
        }
        const std::string before = ReadFile(path);
        {
            CZipBundle zip;
            ASSERT_TRUE(zip.Open(path.c_str(), c.mode));
            EXPECT_EQ(c.request(zip), c.answer);
            for (unsigned short i = 0; i < zip.GetCount(); ++i)
                EXPECT_EQ(zip[i]->IsEncrypted(), std::string(zip[i]->GetFileName(false)) == "already.txt");
            zip.Close();
        }
        EXPECT_TRUE(ReadFile(path) == before);
    }

    // A segmented archive being made cannot be changed in place.
    TempDir dir;
    CZipBundle split;
    ASSERT_TRUE(split.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreateBinSplit, 100000));
    ASSERT_TRUE(AddMemory(split, "one.txt", "one", 6));
    ASSERT_TRUE(split.SetPassword(kPassword));
    EXPECT_FALSE(split.EncryptFilesInternal(nullptr));
    EXPECT_FALSE(split[0]->IsEncrypted());
    split.Close();
}

// ---- failures part way ------------------------------------------------------------------

// The archive's file on a faulty disk: full at `cap`, or its `failAt`-th
// write puts down half its bytes and fails with EIO.
class FaultyDisk : public CZipFile {
public:
    explicit FaultyDisk(const std::string& path) : CZipFile(path.c_str(), modeReadWrite | modeNoTruncate) {}
    void Write(const void* buffer, unsigned count) override {
        const unsigned long long pos = GetPosition();
        if (pos + count > m_cap) {
            if (pos < m_cap) CZipFile::Write(buffer, unsigned(m_cap - pos));
            CZipException::Throw(ENOSPC, GetFilePath());
        }
        if (m_failAt && ++m_writes == m_failAt) {
            CZipFile::Write(buffer, count / 2);
            CZipException::Throw(EIO, GetFilePath());
        }
        CZipFile::Write(buffer, count);
    }
    unsigned long long m_cap = ~0ull;
    unsigned m_failAt = 0, m_writes = 0;
};

// Answers false at its `stopAt`-th call.
class StopAt : public CZipActionCallback {
public:
    bool OnProgress(unsigned long long) override { return ++m_calls != m_stopAt; }
    unsigned m_stopAt = 0, m_calls = 0;
};

struct Outcome {
    int code = 0;
    bool stopped = false;  // the fault was reached
};

// Encrypts every entry of a copy of `original` on a faulty disk, with a
// small buffer so that every entry takes several chunks, and closes
// without writing anything more.
Outcome EncryptOnFaultyDisk(const std::string& path, const std::string& original, long long room, unsigned failAt,
                        StopAt* callback, int callbackTypes) {
    WriteFile(path, original);
    Outcome run;
    FaultyDisk file(path);
    if (room >= 0) file.m_cap = original.size() + (unsigned long long)room;
    CZipBundle zip;
    zip.SetAdvanced(65536, 1024);
    EXPECT_TRUE(zip.Open(file, CZipBundle::zipOpen, false));
    EXPECT_TRUE(zip.SetPassword(kPassword));
    if (callback) zip.SetCallback(callback, callbackTypes);
    file.m_failAt = failAt;
    run.code = CodeOf([&] { EXPECT_TRUE(zip.EncryptFilesInternal(nullptr)); });
    run.stopped = (failAt && file.m_writes >= failAt) || (callback && callback->m_calls >= callback->m_stopAt);
    file.m_failAt = 0;  // the fault is for the encrypting only
    zip.Close(run.code ? CZipBundle::afAfterException : CZipBundle::afNoException);
    file.Close();
    return run;
}

TEST(EncryptFiles, AFailureBeforeAnythingMovesChangesNothing) {
    TempDir dir;
    const std::string source = dir.File("source.zip"), path = dir.File("a.zip");
    MakeMixed(source, dir);
    const std::string original = ReadFile(source);
    StopAt collecting;
    collecting.m_stopAt = 2;
    const struct {
        const char* label;
        long long room;
        StopAt* callback;
        int code;
    } cases[] = {
        // The room is taken before anything moves.
        {"disk full", 10, nullptr, ENOSPC},
        {"aborted while collecting", -1, &collecting, CZipException::abortedSafely},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.callback) c.callback->m_calls = 0;
        EXPECT_EQ(EncryptOnFaultyDisk(path, original, c.room, 0, c.callback, CZipActionCallback::cbEncryptPrepare).code,
                  c.code);
        EXPECT_TRUE(ReadFile(path) == original);
    }
}

// Every place where the callback can stop the moving or the encrypting:
// the archive stays readable and keeps every entry, each plain or
// encrypted whole.
TEST(EncryptFiles, AnAbortAnywhereLeavesAReadableArchive) {
    TempDir dir;
    const std::string source = dir.File("source.zip"), path = dir.File("a.zip");
    const Contents contents = MakeMixed(source, dir);
    const std::string original = ReadFile(source);
    bool finished = false;
    for (unsigned n = 1; !finished; ++n) {
        SCOPED_TRACE("stopped at call " + std::to_string(n));
        StopAt stop;
        stop.m_stopAt = n;
        const Outcome run = EncryptOnFaultyDisk(path, original, -1, 0, &stop,
                                            CZipActionCallback::cbEncryptMoveData | CZipActionCallback::cbEncrypt);
        finished = !run.stopped;
        EXPECT_EQ(run.code, finished ? 0 : CZipException::abortedAction);
        EXPECT_EQ(ExpectReadable(path, contents).size(), contents.size());
        if (finished) {
            for (const auto& e : ReadEntries(path)) EXPECT_TRUE(e.second.flags & 1) << e.first;
        }
    }
}

// Every write of the operation failing in turn, half written: the archive
// stays readable, every entry it keeps reads back whole, and only the
// entry whose bytes the write was encrypting may go. A chunk that a move
// puts down again goes on: the change then succeeds.
TEST(EncryptFiles, AFailingWriteAnywhereLeavesAReadableArchive) {
    TempDir dir;
    const std::string source = dir.File("source.zip"), path = dir.File("a.zip");
    const Contents contents = MakeMixed(source, dir);
    const std::string original = ReadFile(source);
    bool finished = false;
    for (unsigned n = 1; !finished; ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " fails");
        const Outcome run = EncryptOnFaultyDisk(path, original, -1, n, nullptr, 0);
        finished = !run.stopped;
        EXPECT_TRUE(run.code == 0 || (run.code == EIO && !finished)) << run.code;
        EXPECT_GE(ExpectReadable(path, contents).size() + (run.code ? 1 : 0), contents.size());
    }
}

}  // namespace
