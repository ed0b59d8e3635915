#include "ZipMemFile.h"

#include <cstdlib>
#include <cstring>

#include "ZipException.h"

CZipMemFile::CZipMemFile(long growStep)
    : m_iGrowStep(growStep), m_uPos(0), m_uCapacity(0), m_uLength(0), m_pData(nullptr), m_bOwnsData(true) {}

CZipMemFile::~CZipMemFile() {
    if (m_bOwnsData) Free();
}

void CZipMemFile::Init() {
    m_uPos = m_uLength = m_uCapacity = 0;
    m_pData = nullptr;
    m_iGrowStep = 0;
}

void CZipMemFile::Grow(size_t size) {
    if (m_uCapacity >= size) return;
    if (m_iGrowStep <= 0) CZipException::Throw(CZipException::memError);
    unsigned long long step = (unsigned long long)m_iGrowStep;
    unsigned long long steps = (size - m_uCapacity + step - 1) / step;
    unsigned long long capacity = m_uCapacity + steps * step;
    if (capacity < size || capacity > (unsigned long long)SIZE_MAX) CZipException::Throw(CZipException::memError);
    void* p = m_pData ? std::realloc(m_pData, size_t(capacity)) : std::malloc(size_t(capacity));
    if (!p) CZipException::Throw(CZipException::memError);
    m_pData = static_cast<char*>(p);
    m_uCapacity = capacity;
}

void CZipMemFile::Free() {
    std::free(m_pData);
    m_pData = nullptr;
}

void CZipMemFile::Close() {
    if (m_bOwnsData) Free();
    Init();
}

void CZipMemFile::Reset(long growStep) {
    if (m_bOwnsData) Free();
    Init();
    m_iGrowStep = growStep;
    m_bOwnsData = true;
}

char* CZipMemFile::TakeBuffer(size_t& length) {
    char* data = m_pData;
    length = size_t(m_uLength);
    Init();
    return data;
}

unsigned long long CZipMemFile::Seek(long long offset, int from) {
    unsigned long long target;
    switch (from) {
    case begin:
        if (offset < 0) CZipException::Throw(CZipException::memError);
        target = (unsigned long long)offset;
        break;
    case current:
        if (offset < 0 && (unsigned long long)(-offset) > m_uPos) CZipException::Throw(CZipException::memError);
        target = m_uPos + (unsigned long long)offset;
        break;
    case end:
        if (offset < 0 && (unsigned long long)(-offset) > m_uLength) CZipException::Throw(CZipException::memError);
        target = m_uLength + (unsigned long long)offset;
        break;
    default:
        return m_uPos;
    }
    if (target > m_uLength) Grow(size_t(target));
    m_uPos = target;
    return m_uPos;
}

void CZipMemFile::SetLength(unsigned long long length) {
    if (m_uCapacity < length) Grow(size_t(length));
    else m_uPos = length;
    m_uLength = length;
}

unsigned CZipMemFile::Read(void* buffer, unsigned count) {
    if (m_uPos >= m_uLength) return 0;
    unsigned long long left = m_uLength - m_uPos;
    unsigned n = left < count ? unsigned(left) : count;
    if (n) std::memcpy(buffer, m_pData + m_uPos, n);
    m_uPos += n;
    return n;
}

void CZipMemFile::Write(const void* buffer, unsigned count) {
    if (count == 0) return;
    Grow(size_t(m_uPos + count));
    std::memcpy(m_pData + m_uPos, buffer, count);
    m_uPos += count;
    if (m_uPos > m_uLength) m_uLength = m_uPos;
}
