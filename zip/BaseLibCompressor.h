#pragma once
// Common part of compressors over zlib-style libraries: error conversion and
// a record of the library's allocations, freed when it leaves any behind.
#include "ZipCompressor.h"

namespace ZipLib {
class CBaseLibCompressor : public CZipCompressor {
public:
    class COptions : public CZipCompressor::COptions {
    public:
        bool m_bDetectLibMemoryLeaks = true;
    };

    explicit CBaseLibCompressor(CZipStorage* storage) : CZipCompressor(storage) {}
    ~CBaseLibCompressor() override { EmptyPtrList(); }

protected:
    virtual bool IsCodeErrorOK(int code) const = 0;

    // zlib's allocation hooks; opaque is the allocation list or null.
    static void* _zipalloc(void* opaque, unsigned items, unsigned size);
    static void _zipfree(void* opaque, void* address);
    void* SetOpaque(const COptions& options) { return options.m_bDetectLibMemoryLeaks ? &m_list : nullptr; }
    void EmptyPtrList();
    void CheckForError(int code) {
        if (!IsCodeErrorOK(code)) ThrowError(code, true);
    }

    bool m_bDecompressionDone = false;
    CZipPtrList<void*> m_list;
};
}  // namespace ZipLib
