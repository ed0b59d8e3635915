#pragma once
// A plan of data moves in place: named steps, run in the order they were
// added. Each step moves one stretch of the archive file; the headers of
// the entries in it follow their data once the step is done. Operations
// only build plans; CZipMover runs them and settles a stopped one.
#include <deque>

#include "ZipCollections.h"

class CZipActionCallback;
class CZipFileHeader;

struct CZipMoveStep {
    enum State { pending, moving, moved };
    // For reading a plan in a debugger or a failure report.
    const char* name = "";
    // The bytes [start, end) (archive offsets) go delta bytes forward or
    // back; the step's own range never holds the directory.
    unsigned long long start = 0, end = 0, delta = 0;
    bool forward = false;
    // The entries whose local headers lie in [start, end), in data order:
    // each one's bytes run to the next one's offset, the last one's to end.
    CZipArray<CZipFileHeader*> entries;
    // Entries whose bytes this step overwrites: they leave the directory
    // as it starts.
    CZipArray<CZipFileHeader*> leaving;
    // Asked after every chunk, and once more at the end when lastCall.
    CZipActionCallback* callback = nullptr;
    bool lastCall = false;
    // The step is a progress of its own, begun and ended around it.
    bool progress = false;

    State state = pending;
    // While moving, and after a stop: the bytes before (back) or from
    // (forward) `settled` are moved; a write that failed may have touched
    // `unsure` bytes at the destination.
    unsigned long long settled = 0, unsure = 0;

    unsigned long long Target(unsigned long long offset) const { return forward ? offset + delta : offset - delta; }
};

class CZipMovePlan {
public:
    // References stay valid while steps are added.
    CZipMoveStep& Add(const char* name, unsigned long long start, unsigned long long end, unsigned long long delta,
                      bool forward) {
        CZipMoveStep& step = m_steps.emplace_back();
        step.name = name;
        step.start = start;
        step.end = end;
        step.delta = delta;
        step.forward = forward;
        step.settled = forward ? end : start;
        return step;
    }
    std::deque<CZipMoveStep>& Steps() { return m_steps; }
    bool Empty() const { return m_steps.empty(); }

private:
    std::deque<CZipMoveStep> m_steps;
};
