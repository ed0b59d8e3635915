// Changing archives in place: removing, renaming, replacing, prepending and
// copying entries from archives of other tools, checked with those tools
// and against the archive's own layout; and what a change that fails part
// way leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "zip/ZipBundle.h"
#include "zip/ZipFile.h"
#include "zip/ZipMemFile.h"
#include "zip_test_util.h"

namespace {

// ---- the layout of an archive, read from its bytes ----------------------------------

struct Record {
    std::string name;
    unsigned offset = 0;
    unsigned compressedSize = 0;
    unsigned flags = 0;
    unsigned centralSize = 0;
    unsigned long long span = 0;  // to the next entry or the directory
    std::string packed;           // the data as stored, encryption header included
};

struct Layout {
    std::map<std::string, Record> entries;
    unsigned long long length = 0;
};

// Reads the directory and checks that entries follow each other with no
// gap and no overlap (no gap either when `tight`), and that the directory
// follows the last one.
Layout ReadLayout(const std::string& path, bool tight = true) {
    const std::string b = ReadFile(path);
    Layout layout;
    layout.length = b.size();
    const size_t end = b.rfind(std::string("PK\x05\x06", 4));
    EXPECT_NE(end, std::string::npos);
    if (end == std::string::npos) return layout;
    const unsigned count = U16(b, end + 10), dirOffset = U32(b, end + 16);
    std::vector<Record> records;
    size_t p = dirOffset;
    for (unsigned i = 0; i < count; ++i) {
        EXPECT_EQ(b.substr(p, 4), std::string("PK\x01\x02", 4));
        Record r;
        const unsigned n = U16(b, p + 28), x = U16(b, p + 30), c = U16(b, p + 32);
        r.flags = U16(b, p + 8);
        r.compressedSize = U32(b, p + 20);
        r.offset = U32(b, p + 42);
        r.name = b.substr(p + 46, n);
        r.centralSize = 46 + n + x + c;
        p += r.centralSize;
        records.push_back(r);
    }
    EXPECT_EQ(p, end);
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& c) { return a.offset < c.offset; });
    for (size_t i = 0; i < records.size(); ++i) {
        Record& r = records[i];
        const unsigned long long next = i + 1 < records.size() ? records[i + 1].offset : dirOffset;
        r.span = next - r.offset;
        EXPECT_EQ(b.substr(r.offset, 4), std::string("PK\x03\x04", 4)) << r.name;
        const size_t data = r.offset + 30 + U16(b, r.offset + 26) + U16(b, r.offset + 28);
        r.packed = b.substr(data, r.compressedSize);
        size_t entryEnd = data + r.compressedSize;
        if (r.flags & 8) entryEnd += b.substr(entryEnd, 4) == std::string("PK\x07\x08", 4) ? 16 : 12;
        if (tight) {
            EXPECT_EQ(entryEnd, next) << r.name << ": the next record is not where this entry ends";
        }
        EXPECT_LE(entryEnd, next) << r.name << ": the next record starts inside this entry";
        layout.entries[r.name] = r;
    }
    return layout;
}

// unzip and python test the archive (with the password when one is given),
// zipinfo lists `names` in this order, and the layout has no gaps (unless
// not `tight`: a failed change may leave unreferenced bytes).
void ExpectSound(const std::string& path, const std::vector<std::string>& names, const std::string& password = "",
                 bool tight = true) {
    const std::string pw = password.empty() ? "" : "-P " + password + " ";
    ToolResult u = RunTool("unzip " + pw + "-t " + Quote(path));
    if (names.empty()) {
        EXPECT_NE(u.output.find("zipfile is empty"), std::string::npos) << u.output;
    } else {
        EXPECT_EQ(u.status, 0) << u.output;
        EXPECT_NE(u.output.find("No errors detected"), std::string::npos) << u.output;
    }
    ToolResult py = password.empty()
                        ? RunTool("python3 -m zipfile -t " + Quote(path))
                        : RunTool("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                                  "z.setpassword(sys.argv[2].encode()); sys.exit(z.testzip() is not None)' " +
                                  Quote(path) + " " + password);
    EXPECT_EQ(py.status, 0) << py.output;
    std::string listed = RunTool("zipinfo -1 " + Quote(path) + " 2>/dev/null", false).output;
    std::string expected = names.empty() ? "Empty zipfile.\n" : "";
    for (const std::string& n : names) expected += n + "\n";
    EXPECT_EQ(listed, expected);
    ReadLayout(path, tight);
}

