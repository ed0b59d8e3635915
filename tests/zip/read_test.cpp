// Reading existing archives: archives of the real tools open, test and
// extract like unzip does them; damaged and hostile archives give the
// documented codes and never write outside the target; entries are added to
// an existing archive that every tool still reads.
#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>

#include "zip/ZipBundle.h"
#include "export/kmz.h"
#include "zip/ZipMemFile.h"
#include "zip/ZipRootPathRestorer.h"
#include "zip_test_util.h"

namespace fs = std::filesystem;

namespace {

// The fixtures of make_read_fixtures.py, made once per run.
struct Fixtures {
    TempDir dir;
    std::set<std::string> toolArchives;
    Fixtures() {
        ToolResult r = RunTool("python3 " + Quote(ZIP_READ_FIXTURES) + " " + Quote(dir.path()), false);
        if (r.status != 0) throw std::runtime_error("fixtures: " + r.output);
        std::istringstream lines(r.output);
        std::string name;
        while (std::getline(lines, name))
            if (!name.empty()) toolArchives.insert(name);
    }
    std::string Path(const std::string& name) const { return dir.File(name); }
};

const Fixtures& Fx() {
    static Fixtures fixtures;
    return fixtures;
}

// Every regular file and directory under root, by relative path.
std::map<std::string, fs::path> Tree(const std::string& root) {
    std::map<std::string, fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out[fs::relative(e.path(), root).string()] = e.path();
    return out;
}

unsigned ModeOf(const fs::path& p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

time_t MTimeOf(const fs::path& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? st.st_mtime : 0;
}

std::vector<std::string> EntryNames(CZipBundle& zip) {
    std::vector<std::string> names;
    for (unsigned short i = 0; i < zip.GetCount(); ++i) names.push_back(zip[i]->GetFileName(false));
    return names;
}

std::string ExtractToMemory(CZipBundle& zip, unsigned short index, unsigned bufferSize = 65536) {
    CZipMemFile mem(1024);
    EXPECT_TRUE(zip.ExtractFile(index, mem, true, bufferSize));
    std::string out(size_t(mem.GetLength()), '\0');
    mem.SeekToBegin();
    if (!out.empty()) mem.Read(&out[0], unsigned(out.size()));
    return out;
}

CZipMemFile* LoadIntoMemory(const std::string& path) {
    std::string bytes = ReadFile(path);
    CZipMemFile* mem = new CZipMemFile(1024);
    mem->Write(bytes.data(), unsigned(bytes.size()));
    return mem;
}

// ---- archives of the real tools ----------------------------------------------

class ToolArchive : public ::testing::TestWithParam<std::string> {};

TEST_P(ToolArchive, OpensTestsAndExtractsLikeUnzip) {
    const std::string archive = Fx().Path(GetParam());
    if (!Fx().toolArchives.count(GetParam())) GTEST_SKIP() << GetParam() << " could not be made here";
    TempDir mine, theirs;

    CZipBundle zip;
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly));
    std::vector<std::string> names = EntryNames(zip);
    ToolResult listing = RunTool("zipinfo -1 " + Quote(archive), false);
    std::multiset<std::string> expected, got(names.begin(), names.end());
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) expected.insert(line);
    EXPECT_EQ(got, expected);

    for (unsigned short i = 0; i < zip.GetCount(); ++i) {
        EXPECT_TRUE(zip.TestFile(i)) << names[i];
        EXPECT_TRUE(zip.ExtractFile(i, mine.path().c_str())) << names[i];
    }
    EXPECT_EQ(zip.CurrentFile(), nullptr);
    if (GetParam() == "python.zip") {
        EXPECT_EQ(zip.GetGlobalComment(), "python comment");
        unsigned short commented = zip.FindFile("commented.txt");
        ASSERT_NE(commented, 0xFFFF);
        EXPECT_EQ(zip[commented]->GetComment(), "an entry comment");
    }
    if (GetParam() == "sfx.zip") {
        EXPECT_EQ(zip.GetStorage()->m_uBytesBeforeZip, 1037u);
    }
    zip.Close();

    // 1: unzip only warns about the bytes before the archive.
    ASSERT_LE(RunTool("unzip -qo " + Quote(archive) + " -d " + Quote(theirs.path())).status, 1);
    auto a = Tree(mine.path()), b = Tree(theirs.path());
    std::set<std::string> aNames, bNames;
    for (auto& e : a) aNames.insert(e.first);
    for (auto& e : b) bNames.insert(e.first);
    ASSERT_EQ(aNames, bNames);
    CZipBundle again;
    ASSERT_TRUE(again.Open(archive.c_str(), CZipBundle::zipOpenReadOnly));
    for (auto& e : b) {
        const fs::path& mineP = a[e.first];
        if (fs::is_directory(e.second)) {
            EXPECT_TRUE(fs::is_directory(mineP)) << e.first;
            continue;
        }
        EXPECT_EQ(ReadFile(mineP), ReadFile(e.second)) << e.first;
        EXPECT_NEAR(double(MTimeOf(mineP)), double(MTimeOf(e.second)), 2.0) << e.first;
        unsigned short index = again.FindFile(e.first.c_str());
        ASSERT_NE(index, 0xFFFF) << e.first;
        // Permissions are the archive's own only where it was made on Unix;
        // unzip applies the umask to the others.
        if (again[index]->GetSystemCompatibility() == 3) {
            EXPECT_EQ(ModeOf(mineP) & 07777, ModeOf(e.second) & 07777) << e.first;
        }
    }

    // The same archive from memory reads to the same bytes.
    std::unique_ptr<CZipMemFile> mem(LoadIntoMemory(archive));
    CZipBundle fromMemory;
    ASSERT_TRUE(fromMemory.Open(*mem, CZipBundle::zipOpenReadOnly));
    for (unsigned short i = 0; i < fromMemory.GetCount(); ++i) {
        if (fromMemory[i]->IsDirectory()) continue;
        std::string name = fromMemory[i]->GetFileName(false);
        EXPECT_EQ(ExtractToMemory(fromMemory, i, 1000), ReadFile(theirs.File(name))) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Read, ToolArchive,
                         ::testing::Values("zip_r.zip", "zip_pipe.zip", "python.zip", "7z.zip", "jar.jar",
                                           "sfx.zip"),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                             std::string n = p.param;
                             for (char& c : n)
                                 if (!isalnum((unsigned char)c)) c = '_';
                             return n;
                         });

