// Moving packed data inside the archive file by a plan of steps.
#include "ZipMover.h"

#include <algorithm>

#include "ZipCallback.h"
#include "ZipCentralDir.h"
#include "ZipException.h"
#include "ZipStorage.h"

void CZipMover::Run(CZipMovePlan& plan) {
    for (CZipMoveStep& step : plan.Steps()) {
        if (step.state != CZipMoveStep::pending) continue;
        step.state = CZipMoveStep::moving;
        if (step.progress && step.callback) {
            step.callback->BeginProgress(nullptr, nullptr);
            step.callback->SetProgressTotal(step.end - step.start);
        }
        for (CZipFileHeader* h : step.leaving) m_centralDir.RemoveFile(h, 0xFFFF, true);
        step.leaving.RemoveAll();
        MoveBytes(step);
        if (step.progress && step.callback) step.callback->EndProgress();
        Moved(step);
    }
}

void CZipMover::MoveBytes(CZipMoveStep& step) {
    if (step.delta == 0) return;
    // Bytes waiting in the write buffer belong before what is moved.
    m_storage.Flush();
    if (!m_buffer.IsAllocated()) m_buffer.Allocate(m_uBufferSize);
    char* buffer = m_buffer;
    const unsigned long long bufferSize = m_buffer.GetSize();
    CZipAbstractFile* file = m_storage.m_pFile;
    const bool forward = step.forward;
    unsigned long long start = forward ? step.start : step.settled;
    unsigned long long end = forward ? step.settled : step.end;
    CZipActionCallback* callback = step.callback;
    step.unsure = 0;
    bool aborted = false;
    while (start < end) {
        const unsigned long long left = end - start;
        const unsigned chunk = unsigned(left < bufferSize ? left : bufferSize);
        const unsigned long long from = forward ? end - chunk : start;
        m_storage.Seek(from, CZipStorage::seekFromBeginning);
        unsigned got = 0;
        while (got < chunk) {
            unsigned n = file->Read(buffer + got, chunk - got);
            if (n == 0) break;
            got += n;
        }
        if (got == 0) break;
        const unsigned long long to = forward ? from + step.delta : from - step.delta;
        m_storage.Seek(to, CZipStorage::seekFromBeginning);
        step.unsure = got;
        try {
            file->Write(buffer, got);
        } catch (...) {
            // The chunk is still in memory, and the bytes it came from may
            // already be overwritten: it is put down whole once more, and
            // the move goes on when that works. A second failure stops it.
            m_storage.Seek(to, CZipStorage::seekFromBeginning);
            file->Write(buffer, got);
        }
        step.unsure = 0;
        if (forward) end -= got;
        else start += got;
        step.settled = forward ? end : start;
        if (got < chunk) break;
        if (callback && !callback->RequestCallback(got)) {
            aborted = true;
            break;
        }
    }
    if (callback && (aborted || (step.lastCall && !callback->RequestLastCallback(0)))) {
        callback->EndProgress();
        CZipException::Throw(CZipException::abortedAction);
    }
    if (start != end) CZipException::Throw(CZipException::internalError);
}

bool CZipMover::MoveRest(CZipMoveStep& step, unsigned long long from, unsigned long long to) {
    if (step.unsure != 0) return false;
    CZipMoveStep rest = step;
    rest.start = from;
    rest.end = to;
    rest.settled = step.forward ? to : from;
    rest.callback = nullptr;
    bool done = true;
    try {
        MoveBytes(rest);
    } catch (...) {
        done = false;
    }
    // Same direction and distance: where the rest got is where the step is.
    step.settled = rest.settled;
    step.unsure = rest.unsure;
    return done;
}

bool CZipMover::Finish(CZipMoveStep& step) {
    if (step.state != CZipMoveStep::moving) return step.state == CZipMoveStep::moved;
    const bool done = step.forward ? MoveRest(step, step.start, step.settled) : MoveRest(step, step.settled, step.end);
    if (!done) return false;
    Moved(step);
    return true;
}

void CZipMover::Moved(CZipMoveStep& step) {
    for (CZipFileHeader* h : step.entries) {
        UnmarkIfLeftBehind(step, h->m_uOffset);
        h->m_uOffset = unsigned(step.Target(h->m_uOffset));
    }
    step.state = CZipMoveStep::moved;
}

void CZipMover::UnmarkIfLeftBehind(const CZipMoveStep& step, unsigned long long from) {
    // Between the bytes not moved and the moved ones lies a stretch no
    // entry takes, holding old copies: a local header left there would be
    // tested by tools that walk local headers (7z), and fail.
    if (step.delta == 0) return;
    const unsigned long long s = step.settled;
    const bool inGap = step.forward ? from >= s && from - s < step.delta : from < s && s - from <= step.delta;
    if (inGap) UnmarkLocalHeader(from);
}

void CZipMover::UnmarkLocalHeader(unsigned long long offset) {
    const char none[4] = {0, 0, 0, 0};
    try {
        m_storage.Seek(offset);
        m_storage.m_pFile->Write(none, 4);
    } catch (...) {
    }
}

unsigned long long CZipMover::SettleStopped(CZipMoveStep& step) {
    const CZipArray<CZipFileHeader*>& stretch = step.entries;
    const bool forward = step.forward;
    const unsigned long long end = step.end, delta = step.delta;
    // A stop at a chunk boundary or after a write that was put down again
    // leaves every byte not yet moved where it was: the one entry cut by
    // the stop is moved the rest of its way, and nothing is lost.
    for (size_t i = 0; i < stretch.size() && step.unsure == 0; ++i) {
        const unsigned long long from = stretch[i]->m_uOffset;
        const unsigned long long to = i + 1 < stretch.size() ? stretch[i + 1]->m_uOffset : end;
        if (from >= step.settled || to <= step.settled) continue;
        if (forward) MoveRest(step, from, step.settled);
        else MoveRest(step, step.settled, to);
        break;
    }
    const unsigned long long settled = step.settled;
    // What the move has written so far, a failed write's reach included.
    const unsigned long long writtenFrom = forward ? settled + delta - step.unsure : 0;
    const unsigned long long writtenTo = forward ? ~0ull : settled - delta + step.unsure;
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
            UnmarkIfLeftBehind(step, from);
            h->m_uOffset = unsigned(step.Target(from));
            keptEnd = std::max(keptEnd, step.Target(to));
        } else if (oldWhole) {
            keptEnd = std::max(keptEnd, to);
        } else {
            broken.Add(h);
        }
    }
    for (CZipFileHeader* h : broken) m_centralDir.RemoveFile(h, 0xFFFF, true);
    return keptEnd;
}

unsigned long long CZipMover::Settle(CZipMovePlan& plan, unsigned long long floor) {
    unsigned long long end = floor;
    for (CZipMoveStep& step : plan.Steps()) {
        switch (step.state) {
        case CZipMoveStep::pending:
            end = std::max(end, step.end);
            break;
        case CZipMoveStep::moved:
            end = std::max(end, step.Target(step.end));
            break;
        case CZipMoveStep::moving: {
            // Where the entries cover the step from its start, what they
            // keep is all there is; otherwise bytes of the step before them
            // may be anywhere the move could have put them.
            const bool covered = !step.entries.empty() && step.entries[0]->m_uOffset == step.start;
            const unsigned long long kept = SettleStopped(step);
            end = std::max(end, covered ? kept : std::max(step.end, step.Target(step.end)));
            break;
        }
        }
    }
    return end;
}
