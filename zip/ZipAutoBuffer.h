#pragma once
// An owned byte block; copies are deep.

class CZipAutoBuffer {
public:
    CZipAutoBuffer() = default;
    CZipAutoBuffer(unsigned size, bool zero = false) { Allocate(size, zero); }
    CZipAutoBuffer(const CZipAutoBuffer& other);
    CZipAutoBuffer& operator=(const CZipAutoBuffer& other);
    virtual ~CZipAutoBuffer() { Release(); }

    // A new block of exactly size bytes unless the size is unchanged; size 0
    // frees the block. Allocation failure raises std::bad_alloc.
    char* Allocate(unsigned size, bool zero = false);
    void Release();
    // Zeroes the block before freeing it, for secrets such as a password:
    // a plain Release leaves the bytes in freed memory.
    void Wipe();

    unsigned GetSize() const { return m_iSize; }
    bool IsAllocated() const { return m_pBuffer != nullptr; }
    char* GetBuffer() const { return m_pBuffer; }
    operator char*() { return m_pBuffer; }
    operator const char*() const { return m_pBuffer; }

protected:
    char* m_pBuffer = nullptr;
    unsigned m_iSize = 0;
};
