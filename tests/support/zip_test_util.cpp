#include "zip_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <time.h>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

namespace {
// DOS times are local times: every test and every tool runs in UTC.
const bool s_utc = [] {
    setenv("TZ", "UTC", 1);
    tzset();
    return true;
}();
}  // namespace

int CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CZipException& e) {
        return e.m_iCode;
    }
    return 0;
}

std::string Quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

ToolResult RunTool(const std::string& command, bool mergeStderr) {
    ToolResult result;
    std::string full = mergeStderr ? command + " 2>&1" : command;
    FILE* p = popen(full.c_str(), "r");
    if (!p) return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.output.append(buf, n);
    int status = pclose(p);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i += 4) {
        unsigned v = gen();
        for (size_t k = 0; k < 4 && i + k < size; ++k) s[i + k] = char((v >> (8 * k)) & 0xFF);
    }
    return s;
}

std::string KmlLikeText(size_t size) {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://earth.google.com/kml/2.0\">\n<Document>\n";
    std::mt19937 gen(7);
    unsigned n = 0;
    while (s.size() < size) {
        unsigned mmsi = 200000000 + gen() % 600000000;
        char buf[768];
        std::snprintf(buf, sizeof buf,
                      "<Placemark>\n<name>VESSEL %u</name>\n<description>MMSI: %u&lt;br&gt;Speed: %u.%u kn&lt;br&gt;"
                      "Course: %u.%u&lt;br&gt;Status: Under way using engine</description>\n"
                      "<styleUrl>#ship%u</styleUrl>\n<Point>\n<coordinates>%d.%06u,%d.%06u,0</coordinates>\n"
                      "</Point>\n</Placemark>\n",
                      n, mmsi, unsigned(gen() % 30), unsigned(gen() % 10), unsigned(gen() % 360),
                      unsigned(gen() % 10), unsigned(gen() % 10), int(gen() % 360) - 180, unsigned(gen() % 1000000),
                      int(gen() % 180) - 90, unsigned(gen() % 1000000));
        s += buf;
        ++n;
    }
    s += "</Document>\n</kml>\n";
    return s;
}

void ExpectArchiveValid(const std::string& path, bool empty) {
    ToolResult u = RunTool("unzip -t " + Quote(path));
    if (empty) {
        EXPECT_EQ(u.status, 1) << "unzip -t\n" << u.output;
        EXPECT_NE(u.output.find("zipfile is empty"), std::string::npos) << u.output;
    } else {
        EXPECT_EQ(u.status, 0) << "unzip -t\n" << u.output;
        EXPECT_NE(u.output.find("No errors detected"), std::string::npos) << u.output;
    }
    ToolResult py = RunTool("python3 -m zipfile -t " + Quote(path));
    EXPECT_EQ(py.status, 0) << "python3 zipfile\n" << py.output;
    EXPECT_EQ(py.output.find("corrupted"), std::string::npos) << py.output;
    ToolResult z = RunTool("7z t " + Quote(path));
    EXPECT_EQ(z.status, 0) << "7z t\n" << z.output;
    EXPECT_EQ(z.output.find("ERROR"), std::string::npos) << z.output;
}

std::string UnzipEntry(const std::string& archive, const std::string& entry) {
    ToolResult r = RunTool("unzip -p " + Quote(archive) + " " + Quote(entry) + " 2>/dev/null", false);
    return r.output;
}

unsigned U16(const std::string& b, size_t o) {
    return unsigned((unsigned char)b.at(o)) | unsigned((unsigned char)b.at(o + 1)) << 8;
}

unsigned U32(const std::string& b, size_t o) { return U16(b, o) | U16(b, o + 2) << 16; }

bool AddBytesEntry(CZipBundle& zip, const char* name, const std::string& data, int level,
                   unsigned short replaceIndex) {
    CZipMemFile source(1024);
    source.Write(data.data(), unsigned(data.size()));
    CZipAddNewFileInfo info(&source, name);
    info.m_iComprLevel = level;
    info.m_uReplaceIndex = replaceIndex;
    return zip.AddNewFile(info);
}
