// Arbitrary bytes opened as an archive in memory: listed, every entry
// tested and extracted into memory. Damage must end in a CZipException,
// never in a crash, a hang or memory beyond what the entry declares.
#include <cstddef>
#include <cstdint>

#include "zip/ZipBundle.h"
#include "zip/ZipMemFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CZipMemFile archive(1024);
    if (size) archive.Write(data, unsigned(size));
    CZipBundle zip;
    try {
        if (!zip.Open(archive, CZipBundle::zipOpenReadOnly)) return 0;
    } catch (const CZipException&) {
        return 0;
    }
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
        }
        if (zip.CurrentFile() != nullptr) __builtin_trap();
    }
    zip.Close();
    return 0;
}
