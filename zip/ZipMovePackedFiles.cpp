// Moving packed data inside the archive file through the general buffer.
#include <algorithm>

#include "ZipBundle.h"

void CZipBundle::MovePackedFiles(unsigned long long start, unsigned long long end, unsigned long long delta,
                                 CZipActionCallback* callback, bool forward, bool lastCall) {
    if (delta == 0) return;
    // Bytes waiting in the write buffer belong before what is moved.
    m_storage.Flush();
    if (!m_pBuffer.IsAllocated()) InitBuffer();
    char* buffer = m_pBuffer;
    const unsigned long long bufferSize = m_pBuffer.GetSize();
    CZipAbstractFile* file = m_storage.m_pFile;
    m_uMoveSettled = forward ? end : start;
    m_uMoveUnsure = 0;
    bool aborted = false;
    while (start < end) {
        const unsigned long long left = end - start;
        const unsigned chunk = unsigned(left < bufferSize ? left : bufferSize);
        // Forward moves take the chunk from the end, backward ones from the
        // start, so that no byte is overwritten before it is read.
        const unsigned long long from = forward ? end - chunk : start;
        m_storage.Seek(from, CZipStorage::seekFromBeginning);
        unsigned got = 0;
        while (got < chunk) {
            unsigned n = file->Read(buffer + got, chunk - got);
            if (n == 0) break;
            got += n;
        }
        if (got == 0) break;
        const unsigned long long to = forward ? from + delta : from - delta;
        m_storage.Seek(to, CZipStorage::seekFromBeginning);
        m_uMoveUnsure = got;
        try {
            file->Write(buffer, got);
        } catch (...) {
            // The chunk is still in memory, and the bytes it came from may
            // already be overwritten: it is put down whole once more, and
            // the move goes on when that works. A second failure stops it.
            m_storage.Seek(to, CZipStorage::seekFromBeginning);
            file->Write(buffer, got);
        }
        m_uMoveUnsure = 0;
        if (forward) end -= got;
        else start += got;
        m_uMoveSettled = forward ? end : start;
        if (got < chunk) break;
        if (callback && !callback->RequestCallback(got)) {
            aborted = true;
            break;
        }
    }
    if (callback && (aborted || (lastCall && !callback->RequestLastCallback(0)))) {
        callback->EndProgress();
        ThrowError(CZipException::abortedAction);
    }
    if (start != end) ThrowError(CZipException::internalError);
}

unsigned long long CZipBundle::SettleStoppedMove(const CZipArray<CZipFileHeader*>& stretch, unsigned long long end,
                                  unsigned long long delta, bool forward) {
    FinishStraddlingEntry(stretch, end, delta, forward);
    const unsigned long long settled = m_uMoveSettled;
    // What the move has written so far, a failed write's reach included.
    const unsigned long long writtenFrom = forward ? settled + delta - m_uMoveUnsure : 0;
    const unsigned long long writtenTo = forward ? ~0ull : settled - delta + m_uMoveUnsure;
    CZipArray<CZipFileHeader*> broken;
    unsigned long long keptEnd = 0;
    if (!stretch.empty()) keptEnd = stretch[0]->m_uOffset - (forward || settled == stretch[0]->m_uOffset ? 0 : delta);
    for (size_t i = 0; i < stretch.size(); ++i) {
        CZipFileHeader* h = stretch[i];
        const unsigned long long from = h->m_uOffset;
        const unsigned long long to = i + 1 < stretch.size() ? stretch[i + 1]->m_uOffset : end;
        const bool moved = forward ? from >= settled : to <= settled;
        const bool oldWhole = forward ? to <= writtenFrom : from >= writtenTo;
        if (moved) {
            h->m_uOffset = unsigned(forward ? from + delta : from - delta);
            keptEnd = std::max(keptEnd, forward ? to + delta : to - delta);
        } else if (oldWhole) {
            keptEnd = std::max(keptEnd, to);
        } else {
            broken.Add(h);
        }
    }
    for (CZipFileHeader* h : broken) m_centralDir.RemoveFile(h, 0xFFFF, true);
    return keptEnd;
}

void CZipBundle::FinishStraddlingEntry(const CZipArray<CZipFileHeader*>& stretch, unsigned long long end,
                                       unsigned long long delta, bool forward) {
    // A stop at a chunk boundary or after a write that was put down again
    // leaves every byte not yet moved where it was: the one entry cut by
    // the stop is moved the rest of its way, and nothing is lost.
    if (m_uMoveUnsure != 0) return;
    const unsigned long long settled = m_uMoveSettled;
    for (size_t i = 0; i < stretch.size(); ++i) {
        const unsigned long long from = stretch[i]->m_uOffset;
        const unsigned long long to = i + 1 < stretch.size() ? stretch[i + 1]->m_uOffset : end;
        if (from >= settled || to <= settled) continue;
        try {
            if (forward) MovePackedFiles(from, settled, delta, nullptr, true, false);
            else MovePackedFiles(settled, to, delta, nullptr, false, false);
        } catch (...) {
        }
        return;
    }
}
