// Archives written by the library, on disk and in memory, checked with the
// real tools: unzip, python's zipfile, 7z and zipinfo.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"
#include "zip_test_util.h"

namespace {

struct Entry {
    std::string name;
    std::string data;
    std::string perms;   // as zipinfo shows them
    std::string method;  // zipinfo's method and level: stor, defS, defF, defN, defX
    std::string time;    // zipinfo -T form, or empty for "now"
};

// Adds entries to an open archive and says what the tools must find.
typedef std::function<std::vector<Entry>(CZipBundle&, const TempDir&)> Filler;

std::string MakeFile(const TempDir& dir, const std::string& name, const std::string& data, mode_t mode,
                     const char* utcTime) {
    std::string path = dir.File(name);
    WriteFile(path, data);
    chmod(path.c_str(), mode);
    struct tm t{};
    strptime(utcTime, "%Y-%m-%d %H:%M:%S", &t);
    struct utimbuf ub;
    ub.actime = ub.modtime = timegm(&t);
    utime(path.c_str(), &ub);
    return path;
}

bool AddMemory(CZipBundle& zip, const std::string& name, const std::string& data, int level, int smartness = 7) {
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    return zip.AddNewFile(source, name.c_str(), level, smartness, 65536);
}

const char* MethodOf(int level) {
    switch (level) {
    case 0: return "stor";
    case 1: return "defS";
    case 2: return "defF";
    case 8:
    case 9: return "defX";
    default: return "defN";
    }
}

struct Case {
    const char* label;
    Filler fill;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"OneFileFromDisk",
         [](CZipBundle& zip, const TempDir& dir) {
             std::string data = KmlLikeText(5000);
             std::string path = MakeFile(dir, "report.txt", data, 0640, "2024-01-02 03:04:06");
             EXPECT_TRUE(zip.AddNewFile(path.c_str(), "report.txt", 9));
             return std::vector<Entry>{{"report.txt", data, "-rw-r-----", "defX", "20240102.030406"}};
         }},
        {"SeveralEntries",
         [](CZipBundle& zip, const TempDir& dir) {
             std::string a = KmlLikeText(3000), b = "plain text\n", c = RandomBytes(1000, 3);
             EXPECT_TRUE(AddMemory(zip, "a.kml", a, 9));
             std::string path = MakeFile(dir, "b.txt", b, 0600, "2030-06-15 12:00:00");
             EXPECT_TRUE(zip.AddNewFile(path.c_str(), "sub/b.txt", 6));
             EXPECT_TRUE(AddMemory(zip, "c.bin", c, 0));
             return std::vector<Entry>{{"a.kml", a, "-rw-r--r--", "defX", ""},
                                       {"sub/b.txt", b, "-rw-------", "defN", "20300615.120000"},
                                       {"c.bin", c, "-rw-r--r--", "stor", ""}};
         }},
        {"Empty", [](CZipBundle&, const TempDir&) { return std::vector<Entry>{}; }},
        {"TinySourcesAreStored",
         [](CZipBundle& zip, const TempDir&) {
             EXPECT_TRUE(AddMemory(zip, "three", "abc", 9));
             EXPECT_TRUE(AddMemory(zip, "four", "abcd", 9));
             EXPECT_TRUE(AddMemory(zip, "nothing", "", 9));
             return std::vector<Entry>{{"three", "abc", "-rw-r--r--", "stor", ""},
                                       {"four", "abcd", "-rw-r--r--", "stor", ""},
                                       {"nothing", "", "-rw-r--r--", "stor", ""}};
         }},
        {"DirectoryAndItsFile",
         [](CZipBundle& zip, const TempDir& dir) {
             std::string tree = dir.File("tree");
             mkdir(tree.c_str(), 0750);
             chmod(tree.c_str(), 0750);
             std::string leaf = MakeFile(dir, "tree/leaf.txt", "leaf\ndata\n", 0644, "2020-02-29 23:59:58");
             struct utimbuf ub;
             struct tm t{};
             strptime("2021-03-04 05:06:08", "%Y-%m-%d %H:%M:%S", &t);
             ub.actime = ub.modtime = timegm(&t);
             utime(tree.c_str(), &ub);
             CZipAddNewFileInfo info(tree.c_str(), "tree");
             EXPECT_TRUE(zip.AddNewFile(info));
             EXPECT_EQ(info.m_szFileNameInZip, "tree");
             EXPECT_TRUE(zip.AddNewFile(leaf.c_str(), "tree/leaf.txt", 9));
             return std::vector<Entry>{{"tree/", "", "drwxr-x---", "stor", "20210304.050608"},
                                       {"tree/leaf.txt", "leaf\ndata\n", "-rw-r--r--", "defX", "20200229.235958"}};
         }},
        {"TenMegabytesIncompressible",
         [](CZipBundle& zip, const TempDir&) {
             std::string data = RandomBytes(10 * 1024 * 1024, 11);
             EXPECT_TRUE(AddMemory(zip, "noise.bin", data, 1));
             return std::vector<Entry>{{"noise.bin", data, "-rw-r--r--", "defS", ""}};
         }},
        {"EveryLevel",
         [](CZipBundle& zip, const TempDir&) {
             std::vector<Entry> entries;
             std::string data = KmlLikeText(20000);
             for (int level = -1; level <= 9; ++level) {
                 std::string name = "level" + std::to_string(level) + ".kml";
                 EXPECT_TRUE(AddMemory(zip, name, data, level));
                 entries.push_back({name, data, "-rw-r--r--", MethodOf(level), ""});
             }
             return entries;
         }},
        {"IneffectiveDeflateIsStoredInstead",
         [](CZipBundle& zip, const TempDir&) {
             std::string noise = RandomBytes(2000, 5), text = KmlLikeText(2000);
             EXPECT_TRUE(AddMemory(zip, "noise", noise, 9, CZipBundle::zipsmSmartest));
             EXPECT_TRUE(AddMemory(zip, "text", text, 9, CZipBundle::zipsmSmartest));
             return std::vector<Entry>{{"noise", noise, "-rw-r--r--", "stor", ""},
                                       {"text", text, "-rw-r--r--", "defX", ""}};
         }},
    };
    return cases;
}

