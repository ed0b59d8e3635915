// The real binary over standard input.
#include "program.h"
#include "temp_dir.h"
#include "udp_receiver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string Data(const char* name) { return ReadFile(std::string(AISB_TEST_DATA) + "/data/" + name); }

TEST(StdinProgram, DebugLinesByteForByte) {
    ProgramOptions o;
    o.input = Data("small.nmea");
    const ProgramResult r = RunProgram({"-i", "-G", "-H", "127.0.0.1:9"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Data("small.G.err"));
}

TEST(StdinProgram, DumpOnStandardOutput) {
    ProgramOptions o;
    o.input = Data("small.nmea");
    const ProgramResult r = RunProgram({"-i", "-g", "-H", "127.0.0.1:9"}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Data("small.g.out"));
    EXPECT_EQ(r.err, "");
}

TEST(StdinProgram, EveryMessageOneDatagramPerDestination) {
    UdpReceiver a, b;
    ProgramOptions o;
    o.input = Data("small.nmea");
    const ProgramResult r = RunProgram({"-i", "-H", a.address() + "," + b.address()}, o);
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> expected = {
        "$GPRMC,092750.000,A,5321.6802,N,00630.3372,W,0.02,31.66,101226,,,A*4A\r\n",
        "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74\r\n",
        "!AIVDM,2,1,4,B,56jJAwh29E40L5c0000pu8@T>1=@58000000001@?0N<<7<BNEDSm51DQ0C@,0*43\r\n"
        "!AIVDM,2,2,4,B,00000000000,2*23\r\n",
        "!AIVDM,1,1,,B,178D3T@02o0o4lNGDI@GQV1D0@I5,0*6F\r\n",
    };
    EXPECT_EQ(a.Drain(), expected);
    EXPECT_EQ(b.Drain(), expected);
}

TEST(StdinProgram, LastLineWithoutLineEndAndOverlongLines) {
    UdpReceiver rx;
    ProgramOptions o;
    const std::string sentence = "!AIVDM,1,1,,A,16jJAwh03b0vgDbFA1VabGgf1Slf,0*74";
    o.input = std::string(200000, 'x') + "\n" + std::string(3, '\0') + "\n" + sentence;
    const ProgramResult r = RunProgram({"-i", "-H", rx.address()}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(rx.Drain(), std::vector<std::string>{sentence + "\r\n"});
}

TEST(StdinProgram, FinalExportAtTheEndOfInput) {
    TempDir dir;
    // What exports killed in an earlier run left behind.
    std::filesystem::create_directories(dir.File("out"));
    std::ofstream(dir.File("out/aisBrinecastSnapshot.kml.tmp.Ab1Def")) << std::string(100000, 'k');
    std::ofstream(dir.File("out/aisBrinecastSnapshot.kmz.tmp.zZ9yY8")) << "PK";
    ProgramOptions o;
    o.input = Data("small.nmea");
    const ProgramResult r =
        RunProgram({"-i", "-H", "127.0.0.1:9", "-X", "3600", "-z", "no", "-S", dir.File("out")}, o);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string kml = ReadFile(dir.File("out/aisBrinecastSnapshot.kml"));
    EXPECT_EQ(CountOf(kml, "<Placemark>"), 2u);
    // Nothing but the export file is left: no temporary of any name, of
    // this run or an earlier one.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("out")))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"aisBrinecastSnapshot.kml"});
}

TEST(StdinProgram, KmzByDefaultWhateverTheLocale) {
    TempDir dir;
    ProgramOptions o;
    o.input = Data("small.nmea");
    o.env = {{"LANG", "xx_YY.UTF-8"}, {"LC_ALL", "xx_YY.UTF-8"}};
    const ProgramResult r = RunProgram({"-i", "-H", "127.0.0.1:9", "-X", "3600", "-S", dir.path()}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string kmz = dir.File("aisBrinecastSnapshot.kmz");
    ASSERT_TRUE(std::filesystem::exists(kmz));
    FILE* p = popen(("unzip -p '" + kmz + "' aisBrinecastSnapshot.kml").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string kml;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) kml.append(buf, n);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(CountOf(kml, "<Placemark>"), 2u);
}

TEST(StdinProgram, ExportDirectoryAndFileProblemsAreReported) {
    TempDir dir;
    std::ofstream(dir.File("plain")) << "x";
    std::filesystem::create_directories(dir.File("taken/aisBrinecastSnapshot.kml"));
    const struct { std::string exportDir, message; } cases[] = {
        {dir.File("plain"), dir.File("plain") + " is not directory\n"},
        {dir.File("missing/child"), "Can't create directory: " + dir.File("missing/child") + "\n"},
        {dir.File("taken"), "Can't open file " + dir.File("taken/aisBrinecastSnapshot.kml") + " for writing!\n"},
    };
    for (const auto& c : cases) {
        ProgramOptions o;
        o.input = Data("small.nmea");
        const ProgramResult r = RunProgram({"-i", "-H", "127.0.0.1:9", "-X", "3600", "-z", "no", "-S", c.exportDir}, o);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.message);
    }
}

TEST(StdinProgram, NoExportWithoutInterval) {
    TempDir dir;
    ProgramOptions o;
    o.input = Data("small.nmea");
    const ProgramResult r = RunProgram({"-i", "-H", "127.0.0.1:9", "-z", "no", "-S", dir.File("out")}, o);
    ASSERT_EQ(r.status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
}

TEST(StdinProgram, DefaultExportDirectoryBesideTheProgram) {
    // Started without a path, the program exports into ./kml_export.
    TempDir dir;
    ProgramOptions o;
    o.input = Data("small.nmea");
    o.workDir = dir.path();
    o.argv0 = "aisbrinecast";
    const ProgramResult r = RunProgram({"-i", "-H", "127.0.0.1:9", "-X", "60", "-z", "no"}, o);
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("kml_export/aisBrinecastSnapshot.kml")));
}

}  // namespace
