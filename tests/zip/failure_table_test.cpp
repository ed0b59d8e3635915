// Changes of an existing archive driven through a file that fails after N
// written bytes, N swept over the change's whole write volume, and through
// callbacks that stop at each of their calls: afterwards every entry the
// change was not asked to touch must still be readable and the same.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "faulty_file.h"
#include "zip/ZipBundle.h"
#include "zip/ZipCallback.h"
#include "zip_test_util.h"

namespace {

const char kPassword[] = "secret";

struct Source {
    const char* name;
    std::string data;
    int level;
};

const std::vector<Source>& BaseEntries() {
    static const std::vector<Source> entries = {
        {"a.txt", KmlLikeText(30000), 6},   {"b.bin", RandomBytes(40000, 2), 0}, {"c/", "", 0},
        {"c/d.txt", KmlLikeText(5000), 9},  {"e.bin", RandomBytes(70000, 3), 6}, {"f.txt", "", 6},
        {"g.txt", KmlLikeText(20000), 1},   {"h.bin", RandomBytes(9000, 4), 0},  {"i.txt", KmlLikeText(3000), 6},
        {"j.bin", RandomBytes(50000, 5), 0},
    };
    return entries;
}

std::string BaseImage() {
    static std::string image;
    if (!image.empty()) return image;
    FaultyFile file;
    CZipBundle zip;
    zip.Open(file, CZipBundle::zipCreate, false);
    for (const Source& s : BaseEntries()) {
        if (s.name[std::string(s.name).size() - 1] == '/') {
            CZipFileHeader dir;
            dir.SetFileName(s.name);
            dir.SetSystemAttr(ZipPlatform::GetDefaultDirAttributes());
            zip.OpenNewFile(dir, 0);
            zip.CloseNewFile();
        } else {
            AddBytesEntry(zip, s.name, s.data, s.level);
        }
    }
    zip.Close();
    image = file.Image();
    return image;
}

void Encrypt(CZipBundle& zip, std::vector<unsigned short> which) {
    zip.SetPassword(kPassword);
    CZipArray<unsigned short> indexes;
    for (unsigned short i : which) indexes.Add(i);
    zip.EncryptFilesInternal(&indexes);
}

void Rename(CZipBundle& zip, unsigned short index, const char* name) { zip[index]->SetFileName(name); }

struct Operation {
    const char* label;
    std::vector<std::string> touched;
    std::function<void(CZipBundle&)> change;
    // Done first, without faults: the second change must keep it.
    std::function<void(CZipBundle&)> prepare;
};

// Copies an entry of an archive image in under a new name.
void CopyFrom(CZipBundle& zip, const std::string& image, unsigned short index, const char* name) {
    CZipMemFile copySource(1024);
    copySource.Write(image.data(), unsigned(image.size()));
    CZipBundle source;
    source.Open(copySource, CZipBundle::zipOpenReadOnly, false);
    zip.GetFromArchive(source, index, name);
    source.Close();
}

void CopyIn(CZipBundle& zip, unsigned short index, const char* name) { CopyFrom(zip, BaseImage(), index, name); }

// An entry of 960 kB: more than the room a small add leaves, so the room
// must grow for it.
const std::string& LargeData() {
    static const std::string data = RandomBytes(960000, 14);
    return data;
}

// An archive holding only that entry, stored, to copy from.
const std::string& LargeImage() {
    static std::string image;
    if (!image.empty()) return image;
    FaultyFile file;
    CZipBundle zip;
    zip.Open(file, CZipBundle::zipCreate, false);
    AddBytesEntry(zip, "large.bin", LargeData(), 0);
    zip.Close();
    image = file.Image();
    return image;
}

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> ops = {
        {"remove the first", {"a.txt"}, [](CZipBundle& z) { z.RemoveFile(0); }, nullptr},
        {"remove two in the middle", {"e.bin", "g.txt"},
         [](CZipBundle& z) {
             CZipArray<unsigned short> i;
             i.Add(6);
             i.Add(4);
             z.RemoveFiles(i);
         },
         nullptr},
        {"rename longer", {"b.bin"},
         [](CZipBundle& z) {
             z.SetCommitMode(CZipBundle::cmManual);
             Rename(z, 1, "b-with-a-much-longer-name.bin");
             z.CommitChanges();
         },
         nullptr},
        {"rename two, one shorter, on change", {"a.txt", "g.txt"},
         [](CZipBundle& z) {
             Rename(z, 0, "a-renamed-longer.txt");
             Rename(z, 6, "g");
         },
         nullptr},
        {"replace by a deflated entry", {"e.bin"},
         [](CZipBundle& z) { AddBytesEntry(z, "e.bin", KmlLikeText(60000), 6, 4); }, nullptr},
        {"replace by a smaller stored entry", {"b.bin"},
         [](CZipBundle& z) { AddBytesEntry(z, "b.bin", RandomBytes(20000, 9), 0, 1); }, nullptr},
        {"add", {"new.txt"}, [](CZipBundle& z) { AddBytesEntry(z, "new.txt", KmlLikeText(40000), 6); }, nullptr},
        {"a run of adds", {"n1.bin", "n2.txt", "n3.bin"},
         [](CZipBundle& z) {
             AddBytesEntry(z, "n1.bin", RandomBytes(20000, 11), 0);
             AddBytesEntry(z, "n2.txt", KmlLikeText(20000), 6);
             AddBytesEntry(z, "n3.bin", RandomBytes(9000, 12), 6);
         },
         nullptr},
        {"copy in", {"copied.bin"}, [](CZipBundle& z) { CopyIn(z, 4, "copied.bin"); }, nullptr},
        {"prepend", {},
         [](CZipBundle& z) {
             CZipMemFile stub(1024);
             const std::string bytes(10000, '#');
             stub.Write(bytes.data(), unsigned(bytes.size()));
             z.PrependData(stub);
         },
         nullptr},
        {"encrypt in place", {"a.txt", "g.txt"}, [](CZipBundle& z) { Encrypt(z, {0, 6}); }, nullptr},
        {"add, then remove", {"a.txt"}, [](CZipBundle& z) { z.RemoveFile(0); },
         [](CZipBundle& z) { AddBytesEntry(z, "new.txt", KmlLikeText(40000), 6); }},
        {"rename, then add", {"late.bin"},
         [](CZipBundle& z) { AddBytesEntry(z, "late.bin", RandomBytes(30000, 13), 6); },
         [](CZipBundle& z) { Rename(z, 1, "b-renamed.bin"); }},
        {"copy, then rename", {"e.bin"}, [](CZipBundle& z) { Rename(z, 4, "e-renamed-longer.bin"); },
         [](CZipBundle& z) { CopyIn(z, 0, "copied.txt"); }},
        // What an add reported done stays when the next one fails, also
        // where the room must grow for it.
        {"small add, then a large add", {"large.bin"},
         [](CZipBundle& z) { AddBytesEntry(z, "large.bin", LargeData(), 6); },
         [](CZipBundle& z) { AddBytesEntry(z, "small.txt", KmlLikeText(300), 6); }},
        {"small copy, then a large copy", {"copied-large.bin"},
         [](CZipBundle& z) { CopyFrom(z, LargeImage(), 0, "copied-large.bin"); },
         [](CZipBundle& z) { CopyIn(z, 8, "copied-small.txt"); }},
    };
    return ops;
}

