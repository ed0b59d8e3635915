// Traditional ZIP encryption: archives we encrypt open in unzip, python's
// zipfile and 7z with the password only; archives that zip and 7z encrypt
// decode through our cryptograph; passwords never stay in freed memory.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/stat.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "zip/ZipBundle.h"
#include "zip/ZipCrc32Cryptograph.h"
#include "zip/ZipCryptograph.h"
#include "zip/ZipMemFile.h"
#include "zip/ZipStorage.h"
#include "zip_test_util.h"

// ---- every block freed while a watch is armed is searched for a secret ----
// The allocation functions of the whole test binary are replaced (malloc
// underneath, as the defaults do) so that a password left in a freed block
// is seen at the moment it is freed.
namespace {
std::atomic<const char*> g_secret{nullptr};
std::atomic<int> g_freedWithSecret{0};

void Inspect(void* p) {
    const char* secret = g_secret.load();
    if (!p || !secret) return;
    size_t n = malloc_usable_size(p), k = std::strlen(secret);
    if (n >= k && memmem(p, n, secret, k)) ++g_freedWithSecret;
}

void* Allocate(size_t n) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

void Free(void* p) {
    Inspect(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete[](void* p, size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }

namespace {

const char kPassword[] = "secret";

// One entry as the central directory and the local header describe it.
struct RawEntry {
    std::string name;
    unsigned flags = 0, method = 0, modTime = 0, crc = 0, compressed = 0, uncompressed = 0;
    size_t local = 0;  // offset of the local header
    size_t data = 0;   // offset of the data (the encryption header first)
};

// A reader just large enough for the tests: end record without comment,
// central headers, local header lengths.
std::vector<RawEntry> ParseArchive(const std::string& zip) {
    std::vector<RawEntry> entries;
    size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    if (end == std::string::npos) return entries;
    unsigned count = U16(zip, end + 10);
    size_t p = U32(zip, end + 16);
    for (unsigned i = 0; i < count; ++i) {
        if (zip.compare(p, 4, "PK\x01\x02", 4) != 0) break;
        RawEntry e;
        e.flags = U16(zip, p + 8);
        e.method = U16(zip, p + 10);
        e.modTime = U16(zip, p + 12);
        e.crc = U32(zip, p + 16);
        e.compressed = U32(zip, p + 20);
        e.uncompressed = U32(zip, p + 24);
        unsigned nameLen = U16(zip, p + 28), extraLen = U16(zip, p + 30), commentLen = U16(zip, p + 32);
        e.local = U32(zip, p + 42);
        e.name = zip.substr(p + 46, nameLen);
        e.data = e.local + 30 + U16(zip, e.local + 26) + U16(zip, e.local + 28);
        entries.push_back(e);
        p += 46 + nameLen + extraLen + commentLen;
    }
    return entries;
}

std::string InflateRaw(const std::string& in, bool& ok) {
    z_stream s{};
    std::string out;
    ok = inflateInit2(&s, -MAX_WBITS) == Z_OK;
    if (!ok) return out;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = unsigned(in.size());
    char buf[65536];
    int err;
    do {
        s.next_out = reinterpret_cast<Bytef*>(buf);
        s.avail_out = sizeof buf;
        err = inflate(&s, Z_NO_FLUSH);
        out.append(buf, sizeof buf - s.avail_out);
    } while (err == Z_OK && s.avail_out == 0);
    ok = err == Z_STREAM_END;
    inflateEnd(&s);
    return out;
}

struct Decoded {
    bool checkPassed = false;
    bool ok = false;  // the data decoded to a valid stream
    std::string data;
};

// Runs one entry of an archive on disk through the cryptograph: the
// encryption header into InitDecode, the data through Decode and inflate.
Decoded DecodeEntry(const std::string& path, const RawEntry& e, const char* password, bool ignoreCheck = false) {
    Decoded d;
    CZipStorage storage;
    storage.Open(path.c_str(), CZipBundle::zipOpenReadOnly, 0);
    storage.Seek(e.data, CZipStorage::seekFromBeginning);
    CZipFileHeader header;
    header.m_uFlag = (unsigned short)e.flags;
    header.m_uModTime = (unsigned short)e.modTime;
    header.m_uCrc32 = e.crc;
    CZipAutoBuffer pass;
    pass.Allocate(unsigned(std::strlen(password)));
    std::memcpy(pass.GetBuffer(), password, pass.GetSize());
    CZipCrc32Cryptograph crypt;
    d.checkPassed = crypt.InitDecode(pass, header, storage, ignoreCheck);
    std::string data(e.compressed - 12, '\0');
    if (!data.empty()) storage.Read(&data[0], unsigned(data.size()), false);
    storage.Close(false);
    crypt.Decode(data.empty() ? nullptr : &data[0], unsigned(data.size()));
    if (e.method == 8) {
        d.data = InflateRaw(data, d.ok);
    } else {
        d.data = data;
        d.ok = true;
    }
    d.ok = d.ok && d.data.size() == e.uncompressed &&
           crc32(0, reinterpret_cast<const Bytef*>(d.data.data()), unsigned(d.data.size())) == e.crc;
    return d;
}

bool AddMemory(CZipBundle& zip, const std::string& name, const std::string& data, int level, int smartness = 7) {
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    return zip.AddNewFile(source, name.c_str(), level, smartness, 65536);
}

TEST(ZipEncryption, MethodsAndSettings) {
    struct Row {
        int method;
        bool supported, aes, accepted;
        unsigned before;
    };
    const Row rows[] = {
        {0, true, false, true, 12}, {1, false, true, false, 0},   {2, false, true, false, 0},
        {3, false, true, false, 0}, {255, false, false, true, 0}, {7, false, false, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.method);
        EXPECT_EQ(CZipCryptograph::IsEncryptionSupported(r.method), r.supported);
        EXPECT_EQ(CZipCryptograph::IsWinZipAesEncryption(r.method), r.aes);
        EXPECT_EQ(CZipCryptograph::GetEncryptedInfoSizeBeforeData(r.method), r.before);
        EXPECT_EQ(CZipCryptograph::GetEncryptedInfoSize(r.method), r.before);
        CZipBundle zip;
        EXPECT_EQ(zip.SetEncryptionMethod(r.method), r.accepted);
        EXPECT_EQ(zip.GetEncryptionMethod(), r.accepted ? r.method : 0);
    }
    EXPECT_EQ(CZipCryptograph::CreateCryptograph(255), nullptr);
    CZipCryptograph* c = CZipCryptograph::CreateCryptograph(0);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->CanHandle(0));
    EXPECT_FALSE(c->CanHandle(1));
    delete c;
}

TEST(ZipEncryption, PasswordSettings) {
    CZipBundle zip;
    CZipMemFile image(1024);
    // Allowed while closed; emptied by Close and by Open.
    EXPECT_TRUE(zip.SetPassword(kPassword));
    EXPECT_EQ(zip.Close(), "");
    EXPECT_EQ(zip.GetPassword(), "");
    EXPECT_TRUE(zip.SetPassword(kPassword));
    ASSERT_TRUE(zip.Open(image, CZipBundle::zipCreate, false));
    EXPECT_EQ(zip.GetPassword(), "");
    EXPECT_FALSE(zip.WillEncryptNextFile());
    ASSERT_TRUE(zip.SetPassword(kPassword));
    EXPECT_EQ(zip.GetPassword(), kPassword);
    EXPECT_TRUE(zip.WillEncryptNextFile());

    // Refused while an entry is open, the old password kept.
    CZipFileHeader header;
    header.SetFileName("open.txt");
    ASSERT_TRUE(zip.OpenNewFile(header, 0));
    EXPECT_FALSE(zip.SetPassword("other"));
    EXPECT_FALSE(zip.SetEncryptionMethod(255));
    EXPECT_TRUE(zip.CloseNewFile());
    EXPECT_EQ(zip.GetPassword(), kPassword);

    // Method 255 switches encryption off with the password still set.
    ASSERT_TRUE(zip.SetEncryptionMethod(255));
    EXPECT_FALSE(zip.WillEncryptNextFile());
    EXPECT_TRUE(AddMemory(zip, "plain.txt", "not encrypted\n", 0));
    EXPECT_EQ(zip.GetPassword(), kPassword);

    EXPECT_TRUE(zip.SetPassword(nullptr));
    EXPECT_EQ(zip.GetPassword(), "");
    zip.Close();
    std::string bytes(image.GetData(), size_t(image.GetLength()));
    std::vector<RawEntry> entries = ParseArchive(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].flags & 9u, 9u);
    EXPECT_EQ(entries[1].flags & 9u, 0u);
}

// Deflated and stored entries, from disk and from memory, with an empty
// file and a directory among them: every tool opens the archive with the
// password and only with it, and our cryptograph decodes every entry.
TEST(ZipEncryption, ToolsOpenOurArchiveWithThePasswordOnly) {
    TempDir dir;
    const std::string archive = dir.File("enc.zip");
    struct Expect {
        std::string name, data;
        bool encrypted, deflated;
    };
    const std::string text = KmlLikeText(30000), noise = RandomBytes(5000, 9), small = "ab";
    WriteFile(dir.File("report.kml"), text);
    WriteFile(dir.File("empty.txt"), "");
    mkdir(dir.File("folder").c_str(), 0755);
    {
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(archive.c_str(), CZipBundle::zipCreate));
        ASSERT_TRUE(zip.SetPassword(kPassword));
        ASSERT_TRUE(zip.AddNewFile(dir.File("report.kml").c_str(), "report.kml", 9));
        ASSERT_TRUE(zip.AddNewFile(dir.File("folder").c_str(), "folder"));
        ASSERT_TRUE(zip.AddNewFile(dir.File("empty.txt").c_str(), "empty.txt", 9));
        ASSERT_TRUE(AddMemory(zip, "noise.bin", noise, 0));
        ASSERT_TRUE(AddMemory(zip, "again.kml", text, 6));
        ASSERT_TRUE(AddMemory(zip, "small.txt", small, 9));
        // Without the smartness bits the directory and the empty file are
        // encrypted like any entry.
        ASSERT_TRUE(AddMemory(zip, "empty-enc.txt", "", 9, 0));
        EXPECT_EQ(zip.GetPassword(), kPassword);  // set back after each smart clearing
        zip.Close();
    }
    const std::vector<Expect> expected = {
        {"report.kml", text, true, true},     {"folder/", "", false, false},  {"empty.txt", "", false, false},
        {"noise.bin", noise, true, false},    {"again.kml", text, true, true}, {"small.txt", small, true, false},
        {"empty-enc.txt", "", true, true},
    };
    const std::string bytes = ReadFile(archive);
    std::vector<RawEntry> entries = ParseArchive(bytes);
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expect& x = expected[i];
        const RawEntry& e = entries[i];
        SCOPED_TRACE(x.name);
        EXPECT_EQ(e.name, x.name);
        EXPECT_EQ(e.method, x.deflated ? 8u : 0u);
        if (!x.encrypted) {
            EXPECT_EQ(e.flags & 9u, 0u);
            EXPECT_EQ(e.compressed, 0u);
            continue;
        }
        // Encrypted: flag bits 0 and 3, local sizes 0, a 16-byte descriptor
        // with its signature after the 12-byte header and the data.
        EXPECT_EQ(e.flags & 9u, 9u);
        EXPECT_EQ(U32(bytes, e.local + 18), 0u);
        EXPECT_EQ(U32(bytes, e.local + 22), 0u);
        const size_t descriptor = e.data + e.compressed;
        EXPECT_EQ(bytes.compare(descriptor, 4, "PK\x07\x08", 4), 0);
        EXPECT_EQ(U32(bytes, descriptor + 4), e.crc);
        EXPECT_EQ(U32(bytes, descriptor + 8), e.compressed);
        EXPECT_EQ(U32(bytes, descriptor + 12), e.uncompressed);
        if (!x.deflated) {
            EXPECT_EQ(e.compressed, x.data.size() + 12);
        }
        Decoded right = DecodeEntry(archive, e, kPassword);
        EXPECT_TRUE(right.checkPassed);
        EXPECT_TRUE(right.ok);
        EXPECT_TRUE(right.data == x.data);
    }

