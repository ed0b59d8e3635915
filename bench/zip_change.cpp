// One change of an archive with the ZIP library, for bench/zip_kill.sh to
// kill part way.
//   zip_change <archive> remove <name>
//   zip_change <archive> rename <name> <new name>
//   zip_change <archive> prepend <file>
//   zip_change <archive> add <count> <bytes each>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: zip_change <archive> remove|rename|prepend|add ...\n");
        return 2;
    }
    const std::string op = argv[2];
    try {
        CZipBundle zip;
        zip.Open(argv[1], CZipBundle::zipOpen);
        bool ok = true;
        if (op == "remove") {
            ok = zip.RemoveFile(zip.FindFile(argv[3]));
        } else if (op == "rename" && argc == 5) {
            CZipFileHeader* h = zip.GetFileInfo(zip.FindFile(argv[3]));
            ok = h && h->SetFileName(argv[4]);
        } else if (op == "prepend") {
            ok = zip.PrependData(argv[3]);
        } else if (op == "add" && argc == 5) {
            const int count = std::atoi(argv[3]);
            std::string data(std::strtoul(argv[4], nullptr, 10), '\0');
            unsigned seed = 1;
            for (int i = 0; i < count && ok; ++i) {
                for (char& c : data) c = char((seed = seed * 1103515245u + 12345u) >> 23);
                CZipMemFile source(1024);
                source.Write(data.data(), unsigned(data.size()));
                ok = zip.AddNewFile(source, ("added/" + std::to_string(i) + ".bin").c_str(), 0);
            }
        } else {
            std::fprintf(stderr, "unknown change %s\n", op.c_str());
            return 2;
        }
        zip.Close();
        return ok ? 0 : 1;
    } catch (const CZipException& e) {
        std::fprintf(stderr, "error %d\n", e.m_iCode);
        return 1;
    }
}