const std::vector<std::string> kBaseNames = {"a.kml", "b.bin", "sub/c.txt", "d.txt"};

std::string Content(const std::string& name) {
    if (name == "a.kml") return KmlLikeText(30000);
    if (name == "b.bin") return RandomBytes(5000, 2);
    if (name == "sub/c.txt") return KmlLikeText(4000);
    if (name == "e.bin") return RandomBytes(300000, 3);
    return "the last entry\n";
}

// Four entries, deflated and stored, made by the library.
void MakeBase(const std::string& path) {
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipCreate));
    const int levels[] = {9, 0, 6, 9};
    for (size_t i = 0; i < kBaseNames.size(); ++i)
        ASSERT_TRUE(AddBytesEntry(zip, kBaseNames[i].c_str(), Content(kBaseNames[i]), levels[i]));
    zip.Close();
}

// A small tree, packed by the tools into the archives entries are copied from.
struct ToolArchives {
    TempDir dir;
    std::map<std::string, std::string> passwords;  // by archive name
    std::vector<std::string> made;
    ToolArchives() {
        const std::string t = dir.File("t");
        std::filesystem::create_directories(t + "/deep");
        WriteFile(t + "/text.kml", KmlLikeText(20000));
        WriteFile(t + "/random.bin", RandomBytes(3000, 9));
        WriteFile(t + "/deep/small.txt", "small\n");
        const std::string cd = "cd " + Quote(dir.path()) + " && ";
        struct {
            const char* name;
            std::string command;
            const char* password;
        } recipes[] = {
            {"zip.zip", "zip -qr zip.zip t", ""},
            {"python.zip",
             "python3 -c 'import zipfile, os\n"
             "with zipfile.ZipFile(\"python.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
             "    for r, ds, fs in sorted(os.walk(\"t\")):\n"
             "        for f in sorted(fs): z.write(os.path.join(r, f))'",
             ""},
            {"7z.zip", "7z a -tzip -bd 7z.zip t >/dev/null", ""},
            // The check byte from the time (with a descriptor) and from the CRC.
            {"zip_enc.zip", "zip -qr -P secret zip_enc.zip t", "secret"},
            {"7z_enc.zip", "7z a -tzip -bd -psecret -mem=ZipCrypto 7z_enc.zip t >/dev/null", "secret"},
        };
        for (const auto& r : recipes) {
            if (RunTool(cd + r.command).status != 0) continue;
            made.push_back(r.name);
            passwords[r.name] = r.password;
        }
    }
    std::string Path(const std::string& name) const { return dir.File(name); }
};

const ToolArchives& Tools() {
    static ToolArchives archives;
    return archives;
}

std::vector<std::string> ListNames(const std::string& path) {
    std::istringstream lines(RunTool("zipinfo -1 " + Quote(path) + " 2>/dev/null", false).output);
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) names.push_back(line);
    return names;
}

// ---- what each change must do to the archive ----------------------------------------

struct Outcome {
    std::vector<std::string> names;
    unsigned long long length = 0;               // the file's length afterwards
    std::string replaced;                        // its new span adds to the length
    std::map<std::string, std::string> content;  // entries to extract and compare
    std::map<std::string, std::string> packed;   // entries whose stored bytes must be these
    std::string prefix;                          // bytes before the archive
    std::string password;
};

typedef std::function<void(CZipBundle& zip, const Layout& before, Outcome& out)> Change;

struct ChangeCase {
    const char* label;
    Change change;
};

std::vector<std::string> Without(std::vector<std::string> names, const std::vector<std::string>& gone) {
    for (const std::string& g : gone) names.erase(std::find(names.begin(), names.end(), g));
    return names;
}

Change Remove(std::vector<std::string> gone) {
    return [gone](CZipBundle& zip, const Layout& before, Outcome& out) {
        CZipArray<CZipString> names;
        for (const std::string& g : gone) names.Add(g.c_str());
        ASSERT_TRUE(zip.RemoveFiles(names));
        out.names = Without(kBaseNames, gone);
        out.length = before.length;
        for (const std::string& g : gone) out.length -= before.entries.at(g).span + before.entries.at(g).centralSize;
        for (const std::string& n : out.names) out.content[n] = Content(n);
    };
}

