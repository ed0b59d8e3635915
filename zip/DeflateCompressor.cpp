#include "DeflateCompressor.h"

#include <cstring>

#include "ZipCryptograph.h"
#include "ZipException.h"
#include "ZipFileHeader.h"
#include "ZipStorage.h"

namespace ZipLib {

CDeflateCompressor::CDeflateCompressor(CZipStorage* storage) : CBaseLibCompressor(storage) {
    std::memset(&m_stream, 0, sizeof m_stream);
}

CDeflateCompressor::~CDeflateCompressor() { EndStream(true); }

void CDeflateCompressor::EndStream(bool zlibEnd) {
    if (m_streamState != streamNone) {
        // Blocks recorded in the list are freed below; others only by
        // zlib's end call. The stream's own opaque tells which it is: the
        // options may have changed since it was made.
        if (zlibEnd || !m_stream.opaque) {
            if (m_streamState == streamDeflate) deflateEnd(&m_stream);
            else inflateEnd(&m_stream);
        }
        m_streamState = streamNone;
    }
    EmptyPtrList();
}

void CDeflateCompressor::OpenDeflate(int level) {
    void* opaque = SetOpaque(m_options);
    if (m_streamState == streamDeflate) {
        // deflateReset gives the same bytes as a new stream of the same
        // parameters, without its half megabyte of allocations per entry.
        const bool alike = m_iDeflateLevel == level && m_stream.opaque == opaque;
        if (alike && deflateReset(&m_stream) == Z_OK) return;
        EndStream(!alike);
    }
    std::memset(&m_stream, 0, sizeof m_stream);
    m_stream.zalloc = reinterpret_cast<alloc_func>(_zipalloc);
    m_stream.zfree = _zipfree;
    m_stream.opaque = opaque;
    CheckForError(deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
    m_streamState = streamDeflate;
    m_iDeflateLevel = level;
}

void CDeflateCompressor::UpdateOptions(const CZipCompressor::COptions* options) {
    if (const COptions* mine = dynamic_cast<const COptions*>(options)) m_options = *mine;
}

int CDeflateCompressor::ConvertInternalError(int code) const {
    switch (code) {
    case Z_STREAM_END: return CZipException::streamEnd;
    case Z_NEED_DICT: return CZipException::needDict;
    case Z_ERRNO: return CZipException::errNo;
    case Z_STREAM_ERROR: return CZipException::streamError;
    case Z_DATA_ERROR: return CZipException::dataError;
    case Z_MEM_ERROR: return CZipException::memError;
    case Z_BUF_ERROR: return CZipException::bufError;
    case Z_VERSION_ERROR: return CZipException::versionError;
    default: return CZipException::genericError;
    }
}

void CDeflateCompressor::InitCompression(int level, CZipFileHeader* file, CZipCryptograph* cryptograph) {
    CZipCompressor::InitCompression(level, file, cryptograph);
    if (m_streamState == streamInflate) EndStream(true);
    if (m_pFile->m_uMethod == methodDeflate) OpenDeflate(level);
    // A stored entry leaves a kept deflate stream to the next deflated one.
    else if (m_streamState == streamNone) std::memset(&m_stream, 0, sizeof m_stream);
    m_stream.next_in = nullptr;
    m_stream.avail_in = 0;
    m_stream.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
    m_stream.avail_out = m_pBuffer.GetSize();
    m_stream.total_in = 0;
    m_stream.total_out = 0;
}

void CDeflateCompressor::Compress(const void* buffer, unsigned size) {
    if (m_stream.total_in + size > kMaxZipOffset) ThrowError(CZipException::tooBigSize);
    UpdateFileCrc(buffer, size);
    if (m_pFile->m_uMethod == methodDeflate) {
        m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
        m_stream.avail_in = size;
        while (m_stream.avail_in > 0) {
            if (m_stream.avail_out == 0) {
                FlushWriteBuffer();
                m_stream.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
                m_stream.avail_out = m_pBuffer.GetSize();
            }
            uLong before = m_stream.total_out;
            int err = deflate(&m_stream, Z_NO_FLUSH);
            CheckForError(err);
            m_uComprLeft += unsigned(m_stream.total_out - before);
        }
        if (m_stream.total_out > kMaxZipOffset) ThrowError(CZipException::tooBigSize);
    } else if (size > 0) {
        if (m_pCryptograph) {
            if (m_pBuffer.GetSize() < size) m_pBuffer.Allocate(size);
            std::memcpy(m_pBuffer.GetBuffer(), buffer, size);
            WriteBuffer(m_pBuffer, size);
        } else {
            m_pStorage->Write(buffer, size, false);
        }
        m_stream.total_in += size;
        m_stream.total_out += size;
    }
}

void CDeflateCompressor::FinishCompression(bool afterException) {
    m_stream.avail_in = 0;
    if (!afterException) {
        if (m_pFile->m_uMethod == methodDeflate && m_streamState == streamDeflate) {
            int err;
            do {
                if (m_stream.avail_out == 0) {
                    FlushWriteBuffer();
                    m_stream.next_out = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
                    m_stream.avail_out = m_pBuffer.GetSize();
                }
                uLong before = m_stream.total_out;
                err = deflate(&m_stream, Z_FINISH);
                m_uComprLeft += unsigned(m_stream.total_out - before);
            } while (err == Z_OK);
            if (err != Z_STREAM_END) CheckForError(err);
            FlushWriteBuffer();
        }
        unsigned long long compressed = (unsigned long long)m_pFile->m_uComprSize + m_stream.total_out;
        if (compressed > kMaxZipOffset || m_stream.total_in > kMaxZipOffset) ThrowError(CZipException::tooBigSize);
        m_pFile->m_uComprSize = unsigned(compressed);
        m_pFile->m_uUncomprSize = unsigned(m_stream.total_in);
        // The stream (at its end) and the buffer stay for the next entry.
        return;
    }
    EndStream(false);
    ReleaseBuffer();
}

void CDeflateCompressor::InitDecompression(CZipFileHeader* file, CZipCryptograph* cryptograph) {
    CZipCompressor::InitDecompression(file, cryptograph);
    m_bDecompressionDone = false;
    void* opaque = SetOpaque(m_options);
    if (m_pFile->m_uMethod == methodDeflate) {
        // The inflate stream and buffer of the last entry serve the next:
        // allocating and freeing them for each small entry made glibc give
        // the memory back and fault it in again every time.
        const bool kept = m_streamState == streamInflate && m_stream.opaque == opaque &&
                          inflateReset(&m_stream) == Z_OK;
        if (!kept) {
            EndStream(true);
            std::memset(&m_stream, 0, sizeof m_stream);
            m_stream.zalloc = reinterpret_cast<alloc_func>(_zipalloc);
            m_stream.zfree = _zipfree;
            m_stream.opaque = opaque;
            CheckForError(inflateInit2(&m_stream, -MAX_WBITS));
            m_streamState = streamInflate;
        }
    } else if (m_streamState == streamDeflate) {
        EndStream(true);
    }
    m_stream.total_out = 0;
    m_stream.avail_in = 0;
}

unsigned CDeflateCompressor::Decompress(void* buffer, unsigned size) {
    if (m_bDecompressionDone) return 0;
    unsigned delivered = 0;
    if (m_pFile->m_uMethod == methodDeflate) {
        m_stream.next_out = static_cast<Bytef*>(buffer);
        m_stream.avail_out = size > m_uUncomprLeft ? m_uUncomprLeft : size;
        bool forced = m_stream.avail_out == 0 && m_uComprLeft > 0;
        while (m_stream.avail_out > 0 || (forced && m_uComprLeft > 0)) {
            if (m_stream.avail_in == 0) {
                m_stream.avail_in = FillBuffer();
                m_stream.next_in = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
                if (m_stream.avail_in == 0) break;  // the stored data ended early
            }
            uLong before = m_stream.total_out;
            Bytef* start = m_stream.next_out;
            int err = inflate(&m_stream, Z_SYNC_FLUSH);
            unsigned produced = unsigned(m_stream.total_out - before);
            if (produced) {
                UpdateCrc(start, produced);
                m_uUncomprLeft -= produced;
                delivered += produced;
            }
            if (err == Z_STREAM_END) {
                m_bDecompressionDone = true;
                return delivered;
            }
            // No room left and the stream goes on: it holds more than the
            // entry declares, which is damage, not a zlib fault.
            if (err == Z_BUF_ERROR) ThrowError(CZipException::badZipFile);
            CheckForError(err);
        }
        if (delivered == 0 && m_options.m_bCheckLastBlock && size > 0) {
            if (m_stream.avail_in == 0) {
                m_stream.avail_in = FillBuffer();
                m_stream.next_in = reinterpret_cast<Bytef*>(m_pBuffer.GetBuffer());
            }
            if (inflate(&m_stream, Z_SYNC_FLUSH) != Z_STREAM_END) ThrowError(CZipException::badZipFile);
        }
    } else {
        // Never more than the header declares: stored data beyond the
        // uncompressed size is damage, not content.
        unsigned n = size > m_uComprLeft ? m_uComprLeft : size;
        if (n > m_uUncomprLeft) n = m_uUncomprLeft;
        if (n == 0 && m_uComprLeft > 0 && size > 0) ThrowError(CZipException::badZipFile);
        if (n > 0) {
            m_pStorage->Read(buffer, n, false);
            if (m_pCryptograph) m_pCryptograph->Decode(static_cast<char*>(buffer), n);
            UpdateCrc(buffer, n);
            m_uComprLeft -= n;
            m_uUncomprLeft -= n;
            delivered = n;
        }
    }
    return delivered;
}

void CDeflateCompressor::FinishDecompression(bool afterException) {
    // A finished read keeps its stream and buffer for the next entry; one
    // that failed leaves nothing.
    if (!afterException) return;
    if (m_streamState == streamInflate) EndStream(false);
    ReleaseBuffer();
}

}  // namespace ZipLib
