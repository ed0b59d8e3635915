// Segmented archives: split archives of `zip -s` are read; our split,
// binary-split and spanned archives are read back and pass 7z (and, joined,
// unzip and python); an archive that never left its first volume becomes
// an ordinary one; volume callbacks and their failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"
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

void AddSources(CZipBundle& zip, const std::string& dir, const Files& files) {
    for (const auto& f : files) ASSERT_TRUE(zip.AddNewFile((dir + "/" + f.first).c_str(), f.first.c_str())) << f.first;
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

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) names.insert(e.path().filename().string());
    return names;
}

// A split callback that finds volumes moved elsewhere, or gives up.
struct SplitCallback : CZipSegmCallback {
    std::string movedTo;  // folder a missing volume was moved into
    bool giveUp = false;
    std::vector<int> codes;
    bool OnVolumeNeeded(unsigned) override {
        codes.push_back(m_iCode);
        if (giveUp) return false;
        if (m_iCode == scFileNotFound)
            m_szExternalFile = movedTo + "/" + fs::path(std::string(m_szExternalFile)).filename().string();
        return true;
    }
};

// Spanned disks: the archive is written at drive/a.zip; each full volume is
// moved to disks/<number>/a.zip when the next one is asked for, and read
// back from there.
struct DiskCallback : CZipSegmCallback {
    std::string disks;
    unsigned lastWritten = 0;
    unsigned calls = 0;
    std::string Disk(unsigned number) const { return disks + "/" + std::to_string(number); }
    bool OnVolumeNeeded(unsigned) override {
        ++calls;
        std::string path = m_szExternalFile;
        if (m_iCode == scVolumeNeededForRead) {
            m_szExternalFile = Disk(m_uVolumeNeeded) + "/a.zip";
            return true;
        }
        lastWritten = m_uVolumeNeeded;
        if (fs::exists(path)) {
            fs::create_directories(Disk(m_uVolumeNeeded - 1));
            fs::rename(path, Disk(m_uVolumeNeeded - 1) + "/a.zip");
        }
        return true;
    }
};

// A drive of the given capacity holding only the volume being written.
CZipStorage::FreeSpaceQuery DriveOf(unsigned long long capacity) {
    return [capacity](const char* dir) -> unsigned long long {
        std::error_code ec;
        unsigned long long used = fs::file_size(std::string(dir) + "/a.zip", ec);
        if (ec) used = 0;
        return used < capacity ? capacity - used : 0;
    };
}

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
             {"a.zip", 0}, {"a.007", 7}, {"a.00x", 0}, {"a.01", 0}, {"a.000", 0}, {"a.4294967296", 0},
             {"a.1000", 1000}})
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

// Our split archives: 7z tests and extracts them as we do, with volumes of
// a normal size, with more than 100 volumes (".z100") and with headers
// larger than a volume, which go whole into one.
TEST(Segmented, SplitArchivesWeWrite) {
    struct Case {
        unsigned volumeSize;
        size_t nameLength;  // of an extra entry; 0 for none
        bool finalize;      // finished by Finalize and read before Close
    } cases[] = {{65536, 0, true}, {1500, 0, false}, {256, 600, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volumeSize);
        TempDir src, dir, mine, theirs;
        Files files = WriteSources(src.path());
        if (c.nameLength) {
            std::string name =
                std::string(200, 'n') + "/" + std::string(200, 'm') + "/" + std::string(c.nameLength - 402, 'o');
            fs::create_directories(src.path() + "/" + fs::path(name).parent_path().string());
            files[name] = "behind a long header";
            WriteFile(src.path() + "/" + name, files[name]);
        }
        const std::string archive = dir.File("a.zip");
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreateSplit, c.volumeSize));
        AddSources(zip, src.path(), files);
        if (c.finalize) {
            ASSERT_TRUE(zip.Finalize());
            EXPECT_TRUE(zip.IsReadOnly());
            EXPECT_TRUE(fs::exists(archive));
            ExpectReadsBack(zip, mine.path(), files);
        }
        EXPECT_EQ(zip.Close(), archive);

        std::set<std::string> volumes = FilesIn(dir.path());
        ASSERT_TRUE(volumes.count("a.zip") && volumes.count("a.z01") && volumes.count("a.z02"));
        if (c.volumeSize == 1500) {
            EXPECT_TRUE(volumes.count("a.z100"));
        }
        std::string first = ReadFile(dir.File("a.z01"));
        EXPECT_EQ(first.substr(0, 4), std::string("PK\x07\x08", 4));
        for (const std::string& v : volumes) {
            auto size = fs::file_size(dir.File(v));
            // Only a volume that starts with a header larger than a volume
            // may pass the size.
            if (size > c.volumeSize) {
                EXPECT_GT(c.nameLength, c.volumeSize) << v;
            }
        }

        ToolResult t = RunTool("7z t " + Quote(archive));
        EXPECT_EQ(t.status, 0) << t.output;
        ToolResult x = RunTool("7z x -y -o" + Quote(theirs.path()) + " " + Quote(archive));
        EXPECT_EQ(x.status, 0) << x.output;
        for (const auto& f : files) EXPECT_EQ(ReadFile(theirs.File(f.first)), f.second) << f.first;

        CZipBundle again;
        ASSERT_TRUE(again.Open(archive.c_str(), CZipBundle::zipOpenSplit));
        EXPECT_EQ(again.GetCount(), files.size());
        ExpectReadsBack(again, mine.path(), files);
        again.Close();
    }
}

