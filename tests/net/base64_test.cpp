#include "net/Base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "net/IFile.h"
#include "net/Utility.h"
#include "temp_dir.h"

namespace {

// Output of a command run through the shell; the test fails when it does.
std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        ADD_FAILURE() << "popen: " << command;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    EXPECT_EQ(0, pclose(p)) << command;
    return out;
}

// Bytes 0..255 repeated, so every value and every position in a group occur.
std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

std::string Encode(const std::string& s, bool breaks) {
    std::string out = "junk";
    Base64().encode(s, out, breaks);
    return out;
}

std::string Decode(const std::string& s) {
    std::string out = "junk";
    Base64().decode(s, out);
    return out;
}

TEST(Base64, Encode) {
    struct Case {
        std::string input;
        bool breaks;
        std::string expect;
    } cases[] = {
        {"", true, ""},
        {"a", true, "YQ=="},
        {"ab", true, "YWI="},
        {"abc", true, "YWJj"},
        {std::string("\0\xff\x80", 3), false, "AP+A"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expect, Encode(c.input, c.breaks)) << c.input.size() << " bytes";

    // A full line gets no LF after it; the 58th byte starts a second line.
    std::string full = Encode(std::string(57, 'x'), true);
    EXPECT_EQ(76u, full.size());
    EXPECT_EQ(std::string::npos, full.find('\n'));
    std::string more = Encode(std::string(58, 'x'), true);
    ASSERT_EQ(81u, more.size());
    EXPECT_EQ('\n', more[76]);
    EXPECT_EQ(std::string::npos, more.find('\n', 77));
    EXPECT_EQ(std::string::npos, Encode(std::string(58, 'x'), false).find('\n'));
}

// Malformed texts decode without complaint; decode_length always equals the
// number of bytes decode makes, so a buffer of that size always suffices.
TEST(Base64, Decode) {
    struct Case {
        std::string input;
        std::string expect;
    } cases[] = {
        {"", ""},
        {"YWJj\nYWJj", "abcabc"},
        {"YWJj\r\nYWJj\r\n", "abcabc"},
        {"\n\r\nYQ==", "a"},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"YWJj\n", "abc"},
        {"\n\n", ""},
        // A short last group reads as padded.
        {"YWI", "ab"},
        {"YQ", "a"},
        {"YWJjY", "abc`"},
        // Non-alphabet characters, those of 128 and above too, count as 0.
        {"\xff\x80\xc3\xa9", std::string(3, '\0')},
        {"Y\xffJj", std::string("`\x02\x63", 3)},
        {"****", std::string(3, '\0')},
        {"====", std::string(1, '\0')},
        // A break inside a group is a character of the group.
        {"YW\nJ", std::string("a`\x09", 3)},
        {std::string("YQ\0=", 4), std::string("a\0", 2)},
    };
    Base64 b;
    for (const Case& c : cases) {
        EXPECT_EQ(c.expect, Decode(c.input)) << '"' << c.input << '"';
        EXPECT_EQ(c.expect.size(), b.decode_length(c.input)) << '"' << c.input << '"';
        EXPECT_EQ(c.expect, Utility::base64d(c.input)) << '"' << c.input << '"';
    }
}

TEST(Base64, DecodeIntoBufferKeepsToCapacity) {
    const std::string text = "YWJjZGVm";  // "abcdef"
    Base64 b;

    size_t count = 12345;
    EXPECT_TRUE(b.decode(text, nullptr, count));
    EXPECT_EQ(6u, count);

    struct Case {
        size_t capacity;
        bool fits;
        std::string written;
    } cases[] = {{6, true, "abcdef"}, {8, true, "abcdef"}, {4, false, "abcd"}, {0, false, ""}};
    for (const Case& c : cases) {
        std::vector<unsigned char> buf(c.capacity + 2, '#');
        size_t length = c.capacity;
        EXPECT_EQ(c.fits, b.decode(text, buf.data(), length)) << c.capacity;
        EXPECT_EQ(c.written.size(), length) << c.capacity;
        EXPECT_EQ(c.written, std::string(buf.begin(), buf.begin() + length)) << c.capacity;
        for (size_t i = length; i < buf.size(); ++i) EXPECT_EQ('#', buf[i]) << c.capacity << " at " << i;
    }
}

