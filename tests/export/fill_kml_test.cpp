#include "export/fill_kml.h"

#include "ais/ais_parser.h"
#include "export/export_report.h"
#include "export/export_settings.h"
#include "export/kml_writer.h"
#include "export/kmz.h"
#include "export/snapshot.h"
#include "export_fixture.h"
#include "zip_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using exporttest::Entries;
using exporttest::LimitGuard;
using exporttest::Messages;

constexpr time_t kNow = 1700000000;
time_t fixedClock() { return kNow; }

bool Exists(const std::string& name) {
    struct stat st {};
    return lstat(name.c_str(), &st) == 0;
}

class FillKmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        ClearSnapshot();
        Messages::Take();
        SetExportReporter(Messages::Report);
        SetExportClock(fixedClock);
        exportTime = 10;
        useKmz = false;
        purgeSnapshotTime = 900;
        dir_name = tmp.path() + "/out";
        imagesUrlDir.clear();
        path.clear();
        parser = std::make_unique<AISParser>();
    }
    void TearDown() override {
        SetExportReporter(nullptr);
        SetExportClock(nullptr);
        ClearSnapshot();
        dir_name.clear();
    }

    void Hear(uint32_t mmsi, time_t when) {
        parser->mmsi = mmsi;
        parser->message123 = TMessage123{};
        parser->message123.mmsi = mmsi;
        parser->message123.lon = 600000;
        parser->message123.lat = 1200000;
        AddUpdateSnapshot(*parser, 1, when);
    }

    std::string Target() const { return tmp.path() + "/out/aisBrinecastSnapshot.kml"; }

    TempDir tmp;
    std::unique_ptr<AISParser> parser;
};