// ---- damaged archives -----------------------------------------------------------

// What reading a damaged archive gives: the code of the exception at Open,
// or at the first entry operation that fails (0: none).
struct Damage {
    const char* file;
    int openCode;
    std::set<int> readCodes;  // codes TestFile of every entry may raise
    bool openFileRefused;     // OpenFile of entry 0 returns false
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.file; }

class DamagedArchive : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedArchive, GivesTheDocumentedCode) {
    const Damage& d = GetParam();
    for (bool inMemory : {false, true}) {
        std::unique_ptr<CZipMemFile> mem(LoadIntoMemory(Fx().Path(d.file)));
        const unsigned long long length = mem->GetLength();
        CZipBundle zip;
        int code = CodeOf([&] {
            if (inMemory) zip.Open(*mem, CZipBundle::zipOpenReadOnly);
            else zip.Open(Fx().Path(d.file).c_str(), CZipBundle::zipOpenReadOnly);
        });
        EXPECT_EQ(code, d.openCode) << d.file;
        if (code) {
            EXPECT_TRUE(zip.IsClosed());
            continue;
        }
        if (d.openFileRefused) {
            EXPECT_FALSE(zip.OpenFile(0));
            EXPECT_EQ(zip.CurrentFile(), nullptr);
            continue;
        }
        int readCode = 0;
        for (unsigned short i = 0; i < zip.GetCount() && readCode == 0; ++i)
            readCode = CodeOf([&] { zip.TestFile(i); });
        EXPECT_TRUE(d.readCodes.count(readCode)) << d.file << " gave " << readCode;
        // Whatever failed, nothing stays open and the archive goes on.
        EXPECT_EQ(zip.CurrentFile(), nullptr);
        EXPECT_EQ(zip.CloseFile(), 0);
        zip.Close();
        EXPECT_EQ(mem->GetLength(), length) << d.file;  // reading never grows the archive
    }
}

INSTANTIATE_TEST_SUITE_P(
    Read, DamagedArchive,
    ::testing::Values(Damage{"no_end_record.zip", 221, {}, false}, Damage{"cut_end_record.zip", 201, {}, false},
                      Damage{"flipped_data.zip", 0, {202, 504}, false},
                      Damage{"broken_local_signature.zip", 0, {201}, false},
                      Damage{"duplicate_offsets.zip", 201, {}, false},
                      Damage{"directory_past_end.zip", 201, {}, false},
                      Damage{"zip64_locator.zip", 222, {}, false}, Damage{"bad_crc.zip", 0, {202}, false},
                      Damage{"encrypted_tiny.zip", 0, {201}, false}, Damage{"encrypted.zip", 0, {213}, false},
                      Damage{"deflate_more_than_declared.zip", 0, {201}, false},
                      Damage{"deflate_long_more_than_declared.zip", 0, {201}, false},
                      Damage{"end_cd_after_last.zip", 201, {}, false},
                      Damage{"end_more_on_volume.zip", 201, {}, false},
                      Damage{"end_directory_past_record.zip", 201, {}, false},
                      Damage{"stored_more_than_declared.zip", 0, {201}, false},
                      Damage{"local_flag_low_bits.zip", 0, {201}, false},
                      Damage{"local_flag_high_bits.zip", 0, {0}, false}, Damage{"bzip2.zip", 0, {}, true},
                      Damage{"lzma.zip", 0, {}, true}, Damage{"dir_with_data.zip", 0, {214}, false},
                      Damage{"dir_deflated.zip", 0, {0}, false}, Damage{"dir_by_name.zip", 0, {0}, false},
                      Damage{"comment_max.zip", 0, {0}, false}, Damage{"offset_past_end.zip", 0, {201}, false},
                      Damage{"ntfs_time_max.zip", 0, {0}, false},
                      Damage{"zip64_local_huge.zip", 0, {222}, false},
                      Damage{"zip64_local_short.zip", 0, {201}, false}),
    [](const ::testing::TestParamInfo<Damage>& p) {
        std::string n = p.param.file;
        return n.substr(0, n.find('.'));
    });