// New names for entries by index, committed at once.
Change Rename(std::map<unsigned short, std::string> renames) {
    return [renames](CZipBundle& zip, const Layout& before, Outcome& out) {
        zip.SetCommitMode(CZipBundle::cmManual);
        out.names = kBaseNames;
        out.length = before.length;
        for (const auto& r : renames) {
            ASSERT_TRUE(zip[r.first]->SetFileName(r.second.c_str()));
            out.names[r.first] = r.second;
            // The name stands in the local and the central header.
            out.length += 2 * (r.second.size() - kBaseNames[r.first].size());
        }
        ASSERT_TRUE(zip.CommitChanges());
        EXPECT_FALSE(zip.IsModified());
        for (size_t i = 0; i < kBaseNames.size(); ++i) out.content[out.names[i]] = Content(kBaseNames[i]);
    };
}

Change Replace(unsigned short index, std::string data, int level) {
    return [index, data, level](CZipBundle& zip, const Layout& before, Outcome& out) {
        const std::string name = kBaseNames[index];
        ASSERT_TRUE(AddBytesEntry(zip, name.c_str(), data, level, index));
        EXPECT_EQ(zip.GetCount(), kBaseNames.size());
        EXPECT_EQ(std::string(zip[index]->GetFileName(false)), name);
        out.names = kBaseNames;
        out.length = before.length - before.entries.at(name).span;
        out.replaced = name;
        for (const std::string& n : kBaseNames) out.content[n] = n == name ? data : Content(n);
    };
}

