// Arbitrary bytes opened as an archive in memory: listed, every entry
// tested and extracted into memory and into a scratch target on disk, half
// of the inputs with a password set. Damage must end in a CZipException,
// never in a crash, a hang, memory beyond what the entry declares, or
// anything on disk outside the target or other than files and directories.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

namespace fs = std::filesystem;

namespace {
// <scratch>/target receives the entries; <scratch> holds nothing else.
// One for each input (libFuzzer may end without destructors), in memory
// where there is a tmpfs.
struct ScratchDir {
    std::string path;
    ScratchDir() {
        char pattern[] = "/dev/shm/fuzz_zip_read.XXXXXX";
        char fallback[] = "/tmp/fuzz_zip_read.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) made = mkdtemp(fallback);
        if (!made) __builtin_trap();
        path = made;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// What an extraction left: only files no larger than the largest entry
// and directories inside the target.
void CheckTarget(const std::string& scratch, const std::string& target, unsigned long long largest) {
    for (const auto& e : fs::directory_iterator(scratch))
        if (e.path().filename() != "target") __builtin_trap();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(target, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        struct stat st;
        if (lstat(it->path().c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            chmod(it->path().c_str(), 0700);  // a stored 0000 must not stop the walk
            continue;
        }
        if (!S_ISREG(st.st_mode) || (unsigned long long)st.st_size > largest) __builtin_trap();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CZipMemFile archive(1024);
    if (size) archive.Write(data, unsigned(size));
    CZipBundle zip;
    try {
        if (!zip.Open(archive, CZipBundle::zipOpenReadOnly)) return 0;
    } catch (const CZipException&) {
        return 0;
    }
    if (size & 1) zip.SetPassword("fuzz");
    ScratchDir scratch;
    const std::string target = scratch.path + "/target";
    unsigned long long largest = 0;
    zip.GetGlobalComment();
    for (unsigned short i = 0; i < zip.GetCount(); ++i) {
        CZipFileHeader* header = zip[i];
        header->GetFileName(false);
        header->GetComment();
        header->IsDirectory();
        header->GetModificationTime();
        zip.FindFile(header->GetFileName(false));
        try {
            zip.TestFile(i, 4096);
        } catch (const CZipException&) {
        }
        if (header->m_uUncomprSize <= (1u << 20)) {
            CZipMemFile out(1024);
            try {
                zip.ExtractFile(i, out, false, 1000);
            } catch (const CZipException&) {
            }
            if (out.GetLength() > header->m_uUncomprSize) __builtin_trap();
            if (header->m_uUncomprSize > largest) largest = header->m_uUncomprSize;
            try {
                zip.ExtractFile(i, target.c_str(), true, nullptr, ZipPlatform::fomNone, 1000);
            } catch (const CZipException&) {
            }
        }
        if (zip.CurrentFile() != nullptr) __builtin_trap();
    }
    zip.Close();  // sets the directory modes
    CheckTarget(scratch.path, target, largest);
    return 0;
}