TEST(Read, AnEntryNeverGivesMoreThanItsHeaderDeclares) {
    for (const char* file :
         {"deflate_more_than_declared.zip", "deflate_long_more_than_declared.zip", "stored_more_than_declared.zip"}) {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(Fx().Path(file).c_str(), CZipBundle::zipOpenReadOnly));
        unsigned declared = zip[0]->m_uUncomprSize;
        CZipMemFile mem(1024);
        // Damage, whichever way the data runs on: 201.
        EXPECT_EQ(CodeOf([&] { zip.ExtractFile(0, mem, false, 64); }), 201) << file;
        EXPECT_LE(mem.GetLength(), declared) << file;
        TempDir out;
        EXPECT_EQ(CodeOf([&] { zip.ExtractFile(0, out.path().c_str()); }), 201) << file;
        // A failed entry leaves nothing behind, not even its temporary file.
        EXPECT_TRUE(fs::is_empty(out.path())) << file;
        EXPECT_EQ(zip.CurrentFile(), nullptr);
        // Read by hand: the throw closes the entry, which opens again.
        ASSERT_TRUE(zip.OpenFile(0));
        char buf[64];
        EXPECT_NE(CodeOf([&] {
                      while (zip.ReadFile(buf, sizeof buf) > 0) {
                      }
                  }),
                  0);
        EXPECT_EQ(zip.CurrentFile(), nullptr);
        EXPECT_EQ(zip.CloseFile(nullptr, true), 0);
        EXPECT_TRUE(zip.OpenFile(0));
        EXPECT_EQ(zip.CloseFile(), -1);
    }
}

// With rewind the target's position goes back to where it stood, whether
// the entry was written whole, stopped by the callback or failed on its
// data: the caller can tell what was written from its own mark.
TEST(Read, ExtractionToMemoryPutsThePositionBack) {
    struct StopFirst : CZipActionCallback {
        bool OnProgress(unsigned long long) override { return false; }
    };
    const struct {
        const char* file;
        bool stop;
        std::set<int> codes;
    } cases[] = {{"good.zip", false, {0}},
                 {"good.zip", true, {CZipException::abortedAction}},
                 {"bad_crc.zip", false, {CZipException::badCrc}},
                 {"flipped_data.zip", false, {CZipException::badCrc, 504}},
                 {"deflate_more_than_declared.zip", false, {CZipException::badZipFile}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.stop ? ", stopped" : ""));
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(Fx().Path(c.file).c_str(), CZipBundle::zipOpenReadOnly));
        StopFirst cb;
        if (c.stop) zip.SetCallback(&cb);
        CZipMemFile out(1024);
        out.Write("prefix:", 7);
        EXPECT_TRUE(c.codes.count(CodeOf([&] { zip.ExtractFile(0, out, true, 64); })));
        EXPECT_EQ(out.GetPosition(), 7u);
        EXPECT_EQ(zip.CurrentFile(), nullptr);
    }
}