Change CopyAllFrom(std::string archive) {
    return [archive](CZipBundle& zip, const Layout& before, Outcome& out) {
        const std::string path = Tools().Path(archive);
        CZipBundle source;
        ASSERT_TRUE(source.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
        CZipArray<unsigned short> all;
        for (unsigned short i = 0; i < source.GetCount(); ++i) all.Add(i);
        ASSERT_TRUE(zip.GetFromArchive(source, all));
        source.Close();
        out.names = kBaseNames;
        out.length = before.length;
        const Layout copied = ReadLayout(path);
        for (const std::string& n : ListNames(path)) {
            out.names.push_back(n);
            // The copy takes exactly the entry's room and directory record.
            out.length += copied.entries.at(n).span + copied.entries.at(n).centralSize;
            out.packed[n] = copied.entries.at(n).packed;
        }
        out.password = Tools().passwords.at(archive);
    };
}

const std::vector<ChangeCase>& ChangeCases() {
    static const std::vector<ChangeCase> cases = {
        {"RemoveFirst", Remove({"a.kml"})},
        {"RemoveMiddle", Remove({"b.bin"})},
        {"RemoveLast", Remove({"d.txt"})},
        {"RemoveTwoApart", Remove({"a.kml", "sub/c.txt"})},
        {"RemoveAll", Remove(kBaseNames)},
        {"RenameLonger", Rename({{1, "a/much/longer/name/for/b.bin"}})},
        {"RenameShorter", Rename({{2, "c"}})},
        // Stretches moving forward and back in one commit.
        {"RenameSeveral", Rename({{0, "a"}, {1, "b-longer.bin"}, {2, "c"}, {3, "d-a-good-deal-longer.txt"}})},
        {"Comments",
         [](CZipBundle& zip, const Layout& before, Outcome& out) {
             // Only the directory changes: no data moves.
             ASSERT_TRUE(zip[1]->SetComment("an entry comment"));
             ASSERT_TRUE(zip.SetGlobalComment("the archive's comment"));
             out.names = kBaseNames;
             out.length = before.length + std::string("an entry comment").size() +
                          std::string("the archive's comment").size();
             for (const std::string& n : kBaseNames) out.content[n] = Content(n);
         }},
        {"ReplaceMiddleDeflated", Replace(1, KmlLikeText(50000), 9)},
        {"ReplaceMiddleStored", Replace(2, RandomBytes(9000, 4), 0)},
        {"ReplaceFirstSmaller", Replace(0, "tiny\n", 6)},
        {"ReplaceLast", Replace(3, KmlLikeText(7000), 6)},
        {"Prepend",
         [](CZipBundle& zip, const Layout& before, Outcome& out) {
             CZipMemFile stub(1024);
             stub.Write(std::string(100, '#').data(), 100);
             ASSERT_TRUE(zip.PrependData(stub));
             out.names = kBaseNames;
             out.length = before.length + 100;
             for (const std::string& n : kBaseNames) out.content[n] = Content(n);
             out.prefix = std::string(100, '#');
         }},
        {"CopyInPlaceOfMiddle",
         [](CZipBundle& zip, const Layout& before, Outcome& out) {
             TempDir other;
             const std::string path = other.File("other.zip");
             MakeBase(path);
             CZipBundle source;
             ASSERT_TRUE(source.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
             ASSERT_TRUE(zip.GetFromArchive(source, 0, "copied.kml", 1));
             source.Close();
             const Record copied = ReadLayout(path).entries.at("a.kml");
             // Level 9 shows in the flags and stays with the copy.
             EXPECT_EQ(copied.flags, 2u);
             out.names = {"a.kml", "copied.kml", "sub/c.txt", "d.txt"};
             out.length = before.length - before.entries.at("b.bin").span - before.entries.at("b.bin").centralSize +
                          copied.span + copied.centralSize + 2 * (std::string("copied.kml").size() - 5);
             out.packed["copied.kml"] = copied.packed;
             out.content["copied.kml"] = Content("a.kml");
             out.content["d.txt"] = Content("d.txt");
         }},
        {"CopyFromZip", CopyAllFrom("zip.zip")},
        {"CopyFromPython", CopyAllFrom("python.zip")},
        {"CopyFrom7z", CopyAllFrom("7z.zip")},
        {"CopyEncryptedFromZip", CopyAllFrom("zip_enc.zip")},
        {"CopyEncryptedFrom7z", CopyAllFrom("7z_enc.zip")},
    };
    return cases;
}

class Modify : public ::testing::TestWithParam<size_t> {};

TEST_P(Modify, ToolsReadTheChangedArchive) {
    const ChangeCase& c = ChangeCases()[GetParam()];
    if (std::string(c.label).find("Copy") == 0 && Tools().made.size() < 5) GTEST_SKIP() << "a tool is missing";
    TempDir dir;
    const std::string path = dir.File("base.zip");
    MakeBase(path);
    const Layout before = ReadLayout(path);
    Outcome out;
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
        c.change(zip, before, out);
        zip.Close();
    }
    const Layout after = ReadLayout(path);
    // Only the changed spans (and directory records) come or go.
    if (!out.replaced.empty()) out.length += after.entries.at(out.replaced).span;
    EXPECT_EQ(after.length, out.length);
    ExpectSound(path, out.names, out.password);
    for (const auto& e : out.content) EXPECT_TRUE(UnzipEntry(path, e.first) == e.second) << e.first;
    // Copied as packed: not decompressed, not decrypted.
    for (const auto& e : out.packed) EXPECT_TRUE(after.entries.at(e.first).packed == e.second) << e.first;
    if (!out.prefix.empty()) {
        EXPECT_EQ(ReadFile(path).substr(0, out.prefix.size()), out.prefix);
        for (const std::string& n : kBaseNames)
            EXPECT_EQ(after.entries.at(n).offset, before.entries.at(n).offset + out.prefix.size()) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, Modify, ::testing::Range<size_t>(0, ChangeCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& p) { return ChangeCases()[p.param].label; });

}  // namespace

namespace {

// ---- changes that fail part way ------------------------------------------------------

// The archive's file on a disk that fills up at a given length: a write
// that crosses it puts down what fits, then fails with ENOSPC.
class FullDisk : public CZipFile {
public:
    explicit FullDisk(const std::string& path) : CZipFile(path.c_str(), modeReadWrite | modeNoTruncate) {}
    void Write(const void* buffer, unsigned count) override {
        const unsigned long long pos = GetPosition();
        if (pos + count > m_cap) {
            if (pos < m_cap) CZipFile::Write(buffer, unsigned(m_cap - pos));
            CZipException::Throw(ENOSPC, GetFilePath());
        }
        CZipFile::Write(buffer, count);
    }
    unsigned long long m_cap = ~0ull;
};

// A source that fails after handing out its first bytes.
class FailingSource : public CZipMemFile {
public:
    explicit FailingSource(size_t size) : CZipMemFile(1024) {
        const std::string data = RandomBytes(size, 6);
        Write(data.data(), unsigned(data.size()));
    }
    unsigned Read(void* buffer, unsigned count) override {
        if (GetPosition() > 0) CZipException::Throw(CZipException::genericError, "source");
        return CZipMemFile::Read(buffer, count);
    }
};

class Aborting : public CZipActionCallback {
public:
    bool OnProgress(unsigned long long) override { return false; }
};

struct FailureCase {
    const char* label;
    long long room;  // bytes the disk takes beyond the archive; -1 unlimited
    std::function<void(CZipBundle&, const std::string& dir)> change;
    int code;
    // Empty: the file must be byte for byte what it was; otherwise the
    // entries the tools must find.
    std::vector<std::string> names;
    int generalBuffer = 65536;
};

void ReplaceWith(CZipBundle& zip, unsigned short index, const std::string& data, int level) {
    AddBytesEntry(zip, kBaseNames[index].c_str(), data, level, index);
}

TEST(Modify, AFailedChangeKeepsTheArchiveReadable) {
    static Aborting abort;
    const FailureCase cases[] = {
        {"replace, deflated, disk full", 10,
         [](CZipBundle& zip, const std::string&) { ReplaceWith(zip, 1, RandomBytes(60000, 7), 6); }, ENOSPC, {}},
        {"replace, stored, disk full", 10,
         [](CZipBundle& zip, const std::string&) { ReplaceWith(zip, 2, RandomBytes(60000, 7), 0); }, ENOSPC, {}},
        {"replace the last, disk full", 10,
         [](CZipBundle& zip, const std::string&) { ReplaceWith(zip, 3, RandomBytes(60000, 7), 6); }, ENOSPC, {}},
        {"replace, the source fails", -1,
         [](CZipBundle& zip, const std::string&) {
             FailingSource source(200000);
             CZipAddNewFileInfo info(&source, "b.bin");
             info.m_uReplaceIndex = 1;
             zip.AddNewFile(info);
         },
         CZipException::genericError, {}},
        {"replace stored, the source fails", -1,
         [](CZipBundle& zip, const std::string&) {
             FailingSource source(200000);
             CZipAddNewFileInfo info(&source, "sub/c.txt");
             info.m_iComprLevel = 0;
             info.m_uReplaceIndex = 2;
             zip.AddNewFile(info);
         },
         CZipException::genericError, {}},
        {"prepend, disk full", 1000,
         [](CZipBundle& zip, const std::string&) {
             CZipMemFile stub(1024);
             const std::string bytes(100000, '#');
             stub.Write(bytes.data(), unsigned(bytes.size()));
             zip.PrependData(stub);
         },
         ENOSPC, {}},
        {"rename longer and commit, disk full", 10,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCommitMode(CZipBundle::cmManual);
             EXPECT_TRUE(zip[1]->SetFileName(std::string(300, 'n').c_str()));
             zip.CommitChanges();
         },
         ENOSPC, {}},
        // The renamed entry goes; the ones it moved stay readable.
        {"rename longer and commit, aborted while moving", -1,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCommitMode(CZipBundle::cmManual);
             EXPECT_TRUE(zip[1]->SetFileName("a-longer-name-for-b.bin"));
             zip.SetCallback(&abort, CZipActionCallback::cbModify);
             zip.CommitChanges();
         },
         CZipException::abortedAction, {"a.kml", "sub/c.txt", "d.txt"}},
        {"rename shorter and commit, aborted while moving", -1,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCommitMode(CZipBundle::cmManual);
             EXPECT_TRUE(zip[0]->SetFileName("a"));
             zip.SetCallback(&abort, CZipActionCallback::cbModify);
             zip.CommitChanges();
         },
         CZipException::abortedAction, {"b.bin", "sub/c.txt", "d.txt"}, 1024},
        {"copy from another archive, disk full", 1000,
         [](CZipBundle& zip, const std::string& dir) {
             const std::string other = dir + "/other.zip";
             MakeBase(other);
             CZipBundle source;
             ASSERT_TRUE(source.Open(other.c_str(), CZipBundle::zipOpenReadOnly));
             zip.GetFromArchive(source, 0, "copied.kml");
         },
         ENOSPC, {}},
        {"copy over an entry under a name too long", -1,
         [](CZipBundle& zip, const std::string& dir) {
             const std::string other = dir + "/other.zip";
             MakeBase(other);
             CZipBundle source;
             ASSERT_TRUE(source.Open(other.c_str(), CZipBundle::zipOpenReadOnly));
             zip.GetFromArchive(source, 0, std::string(70000, 'n').c_str(), 1);
         },
         CZipException::tooLongData, {}},
        {"add, disk full", 1000,
         [](CZipBundle& zip, const std::string&) { AddBytesEntry(zip, "new.bin", RandomBytes(100000, 8), 6); }, ENOSPC,
         {}},
        {"remove, aborted while collecting", -1,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCallback(&abort, CZipActionCallback::cbDeleteCnt);
             zip.RemoveFile(1);
         },
         CZipException::abortedSafely, {}},
        {"remove, aborted while moving", -1,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCallback(&abort, CZipActionCallback::cbDelete);
             zip.RemoveFile(0);
         },
         CZipException::abortedAction, {"b.bin", "sub/c.txt", "d.txt"}},
        // Stopped inside b.bin, whose old copy nothing has reached yet.
        {"remove, aborted after the first kilobyte moved", -1,
         [](CZipBundle& zip, const std::string&) {
             zip.SetCallback(&abort, CZipActionCallback::cbDelete);
             zip.RemoveFile(0);
         },
         CZipException::abortedAction, {"b.bin", "sub/c.txt", "d.txt"}, 1024},
        // Stopped inside a large entry moving back over its own start: the
        // bytes not yet moved are intact, so it is moved the rest of its
        // way and nothing is lost.
        {"remove, aborted inside an entry moving over itself", -1,
         [](CZipBundle& zip, const std::string&) {
             ASSERT_TRUE(AddBytesEntry(zip, "e.bin", Content("e.bin"), 0));
             ASSERT_TRUE(zip.Finalize());
             zip.SetCallback(&abort, CZipActionCallback::cbDelete);
             zip.RemoveFile(3);
         },
         CZipException::abortedAction, {"a.kml", "b.bin", "sub/c.txt", "e.bin"}},
        // Removing never grows the file: a full disk does not stop it.
        {"remove on a full disk", 0, [](CZipBundle& zip, const std::string&) { EXPECT_TRUE(zip.RemoveFile(1)); }, 0,
         {"a.kml", "sub/c.txt", "d.txt"}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string path = dir.File("a.zip");
        MakeBase(path);
        const std::string before = ReadFile(path);
        {
            FullDisk file(path);
            if (c.room >= 0) file.m_cap = before.size() + (unsigned long long)c.room;
            CZipBundle zip;
            zip.SetAdvanced(65536, c.generalBuffer);
            ASSERT_TRUE(zip.Open(file, CZipBundle::zipOpen, false));
            EXPECT_EQ(CodeOf([&] { c.change(zip, dir.path()); }), c.code);
            // Nothing more is written: what is on disk now is what stays.
            zip.Close(c.code ? CZipBundle::afAfterException : CZipBundle::afNoException);
            file.Close();
        }
        if (c.names.empty()) {
            EXPECT_TRUE(ReadFile(path) == before);
            ExpectSound(path, kBaseNames);
        } else {
            ExpectSound(path, c.names, "", false);
        }
        for (const std::string& n : c.names.empty() ? kBaseNames : c.names)
            EXPECT_TRUE(UnzipEntry(path, n) == Content(n)) << n;
    }
}

