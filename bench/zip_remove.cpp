// Removes one entry, by name, from an archive with the ZIP library; the
// counterpart of "zip -d" in bench/zip_remove_vs_zip.sh.
//   zip_remove <archive> <name>
#include <cstdio>

#include "zip/ZipBundle.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zip_remove <archive> <name>\n");
        return 2;
    }
    try {
        CZipBundle zip;
        zip.Open(argv[1], CZipBundle::zipOpen);
        unsigned short index = zip.FindFile(argv[2]);
        if (index == 0xFFFF || !zip.RemoveFile(index)) {
            std::fprintf(stderr, "%s not removed\n", argv[2]);
            return 1;
        }
        zip.Close();
    } catch (const CZipException& e) {
        std::fprintf(stderr, "error %d\n", e.m_iCode);
        return 1;
    }
    return 0;
}