TEST(Read, FailedOpenLeavesNoDescriptorBehind) {
    auto openDescriptors = [] {
        size_t n = 0;
        for (auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
        return n;
    };
    size_t before = openDescriptors();
    for (const char* file : {"no_end_record.zip", "duplicate_offsets.zip", "zip64_locator.zip"}) {
        CZipBundle zip;
        EXPECT_NE(CodeOf([&] { zip.Open(Fx().Path(file).c_str(), CZipBundle::zipOpen); }), 0);
        EXPECT_TRUE(zip.IsClosed());
        // The same object opens a good archive afterwards.
        ASSERT_TRUE(zip.Open(Fx().Path("good.zip").c_str(), CZipBundle::zipOpenReadOnly));
        EXPECT_EQ(zip.GetCount(), 2);
        zip.Close();
    }
    EXPECT_EQ(openDescriptors(), before);
}

// ---- ZIP64 local headers over a plain directory ------------------------------------

// python's zipfile with force_zip64=True writes even small entries with
// local sizes 0xFFFFFFFF and the real ones in a ZIP64 record; written to a
// pipe, the sizes follow in descriptors with 8-byte sizes. Such entries read,
// test and extract, and every change leaves an archive that unzip, python
// and 7z take and that reads back to the same bytes.
struct Zip64Change {
    const char* label;
    // Changes the archive at path (or writes a new one there, from source),
    // with the password when one is given.
    std::function<void(const std::string& source, const std::string& path, const char* password)> apply;
    const char* password;  // the changed archive's, or null
};

const char kZip64Password[] = "python64";

// Every entry of source copied into a new archive at path.
void CopyOut(const std::string& source, const std::string& path, const char* password) {
    CZipBundle from, to;
    ASSERT_TRUE(from.Open(source.c_str(), CZipBundle::zipOpenReadOnly));
    ASSERT_TRUE(to.Open(path.c_str(), CZipBundle::zipCreate));
    if (password) {
        ASSERT_TRUE(to.SetPassword(password));
    }
    CZipArray<unsigned short> all;
    for (unsigned short i = 0; i < from.GetCount(); ++i) all.Add(i);
    ASSERT_TRUE(to.GetFromArchive(from, all));
    to.Close();
}

const std::vector<Zip64Change>& Zip64Changes() {
    static const std::vector<Zip64Change> changes = {
        {"unchanged", [](const std::string&, const std::string&, const char*) {}, nullptr},
        // One name longer, one shorter: the data behind each moves.
        {"renamed",
         [](const std::string&, const std::string& path, const char*) {
             CZipBundle zip;
             ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
             ASSERT_TRUE(zip[0]->SetFileName("renamed/text.kml"));
             ASSERT_TRUE(zip[1]->SetFileName("s.bin"));
             zip.Close();
         },
         nullptr},
        {"copied out", CopyOut, nullptr},
        {"copied out encrypted", CopyOut, kZip64Password},
        {"encrypted in place",
         [](const std::string&, const std::string& path, const char* password) {
             CZipBundle zip;
             ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
             ASSERT_TRUE(zip.SetPassword(password));
             ASSERT_TRUE(zip.EncryptFilesInternal(nullptr));
             zip.Close();
         },
         kZip64Password},
    };
    return changes;
}

// Each entry's local header and descriptor agree with its central record
// and with each other: a ZIP64 record goes with size fields of 0xFFFFFFFF
// and a descriptor with 8-byte sizes, none with 4-byte ones. Tools differ
// in how much of this they check.
std::string LocalFormProblems(const std::string& path) {
    const std::string b = ReadFile(path);
    const size_t end = b.size() - 22;
    std::string problems;
    size_t at = U32(b, end + 16);
    for (unsigned i = 0, count = U16(b, end + 10); i < count; ++i) {
        const unsigned flags = U16(b, at + 8), crc = U32(b, at + 16), packed = U32(b, at + 20),
                       size = U32(b, at + 24), local = U32(b, at + 42);
        const std::string name = b.substr(at + 46, U16(b, at + 28));
        at += 46 + U16(b, at + 28) + U16(b, at + 30) + U16(b, at + 32);
        const unsigned nameSize = U16(b, local + 26), extraSize = U16(b, local + 28);
        bool zip64 = false;
        for (size_t e = local + 30 + nameSize; e + 4 <= local + 30 + nameSize + extraSize; e += 4 + U16(b, e + 2))
            zip64 = zip64 || U16(b, e) == 1;
        const bool marked = U32(b, local + 18) == 0xFFFFFFFFu && U32(b, local + 22) == 0xFFFFFFFFu;
        if (zip64 != marked) problems += name + ": ZIP64 record and size fields disagree\n";
        if (!(flags & 8)) continue;
        size_t d = local + 30 + nameSize + extraSize + packed;
        if (U32(b, d) == 0x08074B50u) d += 4;
        const size_t width = zip64 ? 8 : 4;
        if (U32(b, d) != crc || U32(b, d + 4) != packed || U32(b, d + 4 + width) != size ||
            (zip64 && (U32(b, d + 8) != 0 || U32(b, d + 16) != 0)))
            problems += name + ": descriptor does not match\n";
    }
    return problems;
}

TEST(Read, Zip64LocalHeadersOfPythonReadAndChange) {
    for (const char* fixture : {"python_zip64_local.zip", "python_zip64_streamed.zip"}) {
        const std::string original = std::string(ZIP_TEST_DATA) + "/" + fixture;
        // What python reads is the truth, in entry order.
        ToolResult truth = RunTool("python3 -c 'import sys, zipfile\n"
                                   "for i in zipfile.ZipFile(sys.argv[1]).infolist(): "
                                   "print(i.filename, zipfile.ZipFile(sys.argv[1]).read(i).hex())' " +
                                       Quote(original),
                                   false);
        ASSERT_EQ(truth.status, 0) << truth.output;
        std::vector<std::string> data;
        std::istringstream lines(truth.output);
        for (std::string name, hex; lines >> name >> hex;) {
            std::string bytes;
            for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
            data.push_back(bytes);
        }
        ASSERT_EQ(data.size(), 2u);
        for (const Zip64Change& change : Zip64Changes()) {
            SCOPED_TRACE(std::string(fixture) + ", " + change.label);
            TempDir dir;
            const std::string source = dir.File("source.zip"), path = dir.File("changed.zip");
            WriteFile(source, ReadFile(original));
            WriteFile(path, ReadFile(original));
            change.apply(source, path, change.password);
            if (HasFatalFailure()) return;

            const std::string p = change.password ? change.password : "";
            ToolResult u = RunTool("unzip -t -P " + Quote(p) + " " + Quote(path));
            EXPECT_EQ(u.status, 0) << u.output;
            ToolResult z = RunTool("7z t -p" + Quote(p) + " " + Quote(path));
            EXPECT_EQ(z.status, 0) << z.output;
            ToolResult py = RunTool("python3 -c 'import sys, zipfile\n"
                                    "z = zipfile.ZipFile(sys.argv[1]); z.setpassword(sys.argv[2].encode())\n"
                                    "assert z.testzip() is None' " +
                                    Quote(path) + " " + Quote(p));
            EXPECT_EQ(py.status, 0) << py.output;
            EXPECT_EQ(LocalFormProblems(path), "");

            CZipBundle zip;
            ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
            if (change.password) {
                ASSERT_TRUE(zip.SetPassword(change.password));
            }
            ASSERT_EQ(zip.GetCount(), data.size());
            TempDir out;
            for (unsigned short i = 0; i < zip.GetCount(); ++i) {
                EXPECT_TRUE(zip.TestFile(i)) << i;
                EXPECT_TRUE(ExtractToMemory(zip, i) == data[i]) << i;
                ASSERT_TRUE(zip.ExtractFile(i, out.path().c_str())) << i;
                EXPECT_TRUE(ReadFile(out.File(zip[i]->GetFileName(false))) == data[i]) << i;
            }
        }
    }
}

// ---- hostile names and modes ------------------------------------------------------

TEST(Read, HostileNamesStayInsideTheTarget) {
    TempDir outer;
    std::string target = outer.File("target");
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(Fx().Path("hostile_names.zip").c_str(), CZipBundle::zipOpenReadOnly));
    std::map<std::string, std::string> where = {
        {"../evil1.txt", "evil1.txt"},         {"/tmp/evil2.txt", "tmp/evil2.txt"},
        {"a/../../evil3.txt", "a/evil3.txt"},  {"C:\\evil4.txt", "C:/evil4.txt"},
        {"..\\evil5.txt", "evil5.txt"},        {"./ok/./six.txt", "ok/six.txt"},
    };
    for (unsigned short i = 0; i < zip.GetCount(); ++i) {
        std::string raw(zip[i]->GetFileName(false));
        std::string original = raw;
        // Names were read with backslashes turned into separators.
        for (auto& w : where) {
            std::string n = w.first;
            for (char& c : n)
                if (c == '\\') c = '/';
            if (n == raw) original = w.first;
        }
        if (raw == "../" || raw == ".") {
            EXPECT_FALSE(zip.ExtractFile(i, target.c_str())) << raw;
            continue;
        }
        ASSERT_TRUE(where.count(original)) << raw;
        EXPECT_TRUE(zip.ExtractFile(i, target.c_str())) << raw;
        EXPECT_EQ(ReadFile(target + "/" + where[original]), original) << raw;
        EXPECT_EQ(zip.PredictExtractedFileName(raw.c_str(), target.c_str(), true), target + "/" + where[original]);
    }
    // Nothing landed beside the target or in /tmp.
    std::set<std::string> outside;
    for (auto& e : fs::directory_iterator(outer.path())) outside.insert(e.path().filename().string());
    EXPECT_EQ(outside, std::set<std::string>{"target"});
    EXPECT_FALSE(fs::exists("/tmp/evil2.txt"));
}

