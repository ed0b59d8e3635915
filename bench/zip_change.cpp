// One change of an archive with the ZIP library, for bench/zip_kill.sh to
// kill part way, or (with "wait") once the change has returned: then it
// prints "returned" and waits for the kill before Close.
//   zip_change <archive> [wait] remove <name>
//   zip_change <archive> [wait] rename <name> <new name>
//   zip_change <archive> [wait] prepend <file>
//   zip_change <archive> [wait] add <count> <bytes each>
//   zip_change <archive> [wait] comment <text>
//   zip_change <archive> [wait] entry-comment <name> <text>
//   zip_change <archive> [wait] attributes <name> <octal mode>
//   zip_change <archive> [wait] time <name> <seconds since the epoch>
//   zip_change <archive> [wait] central-name <name> <new name>
//   zip_change <archive> [wait] remove-record <name>
//   zip_change <archive> [wait] remove-last
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

namespace {
CZipFileHeader* Entry(CZipBundle& zip, const char* name) { return zip.GetFileInfo(zip.FindFile(name)); }
}  // namespace

int main(int argc, char** argv) {
    const bool wait = argc > 2 && std::strcmp(argv[2], "wait") == 0;
    if (wait) {
        argv[2] = argv[1];
        ++argv;
        --argc;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: zip_change <archive> [wait] <change> ...\n");
        return 2;
    }
    const std::string op = argv[2];
    try {
        CZipBundle zip;
        zip.Open(argv[1], CZipBundle::zipOpen);
        bool ok = true;
        CZipFileHeader* h = argc > 3 ? Entry(zip, argv[3]) : nullptr;
        if (op == "remove" && argc == 4) {
            ok = zip.RemoveFile(zip.FindFile(argv[3]));
        } else if (op == "rename" && argc == 5) {
            ok = h && h->SetFileName(argv[4]);
        } else if (op == "prepend" && argc == 4) {
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
        } else if (op == "comment" && argc == 4) {
            ok = zip.SetGlobalComment(argv[3]);
        } else if (op == "entry-comment" && argc == 5) {
            ok = h && h->SetComment(argv[4]);
        } else if (op == "attributes" && argc == 5) {
            ok = h && h->SetSystemAttr(0100000 | unsigned(std::strtoul(argv[4], nullptr, 8)));
        } else if (op == "time" && argc == 5) {
            if (h) h->SetModificationTime(time_t(std::strtoll(argv[4], nullptr, 10)));
            ok = h != nullptr;
        } else if (op == "central-name" && argc == 5) {
            ok = h && h->SetFileName(argv[4], true);
        } else if (op == "remove-record" && argc == 4) {
            ok = zip.RemoveFile(zip.FindFile(argv[3]), false);
        } else if (op == "remove-last" && argc == 3) {
            ok = zip.RemoveLast(true);
        } else {
            std::fprintf(stderr, "unknown change %s\n", op.c_str());
            return 2;
        }
        if (wait) {
            std::printf(ok ? "returned\n" : "refused\n");
            std::fflush(stdout);
            for (;;) pause();
        }
        zip.Close();
        return ok ? 0 : 1;
    } catch (const CZipException& e) {
        std::fprintf(stderr, "error %d\n", e.m_iCode);
        return 1;
    }
}