    ToolResult u = RunTool("unzip -P secret -t " + Quote(archive));
    EXPECT_EQ(u.status, 0) << u.output;
    EXPECT_NE(u.output.find("No errors detected"), std::string::npos) << u.output;
    ToolResult uw = RunTool("unzip -P wrong -t " + Quote(archive));
    EXPECT_NE(uw.status, 0) << uw.output;
    ToolResult z = RunTool("7z t -psecret " + Quote(archive));
    EXPECT_EQ(z.status, 0) << z.output;
    ToolResult zw = RunTool("7z t -pwrong " + Quote(archive));
    EXPECT_NE(zw.status, 0) << zw.output;

    // python reads every entry with the password and checks its CRC.
    std::ostringstream py;
    py << "import sys, zipfile\n"
          "z = zipfile.ZipFile(sys.argv[1])\n"
          "z.setpassword(b'secret')\n"
          "for i in z.infolist():\n"
          "    d = z.read(i.filename)\n"
          "    print(i.filename, i.flag_bits & 1, len(d), open(sys.argv[2] + '/' + i.filename, 'rb').read() == d "
          "if i.filename in ('report.kml', 'empty.txt') else '-')\n";
    WriteFile(dir.File("read.py"), py.str());
    ToolResult p = RunTool("python3 " + Quote(dir.File("read.py")) + " " + Quote(archive) + " " + Quote(dir.path()));
    EXPECT_EQ(p.status, 0) << p.output;
    const std::string n = std::to_string(text.size());
    EXPECT_EQ(p.output, "report.kml 1 " + n + " True\nfolder/ 0 0 -\nempty.txt 0 0 True\nnoise.bin 1 5000 -\n" +
                            "again.kml 1 " + n + " -\nsmall.txt 1 2 -\nempty-enc.txt 1 0 -\n")
        << p.output;
}