// A source that grows between being measured and being read.
class GrowingSource : public CZipMemFile {
public:
    explicit GrowingSource(const std::string& data) : CZipMemFile(1024) { Write(data.data(), unsigned(data.size())); }
    unsigned long long SeekToBegin() override {
        const std::string more = RandomBytes(20000, 12);
        SeekToEnd();
        Write(more.data(), unsigned(more.size()));
        return CZipMemFile::SeekToBegin();
    }
};

TEST(Modify, AReplacementTakesNoMoreThanItMeasured) {
    TempDir dir;
    const std::string path = dir.File("a.zip");
    MakeBase(path);
    const std::string first = KmlLikeText(8000);
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
        // No temporary file can be made: the source goes straight in, stored.
        zip.SetTempPath(dir.File("missing/dir").c_str(), false);
        GrowingSource source(first);
        CZipAddNewFileInfo info(&source, "b.bin");
        info.m_uReplaceIndex = 1;
        ASSERT_TRUE(zip.AddNewFile(info));
        EXPECT_EQ(zip[1]->m_uMethod, 0);
        zip.Close();
    }
    std::vector<std::string> names = kBaseNames;
    ExpectSound(path, names);
    EXPECT_TRUE(UnzipEntry(path, "b.bin") == first);
    EXPECT_TRUE(UnzipEntry(path, "sub/c.txt") == Content("sub/c.txt"));
}

}  // namespace

