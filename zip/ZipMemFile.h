#pragma once
// A growable file in memory. Open while it has a buffer; grows in steps of
// its grow step, and a step of 0 means it cannot grow (failures raise 505).
#include <cstddef>

#include "ZipAbstractFile.h"

class CZipMemFile : public CZipAbstractFile {
public:
    explicit CZipMemFile(long growStep = 1024);
    CZipMemFile(const CZipMemFile&) = delete;
    CZipMemFile& operator=(const CZipMemFile&) = delete;
    ~CZipMemFile() override;

    // Forgets the buffer without freeing it; the step becomes 0.
    void Init();
    // Makes the capacity at least size.
    void Grow(size_t size);
    // Frees the buffer; capacity and length are kept.
    void Free();
    // Frees an owned buffer and becomes empty and owning with the step.
    void Reset(long growStep);
    // Hands the buffer (free() it) and its data length to the caller; the
    // file is left empty with step 0.
    char* TakeBuffer(size_t& length);

    void Close() override;
    void Flush() override {}
    unsigned long long GetPosition() const override { return m_uPos; }
    unsigned long long Seek(long long offset, int from) override;
    unsigned long long GetLength() const override { return m_uLength; }
    void SetLength(unsigned long long length) override;
    CZipString GetFilePath() const override { return CZipString(); }
    bool HasFilePath() const override { return false; }
    unsigned Read(void* buffer, unsigned count) override;
    void Write(const void* buffer, unsigned count) override;
    bool IsClosed() const override { return m_pData == nullptr; }

    unsigned long long GetCapacity() const { return m_uCapacity; }
    const char* GetData() const { return m_pData; }

protected:
    long long m_iGrowStep;
    unsigned long long m_uPos;
    unsigned long long m_uCapacity;
    unsigned long long m_uLength;
    char* m_pData;
    bool m_bOwnsData;
};
