#include "ZipCompressor.h"

#include <cstdlib>
#include <zlib.h>

#include "DeflateCompressor.h"
#include "ZipCryptograph.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

void CZipCompressor::COptionsMap::Set(const COptions* options) {
    if (!options) return;
    Remove(options->GetType());
    SetAt(options->GetType(), options->Clone());
}

CZipCompressor::COptions* CZipCompressor::COptionsMap::Get(int type) const {
    COptions* options = nullptr;
    return Lookup(type, options) ? options : nullptr;
}

void CZipCompressor::COptionsMap::Remove(int type) {
    COptions* options = nullptr;
    if (Lookup(type, options)) {
        delete options;
        RemoveKey(type);
    }
}

void CZipCompressor::COptionsMap::RemoveAll() {
    for (auto& entry : *this) delete entry.second;
    clear();
}

CZipCompressor* CZipCompressor::CreateCompressor(unsigned short method, CZipStorage* storage) {
    if (method == methodStore || method == methodDeflate) return new ZipLib::CDeflateCompressor(storage);
    return nullptr;
}

void CZipCompressor::UpdateOptions(const COptionsMap& optionsMap) {
    const COptions* mine = GetOptions();
    if (!mine) return;
    if (const COptions* options = optionsMap.Get(mine->GetType())) UpdateOptions(options);
}

void CZipCompressor::InitCompression(int level, CZipFileHeader* file, CZipCryptograph* cryptograph) {
    (void)level;
    InitBuffer();
    m_uComprLeft = 0;
    m_pFile = file;
    m_pCryptograph = cryptograph;
}

void CZipCompressor::InitDecompression(CZipFileHeader* file, CZipCryptograph* cryptograph) {
    InitBuffer();
    m_pFile = file;
    m_pCryptograph = cryptograph;
    m_uComprLeft = file->GetDataSize(true);
    m_uUncomprLeft = file->m_uUncomprSize;
    m_uCrc32 = 0;
}

void CZipCompressor::InitBuffer() {
    const COptions* options = GetOptions();
    int size = (options && options->m_iBufferSize > 0) ? options->m_iBufferSize : 0x20000;
    m_pBuffer.Allocate(unsigned(size));
}

void CZipCompressor::WriteBuffer(char* buffer, unsigned size) {
    if (size == 0) return;
    if (m_pCryptograph) m_pCryptograph->Encode(buffer, size);
    m_pStorage->Write(buffer, size, false);
}

unsigned CZipCompressor::FillBuffer() {
    unsigned size = m_pBuffer.GetSize();
    if (size > m_uComprLeft) size = m_uComprLeft;
    if (size == 0) return 0;
    m_pStorage->Read(m_pBuffer, size, false);
    if (m_pCryptograph) m_pCryptograph->Decode(m_pBuffer, size);
    m_uComprLeft -= size;
    return size;
}

void CZipCompressor::UpdateFileCrc(const void* buffer, unsigned size) {
    m_pFile->m_uCrc32 = unsigned(crc32(m_pFile->m_uCrc32, static_cast<const Bytef*>(buffer), size));
}

void CZipCompressor::UpdateCrc(const void* buffer, unsigned size) {
    m_uCrc32 = unsigned(crc32(m_uCrc32, static_cast<const Bytef*>(buffer), size));
}

void CZipCompressor::ThrowError(int code, bool isZlibError) const {
    if (isZlibError) code = ConvertInternalError(code);
    CZipString path;
    if (m_pStorage && !m_pStorage->IsClosed(true) && m_pStorage->m_pFile) path = m_pStorage->m_pFile->GetFilePath();
    CZipException::Throw(code, path);
}

namespace ZipLib {

void* CBaseLibCompressor::_zipalloc(void* opaque, unsigned items, unsigned size) {
    void* p = std::malloc(size_t(items) * size);
    if (p && opaque) {
        try {
            static_cast<CZipPtrList<void*>*>(opaque)->AddTail(p);
        } catch (...) {
            std::free(p);
            return nullptr;
        }
    }
    return p;
}

void CBaseLibCompressor::_zipfree(void* opaque, void* address) {
    if (opaque) {
        CZipPtrList<void*>* list = static_cast<CZipPtrList<void*>*>(opaque);
        auto pos = list->Find(address);
        if (list->IteratorValid(pos)) list->RemoveAt(pos);
    }
    std::free(address);
}

void CBaseLibCompressor::EmptyPtrList() {
    for (void* p : m_list) std::free(p);
    m_list.RemoveAll();
}

}  // namespace ZipLib
