#pragma once
// Helpers of the ZIP and export tests: a temporary directory per test,
// running the real ZIP tools, and the KMZ packing road of the export.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "temp_dir.h"

class CZipBundle;

// The code of the CZipException that `f` throws; 0 when it throws none.
int CodeOf(const std::function<void()>& f);

struct ToolResult {
    int status = -1;  // exit status, -1 when the tool did not run
    std::string output;  // standard output and error
};

// Runs a shell command, capturing its output.
ToolResult RunTool(const std::string& command, bool mergeStderr = true);
std::string Quote(const std::string& text);

// Bytes that deflate cannot shrink (a fixed-seed generator).
std::string RandomBytes(size_t size, unsigned seed = 1);
// Text shaped like the export's KML document.
std::string KmlLikeText(size_t size);


// Asserts that unzip, python's zipfile and 7z all test the archive clean
// (unzip only warns about an archive without entries).
void ExpectArchiveValid(const std::string& path, bool empty = false);
// The bytes of one entry as unzip gives them back.
std::string UnzipEntry(const std::string& archive, const std::string& entry);

// Adds `data` from memory as entry `name` at `level`, in place of entry
// `replaceIndex` unless that is 0xFFFF; AddNewFile's result.
bool AddBytesEntry(CZipBundle& zip, const char* name, const std::string& data, int level,
                   unsigned short replaceIndex = 0xFFFF);

// Little-endian fields of an archive image.
unsigned U16(const std::string& bytes, size_t offset);
unsigned U32(const std::string& bytes, size_t offset);
