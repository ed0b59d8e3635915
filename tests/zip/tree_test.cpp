// Directory trees: the walk, its filters, adding whole trees (checked against
// find and the real ZIP tools) and the progress callbacks of a tree add.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "zip/DirEnumerator.h"
#include "zip/ZipAddFilesEnumerator.h"
#include "zip/ZipBundle.h"
#include "zip_test_util.h"

using ZipLib::CFileInfo;

namespace {

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.insert(line);
    return lines;
}

// Regular files and directories, a link to a file (added as that file under
// its own name), and beside them what the walk must pass over: links to
// directories (one loops back to a parent), a dangling link, a FIFO, a
// socket.
std::string MakeTree(const TempDir& dir) {
    std::string root = dir.File("tree");
    for (const char* d : {"", "/empty", "/sub", "/sub/deeper"}) mkdir((root + d).c_str(), 0755);
    WriteFile(root + "/a.txt", "alpha\n");
    WriteFile(root + "/.hidden", "h");
    WriteFile(root + "/sub/b.txt", KmlLikeText(3000));
    WriteFile(root + "/sub/deeper/c.bin", RandomBytes(500));
    WriteFile(root + "/sub/deeper/d.txt", "");
    WriteFile(root + "/sub/deeper/e.sub", "e");
    EXPECT_EQ(symlink("..", (root + "/sub/loop").c_str()), 0);
    EXPECT_EQ(symlink(".", (root + "/self").c_str()), 0);
    EXPECT_EQ(symlink("a.txt", (root + "/link.txt").c_str()), 0);
    EXPECT_EQ(symlink("nowhere", (root + "/dangling").c_str()), 0);
    EXPECT_EQ(mkfifo((root + "/sub/fifo").c_str(), 0644), 0);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = root + "/sock";
    EXPECT_LT(sock.size(), sizeof addr.sun_path);
    sock.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    return root;
}

// Runs body in a child process and gives its exit status, or -1 when it
// did not end within the bound (a walk that blocks or never ends).
int RunBounded(const std::function<int()>& body, int seconds = 60) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = 3;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class AcceptAll : public ZipLib::CFileFilter {
protected:
    bool Accept(const char*, const char*, const CFileInfo&) override { return true; }
};

TEST(Tree, AddedTreeListsWhatFindLists) {
    TempDir dir;
    std::string root = MakeTree(dir);
    const std::string kTypes =
        "\\( -type d -printf '%P/\\n' -o -type f -printf '%P\\n' -o -xtype f -printf '%P\\n' \\)";
    const struct {
        const char* label;
        bool skipInitialPath;
        bool recursive;
        int smartness;
        std::string find;  // arguments after the root
    } cases[] = {
        {"relative names", true, true, CZipBundle::zipsmSafeSmart, "-mindepth 1 " + kTypes},
        {"full paths", false, true, CZipBundle::zipsmSafeSmart,
         "-mindepth 1 \\( -type d -printf '%p/\\n' -o -type f -printf '%p\\n' -o -xtype f -printf '%p\\n' \\)"},
        {"no directory entries", true, true, CZipBundle::zipsmSafeSmart | CZipBundle::zipsmIgnoreDirectories,
         "-xtype f -printf '%P\\n'"},
        {"top level only", true, false, CZipBundle::zipsmSafeSmart, "-maxdepth 1 -xtype f -printf '%P\\n'"},
    };
    // The links, the FIFO and the socket are really there.
    EXPECT_EQ(Lines(RunTool("find " + Quote(root) + " ! -type f ! -type d").output).size(), 6u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string archive = dir.File("out.zip");
        int status = RunBounded([&] {
            CZipBundle zip;
            AcceptAll all;
            zip.Open(archive.c_str(), CZipBundle::zipCreate);
            bool ok = zip.AddNewFiles(root.c_str(), all, c.recursive, 6, c.skipInitialPath, c.smartness);
            zip.Close();
            return ok ? 0 : 1;
        });
        ASSERT_EQ(status, 0);
        std::set<std::string> expected;
        for (std::string line : Lines(RunTool("find " + Quote(root) + " " + c.find).output)) {
            // Names in an archive never start with a separator.
            expected.insert(line.substr(line.find_first_not_of('/')));
        }
        EXPECT_EQ(Lines(RunTool("unzip -Z1 " + Quote(archive)).output), expected);
        ExpectArchiveValid(archive);
        if (c.skipInitialPath && c.recursive) {
            EXPECT_EQ(UnzipEntry(archive, "sub/b.txt"), KmlLikeText(3000));
            EXPECT_EQ(UnzipEntry(archive, "link.txt"), "alpha\n");
        }
        unlink(archive.c_str());
    }
}