// Entries copied out of split and binary-split archives whose data
// crosses volumes come whole.
TEST(Segmented, CopiesOutOfSegmentedArchives) {
    for (int mode : {CZipBundle::zipModeSplit, CZipBundle::zipModeBinSplit}) {
        SCOPED_TRACE(mode);
        TempDir src, dir;
        Files files = WriteSources(src.path());
        const std::string archive = dir.File("a.zip");
        {
            CZipBundle zip;
            ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate | mode, 1000));
            AddSources(zip, src.path(), files);
            zip.Close();
        }
        const std::string last = mode == CZipBundle::zipModeSplit ? archive : dir.File(*FilesIn(dir.path()).rbegin());
        CZipBundle source;
        ASSERT_TRUE(source.Open(last.c_str(), CZipBundle::zipOpen | mode));
        const std::string copy = dir.File("copy.zip");
        CZipBundle target;
        ASSERT_TRUE(target.Open(copy.c_str(), CZipBundle::zipCreate));
        CZipArray<unsigned short> all;
        for (unsigned short i = 0; i < source.GetCount(); ++i) all.Add(i);
        EXPECT_EQ(CodeOf([&] { EXPECT_TRUE(target.GetFromArchive(source, all)); }), 0);
        target.Close();
        source.Close();
        ExpectArchiveValid(copy);
        for (const auto& f : files) EXPECT_EQ(UnzipEntry(copy, f.first), f.second) << f.first;
    }
}

// Binary-split volumes are one byte stream cut into pieces: joined they are
// an ordinary archive with offsets of the whole stream, whatever volume a
// record, or the directory's start, fell into. The last case cuts the
// stream inside the first central header.
TEST(Segmented, BinarySplitJoinsIntoOneArchive) {
    std::vector<unsigned> sizes = {65536, 1000};
    for (size_t k = 0; k < sizes.size(); ++k) {
        const unsigned volumeSize = sizes[k];
        SCOPED_TRACE(volumeSize);
        TempDir src, dir, out;
        Files files = WriteSources(src.path());
        const std::string archive = dir.File("a.zip");
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreateBinSplit, volumeSize));
        AddSources(zip, src.path(), files);
        if (k == 1) {
            // Finished and read across the volumes it has just written.
            ASSERT_TRUE(zip.Finalize());
            ExpectReadsBack(zip, out.path(), files);
        }
        zip.Close();

        std::set<std::string> volumes = FilesIn(dir.path());
        ASSERT_TRUE(volumes.count("a.zip.001") && volumes.count("a.zip.002") && !volumes.count("a.zip"));
        std::string cat = "cat";
        for (const std::string& v : volumes) {
            if (v != *volumes.rbegin()) {
                EXPECT_EQ(fs::file_size(dir.File(v)), volumeSize) << v;  // cut anywhere
            }
            cat += " " + Quote(dir.File(v));
        }
        ASSERT_EQ(RunTool(cat + " > " + Quote(dir.File("joined.zip"))).status, 0);
        const std::string joined = ReadFile(dir.File("joined.zip"));
        size_t end = joined.size() - 22;
        EXPECT_EQ(U16(joined, end + 4), 0u);  // this volume
        EXPECT_EQ(U16(joined, end + 6), 0u);  // volume with the directory
        EXPECT_EQ(U16(joined, end + 8), U16(joined, end + 10));
        // The stream before the directory is the same for every volume size.
        const unsigned directory = U32(joined, end + 16);
        const unsigned firstHeader = 46 + U16(joined, directory + 28);
        if (k == 0) {
            for (unsigned size = 2000; sizes.size() == 2; ++size)
                for (unsigned cut = 1; cut < firstHeader && sizes.size() == 2; ++cut)
                    if ((directory + cut) % size == 0) sizes.push_back(size);
        } else if (k == 2) {
            EXPECT_NE(directory / volumeSize, (directory + firstHeader) / volumeSize);
        }
        ToolResult u = RunTool("unzip -t " + Quote(dir.File("joined.zip")));
        EXPECT_EQ(u.status, 0) << u.output;
        ToolResult py = RunTool("python3 -m zipfile -t " + Quote(dir.File("joined.zip")));
        EXPECT_EQ(py.status, 0) << py.output;
        EXPECT_EQ(py.output.find("corrupted"), std::string::npos) << py.output;

        CZipBundle again;
        ASSERT_TRUE(again.Open(dir.File(*volumes.rbegin()).c_str(), CZipBundle::zipOpenBinSplit));
        ExpectReadsBack(again, out.path(), files);
        again.Close();
    }
}

