// Tests or extracts every entry of an archive with the ZIP library; the
// counterpart of "unzip -tq" and "unzip -qo" in bench/zip_read_vs_unzip.sh.
//   zip_read test <archive>
//   zip_read extract <archive> <folder>
#include <cstdio>
#include <cstring>

#include "zip/ZipBundle.h"

int main(int argc, char** argv) {
    bool extract = argc == 4 && std::strcmp(argv[1], "extract") == 0;
    if (!extract && !(argc == 3 && std::strcmp(argv[1], "test") == 0)) {
        std::fprintf(stderr, "usage: zip_read test <archive> | zip_read extract <archive> <folder>\n");
        return 2;
    }
    try {
        CZipBundle zip;
        zip.Open(argv[2], CZipBundle::zipOpenReadOnly);
        for (unsigned short i = 0; i < zip.GetCount(); ++i) {
            bool ok = extract ? zip.ExtractFile(i, argv[3]) : zip.TestFile(i);
            if (!ok) {
                std::fprintf(stderr, "entry %u failed\n", unsigned(i));
                return 1;
            }
        }
        zip.Close();
    } catch (const CZipException& e) {
        std::fprintf(stderr, "error %d\n", e.m_iCode);
        return 1;
    }
    return 0;
}