TEST(Tree, ArchiveInsideTheTreeIsNotAddedToItself) {
    TempDir dir;
    std::string root = dir.File("tree");
    mkdir(root.c_str(), 0755);
    mkdir((root + "/inner").c_str(), 0755);
    // Top-level files go first, so the archive is well grown when the walk
    // meets it.
    for (int i = 0; i < 4; ++i) WriteFile(root + "/f" + std::to_string(i) + ".bin", RandomBytes(200000, i + 1));
    std::string archive = root + "/inner/out.zip";
    int status = RunBounded([&] {
        CZipBundle zip;
        AcceptAll all;
        zip.Open(archive.c_str(), CZipBundle::zipCreate);
        bool ok = zip.AddNewFiles(root.c_str(), all);
        zip.Close();
        return ok ? 0 : 1;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Lines(RunTool("unzip -Z1 " + Quote(archive)).output),
              (std::set<std::string>{"f0.bin", "f1.bin", "f2.bin", "f3.bin", "inner/"}));
    ExpectArchiveValid(archive);
}

// Accepts files of one kind by their name's ending; directories count as
// files of the kind only when asked.
class SuffixFilter : public ZipLib::CFileFilter {
public:
    SuffixFilter(std::string suffix, bool handlesDirectories, bool inverted)
        : CFileFilter(inverted), m_suffix(std::move(suffix)), m_handlesDirectories(handlesDirectories) {}
    bool HandlesFile(const CFileInfo& info) override { return m_handlesDirectories || !info.IsDirectory(); }

protected:
    bool Accept(const char* parent, const char* name, const CFileInfo&) override {
        EXPECT_EQ(std::string(parent).back(), '/');
        std::string n(name);
        return n.size() >= m_suffix.size() && n.compare(n.size() - m_suffix.size(), m_suffix.size(), m_suffix) == 0;
    }
    std::string m_suffix;
    bool m_handlesDirectories;
};

class Recorder : public ZipLib::CDirEnumerator {
public:
    using CDirEnumerator::CDirEnumerator;
    std::vector<std::string> m_seen;
    std::string m_events;
    size_t m_stopAt = 0;  // Process answers false for this item (1-based)

protected:
    bool Process(const char* path, const CFileInfo& info) override {
        m_seen.push_back(std::string(path) + (info.IsDirectory() ? "/" : ""));
        return m_seen.size() != m_stopAt;
    }
    void OnEnumerationBegin() override { m_events += "B"; }
    void OnEnumerationEnd(bool result) override { m_events += result ? "E" : "e"; }
    void EnterDirectory() override { m_events += "("; }
    void ExitDirectory() override { m_events += ")"; }
};

std::set<std::string> Relative(const std::vector<std::string>& paths, const std::string& root) {
    std::set<std::string> out;
    for (const std::string& p : paths) out.insert(p.substr(root.size() + 1));
    return out;
}

TEST(Tree, WalkOrderFiltersAndStop) {
    TempDir dir;
    std::string root = MakeTree(dir);

    // Level by level, each directory before its contents.
    Recorder all(root.c_str(), true);
    AcceptAll accept;
    EXPECT_TRUE(all.Start(accept));
    EXPECT_EQ(all.m_events, "B()()()()E");  // tree, empty, sub, deeper
    size_t depth = 0;
    for (const std::string& p : all.m_seen) {
        std::string rel = p.substr(root.size() + 1);
        size_t d = std::count(rel.begin(), rel.end() - 1, '/');
        EXPECT_GE(d, depth) << rel;
        depth = d;
        if (rel.back() == '/') continue;
        std::string parent = p.substr(0, p.rfind('/') + 1);
        if (parent != root + "/") {
            EXPECT_LT(std::find(all.m_seen.begin(), all.m_seen.end(), parent) - all.m_seen.begin(),
                      std::find(all.m_seen.begin(), all.m_seen.end(), p) - all.m_seen.begin());
        }
    }

    const struct {
        const char* label;
        std::string suffix;
        bool handlesDirectories;
        bool inverted;
        std::set<std::string> expected;
    } cases[] = {
        // Directories the filter does not handle are walked, not handed on.
        {"files by suffix", ".txt", false, false, {"a.txt", "link.txt", "sub/b.txt", "sub/deeper/d.txt"}},
        {"inverted", ".txt", false, true, {".hidden", "sub/deeper/c.bin", "sub/deeper/e.sub"}},
        // A directory the filter rejects is not entered.
        {"rejected directory", "sub", true, false, {"sub/"}},
    };
    for (const auto& c : cases) {
        Recorder walk(root.c_str(), true);
        SuffixFilter filter(c.suffix, c.handlesDirectories, c.inverted);
        EXPECT_TRUE(walk.Start(filter)) << c.label;
        EXPECT_EQ(Relative(walk.m_seen, root), c.expected) << c.label;
    }

    Recorder flat(root.c_str(), false);
    EXPECT_TRUE(flat.Start(accept));
    EXPECT_EQ(Relative(flat.m_seen, root), (std::set<std::string>{"a.txt", ".hidden", "link.txt"}));
    EXPECT_EQ(flat.m_events, "B()E");
    // Never silently: the link to a directory and the dangling one.
    EXPECT_EQ(flat.GetLinksLeftOut(), 2u);

    // A file that Process refuses ends the walk at once.
    Recorder stopped(root.c_str(), true);
    SuffixFilter files("", false, false);
    stopped.m_stopAt = 1;
    EXPECT_FALSE(stopped.Start(files));
    EXPECT_EQ(stopped.m_seen.size(), 1u);
    EXPECT_EQ(stopped.m_events, "B()e");

    std::string absent = dir.File("missing");  // the walk keeps only a pointer
    Recorder missing(absent.c_str(), true);
    EXPECT_TRUE(missing.Start(accept));
    EXPECT_TRUE(missing.m_seen.empty());

    // An empty start directory walks the current one, and gives no part of
    // the names.
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(root.c_str()), 0);
    Recorder here("", false);
    bool ran = here.Start(accept);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(std::set<std::string>(here.m_seen.begin(), here.m_seen.end()),
              (std::set<std::string>{"a.txt", ".hidden", "link.txt"}));
}