void Open(CZipBundle& zip, FaultyFile& file, int buffer) {
    file.Load(BaseImage());
    zip.SetAdvanced(buffer, buffer, 4096);
    ASSERT_TRUE(zip.Open(file, CZipBundle::zipOpen, false));
}

// What a run left, to be checked by the tools in one go.
struct Outcome {
    std::string label, image;
    const Operation* op;
    bool mustHold;
};

// The state the change starts from, written out: the untouched entries
// must come back from it byte for byte.
std::string Reference(const Operation& op, const std::string& dir, size_t k) {
    FaultyFile file;
    CZipBundle zip;
    Open(zip, file, 65536);
    if (op.prepare) op.prepare(zip);
    zip.Close();
    const std::string path = dir + "/ref" + std::to_string(k) + ".zip";
    WriteFile(path, file.Image());
    return path;
}

const char kChecker[] = R"(
import collections, json, sys, zipfile
bad = 0
shown = 0
by_op = collections.Counter()
for j in json.load(open(sys.argv[1])):
    try:
        z = zipfile.ZipFile(j["image"])
        z.setpassword(b"secret")
        broken = z.testzip()
        if broken is not None:
            raise Exception("entry does not test clean: " + broken)
        ref = zipfile.ZipFile(j["ref"])
        names = set(z.namelist())
        for n in ref.namelist():
            if n in j["touched"]:
                continue
            if n not in names:
                raise Exception("lost " + n)
            if z.read(n) != ref.read(n):
                raise Exception("changed " + n)
    except Exception as e:
        bad += 1
        by_op[j["op"]] += 1
        if j["hold"] and shown < 30:
            shown += 1
            print("FAIL", j["label"], e)
