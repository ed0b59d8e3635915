// Reading existing archives: damaged archives give the documented codes
// and leave nothing open.
#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>

#include "ZipBundle.h"
#include "export/kmz.h"
#include "ZipMemFile.h"
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






CZipMemFile* LoadIntoMemory(const std::string& path) {
    std::string bytes = ReadFile(path);
    CZipMemFile* mem = new CZipMemFile(1024);
    mem->Write(bytes.data(), unsigned(bytes.size()));
    return mem;
}

// ---- damaged archives -----------------------------------------------------------

// What reading a damaged archive gives: the code of the exception at Open,
// or at the first entry operation that fails (0: none).
struct Damage {
    const char* file;
    int openCode;
    std::set<int> readCodes;  // codes TestFile of every entry may raise
    bool openFileRefused;     // OpenFile of entry 0 returns false
};

class DamagedArchive : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedArchive, GivesTheDocumentedCode) {
    const Damage& d = GetParam();
    for (bool inMemory : {false, true}) {
        std::unique_ptr<CZipMemFile> mem(LoadIntoMemory(Fx().Path(d.file)));
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
    }
}

INSTANTIATE_TEST_SUITE_P(
    Read, DamagedArchive,
    ::testing::Values(Damage{"no_end_record.zip", 221, {}, false}, Damage{"cut_end_record.zip", 201, {}, false},
                      Damage{"duplicate_offsets.zip", 201, {}, false},
                      Damage{"directory_past_end.zip", 201, {}, false},
                      Damage{"zip64_locator.zip", 222, {}, false}),
    [](const ::testing::TestParamInfo<Damage>& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

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
