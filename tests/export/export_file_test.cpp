// Writing the export file: the previous file survives every failure, the
// temporary is created afresh so nothing planted in the directory is
// followed or overwritten, and concurrent writers never mix their files.
#include "export/export_file.h"

#include "export/export_report.h"
#include "export/export_settings.h"
#include "export_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using exporttest::Entries;
using exporttest::LimitGuard;
using exporttest::Messages;

const std::string kFile = "aisBrinecastSnapshot.kml";

// The lowest descriptor number free now: a limit of it leaves none to open.
rlim_t LowestFreeDescriptor() {
    const int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return static_cast<rlim_t>(fd);
}

bool IsRegularFile(const std::string& name) {
    struct stat st {};
    return lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class ExportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        Messages::Take();
        SetExportReporter(Messages::Report);
        dir_name = tmp.File("out");
        ASSERT_EQ(mkdir(dir_name.c_str(), 0777), 0);
    }
    void TearDown() override {
        SetExportReporter(nullptr);
        dir_name.clear();
    }
    std::string Target() const { return dir_name + "/" + kFile; }

    TempDir tmp;
};

TEST_F(ExportFileTest, WritesWholeFileReadableByAll) {
    WriteFile(Target(), "previous, longer than what follows");
    ASSERT_TRUE(WriteExportFile(kFile, "new"));
    EXPECT_EQ(ReadFile(Target()), "new");
    struct stat st {};
    ASSERT_EQ(stat(Target().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(dir_name), std::set<std::string>{kFile});
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(ExportFileTest, FailureKeepsThePreviousFileAndLeavesNoTemporary) {
    const std::string content(100000, 'k');  // more than one write's worth
    enum Fault { TargetIsDirectory, NoDescriptorLeft, FileSizeLimit };
    const struct {
        const char* name;
        Fault fault;
        std::string message;
    } cases[] = {
        {"a directory holds the target's name", TargetIsDirectory,
         "Can't open file " + Target() + " for writing!\n"},
        {"no descriptor left for the temporary", NoDescriptorLeft,
         "Can't open file " + Target() + " for writing!\n"},
        // With SIGXFSZ at its default action, which would end the process.
        {"the file size limit cuts the write", FileSizeLimit, "Can't write file " + Target() + "\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(Target());
        bool ok;
        switch (c.fault) {
            case TargetIsDirectory:
                ASSERT_EQ(mkdir(Target().c_str(), 0777), 0);
                ok = WriteExportFile(kFile, content);
                EXPECT_TRUE(std::filesystem::is_directory(Target())) << c.name;
                break;
            case NoDescriptorLeft: {
                WriteFile(Target(), "previous");
                LimitGuard guard(RLIMIT_NOFILE, LowestFreeDescriptor());
                ok = WriteExportFile(kFile, content);
                break;
            }
            case FileSizeLimit: {
                WriteFile(Target(), "previous");
                LimitGuard guard(RLIMIT_FSIZE, 1000);
                ok = WriteExportFile(kFile, content);
                break;
            }
        }
        EXPECT_FALSE(ok) << c.name;
        if (c.fault != TargetIsDirectory) {
            EXPECT_EQ(ReadFile(Target()), "previous") << c.name;
        }
        EXPECT_EQ(Messages::Take(), std::vector<std::string>{c.message}) << c.name;
        EXPECT_EQ(Entries(dir_name), std::set<std::string>{kFile}) << c.name;
    }

    // The next export recovers.
    std::filesystem::remove_all(Target());
    EXPECT_TRUE(WriteExportFile(kFile, content));
    EXPECT_EQ(ReadFile(Target()), content);
}

TEST_F(ExportFileTest, PlantedNamesAreNeitherFollowedNorOverwritten) {
    // What someone with write access to the export directory may plant: a
    // link where the temporary used to be named, a link at the target, a
    // file under the old temporary's name with a suffix.
    const std::string victim = tmp.File("victim");
    WriteFile(victim, "victim");
    ASSERT_EQ(symlink(victim.c_str(), (Target() + ".tmp").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), Target().c_str()), 0);
    WriteFile(Target() + ".tmp.planted", "planted");

    for (const char* content : {"first", "second"}) {
        ASSERT_TRUE(WriteExportFile(kFile, content));
        EXPECT_TRUE(IsRegularFile(Target()));  // the link at the target is replaced, not written through
        EXPECT_EQ(ReadFile(Target()), content);
    }
    EXPECT_EQ(ReadFile(victim), "victim");
    EXPECT_EQ(ReadFile(Target() + ".tmp.planted"), "planted");
    EXPECT_EQ(Entries(dir_name), (std::set<std::string>{kFile, kFile + ".tmp", kFile + ".tmp.planted"}));
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(ExportFileTest, ConcurrentWritersNeverMixTheirFiles) {
    // Two programs exporting into one directory: each export lands whole,
    // and a reader only ever sees one writer's complete file.
    const std::string a(200000, 'a');
    const std::string b(300000, 'b');
    std::atomic<bool> failed{false};
    std::atomic<int> writing{2};
    auto writer = [&](const std::string& content) {
        for (int i = 0; i < 100; ++i)
            if (!WriteExportFile(kFile, content)) failed = true;
        --writing;
    };
    std::thread first(writer, std::cref(a));
    std::thread second(writer, std::cref(b));
    int reads = 0, mixed = 0;
    while (writing > 0) {
        const std::string seen = ReadFile(Target());
        if (!seen.empty()) {
            ++reads;
            if (seen != a && seen != b) ++mixed;
        }
    }
    first.join();
    second.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    const std::string last = ReadFile(Target());
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(Entries(dir_name), std::set<std::string>{kFile});
    EXPECT_TRUE(Messages::Take().empty());
}

}  // namespace
