// Adds a directory tree to a new archive, names relative to the tree:
// the library's side of bench/tree_vs_zip.sh.
// Usage: tree_add <archive> <directory>
#include <cstdio>

#include "zip/DirEnumerator.h"
#include "zip/ZipBundle.h"

namespace {
class AcceptAll : public ZipLib::CFileFilter {
protected:
    bool Accept(const char*, const char*, const ZipLib::CFileInfo&) override { return true; }
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <archive> <directory>\n", argv[0]);
        return 2;
    }
    CZipBundle zip;
    AcceptAll all;
    try {
        zip.Open(argv[1], CZipBundle::zipCreate);
        bool ok = zip.AddNewFiles(argv[2], all);
        zip.Close();
        return ok ? 0 : 1;
    } catch (const CZipException& e) {
        std::fprintf(stderr, "error %d\n", e.m_iCode);
        zip.Close(CZipBundle::afAfterException);
        return 1;
    }
}