// What a tree add leaves out or finds again: a FIFO given to AddNewFile is
// refused without blocking; a split archive written into its own tree
// skips its volumes, also stale ones of an earlier run; a replacing add
// finds the directory entries already there.
TEST(Tree, SpecialFilesOwnVolumesAndReplacedDirectories) {
    TempDir dir;
    std::string root = MakeTree(dir);
    const std::string fifo = root + "/sub/fifo";
    EXPECT_EQ(RunBounded(
                  [&] {
                      CZipBundle zip;
                      zip.Open(dir.File("fifo.zip").c_str(), CZipBundle::zipCreate);
                      const int code = CodeOf([&] { zip.AddNewFile(fifo.c_str(), "fifo"); });
                      zip.Close();
                      return code == CZipException::specialFile ? 0 : 1;
                  },
                  10),
              0);

    // Volumes from an earlier, longer run lie in the tree.
    WriteFile(root + "/out.z07", "stale volume");
    WriteFile(root + "/out.zip", "stale last volume");
    const std::string archive = root + "/out.zip";
    ASSERT_EQ(RunBounded([&] {
                  CZipBundle zip;
                  AcceptAll all;
                  zip.Open(archive.c_str(), CZipBundle::zipCreate | CZipBundle::zipModeSplit, 65536);
                  bool ok = zip.AddNewFiles(root.c_str(), all);
                  zip.Close();
                  return ok ? 0 : 1;
              }),
              0);
    std::set<std::string> names = Lines(RunTool("unzip -Z1 " + Quote(archive)).output);
    EXPECT_EQ(names.count("out.z07") + names.count("out.zip") + names.count("out.z01"), 0u);
    EXPECT_EQ(names.count("a.txt"), 1u);

    // Adding the tree again, replacing: every entry once.
    const std::string plain = dir.File("plain.zip");
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(RunBounded([&] {
                      CZipBundle zip;
                      AcceptAll all;
                      zip.Open(plain.c_str(), round ? CZipBundle::zipOpen : CZipBundle::zipCreate);
                      CReplacingAddFilesEnumerator adds(root.c_str(), true, 6, CZipBundle::zipsmSafeSmart, 65536);
                      bool ok = zip.AddNewFiles(adds, all);
                      zip.Close();
                      return ok ? 0 : 1;
                  }),
                  0);
    }
    const ToolResult listed = RunTool("unzip -Z1 " + Quote(plain));
    EXPECT_EQ(Lines(listed.output).size(), size_t(std::count(listed.output.begin(), listed.output.end(), '\n')));
    ExpectArchiveValid(plain);
}