std::vector<std::string> Fields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> f;
    std::string w;
    while (in >> w) f.push_back(w);
    return f;
}

std::set<std::string> TimesAround(time_t from, time_t to) {
    std::set<std::string> times;
    for (time_t t = from; t <= to; ++t) {
        struct tm tm{};
        time_t even = t & ~time_t(1);
        gmtime_r(&even, &tm);
        char buf[32];
        strftime(buf, sizeof buf, "%Y%m%d.%H%M%S", &tm);
        times.insert(buf);
    }
    return times;
}

void CheckWithTools(const std::string& archive, const std::vector<Entry>& entries, time_t from, time_t to) {
    ExpectArchiveValid(archive, entries.empty());
    ToolResult info = RunTool("zipinfo -T " + Quote(archive));
    std::istringstream lines(info.output);
    std::string line;
    std::vector<std::vector<std::string>> rows;
    while (std::getline(lines, line)) {
        std::vector<std::string> f = Fields(line);
        if (f.size() == 8 && f[2] == "unx") rows.push_back(f);
    }
    ASSERT_EQ(rows.size(), entries.size()) << info.output;
    const std::set<std::string> now = TimesAround(from, to);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const std::vector<std::string>& f = rows[i];
        EXPECT_EQ(f[7], e.name);
        EXPECT_EQ(f[0], e.perms) << e.name;
        EXPECT_EQ(f[1], "2.0") << e.name;
        EXPECT_EQ(f[3], std::to_string(e.data.size())) << e.name;
        EXPECT_EQ(f[5], e.method) << e.name;
        if (e.time.empty()) {
            EXPECT_TRUE(now.count(f[6])) << e.name << " " << f[6];
        } else {
            EXPECT_EQ(f[6], e.time) << e.name;
        }
        if (e.name.back() != '/') {
            EXPECT_TRUE(UnzipEntry(archive, e.name) == e.data) << e.name;
        }
    }
}

class Interop : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(Interop, ToolsReadBackWhatWasWritten) {
    const Case& c = Cases()[std::get<0>(GetParam())];
    const bool inMemory = std::get<1>(GetParam());
    TempDir dir;
    const std::string archive = dir.File("out.zip");
    time_t from = time(nullptr);
    std::vector<Entry> entries;
    CZipBundle zip;
    CZipMemFile image(1024);
    if (inMemory) ASSERT_TRUE(zip.Open(image, CZipBundle::zipCreate, false));
    else ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
    entries = c.fill(zip, dir);
    CZipString closed = zip.Close();
    time_t to = time(nullptr);
    if (inMemory) {
        EXPECT_EQ(closed, "");
        WriteFile(archive, std::string(image.GetData() ? image.GetData() : "", size_t(image.GetLength())));
    } else {
        EXPECT_EQ(closed, archive);
    }
    CheckWithTools(archive, entries, from, to);
}

INSTANTIATE_TEST_SUITE_P(Archives, Interop,
                         ::testing::Combine(::testing::Range<size_t>(0, Cases().size()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, bool>>& p) {
                             return std::string(Cases()[std::get<0>(p.param)].label) +
                                    (std::get<1>(p.param) ? "_InMemory" : "_OnDisk");
                         });

}  // namespace