TEST(Read, ExtractedModesAreMaskedAndOnlyFilesAndDirectoriesAreMade) {
    TempDir out;
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(Fx().Path("modes.zip").c_str(), CZipBundle::zipOpenReadOnly));
    for (unsigned short i = 0; i < zip.GetCount(); ++i) EXPECT_TRUE(zip.ExtractFile(i, out.path().c_str()));
    zip.Close();  // directory modes are set once nothing more goes into them
    // Special files keep their own bits, never wider ones; a link's bits
    // say nothing and give way to the default.
    struct {
        const char* name;
        unsigned mode;
    } expected[] = {{"setuid.sh", 0100755}, {"worldwrite.txt", 0100666}, {"link", 0100644},
                    {"device", 0100600},    {"fifo", 0100600},           {"socket", 0100640},
                    {"sticky.txt", 0100644}, {"wdir", 040777}};
    for (auto& e : expected) EXPECT_EQ(ModeOf(out.File(e.name)), e.mode) << e.name;
    EXPECT_EQ(ReadFile(out.File("link")), "target");
}

// ---- reading what the library wrote ---------------------------------------------------

TEST(Read, EntriesReadInPiecesCloseWithTheirResults) {
    CZipMemFile mem(1024);
    std::string text = KmlLikeText(300000), random = RandomBytes(70000);
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate));
        for (auto& e : {std::make_pair("Doc/Text.kml", &text), std::make_pair("random.bin", &random)}) {
            CZipMemFile source(1024);
            source.Write(e.second->data(), unsigned(e.second->size()));
            ASSERT_TRUE(zip.AddNewFile(source, e.first, 6, CZipBundle::zipsmSafeSmart | CZipBundle::zipsmCheckForEff));
        }
        ASSERT_TRUE(zip.SetGlobalComment("the comment"));
        zip.Close();
    }
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipOpenReadOnly));
    EXPECT_EQ(zip.GetGlobalComment(), "the comment");
    EXPECT_TRUE(zip.IsReadOnly());
    EXPECT_FALSE(zip.AddNewFile(mem, "no.txt"));  // read-only
    EXPECT_EQ(zip.FindFile("doc/text.kml"), 0xFFFF);
    EXPECT_EQ(zip.FindFile("doc/text.kml", CZipBundle::ffNoCaseSens), 0);
    EXPECT_EQ(zip.FindFile("Text.kml", CZipBundle::ffDefault, true), 0);
    EXPECT_EQ(zip.FindFile("random.bin"), 1);
    EXPECT_EQ(zip.WillBeDuplicated("/elsewhere/random.bin", false), 1);
    EXPECT_EQ(zip.WillBeDuplicated("/elsewhere/random.bin", true), 0xFFFF);

    // A piece, then closed early: -1, no CRC check possible.
    ASSERT_TRUE(zip.OpenFile(0));
    EXPECT_FALSE(zip.OpenFile(1));  // one at a time
    char buf[1000];
    EXPECT_EQ(zip.ReadFile(buf, sizeof buf), sizeof buf);
    EXPECT_EQ(std::string(buf, sizeof buf), text.substr(0, sizeof buf));
    EXPECT_EQ(zip.CloseFile(), -1);
    EXPECT_EQ(zip.CloseFile(), 0);

    // Read to the end: 1.
    ASSERT_TRUE(zip.OpenFile(1));
    std::string back;
    for (unsigned n; (n = zip.ReadFile(buf, sizeof buf)) > 0;) back.append(buf, n);
    EXPECT_EQ(back, random);
    EXPECT_EQ(zip.CloseFile(), 1);
    EXPECT_EQ(ExtractToMemory(zip, 0, 7), text);

    // A second read-only view shares the directory; a view of an archive
    // open for changes needs asking for.
    CZipBundle view, writable;
    ASSERT_TRUE(writable.Open(mem, CZipBundle::zipOpen));
    EXPECT_FALSE(view.OpenFrom(writable));
    EXPECT_TRUE(view.OpenFrom(writable, nullptr, true));
    view.Close();
    writable.Close();
    EXPECT_TRUE(view.OpenFrom(zip));
    EXPECT_EQ(view.GetCount(), 2);
    EXPECT_EQ(ExtractToMemory(view, 1), random);
    EXPECT_FALSE(view.OpenFrom(zip));  // already open
    view.Close();
    zip.Close();

    EXPECT_TRUE(CZipBundle::IsZipFile(mem));
    CZipMemFile notZip(1024);
    notZip.Write("just text", 9);
    EXPECT_FALSE(CZipBundle::IsZipFile(notZip));
    EXPECT_FALSE(CZipBundle::IsZipFile("/nonexistent/file.zip"));
}

