// Segmented archives: the names of their volumes; split archives of
// `zip -s` are read, their volumes found by name or by a callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "zip/ZipBundle.h"
#include "zip/ZipSegmCallback.h"
#include "zip/ZipSplitNamesHandler.h"
#include "zip_test_util.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;

// Sources with an entry larger than several volumes (incompressible), a
// directory, an empty file and a text that deflates.
Files WriteSources(const std::string& dir) {
    Files files = {
        {"big.bin", RandomBytes(150000, 3)},
        {"mid.bin", RandomBytes(30000, 4)},
        {"sub/text.txt", KmlLikeText(20000)},
        {"empty.txt", ""},
        {"small.txt", "hello\n"},
    };
    fs::create_directories(dir + "/sub");
    for (const auto& f : files) WriteFile(dir + "/" + f.first, f.second);
    return files;
}

// Tests every entry and extracts it into out, which must then hold
// exactly the sources.
void ExpectReadsBack(CZipBundle& zip, const std::string& out, const Files& files) {
    for (unsigned short i = 0; i < zip.GetCount(); ++i) {
        EXPECT_TRUE(zip.TestFile(i)) << zip[i]->GetFileName(false);
        EXPECT_TRUE(zip.ExtractFile(i, out.c_str())) << zip[i]->GetFileName(false);
    }
    for (const auto& f : files) EXPECT_EQ(ReadFile(out + "/" + f.first), f.second) << f.first;
}

// A split callback that finds volumes moved elsewhere, or gives up.
struct SplitCallback : CZipSegmCallback {
    std::string movedTo;  // folder a missing volume was moved into
    bool giveUp = false;
    std::vector<int> codes;
    bool OnVolumeNeeded(unsigned) override {
        codes.push_back(m_iCode);
        if (giveUp) return false;
        if (m_iCode == scFileNotFound) m_szExternalFile = movedTo + "/" + fs::path(std::string(m_szExternalFile)).filename().string();
        return true;
    }
};

}  // namespace

TEST(SegmentedNames, VolumesAndNumbers) {
    struct Case {
        bool binary;
        const char* archive;
        unsigned short volume;
        int flags;
        const char* name;
    } cases[] = {
        {false, "/d/a.zip", 1, 0, "/d/a.z01"},
        {false, "/d/a.zip", 99, 0, "/d/a.z99"},
        {false, "/d/a.zip", 100, 0, "/d/a.z100"},
        {false, "/d/a.zip", 3, CZipSplitNamesHandler::flLast, "/d/a.zip"},
        {false, "/d.x/a", 2, 0, "/d.x/a.z02"},
        {true, "/d/a.zip", 1, 0, "/d/a.zip.001"},
        {true, "/d/a.zip", 1000, 0, "/d/a.zip.1000"},
        {true, "/d/a.zip.003", 1, CZipSplitNamesHandler::flExisting, "/d/a.zip.001"},
    };
    for (const Case& c : cases) {
        CZipRegularSplitNamesHandler regular;
        CZipBinSplitNamesHandler binary;
        CZipSplitNamesHandler& h = c.binary ? static_cast<CZipSplitNamesHandler&>(binary) : regular;
        h.Initialize(c.archive);
        EXPECT_EQ(h.GetVolumeName(c.archive, c.volume, c.flags), c.name) << c.archive << " " << c.volume;
    }
    CZipBinSplitNamesHandler binary;
    for (auto& n : std::map<std::string, unsigned>{
             {"a.zip", 0}, {"a.007", 7}, {"a.00x", 0}, {"a.01", 0}, {"a.000", 0}, {"a.4294967296", 0}, {"a.1000", 1000}})
        EXPECT_EQ(binary.GetVolumeNumber(n.first.c_str()), n.second) << n.first;
}

TEST(Segmented, ReadsZipSplitArchives) {
    TempDir src, dir, out;
    Files files = WriteSources(src.path());
    const std::string archive = dir.File("a.zip");
    ToolResult made = RunTool("cd " + Quote(src.path()) + " && zip -q -r -s 64k " + Quote(archive) + " .");
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_TRUE(fs::exists(dir.File("a.z02"))) << "three volumes at least";

    // Linux counts every drive removable: without the split mode the
    // archive is taken for a spanned one, which needs its callback.
    CZipBundle plain;
    EXPECT_EQ(CodeOf([&] { plain.Open(archive.c_str(), CZipBundle::zipOpen); }), 203);
    EXPECT_TRUE(plain.IsClosed());

    CZipBundle zip;
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenSplit));
    EXPECT_TRUE(zip.IsReadOnly());
    EXPECT_EQ(zip.GetCount(), files.size() + 1);  // and sub/
    ExpectReadsBack(zip, out.path(), files);
    EXPECT_TRUE(zip.ResetCurrentVolume());
    EXPECT_TRUE(zip.TestFile(zip.FindFile("big.bin")));
    EXPECT_EQ(zip.Close(), archive);

    // A volume moved away: missing without a callback, found by one.
    fs::create_directories(dir.File("moved"));
    fs::rename(dir.File("a.z01"), dir.File("moved/a.z01"));
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenSplit));
    unsigned short big = zip.FindFile("big.bin");
    EXPECT_EQ(CodeOf([&] { zip.TestFile(big); }), 217);
    zip.Close();
    // The callback is the one set when the archive opens.
    SplitCallback find, giveUp;
    find.movedTo = dir.File("moved");
    giveUp.giveUp = true;
    for (SplitCallback* cb : {&find, &giveUp}) {
        zip.SetSegmCallback(cb, CZipBundle::scSplit);
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenSplit));
        EXPECT_EQ(CodeOf([&] { zip.TestFile(big); }), cb == &find ? 0 : 205);
        zip.Close();
    }
    EXPECT_NE(std::find(find.codes.begin(), find.codes.end(), int(CZipSegmCallback::scFileNotFound)), find.codes.end());

    CZipBundle ordinary;
    ASSERT_TRUE(ordinary.Open(archive.c_str(), CZipBundle::zipCreate));
    EXPECT_FALSE(ordinary.ResetCurrentVolume());
    ordinary.Close();
}