class MultiCallback : public CZipActionCallback {
public:
    bool OnProgress(unsigned long long) override { return m_iType != m_failType; }
    void MultiActionsInit(unsigned files, unsigned long long bytes, int reactType) override {
        m_log << "init " << files << " " << bytes << " " << reactType << ";";
    }
    bool MultiActionsNext() override { return ++m_next != m_abortAt; }
    void MultiActionsEnd() override { m_log << "end;"; }
    int m_failType = -1;
    int m_next = 0;
    int m_abortAt = -1;
    std::ostringstream m_log;
};

TEST(Tree, ProgressOfATreeAdd) {
    TempDir dir;
    std::string root = dir.File("tree");
    mkdir(root.c_str(), 0755);
    mkdir((root + "/sub").c_str(), 0755);
    WriteFile(root + "/a.txt", std::string(1000, 'a'));
    WriteFile(root + "/sub/b.txt", std::string(234, 'b'));
    AcceptAll all;
    const struct {
        const char* label;
        int smartness;
        int failType;
        int abortAt;
        int code;           // thrown by AddNewFiles
        std::string log;
        unsigned entries;
    } cases[] = {
        {"counted with directories", 7, -1, -1, 0, "init 3 1234 1;end;", 3},
        {"counted without directories", 7 | CZipBundle::zipsmIgnoreDirectories, -1, -1, 0, "init 2 1234 1;end;", 2},
        {"stopped while counting", 7, CZipActionCallback::cbCalculateForMulti, -1, 207, "", 0},
        {"stopped after the second add", 7, -1, 2, 207, "init 3 1234 1;end;", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string archive = dir.File("out.zip");
        CZipBundle zip;
        MultiCallback cb;
        cb.m_failType = c.failType;
        cb.m_abortAt = c.abortAt;
        AcceptAll filter;
        EXPECT_FALSE(zip.AddNewFiles(root.c_str(), filter));  // closed
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
        zip.SetCallback(&cb);
        EXPECT_EQ(CodeOf([&] { EXPECT_TRUE(zip.AddNewFiles(root.c_str(), filter, true, -1, true, c.smartness)); }),
                  c.code);
        EXPECT_EQ(cb.m_log.str(), c.log);
        EXPECT_EQ(zip.GetCount(), c.entries);
        EXPECT_EQ(zip.GetRootPath(), "");  // restored
        zip.Close();
        ExpectArchiveValid(archive, c.entries == 0);
        unlink(archive.c_str());
    }
}

}  // namespace
