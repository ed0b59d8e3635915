#include "ZipAutoBuffer.h"

#include <cstring>  // also explicit_bzero (glibc)

CZipAutoBuffer::CZipAutoBuffer(const CZipAutoBuffer& other) { *this = other; }

CZipAutoBuffer& CZipAutoBuffer::operator=(const CZipAutoBuffer& other) {
    if (this == &other) return *this;
    if (!other.m_pBuffer) {
        Release();
        return *this;
    }
    Allocate(other.m_iSize, false);
    std::memcpy(m_pBuffer, other.m_pBuffer, other.m_iSize);
    return *this;
}

char* CZipAutoBuffer::Allocate(unsigned size, bool zero) {
    if (size != m_iSize || (size && !m_pBuffer)) {
        Release();
        if (size == 0) return nullptr;
        m_pBuffer = new char[size];
        m_iSize = size;
    }
    if (zero && m_pBuffer) std::memset(m_pBuffer, 0, m_iSize);
    return m_pBuffer;
}

void CZipAutoBuffer::Release() {
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    m_iSize = 0;
}

void CZipAutoBuffer::Wipe() {
    // explicit_bzero: a memset before delete[] may be dropped as a dead store.
    if (m_pBuffer) explicit_bzero(m_pBuffer, m_iSize);
    Release();
}
