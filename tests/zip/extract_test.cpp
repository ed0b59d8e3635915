// Extraction never harms what already stands on disk: one table of hostile,
// damaged and unusual archives, each extracted into a target that already
// holds files, symbolic links (dangling, to a directory, to a file outside)
// and a read-only directory, as root and as an unprivileged user. Each row
// states the disk afterwards; unzip on the same input, into a twin target,
// is the yardstick, and where it does otherwise the row says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zip/ZipBundle.h"
#include "zip_test_util.h"

namespace fs = std::filesystem;

namespace {

const std::string& FixtureDir() {
    static TempDir dir;
    static bool made = [] {
        ToolResult r = RunTool("python3 " + Quote(ZIP_READ_FIXTURES) + " " + Quote(dir.path()), false);
        if (r.status != 0) throw std::runtime_error("fixtures: " + r.output);
        chmod(dir.path().c_str(), 0755);  // the unprivileged run reads them too
        return true;
    }();
    (void)made;
    return dir.path();
}

std::string Describe(const fs::path& p) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return "";
    char mode[8];
    snprintf(mode, sizeof mode, "%o", unsigned(st.st_mode & 07777));
    if (S_ISLNK(st.st_mode)) return "l " + fs::read_symlink(p).string();
    if (S_ISDIR(st.st_mode)) return std::string("d ") + mode;
    return std::string(S_ISREG(st.st_mode) ? "f " : "? ") + mode + " " + ReadFile(p.string());
}

// Everything under root, links not followed, root itself as ".".
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out{{".", Describe(root)}};
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it)
        out[fs::relative(it->path(), root).string()] = Describe(it->path());
    return out;
}

// target/ holds files, three links, a read-only directory and a private
// one (0700); outside/ is what the links point at.
void Prepare(const std::string& root) {
    fs::create_directories(root + "/outside/outdir");
    WriteFile(root + "/outside/outside.txt", "outside\n");
    fs::create_directories(root + "/target/rodir");
    WriteFile(root + "/target/keep.txt", "old keep\n");
    WriteFile(root + "/target/rodir/inside.txt", "old inside\n");
    chmod((root + "/target/rodir").c_str(), 0555);
    fs::create_directories(root + "/target/private");
    chmod((root + "/target/private").c_str(), 0700);
    fs::create_symlink("../outside/nowhere.txt", root + "/target/dangling");
    fs::create_symlink("../outside/outside.txt", root + "/target/linkfile");
    fs::create_symlink("../outside/outdir", root + "/target/linkdir");
}

// Read-only directories would keep their contents from being removed.
void MakeRemovable(const std::string& root) {
    chmod(root.c_str(), 0700);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_directory() && !it->is_symlink()) chmod(it->path().c_str(), 0700);
}

// ExtractFile's outcome: 1 true, 0 false, else the code it threw.
using Outcomes = std::map<std::string, std::set<int>>;
using Changes = std::map<std::string, std::string>;  // path -> description, "" gone

struct Row {
    const char* name;
    const char* archive;
    const char* password;
    Outcomes outcomes;       // entries not named here must give 1
    Changes changes;         // against the prepared state
    Outcomes userOutcomes;   // instead, for an unprivileged user
    Changes userChanges;
    bool runUnzip;           // false: unzip asks on the terminal
    std::set<std::string> unzipDiffers;  // paths where unzip does otherwise (see the row)
};