TEST(Read, NamesArePredictedUnderTheRootPath) {
    CZipMemFile mem(1024);
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipCreate));
    struct {
        const char* root;
        const char* path;
        bool fullPath;
        const char* name;
    } cases[] = {
        {"/data/in", "/data/in/sub/a.txt", false, "sub/a.txt"},
        {"/data/in", "/data/inner/a.txt", false, "a.txt"},
        {"", "dir/", true, "dir/"},
        {"", "///", true, ""},
    };
    for (auto& c : cases) {
        CZipRootPathRestorer restorer;
        restorer.SetNewRootPath(&zip, c.root);
        EXPECT_EQ(zip.PredictFileNameInZip(c.path, c.fullPath), c.name) << c.path;
    }
    EXPECT_EQ(zip.GetRootPath(), "");  // every restorer put the old one back
    EXPECT_EQ(zip.PredictExtractedFileName("sub/dir/", "out", true), "out/sub/dir");
    EXPECT_EQ(zip.PredictExtractedFileName("sub/a.txt", "out", true, "b/c.txt"), "out/b/c.txt");
    zip.SetRootPath("sub");
    EXPECT_EQ(zip.PredictExtractedFileName("sub/x/a.txt", "out", false), "out/x/a.txt");
    zip.Close();
}

