#include "ZipExtraField.h"

#include <cstring>
#include <memory>

#include "BytesWriter.h"
#include "ZipStorage.h"

using ZipLib::CBytesWriter;

bool CZipExtraData::Read(char* buffer, unsigned short available) {
    if (available < 4) return false;
    CBytesWriter::ReadBytes(m_uHeaderID, buffer);
    unsigned short size;
    CBytesWriter::ReadBytes(size, buffer + 2);
    if (size > available - 4) return false;
    m_data.Allocate(size);
    if (size) std::memcpy(m_data.GetBuffer(), buffer + 4, size);
    return true;
}

int CZipExtraData::Write(char* buffer) const {
    CBytesWriter::WriteBytes(buffer, m_uHeaderID);
    CBytesWriter::WriteBytes(buffer + 2, (unsigned short)m_data.GetSize());
    if (m_data.GetSize()) std::memcpy(buffer + 4, m_data.GetBuffer(), m_data.GetSize());
    return GetTotalSize();
}

const CZipArray<unsigned short> CZipExtraField::m_aNoSizeExtraHeadersID;

CZipExtraField& CZipExtraField::operator=(const CZipExtraField& other) {
    if (this == &other) return *this;
    Clear();
    for (const CZipExtraData* extra : other.m_aData) m_aData.Add(new CZipExtraData(*extra));
    return *this;
}

CZipExtraData* CZipExtraField::CreateNew(unsigned short headerID, int& index, bool append) {
    CZipExtraData* extra = new CZipExtraData(headerID);
    if (append) {
        index = int(m_aData.Add(extra));
    } else {
        m_aData.InsertAt(0, extra);
        index = 0;
    }
    return extra;
}

CZipExtraData* CZipExtraField::Lookup(unsigned short headerID, int& index) const {
    for (size_t i = 0; i < m_aData.size(); ++i) {
        if (m_aData[i]->GetHeaderID() == headerID) {
            index = int(i);
            return m_aData[i];
        }
    }
    return nullptr;
}

void CZipExtraField::Remove(unsigned short headerID) {
    for (size_t i = m_aData.size(); i-- > 0;)
        if (m_aData[i]->GetHeaderID() == headerID) RemoveAt(int(i));
}

void CZipExtraField::RemoveAt(int index) {
    delete m_aData.at(size_t(index));
    m_aData.RemoveAt(size_t(index));
}

void CZipExtraField::Clear() {
    for (CZipExtraData* extra : m_aData) delete extra;
    m_aData.RemoveAll();
}

void CZipExtraField::RemoveInternalHeaders() {
    for (size_t i = m_aData.size(); i-- > 0;) {
        switch (m_aData[i]->GetHeaderID()) {
        case hidZip64:
        case hidNtfs:
        case hidInternal5A4C:
        case hidUnicodeComment:
        case hidUnicodePath:
        case hidWinZipAes: RemoveAt(int(i)); break;
        default: break;
        }
    }
}

void CZipExtraField::RemoveInternalLocalHeaders() {
    for (size_t i = m_aData.size(); i-- > 0;) {
        switch (m_aData[i]->GetHeaderID()) {
        case hidUnicodeComment:
        case hidUnicodePath:
        case hidWinZipAes: RemoveAt(int(i)); break;
        default: break;
        }
    }
}

int CZipExtraField::GetTotalSize() const {
    int total = 0;
    for (const CZipExtraData* extra : m_aData) total += extra->GetTotalSize();
    return total;
}

bool CZipExtraField::Read(CZipStorage* storage, unsigned short size) {
    if (size == 0) return true;
    Clear();
    CZipAutoBuffer buffer(size);
    storage->Read(buffer, size, true);
    unsigned short pos = 0;
    while (pos < size) {
        std::unique_ptr<CZipExtraData> extra(new CZipExtraData());
        if (!extra->Read(buffer.GetBuffer() + pos, (unsigned short)(size - pos))) return false;
        pos = (unsigned short)(pos + extra->GetTotalSize());
        m_aData.Add(extra.release());
    }
    return pos == size;
}

void CZipExtraField::Write(char* buffer) const {
    for (const CZipExtraData* extra : m_aData) buffer += extra->Write(buffer);
}

bool CZipExtraField::HasSize(unsigned short headerID) {
    for (unsigned short id : m_aNoSizeExtraHeadersID)
        if (id == headerID) return false;
    return true;
}