TEST_F(FillKmlTest, WritesDocumentIntoNewDirectoryAndReplacesIt) {
    Hear(1, kNow);
    ASSERT_TRUE(FillKml());
    const std::string first = ReadFile(Target());
    EXPECT_EQ(first, BuildKml(CopySnapshotForExport(fixedClock), ""));
    EXPECT_NE(first.find("<name>1</name>"), std::string::npos);

    Hear(2, kNow);
    ASSERT_TRUE(FillKml());
    const std::string second = ReadFile(Target());
    EXPECT_NE(second.find("<name>2</name>"), std::string::npos);
    EXPECT_EQ(second.size(), BuildKml(CopySnapshotForExport(fixedClock), "").size());
    EXPECT_FALSE(Exists(Target() + ".tmp"));
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(FillKmlTest, EmptySnapshotStillWritesDocument) {
    ASSERT_TRUE(FillKml());
    EXPECT_EQ(ReadFile(Target()), BuildKml({}, ""));
}

TEST_F(FillKmlTest, DefaultDirectoryBesideTheExecutable) {
    dir_name.clear();
    path = tmp.path() + "/";
    ASSERT_TRUE(FillKml());
    EXPECT_EQ(dir_name, tmp.path() + "/kml_export");
    EXPECT_TRUE(Exists(tmp.path() + "/kml_export/aisBrinecastSnapshot.kml"));
}

TEST_F(FillKmlTest, UnusableDirectoryIsReportedOnEveryExport) {
    WriteFile(tmp.path() + "/plain", "x");
    struct Case {
        std::string dir;
        std::string message;
    };
    const Case cases[] = {
        {tmp.path() + "/missing/sub", "Can't create directory: " + tmp.path() + "/missing/sub\n"},
        {tmp.path() + "/plain", tmp.path() + "/plain is not directory\n"},
    };
    for (const Case& c : cases) {
        dir_name = c.dir;
        EXPECT_FALSE(FillKml());
        EXPECT_FALSE(FillKml());
        EXPECT_EQ(Messages::Take(), (std::vector<std::string>{c.message, c.message})) << c.dir;
        EXPECT_FALSE(Exists(tmp.path() + "/missing"));
        EXPECT_EQ(ReadFile(tmp.path() + "/plain"), "x");
    }
}

TEST_F(FillKmlTest, ExportPurgesVesselsNotHeardRecently) {
    Hear(1, kNow - 901);
    Hear(2, kNow - 10);
    Hear(3, kNow - 5000);
    ASSERT_TRUE(FillKml());
    const std::string doc = ReadFile(Target());
    EXPECT_EQ(doc.find("<name>1</name>"), std::string::npos);
    EXPECT_NE(doc.find("<name>2</name>"), std::string::npos);
    EXPECT_EQ(doc.find("<name>3</name>"), std::string::npos);
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_EQ(snapshot.front().mmsi, 2u);
}

TEST_F(FillKmlTest, KmzExportHoldsTheDocumentOfAKmlExport) {
    Hear(1, kNow);
    Hear(2, kNow);
    ASSERT_TRUE(FillKml());
    const std::string kml = ReadFile(Target());
    useKmz = true;
    ASSERT_TRUE(FillKml());
    const std::string kmz = tmp.path() + "/out/aisBrinecastSnapshot.kmz";
    EXPECT_EQ(ReadFile(kmz).compare(0, 4, "PK\x03\x04"), 0);
    FILE* p = popen(("unzip -p '" + kmz + "' aisBrinecastSnapshot.kml").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string entry;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) entry.append(buf, n);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(entry, kml);
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(FillKmlTest, FailedPackingKeepsThePreviousFileAndTheNextExportRecovers) {
    useKmz = true;
    Hear(1, kNow);
    const std::string kmz = tmp.path() + "/out/aisBrinecastSnapshot.kmz";
    ASSERT_TRUE(FillKml());
    const std::string before = ReadFile(kmz);
    // The archive object already in use: this export's packing fails.
    CZipMemFile other(1024);
    ASSERT_TRUE(zip.Open(other, CZipBundle::zipCreate, false));
    Hear(2, kNow);
    EXPECT_FALSE(FillKml());
    EXPECT_EQ(ReadFile(kmz), before);
    EXPECT_EQ(Messages::Take(), std::vector<std::string>{"Can't write file " + kmz + "\n"});
    EXPECT_EQ(Entries(tmp.path() + "/out"), std::set<std::string>{"aisBrinecastSnapshot.kmz"});
    EXPECT_TRUE(zip.IsClosed());  // released with the failed export
    ASSERT_TRUE(FillKml());
    EXPECT_NE(ReadFile(kmz), before);
    EXPECT_EQ(ReadFile(kmz).compare(0, 4, "PK\x03\x04"), 0);
}

TEST_F(FillKmlTest, TenThousandVesselsStreamIntoFilesEveryToolAccepts) {
    // Names with every character XML escapes, so that pieces end mid-escape too.
    for (uint32_t mmsi = 1; mmsi <= 10000; ++mmsi) {
        Hear(mmsi, kNow);
        std::snprintf(snapshot.back().name, sizeof snapshot.back().name, "<&%u\">'", mmsi);
    }
    imagesUrlDir = "http://example.org/icons";
    ASSERT_TRUE(FillKml());
    const std::string kml = ReadFile(Target());
    EXPECT_GT(kml.size(), 10 * kKmlPiece);
    EXPECT_EQ(kml, BuildKml(CopySnapshotForExport(fixedClock), imagesUrlDir));
    EXPECT_EQ(exporttest::XmlLintErrors(kml), "");
    useKmz = true;
    ASSERT_TRUE(FillKml());
    const std::string kmz = tmp.path() + "/out/aisBrinecastSnapshot.kmz";
    ExpectArchiveValid(kmz);
    EXPECT_TRUE(UnzipEntry(kmz, "aisBrinecastSnapshot.kml") == kml);
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(FillKmlTest, StreamCutByTheFileSizeLimitKeepsThePreviousFile) {
    // Far more than one piece of the document: the limit strikes mid-stream.
    for (uint32_t mmsi = 1; mmsi <= 2000; ++mmsi) Hear(mmsi, kNow);
    for (const bool kmz : {false, true}) {
        useKmz = kmz;
        const std::string target = tmp.path() + "/out/aisBrinecastSnapshot." + (kmz ? "kmz" : "kml");
        ASSERT_TRUE(FillKml());
        const std::string before = ReadFile(target);
        Hear(kmz ? 5001 : 5000, kNow);
        {
            LimitGuard guard(RLIMIT_FSIZE, before.size() / 2);
            EXPECT_FALSE(FillKml()) << kmz;
        }
        EXPECT_TRUE(ReadFile(target) == before) << kmz;
        EXPECT_EQ(Messages::Take(), std::vector<std::string>{"Can't write file " + target + "\n"}) << kmz;
        EXPECT_TRUE(zip.IsClosed());
        ASSERT_TRUE(FillKml()) << "the next export recovers";
        EXPECT_TRUE(ReadFile(target) != before);
        std::filesystem::remove(target);
    }
    EXPECT_TRUE(Entries(tmp.path() + "/out").empty()) << "no temporary left";
}

}  // namespace