// "end." and "end" are two files to zip and unzip: added from disk, both
// names are stored whole and extract to two files.
TEST(Read, TrailingDotsStayInNamesBothWays) {
    TempDir src, out;
    WriteFile(src.File("report."), "with dot");
    WriteFile(src.File("report"), "without");
    WriteFile(src.File("..."), "three dots");
    std::string archive = src.File("dots.zip");
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
        for (const char* name : {"report.", "report", "..."})
            ASSERT_TRUE(zip.AddNewFile(src.File(name).c_str(), -1, false)) << name;
        zip.Close();
    }
    ToolResult listing = RunTool("zipinfo -1 " + Quote(archive), false);
    EXPECT_EQ(listing.output, "report.\nreport\n...\n");
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly));
    for (unsigned short i = 0; i < zip.GetCount(); ++i) EXPECT_TRUE(zip.ExtractFile(i, out.path().c_str()));
    EXPECT_EQ(ReadFile(out.File("report.")), "with dot");
    EXPECT_EQ(ReadFile(out.File("report")), "without");
    EXPECT_EQ(ReadFile(out.File("...")), "three dots");
}

TEST(Read, ExtractionKeepsANewerFileOnlyWhenAsked) {
    TempDir out;
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(Fx().Path("good.zip").c_str(), CZipBundle::zipOpenReadOnly));
    std::string path = out.File("a.txt");
    WriteFile(path, "newer local copy");
    time_t entryTime = zip[0]->GetModificationTime();
    struct utimbuf same = {entryTime, entryTime};
    utime(path.c_str(), &same);
    EXPECT_TRUE(zip.ExtractFile(0, out.path().c_str(), true, nullptr, ZipPlatform::fomOnlyIfNewer));
    EXPECT_EQ(ReadFile(path), "newer local copy");
    EXPECT_EQ(zip.ExtractFile(0, out.path().c_str(), true, nullptr, ZipPlatform::fomNone, 0), false);
    EXPECT_TRUE(zip.ExtractFile(0, out.path().c_str()));
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += "hello, reader\n";
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(Read, TheKmzOfTheExportReadsBackToItsDocument) {
    std::string kml = KmlLikeText(200000), archive;
    ASSERT_EQ(PackKmz(kml, archive), KmzStatus::Packed);
    CZipMemFile mem(1024);
    mem.Write(archive.data(), unsigned(archive.size()));
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(mem, CZipBundle::zipOpenReadOnly));
    ASSERT_EQ(zip.GetCount(), 1);
    EXPECT_EQ(std::string(zip[0]->GetFileName(false)), "aisBrinecastSnapshot.kml");
    EXPECT_TRUE(zip.TestFile(0));
    EXPECT_EQ(ExtractToMemory(zip, 0), kml);
}

// ---- adding to an existing archive ---------------------------------------------------------