// Two entries encrypted in the same second with one password and the same
// data: their random headers, and so their keystreams, differ.
TEST(ZipEncryption, EntriesOfOneSecondDoNotShareAKeystream) {
    CZipBundle zip;
    CZipMemFile image(1024);
    ASSERT_TRUE(zip.Open(image, CZipBundle::zipCreate, false));
    ASSERT_TRUE(zip.SetPassword(kPassword));
    const std::string data = KmlLikeText(4000);
    ASSERT_TRUE(AddMemory(zip, "one", data, 0));
    ASSERT_TRUE(AddMemory(zip, "two", data, 0));
    zip.Close();
    const std::string bytes(image.GetData(), size_t(image.GetLength()));
    std::vector<RawEntry> e = ParseArchive(bytes);
    ASSERT_EQ(e.size(), 2u);
    ASSERT_EQ(e[0].compressed, e[1].compressed);
    EXPECT_NE(bytes.substr(e[0].data, 10), bytes.substr(e[1].data, 10));
    EXPECT_NE(bytes.substr(e[0].data + 12, e[0].compressed - 12), bytes.substr(e[1].data + 12, e[1].compressed - 12));
}

// Archives of the other tools, both check-byte styles, deflated and stored,
// through InitDecode and Decode.
TEST(ZipEncryption, DecodesArchivesOfOtherTools) {
    struct Tool {
        const char* label;
        const char* command;  // %s: archive, then source
        bool descriptor;      // zip checks the time, 7z the CRC
    };
    const Tool tools[] = {
        {"zip deflated", "cd %s && zip -q -P secret a.zip src.kml", true},
        {"zip stored", "cd %s && zip -q -0 -P secret a.zip src.kml", true},
        {"7z deflated", "cd %s && 7z a -tzip -psecret -mem=ZipCrypto a.zip src.kml", false},
        {"7z stored", "cd %s && 7z a -tzip -mx0 -psecret -mem=ZipCrypto a.zip src.kml", false},
    };
    const std::string text = KmlLikeText(50000);
    for (const Tool& t : tools) {
        SCOPED_TRACE(t.label);
        TempDir dir;
        WriteFile(dir.File("src.kml"), text);
        char command[512];
        std::snprintf(command, sizeof command, t.command, Quote(dir.path()).c_str());
        ToolResult r = RunTool(command);
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string archive = dir.File("a.zip");
        std::vector<RawEntry> e = ParseArchive(ReadFile(archive));
        ASSERT_EQ(e.size(), 1u);
        EXPECT_EQ(e[0].flags & 1u, 1u);
        EXPECT_EQ((e[0].flags & 8u) != 0, t.descriptor);
        Decoded right = DecodeEntry(archive, e[0], kPassword);
        EXPECT_TRUE(right.checkPassed);
        EXPECT_TRUE(right.ok);
        EXPECT_TRUE(right.data == text);
        // A fresh header lets a wrong password pass the check one time in
        // 256, but never yields the data.
        Decoded wrong = DecodeEntry(archive, e[0], "wrong");
        EXPECT_FALSE(wrong.checkPassed && wrong.ok);
    }
}

