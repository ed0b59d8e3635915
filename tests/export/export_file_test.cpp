// Writing the export file: the previous file survives every failure, the
// temporary is created afresh so nothing planted in the directory is
// followed or overwritten, concurrent writers never mix their files, and
// no temporary outlives a killed export for long.
#include "export/export_file.h"

#include "export/export_report.h"
#include "export/export_settings.h"
#include "export_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST_F(ExportFileTest, NoTemporaryIsNamedWhileTheFileIsWritten) {
    // A kill at any point of the write leaves nothing in the directory.
    WriteFile(Target(), "previous");
    {
        ExportFile file(kFile);
        ASSERT_TRUE(file.Created());
        if (file.Name() != Target()) GTEST_SKIP() << "no nameless files here: " << file.Name();
        ASSERT_TRUE(file.Write("new", 3));
        EXPECT_EQ(Entries(dir_name), std::set<std::string>{kFile});
        EXPECT_EQ(ReadFile(Target()), "previous");
        ASSERT_TRUE(file.Commit());
    }
    EXPECT_EQ(ReadFile(Target()), "new");
    EXPECT_EQ(Entries(dir_name), std::set<std::string>{kFile});
}

TEST_F(ExportFileTest, TemporariesOfKilledExportsAreRemoved) {
    const std::string kmz = "aisBrinecastSnapshot.kmz";
    const std::string victim = tmp.File("victim");
    WriteFile(victim, "victim");
    WriteFile(Target(), "export");
    const std::set<std::string> kept = {
        kFile,
        kFile + ".tmp.live01",     // a running export holds it
        kFile + ".tmp.link01",     // a link: not followed, not removed
        kFile + ".tmp.dir001",     // a directory
        kFile + ".tmp.Ab1De",      // not a temporary's name: five characters,
        kFile + ".tmp.Ab1Def7",    // seven,
        kFile + ".tmp.Ab-Def",     // one that mkostemp never makes,
        "other.kml.tmp.Ab1Def",    // another file's
        kFile + ".tmp",
    };
    const std::vector<std::string> stale = {kFile + ".tmp.Ab1Def", kmz + ".tmp.zZ9yY8", kFile + ".tmp.killed"};
    for (const auto& name : kept) {
        if (name == kFile) continue;
        if (name.find("link") != std::string::npos) {
            ASSERT_EQ(symlink(victim.c_str(), (dir_name + "/" + name).c_str()), 0);
        } else if (name.find("dir") != std::string::npos) {
            ASSERT_EQ(mkdir((dir_name + "/" + name).c_str(), 0777), 0);
        } else {
            WriteFile(dir_name + "/" + name, "kept");
        }
    }
    for (const auto& name : stale) WriteFile(dir_name + "/" + name, std::string(1000, 's'));
    const int live = open((dir_name + "/" + kFile + ".tmp.live01").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    // An export killed while it held its temporary: its lock went with it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open((dir_name + "/" + kFile + ".tmp.killed").c_str(), O_RDWR);
        if (fd >= 0 && flock(fd, LOCK_EX) == 0) kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    RemoveStaleExportTemporaries();
    EXPECT_EQ(Entries(dir_name), kept);
    EXPECT_EQ(ReadFile(victim), "victim");
    close(live);
    RemoveStaleExportTemporaries();  // once it is closed, it is stale too
    std::set<std::string> later = kept;
    later.erase(kFile + ".tmp.live01");
    EXPECT_EQ(Entries(dir_name), later);
    EXPECT_TRUE(Messages::Take().empty());
}

}  // namespace