TEST(Segmented, SpannedVolumesOnTheirOwnDisks) {
    TempDir src, drive, disks, out, asSplit;
    Files files = WriteSources(src.path());
    const unsigned long long capacity = 50000;
    DiskCallback cb;
    cb.disks = disks.path();
    const std::string archive = drive.File("a.zip");
    CZipBundle zip;
    zip.SetSegmCallback(&cb, CZipBundle::scSpan);
    zip.GetStorage()->SetFreeSpaceQuery(DriveOf(capacity));
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreateSpan));
    AddSources(zip, src.path(), files);
    zip.Close();
    const unsigned last = cb.lastWritten;
    ASSERT_GE(last, 4u);
    fs::create_directories(cb.Disk(last));
    fs::rename(archive, cb.Disk(last) + "/a.zip");
    for (unsigned n = 1; n <= last; ++n) {
        EXPECT_LE(fs::file_size(cb.Disk(n) + "/a.zip"), capacity) << n;
        // Spanned and split volumes are the same format: 7z reads the
        // disks renamed as split volumes.
        char name[16];
        std::snprintf(name, sizeof name, n == last ? "a.zip" : "a.z%02u", n);
        fs::copy_file(cb.Disk(n) + "/a.zip", asSplit.File(name));
    }
    ToolResult t = RunTool("7z t " + Quote(asSplit.File("a.zip")));
    EXPECT_EQ(t.status, 0) << t.output;

    CZipBundle again;
    again.SetSegmCallback(&cb, CZipBundle::scSpan);
    ASSERT_TRUE(again.Open((cb.Disk(last) + "/a.zip").c_str(), CZipBundle::zipOpenReadOnly));
    ExpectReadsBack(again, out.path(), files);
    again.Close();
}

// A spanned block that even an empty disk cannot hold ends the write
// instead of asking for disk after disk.
TEST(Segmented, SpannedDiskTooSmallForAHeader) {
    TempDir src, drive, disks;
    WriteFile(src.File("f"), "data");
    DiskCallback cb;
    cb.disks = disks.path();
    CZipBundle zip;
    zip.SetSegmCallback(&cb, CZipBundle::scSpan);
    zip.GetStorage()->SetFreeSpaceQuery(DriveOf(100));
    ASSERT_TRUE(zip.Open(drive.File("a.zip").c_str(), CZipBundle::zipCreateSpan));
    std::string longName(200, 'x');
    EXPECT_EQ(CodeOf([&] { zip.AddNewFile(src.File("f").c_str(), longName.c_str()); }), 215);
    EXPECT_LE(cb.calls, 3u);
    zip.Close(CZipBundle::afAfterException);
}

