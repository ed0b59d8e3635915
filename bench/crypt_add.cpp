// Adds one file to a new archive, stored (level 0) and encrypted with the
// given password: the library's side of bench/crypt_vs_zip.sh.
// Usage: crypt_add <source> <archive> <password>
#include <cstdio>

#include "zip/ZipBundle.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <source> <archive> <password>\n", argv[0]);
        return 2;
    }
    try {
        CZipBundle zip;
        if (!zip.Open(argv[2], CZipBundle::zipCreate) || !zip.SetPassword(argv[3]) ||
            !zip.AddNewFile(argv[1], 0, false)) {
            std::fprintf(stderr, "crypt_add: the add was refused\n");
            return 1;
        }
        zip.Close();
    } catch (const CZipException& e) {
        std::fprintf(stderr, "crypt_add: %s\n", e.GetErrorDescription().c_str());
        return 1;
    }
    return 0;
}
