#pragma once
// Shared helpers of the export tests: a temporary directory, a reporter
// that records the export's messages, and a well-formedness check.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace exporttest {

// A fresh directory under $TMPDIR (or /tmp), removed with its content.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/export_test.XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data())) path_ = buffer.data();
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary);
    out << content;
}

// Records every message the export reports.
class Messages {
public:
    static void Report(const char* text) {
        std::lock_guard<std::mutex> lock(mutex());
        list().push_back(text);
    }
    static std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<std::string> taken;
        taken.swap(list());
        return taken;
    }

private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& list() {
        static std::vector<std::string> l;
        return l;
    }
};

// xmllint's verdict on `document`: empty when well formed, else its output.
inline std::string XmlLintErrors(const std::string& document) {
    TempDir dir;
    const std::string file = dir.path() + "/doc.kml";
    WriteFile(file, document);
    const std::string command = "xmllint --noout '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "cannot run xmllint";
    std::string output;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0 && output.empty()) output = "xmllint failed, status " + std::to_string(status);
    return output;
}

}  // namespace exporttest