const std::vector<Row>& Table() {
    static const std::vector<Row> rows = {
        // unzip -P wrong skips every entry and keeps what stands.
        {"wrong password", "x_encrypted.zip", "wrong",
         {{"keep.txt", {213, 202}}, {"dangling", {213, 202}}, {"linkfile", {213, 202}},
          {"linkdir/x.txt", {213, 202}}, {"rodir/inside.txt", {213, 202}}},
         {}, {}, {}, true, {}},
        // unzip without -P would ask for one; skipped entries keep what stands.
        {"no password", "x_encrypted.zip", nullptr,
         {{"keep.txt", {213}}, {"dangling", {213}}, {"linkfile", {213}}, {"linkdir/x.txt", {213}},
          {"rodir/inside.txt", {213}}},
         {}, {}, {}, false, {}},
        // The links are replaced, never written through. unzip writes
        // linkdir/x.txt through the link, outside the target.
        {"right password over links", "x_encrypted.zip", "right",
         {},
         {{"target/keep.txt", "f 644 new keep\n"},
          {"target/dangling", "f 644 new dangling\n"},
          {"target/linkfile", "f 644 new linkfile\n"},
          {"target/linkdir", "d 755"},
          {"target/linkdir/x.txt", "f 644 through linkdir\n"},
          {"target/rodir/inside.txt", "f 644 new inside\n"}},
         // Nobody may write into the read-only directory, unzip neither.
         {{"rodir/inside.txt", {13}}},
         {{"target/rodir/inside.txt", "f 644 old inside\n"}},
         true,
         {"target/linkdir", "target/linkdir/x.txt", "outside/outdir/x.txt"}},
        // unzip skips both methods, but leaves keep.txt empty.
        {"unsupported method", "x_unsupported.zip", nullptr, {{"keep.txt", {0}}, {"dangling", {0}}}, {}, {}, {},
         true, {"target/keep.txt"}},
        // unzip: "bad zipfile offset (local header sig)", the file stays.
        {"damaged local header", "x_local_header.zip", nullptr, {{"keep.txt", {201}}}, {}, {}, {}, true, {}},
        // unzip writes the damaged data over keep.txt and reports the CRC.
        {"damaged data", "x_data.zip", nullptr, {{"keep.txt", {202, 504}}}, {}, {}, {}, true,
         {"target/keep.txt"}},
        // "..." is a name like any other; the target's parent keeps its mode.
        {"three dots", "x_three_dots.zip", nullptr, {},
         {{"target/...", "d 777"}, {"target/.../f.txt", "f 644 in three dots\n"}}, {}, {}, true, {}},
        {"two dots", "x_two_dots.zip", nullptr, {{"../", {0}}},
         {{"target/up.txt", "f 644 up\n"}, {"target/a", "d 755"}, {"target/a/up2.txt", "f 644 up2\n"}}, {}, {},
         true, {}},
        // unzip makes a file "_" of the entry ".".
        {"one dot", "x_one_dot.zip", nullptr, {{".", {0}}},
         {{"target/dot.txt", "f 644 dot\n"}, {"target/a", "d 755"}, {"target/a/b.txt", "f 644 b\n"}}, {}, {},
         true, {"target/_"}},
        {"trailing dots", "x_trailing_dots.zip", nullptr, {},
         {{"target/end.", "f 644 with dot\n"}, {"target/end", "f 644 without\n"},
          {"target/keep.txt.", "f 644 not keep.txt\n"}},
         {}, {}, true, {}},
        // unzip writes the first entry (the second one's bytes in it) and
        // removes the link of the second before it stops: "possible zip bomb".
        {"overlapping entries", "x_overlapping.zip", nullptr, {{"keep.txt", {225}}, {"linkfile", {225}}}, {}, {},
         {}, true, {"target/keep.txt", "target/linkfile"}},
        // Special files become plain files with their own bits (no setuid);
        // DOS entries get unzip's modes. unzip makes the link entry a link.
        {"special and DOS entries", "x_special.zip", nullptr, {},
         {{"target/fifo", "f 600 was a fifo\n"},
          {"target/dev", "f 600 was a device\n"},
          {"target/sock", "f 640 was a socket\n"},
          {"target/setuid", "f 750 was setuid\n"},
          {"target/dangling", "f 644 ../outside/outside.txt"},
          {"target/dosfile", "f 644 dos\n"},
          {"target/dosro", "f 444 dos read-only\n"},
          {"target/DOSDIR", "d 755"}},
         {}, {}, true, {"target/dangling"}},
        // A component the file system cannot name is ENAMETOOLONG (36) at
        // once, before any directory is made or data written; unzip makes
        // "a" first.
        {"names over the limit", "x_long_names.zip", nullptr,
         {{std::string(256, 'L'), {36}}, {"a/" + std::string(256, 'D') + "/f.txt", {36}}},
         {{"target/" + std::string(255, 'M'), "f 644 longest\n"}}, {}, {}, true, {"target/a"}},
        // A directory that stood keeps its mode (an archive's ".ssh/" 0777
        // leaves ~/.ssh private); one the extraction made takes the entry's.
        {"existing directory under 0777", "x_dir_0777.zip", nullptr, {},
         {{"target/private/in.txt", "f 644 in private\n"}, {"target/made0777", "d 777"}}, {}, {}, true, {}},
        {"existing directory under 0000", "x_dir_0000.zip", nullptr, {},
         {{"target/private/in.txt", "f 644 in private\n"}, {"target/made0000", "d 0"}}, {}, {}, true, {}},
        // Read-only directories get their files first, their modes last.
        {"read-only tree", "x_readonly_tree.zip", nullptr, {},
         {{"target/ro", "d 555"}, {"target/ro/a.txt", "f 644 a\n"}, {"target/ro/sub", "d 555"},
          {"target/ro/sub/b.txt", "f 644 b\n"}},
         {}, {}, true, {}},
    };
    return rows;
}