for op, n in sorted(by_op.items()):
    print("UNREADABLE after", op, n)
print("UNREADABLE", bad)
)";

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Runs python over every outcome and unzip and 7z over every `sample`-th
// one; returns how many were left unreadable, and in byOperation how many
// after each operation.
int Check(const std::vector<Outcome>& outcomes, const std::vector<std::string>& refs, const std::string& dir,
          size_t sample, std::string* byOperation = nullptr) {
    std::ostringstream jobs;
    jobs << "[";
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        const size_t k = size_t(o.op - &Operations()[0]);
        jobs << (i ? "," : "") << "{\"image\":" << Json(o.image) << ",\"ref\":" << Json(refs[k])
             << ",\"label\":" << Json(o.label) << ",\"op\":" << Json(o.op->label) << ",\"hold\":" << (o.mustHold ? "true" : "false")
             << ",\"touched\":[";
        for (size_t t = 0; t < o.op->touched.size(); ++t) jobs << (t ? "," : "") << Json(o.op->touched[t]);
        jobs << "]}";
    }
    jobs << "]";
    WriteFile(dir + "/jobs.json", jobs.str());
    WriteFile(dir + "/check.py", kChecker);
    const ToolResult r = RunTool("python3 " + Quote(dir + "/check.py") + " " + Quote(dir + "/jobs.json"));
    EXPECT_EQ(r.output.find("FAIL"), std::string::npos) << r.output;
    for (size_t i = 0; i < outcomes.size(); i += sample) {
        const Outcome& o = outcomes[i];
        if (!o.mustHold) continue;
        const ToolResult u = RunTool("unzip -t -P " + std::string(kPassword) + " " + Quote(o.image));
        EXPECT_EQ(u.status, 0) << o.label << "\n" << u.output;
        const ToolResult z = RunTool("7z t -p" + std::string(kPassword) + " " + Quote(o.image));
        EXPECT_EQ(z.status, 0) << o.label << "\n" << z.output;
    }
    if (byOperation) {
        std::istringstream lines(r.output);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("UNREADABLE after", 0) == 0) *byOperation += line + "\n";
    }
    const size_t at = r.output.rfind("UNREADABLE ");
    return at == std::string::npos ? -1 : std::stoi(r.output.substr(at + 11));
}

// One change under one fault; the caller gives up on the archive after a
// failure, writing nothing more.
std::string RunOnce(const Operation& op, FaultyFile::Model model, unsigned long long budget, int buffer,
                    unsigned long long* written = nullptr) {
    FaultyFile file;
    CZipBundle zip;
    Open(zip, file, buffer);
    if (op.prepare) op.prepare(zip);
    const unsigned long long before = file.Written();
    file.Arm(model, before + budget);
    CodeOf([&] {
        op.change(zip);
        zip.Close();
    });
    if (!zip.IsClosed()) zip.Close(CZipBundle::afAfterException);
    if (written) *written = file.Written() - before;
    file.Disarm();
    return file.Image();
}

