// Traditional ZIP encryption: archives that zip and 7z encrypt decode
// through our cryptograph, and a wrong password fails the check byte.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "zip/ZipBundle.h"
#include "zip/ZipCrc32Cryptograph.h"
#include "zip/ZipCryptograph.h"
#include "zip/ZipStorage.h"
#include "zip_test_util.h"

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
}  // namespace