void Compare(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want,
             const std::set<std::string>& skip, const std::string& what, std::vector<std::string>& problems) {
    std::set<std::string> paths;
    for (auto& e : got) paths.insert(e.first);
    for (auto& e : want) paths.insert(e.first);
    for (const std::string& p : paths) {
        if (skip.count(p)) continue;
        auto g = got.find(p), w = want.find(p);
        std::string gs = g == got.end() ? "(none)" : g->second, ws = w == want.end() ? "(none)" : w->second;
        if (gs != ws) problems.push_back(what + ": " + p + " is [" + gs + "], expected [" + ws + "]");
    }
}

// Runs every row; returns what went otherwise.
std::vector<std::string> RunTable(bool root) {
    umask(022);
    std::vector<std::string> problems;
    for (const Row& row : Table()) {
        const std::string archive = FixtureDir() + "/" + row.archive;
        const std::string label = std::string(row.name) + (root ? " (root)" : " (user)");
        TempDir scratch;
        const std::string mine = scratch.File("mine"), twin = scratch.File("unzip");
        Prepare(mine);
        std::map<std::string, std::string> expected = Snapshot(mine);
        for (auto& c : row.changes) expected[c.first] = c.second;
        if (!root)
            for (auto& c : row.userChanges) expected[c.first] = c.second;
        for (auto it = expected.begin(); it != expected.end();)
            it = it->second.empty() ? expected.erase(it) : std::next(it);

        CZipBundle zip;
        if (!zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly)) {
            problems.push_back(label + ": does not open");
            continue;
        }
        if (row.password) zip.SetPassword(row.password);
        const std::string target = mine + "/target";
        for (unsigned short i = 0; i < zip.GetCount(); ++i) {
            std::string name(zip[i]->GetFileName(false));
            int outcome = 0;
            try {
                outcome = zip.ExtractFile(i, target.c_str()) ? 1 : 0;
            } catch (const CZipException& e) {
                outcome = e.m_iCode;
            }
            std::set<int> allowed{1};
            if (row.outcomes.count(name)) allowed = row.outcomes.at(name);
            if (!root && row.userOutcomes.count(name)) allowed = row.userOutcomes.at(name);
            if (!allowed.count(outcome))
                problems.push_back(label + ": " + name + " gave " + std::to_string(outcome));
        }
        zip.Close();
        std::map<std::string, std::string> got = Snapshot(mine);
        Compare(got, expected, {}, label, problems);

        if (row.runUnzip) {
            Prepare(twin);
            RunTool("unzip -qo " + std::string(row.password ? "-P " + Quote(row.password) + " " : "") +
                    Quote(archive) + " -d " + Quote(twin + "/target") + " </dev/null");
            Compare(got, Snapshot(twin), row.unzipDiffers, label + " beside unzip", problems);
            MakeRemovable(twin);
        }
        MakeRemovable(mine);
    }
    return problems;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

TEST(Extract, TableAsRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: run the tests as root to check extraction as root";
    std::vector<std::string> problems = RunTable(true);
    EXPECT_TRUE(problems.empty()) << Joined(problems);
}