TEST(FailureTable, EveryUntouchedEntrySurvivesAFailingWrite) {
    TempDir dir;
    const auto& ops = Operations();
    std::vector<std::string> refs;
    for (size_t k = 0; k < ops.size(); ++k) refs.push_back(Reference(ops[k], dir.path(), k));
    const struct {
        FaultyFile::Model model;
        const char* name;
    } models[] = {{FaultyFile::fullDisk, "full disk"}, {FaultyFile::transient, "transient"},
                  {FaultyFile::deviceGone, "device gone"}};
    // Sampled: every run is checked, and the sweep stays within seconds
    // under the sanitizers too.
    const int kSteps = 24;
    std::vector<Outcome> held, gone;
    for (const Operation& op : ops) {
        unsigned long long volume = 0;
        RunOnce(op, FaultyFile::healthy, 0, 4096, &volume);
        for (const auto& m : models) {
            for (int s = 0; s <= kSteps + 1; ++s) {
                // The sweep ends with the last byte of the change.
                const unsigned long long budget = s > kSteps ? volume - 1 : volume * s / kSteps;
                std::ostringstream label;
                label << op.label << ", " << m.name << " after " << budget << " of " << volume;
                const std::string path =
                    dir.File("run" + std::to_string(held.size() + gone.size()) + ".zip");
                WriteFile(path, RunOnce(op, m.model, budget, 4096));
                const bool hold = m.model != FaultyFile::deviceGone;
                (hold ? held : gone).push_back({label.str(), path, &op, hold});
            }
        }
    }
    EXPECT_EQ(Check(held, refs, dir.path(), 37), 0);
    std::string byOperation;
    const int lost = Check(gone, refs, dir.path(), gone.size() + 1, &byOperation);
    std::printf("device gone: %d of %zu runs left untouched entries unreadable\n%s", lost, gone.size(),
                byOperation.c_str());
}

// Stops at its n-th call of any kind.
class StopAt : public CZipActionCallback {
public:
    bool OnProgress(unsigned long long) override { return ++m_calls != m_stopAt; }
    int m_calls = 0;
    int m_stopAt = -1;
};

TEST(FailureTable, ACallbackStoppingAtAnyCallLeavesTheArchiveReadable) {
    TempDir dir;
    const auto& ops = Operations();
    std::vector<std::string> refs;
    for (size_t k = 0; k < ops.size(); ++k) refs.push_back(Reference(ops[k], dir.path(), k));
    std::vector<Outcome> outcomes;
    for (const Operation& op : ops) {
        for (int stop = 1;; ++stop) {
            StopAt cb;
            cb.m_stopAt = stop;
            FaultyFile file;
            CZipBundle zip;
            Open(zip, file, 16384);
            if (op.prepare) op.prepare(zip);
            zip.SetCallback(&cb, CZipActionCallback::cbAll);
            cb.m_iStep = 1;
            const int code = CodeOf([&] {
                op.change(zip);
                zip.Close();
            });
            if (!zip.IsClosed()) zip.Close(CZipBundle::afAfterException);
            const std::string path = dir.File("stop" + std::to_string(outcomes.size()) + ".zip");
            WriteFile(path, file.Image());
            std::ostringstream label;
            label << op.label << ", stopped at call " << stop << " (code " << code << ")";
            outcomes.push_back({label.str(), path, &op, true});
            if (code == 0 && cb.m_calls < stop) break;
            ASSERT_LT(stop, 5000) << op.label;
        }
    }
    EXPECT_EQ(Check(outcomes, refs, dir.path(), 23), 0);
}

}  // namespace

