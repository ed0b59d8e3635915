#pragma once
// Shared helpers of the export tests: a temporary directory, a reporter
// that records the export's messages, and a well-formedness check.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace exporttest {

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

// Lowers one soft resource limit for the guard's life.
class LimitGuard {
public:
    LimitGuard(int resource, rlim_t soft) : resource_(resource) {
        getrlimit(resource_, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = soft;
        EXPECT_EQ(setrlimit(resource_, &lowered), 0);
    }
    ~LimitGuard() { setrlimit(resource_, &old_); }

private:
    int resource_;
    rlimit old_{};
};

inline std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

}  // namespace exporttest