// A committed archive of "zip -P secret" on which the given wrong password
// fails the check byte: the proof that a wrong password is detected.
TEST(ZipEncryption, WrongPasswordFailsTheCheckByte) {
    const std::string archive = std::string(ZIP_TEST_DATA) + "/wrong_password.zip";
    std::vector<RawEntry> e = ParseArchive(ReadFile(archive));
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0].flags & 9u, 9u);
    const char* kNote =
        "Encrypted entry of the wrong-password test: zip -P secret, data descriptor,\n"
        "check byte from the modification time. Any other password must fail here.\n";
    Decoded right = DecodeEntry(archive, e[0], kPassword);
    EXPECT_TRUE(right.checkPassed);
    EXPECT_TRUE(right.ok);
    EXPECT_EQ(right.data, kNote);
    for (const char* wrongPassword : {"wrong", "Secret", "secret2"}) {
        SCOPED_TRACE(wrongPassword);
        EXPECT_FALSE(DecodeEntry(archive, e[0], wrongPassword).checkPassed);
        // Told to ignore the check, InitDecode accepts; the data is garbage.
        Decoded ignored = DecodeEntry(archive, e[0], wrongPassword, true);
        EXPECT_TRUE(ignored.checkPassed);
        EXPECT_FALSE(ignored.ok);
    }
}