TEST(Extract, TableAsUnprivilegedUser) {
    if (geteuid() != 0) {
        std::vector<std::string> problems = RunTable(false);
        EXPECT_TRUE(problems.empty()) << Joined(problems);
        return;
    }
    FixtureDir();
    // As root: the table runs in a child that became nobody (65534).
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        std::string report;
        // Every id and the supplementary groups: root's group 0 would
        // still open what the table expects refused.
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 65534, 65534) != 0) {
            report = "SKIP cannot become user 65534";
        } else {
            try {
                report = Joined(RunTable(false));
            } catch (const std::exception& e) {
                report = std::string("exception: ") + e.what();
            }
        }
        if (write(pipeFds[1], report.data(), report.size()) < 0) _exit(2);
        _exit(0);
    }
    close(pipeFds[1]);
    std::string report;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
    if (report.rfind("SKIP ", 0) == 0) GTEST_SKIP() << report.substr(5);
    EXPECT_TRUE(report.empty()) << report;
}

// The names of everything in dir.
std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// An extraction killed while it writes an entry leaves nothing of it: the
// data goes into a file without a name until it is checked whole.
TEST(Extract, AKillWhileWritingLeavesNoTemporary) {
    TempDir dir;
    const std::string archive = dir.File("a.zip"), target = dir.File("out");
    const std::string data = RandomBytes(1 << 22, 5);
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
        ASSERT_TRUE(AddBytesEntry(zip, "big.bin", data, 0));
        zip.Close();
    }
    fs::create_directories(target);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Tells the parent once the first piece is written, then waits to
        // be killed (for 30 s at most).
        struct Hold : CZipActionCallback {
            int fd;
            bool OnProgress(unsigned long long) override {
                if (write(fd, "w", 1) != 1) _exit(3);
                sleep(30);
                _exit(4);
            }
        } hold;
        hold.fd = ready[1];
        CZipBundle zip;
        if (!zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly)) _exit(2);
        zip.SetCallback(&hold);
        try {
            zip.ExtractFile(0, target.c_str());
        } catch (...) {
        }
        _exit(5);
    }
    close(ready[1]);
    struct pollfd wait{ready[0], POLLIN, 0};
    const bool written = poll(&wait, 1, 20000) == 1;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(written) << "the child never wrote";
    // Where the file system has no unnamed files, the named temporary the
    // kill left goes at the next extraction into the folder.
    int probe = open(target.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe >= 0) {
        close(probe);
        EXPECT_EQ(Names(target), std::set<std::string>{});
    } else {
        EXPECT_EQ(Names(target).size(), 1u);
    }

    CZipBundle zip;
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly));
    ASSERT_TRUE(zip.ExtractFile(0, target.c_str()));
    EXPECT_EQ(Names(target), std::set<std::string>{"big.bin"});
    EXPECT_TRUE(ReadFile(target + "/big.bin") == data);
}

// Temporaries that an extraction killed in the instant of taking their
// place (or an earlier library) left go at the next extraction into their
// directory, when nothing holds them; anything else of a like name stays.
TEST(Extract, StaleTemporariesGoAtTheNextExtraction) {
    TempDir dir;
    const std::string target = dir.File("out"), sub = target + "/sub";
    fs::create_directories(sub);
    const std::string archive = dir.File("a.zip");
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
        ASSERT_TRUE(AddBytesEntry(zip, "sub/f.txt", "new\n", 6));
        zip.Close();
    }
    for (const char* name : {".zarabc123", ".zar0zz9y8", ".zar000001", ".zarABCDEF", ".zarabc12", ".zarabc1234",
                             "zarabc123", ".zarnobody"})
        WriteFile(sub + "/" + name, "left\n");
    fs::create_directories(sub + "/.zardirect");
    fs::create_symlink(".zarabc123", sub + "/.zarlinkzz");
    WriteFile(target + "/.zarupper1", "left\n");  // no file goes there
    // One held by a live extraction, one of another user.
    int held = open((sub + "/.zar000001").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const bool otherUser = geteuid() == 0 && chown((sub + "/.zarnobody").c_str(), 65534, 65534) == 0;

    CZipBundle zip;
    ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipOpenReadOnly));
    ASSERT_TRUE(zip.ExtractFile(0, target.c_str()));
    zip.Close();
    close(held);
    std::set<std::string> expected{".zar000001", ".zarABCDEF", ".zarabc12", ".zarabc1234", "zarabc123",
                                   ".zardirect", ".zarlinkzz", "f.txt"};
    if (otherUser) expected.insert(".zarnobody");
    EXPECT_EQ(Names(sub), expected);
    EXPECT_EQ(Names(target), (std::set<std::string>{".zarupper1", "sub"}));
}

}  // namespace
