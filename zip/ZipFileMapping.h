#pragma once
// A shared read-write mapping of a whole archive file, used to drop data
// descriptors from a segmented archive that ended up on one volume.
class CZipFile;

namespace ZipLib {
class CZipFileMapping {
public:
    CZipFileMapping() = default;
    CZipFileMapping(const CZipFileMapping&) = delete;
    CZipFileMapping& operator=(const CZipFileMapping&) = delete;
    ~CZipFileMapping() { RemoveMapping(); }

    bool CreateMapping(CZipFile* file);
    void RemoveMapping();
    char* GetMappedMemory() { return m_pFileMap; }

protected:
    unsigned long long m_iSize = 0;
    char* m_pFileMap = nullptr;
};
}  // namespace ZipLib