// coreutils base64 is the oracle: it breaks lines at 76 too, but ends a
// non-empty text with LF where ours ends without one.
TEST(Base64, MatchesCoreutils) {
    TempDir dir;
    const std::string file = dir.File("data");
    for (size_t n : {0, 1, 2, 3, 4, 56, 57, 58, 113, 114, 115, 171, 1000, 4096}) {
        const std::string data = Bytes(n);
        WriteFile(file, data);
        const std::string wrapped = Shell("base64 " + file);
        const std::string flat = Shell("base64 -w0 " + file);

        EXPECT_EQ(wrapped, Encode(data, true) + (n ? "\n" : "")) << n;
        EXPECT_EQ(flat, Encode(data, false)) << n;
        EXPECT_EQ(flat, Utility::base64(data)) << n;
        EXPECT_EQ(data, Decode(wrapped)) << n;
        EXPECT_EQ(data, Decode(flat)) << n;

        WriteFile(file, Encode(data, true));
        EXPECT_EQ(data, Shell("base64 -d " + file)) << n;
    }
}

// Gives at most `chunk` bytes per read, as a pipe or socket may.
class StringFile : public IFile {
public:
    explicit StringFile(const std::string& s, size_t chunk = SIZE_MAX) : m_s(s), m_chunk(chunk) {}
    size_t fread(char* buffer, size_t size, size_t count) const override {
        size_t n = std::min({size * count, m_s.size() - m_pos, m_chunk});
        m_s.copy(buffer, n, m_pos);
        m_pos += n;
        return n / size;
    }

private:
    std::string m_s;
    size_t m_chunk;
    mutable size_t m_pos = 0;
};

TEST(Base64, EncodeStreams) {
    for (size_t n : {0, 1, 2, 3, 58, 200}) {
        const std::string data = Bytes(n);
        TempDir dir;
        WriteFile(dir.File("data"), data);
        FILE* f = fopen(dir.File("data").c_str(), "rb");
        ASSERT_NE(nullptr, f);
        std::string fromFile = "junk";
        Base64().encode(f, fromFile, true);
        fclose(f);
        EXPECT_EQ(Encode(data, true), fromFile) << n;

        StringFile sf(data);
        std::string fromIFile = "junk";
        Base64().encode(&sf, fromIFile, false);
        EXPECT_EQ(Encode(data, false), fromIFile) << n;

        std::string fromChars;
        Base64().encode(data.data(), data.size(), fromChars, true);
        EXPECT_EQ(Encode(data, true), fromChars) << n;
    }
}

// Short reads fill groups: every size 0 to 1000, read 1, 2, 3 and 7 bytes
// at a time, against coreutils (one shell run for all sizes).
TEST(Base64, EncodeFromShortReadsMatchesCoreutils) {
    const size_t kMax = 1000;
    TempDir dir;
    const std::string data = Bytes(kMax);
    for (size_t n = 0; n <= kMax; ++n) WriteFile(dir.File(std::to_string(n)), data.substr(0, n));
    const std::string all = Shell("cd " + dir.File("") + " && for n in $(seq 0 " + std::to_string(kMax) +
                                  "); do base64 $n; echo .; done");
    size_t at = 0;
    for (size_t n = 0; n <= kMax; ++n) {
        const size_t end = all.find(".\n", at);
        ASSERT_NE(std::string::npos, end) << n;
        const std::string wrapped = all.substr(at, end - at);
        at = end + 2;
        std::string flat = wrapped;
        flat.erase(std::remove(flat.begin(), flat.end(), '\n'), flat.end());
        for (size_t chunk : {1, 2, 3, 7}) {
            StringFile broken(data.substr(0, n), chunk);
            std::string out = "junk";
            Base64().encode(&broken, out, true);
            ASSERT_EQ(wrapped, out + (n ? "\n" : "")) << n << " bytes, reads of " << chunk;
            StringFile flatReads(data.substr(0, n), chunk);
            Base64().encode(&flatReads, out, false);
            ASSERT_EQ(flat, out) << n << " bytes, reads of " << chunk;
        }
    }
}

}  // namespace