// An archive whose data and directory fit in its first volume is written
// as one ordinary archive: no marker, no data descriptors, every tool
// reads it; after Finalize it can still be added to.
TEST(Segmented, OneVolumeBecomesAnOrdinaryArchive) {
    struct Case {
        const char* label;
        int mode;
        bool finalize;
        bool empty;
        const char* result;
    } cases[] = {
        {"split", CZipBundle::zipCreateSplit, false, false, "a.zip"},
        {"split finalized", CZipBundle::zipCreateSplit, true, false, "a.zip"},
        {"split empty", CZipBundle::zipCreateSplit, false, true, "a.zip"},
        {"binary split", CZipBundle::zipCreateBinSplit, false, false, "a.zip.001"},
        {"spanned", CZipBundle::zipCreateSpan, false, false, "a.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir, disks;
        DiskCallback cb;
        cb.disks = disks.path();
        CZipBundle zip;
        zip.SetSegmCallback(&cb, CZipBundle::scSpan);
        zip.GetStorage()->SetFreeSpaceQuery(DriveOf(1 << 20));
        ASSERT_TRUE(zip.Open(dir.File("a.zip").c_str(), c.mode, 1 << 20));
        std::string text = KmlLikeText(5000);
        if (!c.empty) {
            CZipMemFile source(1024);
            source.Write(text.data(), unsigned(text.size()));
            ASSERT_TRUE(zip.AddNewFile(source, "doc.kml", 9));
            ASSERT_TRUE(zip.AddNewFile(source, "stored.kml", 0));
        }
        if (c.finalize) {
            ASSERT_TRUE(zip.Finalize());
            EXPECT_FALSE(zip.GetStorage()->IsSegmented());
            CZipMemFile more(1024);
            more.Write("more", 4);
            EXPECT_TRUE(zip.AddNewFile(more, "more.txt", 9));
        }
        zip.Close();
        EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{c.result});
        const std::string path = dir.File(c.result);
        std::string bytes = ReadFile(path);
        if (c.empty) {
            EXPECT_EQ(bytes.size(), 22u);
            continue;
        }
        EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x03\x04", 4));
        ExpectArchiveValid(path);
        CZipBundle again;
        ASSERT_TRUE(again.Open(path.c_str(), CZipBundle::zipOpenReadOnly));
        EXPECT_EQ(again.GetCount(), c.finalize ? 3 : 2);
        for (unsigned short i = 0; i < again.GetCount(); ++i) {
            EXPECT_FALSE(again[i]->IsDataDescriptor()) << i;
            EXPECT_TRUE(again.TestFile(i)) << i;
        }
        again.Close();
        EXPECT_EQ(UnzipEntry(path, "doc.kml"), text);
    }
}

TEST(Segmented, Refusals) {
    TempDir dir;
    WriteFile(dir.File("plain.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    SplitCallback giveUp;
    giveUp.giveUp = true;
    struct Case {
        const char* label;
        std::function<void(CZipBundle&)> run;
        int code;
        std::string path = "";  // of the exception, when it matters
    } cases[] = {
        {"split without a volume size",
         [&](CZipBundle& z) { z.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreateSplit, 0); }, 204},
        {"spanned without a callback",
         [&](CZipBundle& z) { z.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreateSpan); }, 203},
        {"split callback gives up",
         [&](CZipBundle& z) {
             z.SetSegmCallback(&giveUp, CZipBundle::scSplit);
             z.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreateSplit, 1000);
         },
         205, dir.File("s.z01")},  // the volume it proposed
        {"binary split without a volume number",
         [&](CZipBundle& z) { z.Open(dir.File("plain.zip").c_str(), CZipBundle::zipOpenBinSplit); }, 201},
    };
    for (const Case& c : cases) {
        CZipBundle zip;
        try {
            c.run(zip);
            ADD_FAILURE() << c.label << ": no exception";
        } catch (const CZipException& e) {
            EXPECT_EQ(e.m_iCode, c.code) << c.label;
            if (!c.path.empty()) {
                EXPECT_EQ(std::string(e.m_szPath), c.path) << c.label;
            }
        }
        EXPECT_TRUE(zip.IsClosed()) << c.label;
    }
    CZipBundle zip;
    EXPECT_FALSE(zip.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreateAppend | CZipBundle::zipModeSplit, 1000));
    EXPECT_FALSE(zip.Open(dir.File("s.zip").c_str(), CZipBundle::zipCreate | CZipBundle::zipModeSplit |
                                                      CZipBundle::zipModeSpan, 1000));
}