namespace {

// Close on a full disk throws and keeps the archive open, its file still
// what it was; once there is room, Close again finishes the archive.
TEST(FailureTable, CloseOnAFullDiskCanBeRetried) {
    const struct {
        const char* label;
        bool create;
        std::function<void(CZipBundle&)> change;
        std::vector<std::string> names;  // after the retry
    } cases[] = {
        {"adds to a new archive", true,
         [](CZipBundle& z) {
             AddBytesEntry(z, "x.txt", KmlLikeText(20000), 6);
             AddBytesEntry(z, "y.bin", RandomBytes(9000, 21), 0);
         },
         {"x.txt", "y.bin"}},
        {"a rename waiting for its commit", false,
         [](CZipBundle& z) {
             z.SetCommitMode(CZipBundle::cmManual);
             Rename(z, 0, "a-renamed-at-close.txt");
         },
         {"a-renamed-at-close.txt", "b.bin", "j.bin"}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FaultyFile file;
        CZipBundle zip;
        if (c.create) {
            ASSERT_TRUE(zip.Open(file, CZipBundle::zipCreate, false));
        } else {
            Open(zip, file, 65536);
        }
        c.change(zip);
        const std::string before = file.Image();
        file.Arm(FaultyFile::fullDisk, file.Written());
        EXPECT_EQ(CodeOf([&] { zip.Close(); }), ENOSPC);
        EXPECT_FALSE(zip.IsClosed());
        EXPECT_TRUE(file.Image() == before);
        file.Disarm();
        EXPECT_EQ(CodeOf([&] { zip.Close(); }), 0);
        EXPECT_TRUE(zip.IsClosed());
        const std::string path = dir.File("retried.zip");
        WriteFile(path, file.Image());
        ExpectArchiveValid(path);
        for (const std::string& n : c.names) EXPECT_FALSE(UnzipEntry(path, n).empty() && n != "f.txt") << n;
    }
}

}  // namespace

namespace {

// Says stop at every call once stopped, as a cancel button does: the
// directory written back after the stopped add must not ask it.
class StopFrom : public CZipActionCallback {
public:
    bool OnProgress(unsigned long long) override { return ++m_calls < m_stopAt; }
    int m_calls = 0;
    int m_stopAt = 1;
};

TEST(FailureTable, AStopThatLastsKeepsTheEntriesBeforeIt) {
    const struct {
        const char* label;
        std::function<void(CZipBundle&)> change;
    } cases[] = {
        {"add", [](CZipBundle& z) { AddBytesEntry(z, "late.txt", KmlLikeText(200000), 6); }},
        {"copy in",
         [](CZipBundle& z) {
             const std::string base = BaseImage();
             CZipMemFile copySource(1024);
             copySource.Write(base.data(), unsigned(base.size()));
             CZipBundle source;
             source.Open(copySource, CZipBundle::zipOpenReadOnly, false);
             CZipArray<unsigned short> which;
             which.Add(4);
             // Through the list, which asks the archive's callback.
             const int code = CodeOf([&] { z.GetFromArchive(source, which); });
             source.Close();
             if (code) CZipException::Throw(code);
         }},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FaultyFile file;
        CZipBundle zip;
        zip.SetAdvanced(16384, 16384, 4096);
        ASSERT_TRUE(zip.Open(file, CZipBundle::zipCreate, false));
        AddBytesEntry(zip, "x.txt", KmlLikeText(20000), 6);
        AddBytesEntry(zip, "y.bin", RandomBytes(9000, 21), 0);
        StopFrom cb;
        zip.SetCallback(&cb, CZipActionCallback::cbAll);
        cb.m_iStep = 1;
        EXPECT_EQ(CodeOf([&] { c.change(zip); }), CZipException::abortedSafely);
        // The code said intact: giving the archive up writes nothing more.
        zip.Close(CZipBundle::afAfterException);
        const std::string path = dir.File("stopped.zip");
        WriteFile(path, file.Image());
        ExpectArchiveValid(path);
        EXPECT_TRUE(UnzipEntry(path, "x.txt") == KmlLikeText(20000));
        EXPECT_TRUE(UnzipEntry(path, "y.bin") == RandomBytes(9000, 21));
    }
}

}  // namespace

namespace {

// ---- changes of the directory alone ----------------------------------------------

// Ten entries packed by zip, deflated and stored; its entries' bytes by name.
struct InfoZipBase {
    TempDir dir;
    std::map<std::string, std::string> entries;
    std::string image;
    InfoZipBase() {
        const std::string t = dir.File("t");
        std::filesystem::create_directories(t + "/sub");
        for (int i = 0; i < 10; ++i) {
            const std::string name = (i % 3 == 2 ? "sub/" : "") + std::string("e") + std::to_string(i) + (i % 2 ? ".bin" : ".txt");
            entries[name] = i % 2 ? RandomBytes(3000 + 1000 * i, 40 + i) : KmlLikeText(2000 + 3000 * i);
            WriteFile(t + "/" + name, entries[name]);
        }
        // Stored names only, no directory entries, in a fixed order.
        std::string list;
        for (const auto& e : entries) list += " " + Quote(e.first);
        EXPECT_EQ(RunTool("cd " + Quote(t) + " && zip -q -D -X ../base.zip" + list).status, 0);
        image = ReadFile(dir.File("base.zip"));
    }
};

const InfoZipBase& InfoZip() {
    static InfoZipBase base;
    return base;
}

// unzip -t, 7z t and python's zipfile test the archive, and python finds
// every entry of `entries` (extra ones allowed) with its bytes.
void ExpectOpensWith(const std::string& path, const std::map<std::string, std::string>& entries,
                     const std::string& when) {
    const ToolResult u = RunTool("unzip -tq " + Quote(path));
    EXPECT_EQ(u.status, 0) << when << ": unzip -t\n" << u.output;
    const ToolResult z = RunTool("7z t " + Quote(path));
    EXPECT_EQ(z.status, 0) << when << ": 7z t\n" << z.output;
    std::string expected;
    for (const auto& e : entries) {
        WriteFile(path + ".expected." + std::to_string(expected.size()), e.second);
        expected += e.first + "\n";
    }
    WriteFile(path + ".names", expected);
    const ToolResult py = RunTool(
        "python3 -c 'import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "pos = 0\n"
        "for n in open(sys.argv[1] + \".names\").read().splitlines():\n"
        "    want = open(sys.argv[1] + \".expected.\" + str(pos), \"rb\").read()\n"
        "    pos += len(n) + 1\n"
        "    assert z.read(n) == want, n\n' " +
        Quote(path));
    EXPECT_EQ(py.status, 0) << when << ": python zipfile\n" << py.output;
}

// Runs `change` on the archive at path in a child process, which is killed
// once the call has returned; false when it did not get that far.
bool KilledAfter(const std::string& path, const std::function<bool(CZipBundle&)>& change) {
    int ready[2];
    if (pipe(ready) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        char ok = 0;
        try {
            CZipBundle zip;
            ok = zip.Open(path.c_str(), CZipBundle::zipOpen) && change(zip) ? 1 : 0;
        } catch (...) {
        }
        if (write(ready[1], &ok, 1) != 1) _exit(3);
        for (;;) pause();
    }
    close(ready[1]);
    pollfd wait = {ready[0], POLLIN, 0};
    char ok = 0;
    const bool answered = poll(&wait, 1, 60000) == 1 && read(ready[0], &ok, 1) == 1;
    close(ready[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return answered && ok == 1;
}

TEST(FailureTable, ChangesOfTheDirectoryAloneKeepOneOnDisk) {
    const InfoZipBase& base = InfoZip();
    const time_t noon = 1700000000;
    const struct {
        const char* label;
        std::function<bool(CZipBundle&)> change;
        // After Close: the python expression over z (the archive) that
        // tells the change is in.
        const char* written;
        // Entries the change takes out, and the ones it adds.
        std::vector<std::string> gone;
        std::map<std::string, std::string> added;
    } cases[] = {
        {"archive comment", [](CZipBundle& z) { return z.SetGlobalComment("the archive comment"); },
         "z.comment == b\"the archive comment\"", {}, {}},
        {"entry comment", [](CZipBundle& z) { return z[1]->SetComment("an entry comment"); },
         "z.infolist()[1].comment == b\"an entry comment\"", {}, {}},
        {"entry attributes", [](CZipBundle& z) { return z[2]->SetSystemAttr(S_IFREG | 0600); },
         "z.infolist()[2].external_attr >> 16 == 0o100600", {}, {}},
        {"entry time",
         [noon](CZipBundle& z) {
             z[3]->SetModificationTime(noon);
             return true;
         },
         "z.infolist()[3].date_time == (2023, 11, 14, 22, 13, 20)", {}, {}},
        // The local header keeps its name: python would refuse the entry.
        {"central name only", [](CZipBundle& z) { return z[4]->SetFileName("renamed.txt", true); },
         "z.infolist()[4].filename == \"renamed.txt\"", {}, {}},
        {"remove the last", [](CZipBundle& z) { return z.RemoveLast(true); }, "len(z.infolist()) == 9",
         {"sub/e8.txt"}, {}},
        {"remove a record only", [](CZipBundle& z) { return z.RemoveFile(0, false); }, "len(z.infolist()) == 9",
         {"e0.txt"}, {}},
        {"archive comment under auto-finalize",
         [](CZipBundle& z) { return z.SetAutoFinalize(true) && z.SetGlobalComment("finalized at once"); },
         "z.comment == b\"finalized at once\"", {}, {}},
        {"entry attributes under auto-finalize",
         [](CZipBundle& z) { return z.SetAutoFinalize(true) && z[2]->SetSystemAttr(S_IFREG | 0640); },
         "z.infolist()[2].external_attr >> 16 == 0o100640", {}, {}},
        {"archive comment, then an add",
         [](CZipBundle& z) {
             return z.SetGlobalComment("then an add") && AddBytesEntry(z, "added.txt", KmlLikeText(5000), 6);
         },
         "z.comment == b\"then an add\"", {}, {{"added.txt", KmlLikeText(5000)}}},
        {"remove the last, then an add",
         [](CZipBundle& z) { return z.RemoveLast(true) && AddBytesEntry(z, "added.bin", RandomBytes(40000, 9), 0); },
         "len(z.infolist()) == 10", {"sub/e8.txt"}, {{"added.bin", RandomBytes(40000, 9)}}},
        // The directories written before the commit hold the name the
        // local header still has.
        {"a rename waiting for its commit, then a removal",
         [](CZipBundle& z) {
             z.SetCommitMode(CZipBundle::cmManual);
             return z[1]->SetFileName("e1-renamed-longer.bin") && z.RemoveFile(0);
         },
         "\"e1-renamed-longer.bin\" in z.namelist()", {"e0.txt", "e1.bin"},
         {{"e1-renamed-longer.bin", InfoZip().entries.at("e1.bin")}}},
        {"a rename waiting for its commit, then an add",
         [](CZipBundle& z) {
             z.SetCommitMode(CZipBundle::cmManual);
             return z[1]->SetFileName("e1-renamed-longer.bin") && AddBytesEntry(z, "added.txt", KmlLikeText(5000), 6);
         },
         "\"e1-renamed-longer.bin\" in z.namelist()", {"e1.bin"},
         {{"e1-renamed-longer.bin", InfoZip().entries.at("e1.bin")}, {"added.txt", KmlLikeText(5000)}}},
        // Of unknown size: no room can be kept ahead of it.
        {"an add by hand",
         [](CZipBundle& z) {
             CZipFileHeader header;
             header.SetFileName("by-hand.txt");
             const std::string text = KmlLikeText(70000);
             return z.OpenNewFile(header, 6) && z.WriteNewFile(text.data(), unsigned(text.size())) && z.CloseNewFile();
         },
         "len(z.infolist()) == 11", {}, {{"by-hand.txt", KmlLikeText(70000)}}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.File("a.zip");
        // Before Close the entries a change takes out may still be listed.
        std::map<std::string, std::string> untouched = base.entries;
        for (const std::string& g : c.gone) untouched.erase(g);
        // Between the change and Close, what stands on disk.
        WriteFile(path, base.image);
        {
            CZipBundle zip;
            ASSERT_TRUE(zip.Open(path.c_str(), CZipBundle::zipOpen));
            ASSERT_TRUE(c.change(zip));
            const std::string between = dir.File("between.zip");
            WriteFile(between, ReadFile(path));
            ExpectOpensWith(between, untouched, "before Close");
            zip.Close();
        }
        std::map<std::string, std::string> after = untouched;
        after.insert(c.added.begin(), c.added.end());
        if (std::string(c.label).find("central name") == std::string::npos) ExpectOpensWith(path, after, "after Close");
        const ToolResult written = RunTool("python3 -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                                           "sys.exit(0 if " + std::string(c.written) + " else 1)' " + Quote(path));
        EXPECT_EQ(written.status, 0) << "the change is not in the closed archive\n" << written.output;
        // Killed once the call returned, before Close.
        WriteFile(path, base.image);
        ASSERT_TRUE(KilledAfter(path, c.change));
        ExpectOpensWith(path, untouched, "killed after the call returned");
    }
}

}  // namespace