TEST(Read, AddingToAnExistingArchiveKeepsEveryToolHappy) {
    for (const char* file : {"zip_r.zip", "python.zip", "sfx.zip"}) {
        if (!Fx().toolArchives.count(file)) continue;
        TempDir work;
        std::string path = work.File(file);
        fs::copy_file(Fx().Path(file), path);
        std::string added = KmlLikeText(5000);
        {
            CZipBundle zip;
            ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
            unsigned short before = zip.GetCount();
            CZipMemFile source(1024);
            source.Write(added.data(), unsigned(added.size()));
            ASSERT_TRUE(zip.AddNewFile(source, "added/new.kml", 9));
            EXPECT_EQ(zip.GetCount(), before + 1);
            zip.Close();
        }
        if (std::string(file) == "sfx.zip") {
            // 7z opens no archive behind a stub, before or after the add.
            EXPECT_LE(RunTool("unzip -tq " + Quote(path)).status, 1);
            EXPECT_EQ(RunTool("python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " +
                              Quote(path)).status, 0);
        } else {
            ExpectArchiveValid(path);
        }
        EXPECT_EQ(UnzipEntry(path, "added/new.kml"), added);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
        for (unsigned short i = 0; i < zip.GetCount(); ++i) EXPECT_TRUE(zip.TestFile(i)) << file;
        if (std::string(file) == "python.zip") {
            EXPECT_EQ(zip.GetGlobalComment(), "python comment");
        }
    }

    // In memory: the new entry takes the old directory's place.
    std::unique_ptr<CZipMemFile> mem(LoadIntoMemory(Fx().Path("good.zip")));
    unsigned long long directoryAt = U32(ReadFile(Fx().Path("good.zip")), ReadFile(Fx().Path("good.zip")).size() - 6);
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(*mem, CZipBundle::zipOpen));
        CZipMemFile source(1024);
        source.Write("third", 5);
        ASSERT_TRUE(zip.AddNewFile(source, "c.txt", 0));
        EXPECT_EQ(zip[2]->m_uOffset, directoryAt);
        zip.Close();
    }
    CZipBundle zip;
    ASSERT_TRUE(zip.Open(*mem, CZipBundle::zipOpenReadOnly));
    ASSERT_EQ(zip.GetCount(), 3);
    EXPECT_EQ(ExtractToMemory(zip, 2), "third");
    EXPECT_TRUE(zip.TestFile(0));
}

}  // namespace

namespace {

TEST(Read, TheEndRecordIsFoundSearchingBackwards) {
    const std::string end("PK\x05\x06", 4);
    struct {
        const char* what;
        std::string bytes;
        unsigned long long found;
    } cases[] = {
        {"only an end record", end + std::string(18, '\0'), 0},
        {"shorter than a signature", "PK\x05", CZipStorage::SignatureNotFound},
        {"across two chunks", std::string(40000, 'x') + end + std::string(32766, 'y'), 40000},
        {"the later of two", end + std::string(100, 'z') + end + std::string(18, '\0'), 104},
        {"at the deepest place", end + std::string(65553, 'c'), 0},
        {"one byte too deep", end + std::string(65554, 'c'), CZipStorage::SignatureNotFound},
        {"a partial match first", std::string("PK\x05PK\x05\x06", 7) + std::string(20, 'q'), 3},
    };
    for (auto& c : cases) {
        CZipMemFile mem(1024);
        mem.Write(c.bytes.data(), unsigned(c.bytes.size()));
        CZipStorage storage;
        storage.Open(mem, CZipBundle::zipOpenReadOnly, false);
        mem.SeekToEnd();
        EXPECT_EQ(storage.LocateSignature(const_cast<char*>(end.data()), 22 + 0xFFFF), c.found) << c.what;
        storage.Close(false);
    }
}

}  // namespace

// A callback that stops a copy: with data still to read the entry is cut
// short (206); once the last byte is read the stop is safe (207), the entry
// closed normally. Either way no entry stays open.
TEST(Read, ACallbackStopsACopyWithItsCode) {
    const std::string data = RandomBytes(5000, 7);
    CZipMemFile mem(1024);
    {
        CZipBundle archive;
        ASSERT_TRUE(archive.Open(mem, CZipBundle::zipCreate));
        CZipMemFile source(1024);
        source.Write(data.data(), unsigned(data.size()));
        ASSERT_TRUE(archive.AddNewFile(source, "data.bin", 0));
        archive.Close();
    }
    struct StopAt : CZipActionCallback {
        int stopAt = 0, calls = 0;
        bool OnProgress(unsigned long long) override { return ++calls != stopAt; }
    };
    // Reads of 1000 bytes: one call per read, the fifth reads the last byte.
    const struct {
        int stopAt;
        int code;
    } cases[] = {{1, CZipException::abortedAction}, {4, CZipException::abortedAction},
                 {5, CZipException::abortedSafely}};
    for (const auto& c : cases) {
        for (bool test : {false, true}) {
            SCOPED_TRACE(std::string(test ? "test" : "extract") + " stopped at call " + std::to_string(c.stopAt));
            CZipBundle archive;
            ASSERT_TRUE(archive.Open(mem, CZipBundle::zipOpenReadOnly));
            StopAt cb;
            cb.stopAt = c.stopAt;
            archive.SetCallback(&cb);
            CZipMemFile out(1024);
            EXPECT_EQ(CodeOf([&] { test ? archive.TestFile(0, 1000) : archive.ExtractFile(0, out, false, 1000); }), c.code);
            archive.SetCallback(nullptr);
            EXPECT_TRUE(archive.TestFile(0));  // nothing left open
            archive.Close();
        }
    }
}