namespace {

TEST(Modify, RefusalsChangeNothing) {
    struct {
        const char* label;
        std::function<bool(CZipBundle& zip, CZipBundle& other)> request;
    } cases[] = {
        {"remove an index out of range", [](CZipBundle& zip, CZipBundle&) { return zip.RemoveFile(4); }},
        {"remove a list with one bad index",
         [](CZipBundle& zip, CZipBundle&) {
             CZipArray<unsigned short> indexes;
             indexes.Add(0);
             indexes.Add(0xFFFF);
             return zip.RemoveFiles(indexes);
         }},
        {"remove a name not there",
         [](CZipBundle& zip, CZipBundle&) {
             CZipArray<CZipString> names;
             names.Add("a.kml");
             names.Add("nothing");
             return zip.RemoveFiles(names);
         }},
        {"copy from itself", [](CZipBundle& zip, CZipBundle&) { return zip.GetFromArchive(zip, 0); }},
        {"copy an index out of range", [](CZipBundle& zip, CZipBundle& other) { return zip.GetFromArchive(other, 9); }},
        {"copy over an index out of range",
         [](CZipBundle& zip, CZipBundle& other) { return zip.GetFromArchive(other, 0, nullptr, 9); }},
        {"replace an index out of range",
         [](CZipBundle& zip, CZipBundle&) { return AddBytesEntry(zip, "x", "data", 6, 9); }},
        {"open a deflated replacement",
         [](CZipBundle& zip, CZipBundle&) {
             // Its room would have to be known before its data is.
             CZipFileHeader header;
             header.SetFileName("b.bin");
             return zip.OpenNewFile(header, 6, nullptr, 1);
         }},
        {"copy into an archive open read-only",
         [](CZipBundle& zip, CZipBundle& other) { return other.GetFromArchive(zip, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::string path = dir.File("a.zip"), otherPath = dir.File("other.zip");
        MakeBase(path);
        MakeBase(otherPath);
        const std::string before = ReadFile(path);
        {
            CZipBundle zip, other;
            ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
            ASSERT_TRUE(other.Open(otherPath.c_str(), CZipBundle::zipOpenReadOnly));
            EXPECT_FALSE(c.request(zip, other));
            EXPECT_EQ(zip.GetCount(), kBaseNames.size());
            zip.Close(CZipBundle::afAfterException);
        }
        EXPECT_TRUE(ReadFile(path) == before);
    }
}

// Removing every entry of an archive behind a stub leaves the stub and the
// end record zip -d leaves, which unzip reads as an empty archive.
TEST(Modify, RemovingEveryEntryBehindAStubLeavesWhatZipLeaves) {
    TempDir dir;
    const std::string path = dir.File("a.zip");
    MakeBase(path);
    const std::string stub(1000, '#');
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
        CZipMemFile data(1024);
        data.Write(stub.data(), unsigned(stub.size()));
        ASSERT_TRUE(zip.PrependData(data));
        CZipArray<unsigned short> all;
        for (unsigned short i = 0; i < zip.GetCount(); ++i) all.Add(i);
        ASSERT_TRUE(zip.RemoveFiles(all));
        zip.Close();
    }
    const std::string end("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22);
    EXPECT_TRUE(ReadFile(path) == stub + end);
    const ToolResult u = RunTool("unzip -t " + Quote(path));
    EXPECT_NE(u.output.find("zipfile is empty"), std::string::npos) << u.output;
}

TEST(Modify, PrependingWithANewExtensionMakesAnExecutable) {
    TempDir dir;
    const std::string path = dir.File("a.zip"), stub = dir.File("stub.sh");
    MakeBase(path);
    WriteFile(stub, "#!/bin/sh\necho stub\nexit 0\n");
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
    ASSERT_TRUE(zip.PrependData(stub.c_str(), "run"));
    EXPECT_TRUE(zip.IsClosed());
    const std::string renamed = dir.File("a.run");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_NE(std::filesystem::status(renamed).permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::none);
    EXPECT_EQ(RunTool(Quote(renamed), false).output, "stub\n");
    ExpectSound(renamed, kBaseNames);

    // An archive in memory has no file to rename and stays open.
    CZipMemFile mem(1024);
    CZipBundle inMemory;
    ASSERT_TRUE(inMemory.Open(mem, CZipBundle::zipCreate));
    ASSERT_TRUE(AddBytesEntry(inMemory, "one.txt", "one entry", 6));
    CZipMemFile data(1024);
    data.Write("STUB", 4);
    EXPECT_TRUE(inMemory.PrependData(data, "run"));
    EXPECT_FALSE(inMemory.IsClosed());
    EXPECT_EQ(inMemory[0]->m_uOffset, 4u);
    inMemory.Close();
    CZipBundle reread;
    ASSERT_TRUE(reread.Open(mem, CZipBundle::zipOpenReadOnly));
    EXPECT_TRUE(reread.TestFile(0));

    // A name that cannot be taken (a directory stands there): false, and
    // the archive is what it was, still open under its own name.
    const std::string other = dir.File("b.zip");
    MakeBase(other);
    const std::string before = ReadFile(other);
    std::filesystem::create_directory(dir.File("b.run"));
    CZipBundle blocked;
    ASSERT_TRUE(blocked.Open(other.c_str(), CZipBundle::zipOpen));
    EXPECT_FALSE(blocked.PrependData(stub.c_str(), "run"));
    EXPECT_FALSE(blocked.IsClosed());
    blocked.Close();
    EXPECT_TRUE(ReadFile(other) == before);
}

// Stops at its n-th call.
class StopAtCall : public CZipActionCallback {
public:
    explicit StopAtCall(int stopAt) : m_stopAt(stopAt) { m_iStep = 1; }
    bool OnProgress(unsigned long long) override { return ++m_calls != m_stopAt; }
    int m_calls = 0;
    int m_stopAt;
};

// The bytes a shift leaves in front of the moved archive hold copies of
// its old local headers: a prepend stopped at any call, its last one
// included, and a shift alone leave no local header there that 7z, which
// walks them, would take for an entry.
TEST(Modify, AStoppedPrependLeavesWhatEveryToolReads) {
    TempDir dir;
    const std::string path = dir.File("a.zip");
    for (int stop = 0;; ++stop) {
        SCOPED_TRACE("stopped at call " + std::to_string(stop));
        MakeBase(path);
        StopAtCall cb(stop);
        int code = 0;
        {
            CZipBundle zip;
            zip.SetAdvanced(65536, 8192);
            ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
            zip.SetCallback(&cb, CZipActionCallback::cbMoveData);
            code = CodeOf([&] {
                if (stop == 0) {
                    ASSERT_TRUE(zip.ShiftData(10000));
                } else {
                    CZipMemFile stub(1024);
                    stub.Write(std::string(10000, '#').data(), 10000);
                    zip.PrependData(stub);
                }
            });
            zip.Close(code ? CZipBundle::afAfterException : CZipBundle::afNoException);
        }
        const ToolResult z = RunTool("7z t " + Quote(path));
        EXPECT_EQ(z.status, 0) << z.output;
        ExpectSound(path, kBaseNames, "", false);
        for (const std::string& n : kBaseNames) EXPECT_TRUE(UnzipEntry(path, n) == Content(n)) << n;
        if (stop > 0 && code == 0) break;
        if (stop > 0) {
            EXPECT_EQ(code, CZipException::abortedAction);
        }
        ASSERT_LT(stop, 100);
    }
}

}  // namespace
