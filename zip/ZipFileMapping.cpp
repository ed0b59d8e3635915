#include "ZipFileMapping.h"

#include <cstdint>
#include <sys/mman.h>

#include "ZipException.h"
#include "ZipFile.h"

namespace ZipLib {

bool CZipFileMapping::CreateMapping(CZipFile* file) {
    if (!file) return false;
    RemoveMapping();
    try {
        unsigned long long size = file->GetLength();
        int fd = int(reinterpret_cast<intptr_t>(static_cast<void*>(*file)));
        // An empty file cannot be mapped; nothing to map then.
        if (size == 0) return false;
        void* p = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return false;
        m_pFileMap = static_cast<char*>(p);
        m_iSize = size;
    } catch (const CZipException&) {
        return false;
    }
    return true;
}

void CZipFileMapping::RemoveMapping() {
    if (m_pFileMap) ::munmap(m_pFileMap, size_t(m_iSize));
    m_pFileMap = nullptr;
    m_iSize = 0;
}

}  // namespace ZipLib
