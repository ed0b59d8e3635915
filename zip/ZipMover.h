#pragma once
// Runs a plan of data moves inside an unsegmented archive file, through
// one buffer, and settles the headers after a plan stopped part way.
#include "ZipAutoBuffer.h"
#include "ZipMovePlan.h"

class CZipCentralDir;
class CZipStorage;

class CZipMover {
public:
    CZipMover(CZipStorage& storage, CZipCentralDir& centralDir) : m_storage(storage), m_centralDir(centralDir) {}
    // The buffer moves go through, allocated on the first move of size
    // bytes (at least 1 KiB); Release gives it back.
    void SetBufferSize(unsigned size) { m_uBufferSize = size < 1024 ? 1024 : size; }
    void Release() { m_buffer.Release(); }

    // Runs every pending step in order: a step's `leaving` entries leave
    // the directory, its bytes move, then its entries' offsets follow.
    // Throws the storage's I/O codes, abortedAction when a callback stops a
    // step, internalError when the file ends inside a step. A throw leaves
    // the steps before it moved, the one under way `moving` with how far it
    // got, the later ones pending: call Settle.
    void Run(CZipMovePlan& plan);
    // After a throw from Run: every header of a stopped step points at the
    // copy of its entry that is whole (a stop with no write half done moves
    // the one entry it cut the rest of its way first); an entry cut in two
    // leaves the directory. Returns where the data the plan's headers
    // describe ends, at least floor. Never throws.
    unsigned long long Settle(CZipMovePlan& plan, unsigned long long floor);
    // A step stopped with no write half done, moved the rest of its way
    // with no callback; its entries follow. True when it is then moved;
    // never throws.
    bool Finish(CZipMoveStep& step);

    // Best effort, never throws: the signature of a local header at
    // offset is cleared.
    void UnmarkLocalHeader(unsigned long long offset);

private:
    // The step is done: its entries follow their data, and old copies of
    // their local headers left where no entry lies now lose their
    // signature.
    void Moved(CZipMoveStep& step);
    void UnmarkIfLeftBehind(const CZipMoveStep& step, unsigned long long from);
    // The step's bytes from where it stands, chunk by chunk: forward moves
    // take chunks from the end, backward ones from the start, so no byte is
    // overwritten before it is read.
    void MoveBytes(CZipMoveStep& step);
    // [from, to) of a stopped step moved on, with no callback.
    bool MoveRest(CZipMoveStep& step, unsigned long long from, unsigned long long to);
    unsigned long long SettleStopped(CZipMoveStep& step);

    CZipStorage& m_storage;
    CZipCentralDir& m_centralDir;
    CZipAutoBuffer m_buffer;
    unsigned m_uBufferSize = 65536;
};