// Every road a password takes through the archive (set, replaced, cleared
// for a directory and an empty file and set back, used by the cryptograph,
// emptied by Close, dropped with the object) frees it only after zeroing.
TEST(ZipEncryption, PasswordIsNeverFreedUnwiped) {
    // Long enough to live on the heap in any string.
    const char* first = "first password, long enough for the heap 1";
    const char* second = "second password, long enough for the heap 2";
    TempDir dir;
    WriteFile(dir.File("empty.txt"), "");
    mkdir(dir.File("folder").c_str(), 0755);
    for (const char* watched : {first, second}) {
        SCOPED_TRACE(watched);
        g_freedWithSecret = 0;
        g_secret = watched;
        {
            CZipBundle zip;
            CZipMemFile image(1024);
            ASSERT_TRUE(zip.Open(image, CZipBundle::zipCreate, false));
            ASSERT_TRUE(zip.SetPassword(first));
            ASSERT_TRUE(AddMemory(zip, "a.txt", KmlLikeText(3000), 9));
            ASSERT_TRUE(zip.AddNewFile(dir.File("empty.txt").c_str(), "empty.txt", 9));
            ASSERT_TRUE(zip.AddNewFile(dir.File("folder").c_str(), "folder"));
            ASSERT_TRUE(zip.SetPassword(second));
            CZipString copy = zip.GetPassword();  // the caller's copy is the caller's to wipe
            EXPECT_EQ(copy, second);
            explicit_bzero(&copy[0], copy.size());
            ASSERT_TRUE(AddMemory(zip, "b.txt", KmlLikeText(3000), 0));
            zip.Close();
            ASSERT_TRUE(zip.SetPassword(first));  // set on a closed archive and dropped with it
        }
        g_secret = nullptr;
        EXPECT_EQ(g_freedWithSecret.load(), 0);
    }
}

}  // namespace

// The read side with a password: archives that zip and 7z encrypted extract
// through the archive with the right password; with a wrong one, OpenFile
// refuses with 213 and leaves no entry open.
TEST(ZipEncryption, ArchivesOfOtherToolsExtractWithThePasswordOnly) {
    const std::string text = KmlLikeText(50000);
    TempDir dir;
    WriteFile(dir.File("src.kml"), text);
    const std::string commands[] = {
        "cd " + Quote(dir.path()) + " && zip -q -P secret zip.zip src.kml",
        "cd " + Quote(dir.path()) + " && 7z a -tzip -psecret -mem=ZipCrypto 7z.zip src.kml",
    };
    for (const std::string& c : commands) ASSERT_EQ(RunTool(c).status, 0) << c;

    struct Case {
        std::string archive;
        const char* password;
        int code;  // 0: extracts to the source
    };
    const Case cases[] = {
        {dir.File("zip.zip"), kPassword, 0},
        {dir.File("7z.zip"), kPassword, 0},
        {std::string(ZIP_TEST_DATA) + "/wrong_password.zip", kPassword, 0},
        {std::string(ZIP_TEST_DATA) + "/wrong_password.zip", "wrong", CZipException::badPassword},
        {std::string(ZIP_TEST_DATA) + "/wrong_password.zip", "", CZipException::badPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive + " / " + c.password);
        CZipBundle zip;
        ASSERT_TRUE(zip.Open(c.archive.c_str(), CZipBundle::zipOpenReadOnly));
        ASSERT_TRUE(zip.SetPassword(c.password));
        CZipMemFile out(1024);
        if (c.code == 0) {
            ASSERT_TRUE(zip.ExtractFile(0, out));
            EXPECT_TRUE(zip.TestFile(0));
            std::string got(out.GetLength(), '\0');
            out.SeekToBegin();
            out.Read(&got[0], unsigned(got.size()));
            if (c.archive.find("wrong_password") == std::string::npos) EXPECT_TRUE(got == text);
            else EXPECT_EQ(got.compare(0, 9, "Encrypted"), 0);
        } else {
            EXPECT_EQ(CodeOf([&] { zip.OpenFile(0); }), c.code);
            // Nothing stays open: the right password works on the same object.
            ASSERT_TRUE(zip.SetPassword(kPassword));
            EXPECT_TRUE(zip.TestFile(0));
        }
        zip.Close();
    }
}
