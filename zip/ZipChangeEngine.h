#pragma once
// Changes of an existing, unsegmented archive in place, kept readable
// through failures, full disks and kills. The engine owns what every
// change shares: where the data ended when the change began, the room
// kept ahead of adds (with a copy of the directory at its
// far end), the mover and its buffer, and the one routine that writes the
// directory back after a failure.
//
// A change that moves data runs:
//   Begin -> [Grow] -> TakeOff -> Run(plan) -> [its own writes] -> Complete
// and on any failure after TakeOff: Fail(plan, floor) (or Settle, its own
// repairs, Restore), then rethrows. Adds and copies keep room instead:
//   KeepRoomFor -> the entry written -> EntryWritten ... SettleRoom.
#include "ZipMover.h"

class CZipCentralDir;
class CZipStorage;

class CZipChangeEngine {
public:
    CZipChangeEngine(CZipStorage& storage, CZipCentralDir& centralDir)
        : m_storage(storage), m_centralDir(centralDir), m_mover(storage, centralDir) {}

    // --- a change that moves data in place --------------------------------
    // Room kept for adds is settled first (moves could run through its
    // copy). Returns where the data ends (archive offset). Throws the
    // directory write's codes; nothing has moved then.
    unsigned long long Begin(unsigned bufferSize);
    // The file will hold growth bytes more of data: it is extended to the
    // data end plus growth plus the directory, with zeros, while the old
    // directory still stands. Throws noZip64 past 4 GiB and the write's
    // codes (the file then is as it was).
    void Grow(unsigned long long growth);
    // The directory leaves the disk without the file being cut, its end
    // record's signature cleared so no reader takes it for current while
    // data moves under it. Throws the write's codes; nothing changed then.
    void TakeOff();
    // The step's entries: every one whose local header lies in its range,
    // in data order.
    void GatherEntries(CZipMoveStep& step) const;
    // Runs the plan's pending steps (CZipMover::Run, same throws).
    void Run(CZipMovePlan& plan) { m_mover.Run(plan); }
    // After a failure: the plan's stopped step settled (CZipMover::Settle);
    // returns where the data the headers describe ends, at least floor.
    unsigned long long Settle(CZipMovePlan& plan, unsigned long long floor) { return m_mover.Settle(plan, floor); }
    bool Finish(CZipMoveStep& step) { return m_mover.Finish(step); }
    // The one recovery routine: unless the directory stands, the directory
    // of the headers as they now are is written at dataEnd and the file
    // cut behind it. Never throws; when even that fails, a copy of the old
    // directory kept in room stays, or else the file ends at dataEnd.
    void Restore(unsigned long long dataEnd);
    void Fail(CZipMovePlan& plan, unsigned long long floor) { Restore(Settle(plan, floor)); }
    // The end of a change that moved data in place: its directory is
    // written at dataEnd (the file's data end when not given), flushed, and
    // the file cut behind it, so a kill after the change returns loses
    // nothing. Not while a renamed header waits for its commit: its entry's
    // central name would not match its local header. A failed write is
    // tried once more, then thrown with the directory off the disk.
    void Complete(unsigned long long dataEnd = ~0ull);

    // --- adds into room ---------------------------------------------------
    // Before an add of at most entryBound bytes to an archive whose
    // directory stands on disk (or that has room already): room for the
    // entry and the new directory, with a copy of the directory behind it.
    // False when no room is kept (nothing on disk to keep, segmented, near
    // 4 GiB); throws when the room cannot be written, nothing changed.
    bool KeepRoomFor(unsigned long long entryBound);
    // An entry is complete: the data end moves behind it.
    void EntryWritten();
    // Writes the directory at the data end and cuts the file behind it;
    // nothing without room. A failed write is tried once more, then thrown
    // with the copy of the old directory standing.
    void SettleRoom();
    // The directory was written by Close or Finalize: no room is kept.
    void ForgetRoom();
    bool HasRoom() const { return m_uRoomEnd != ~0ull; }

    // Best effort: the signature of a dropped entry's local header at
    // offset (where nothing kept lies) is cleared, so that tools walking
    // local headers do not test its broken bytes.
    void UnmarkLocalHeader(unsigned long long offset);

private:
    void ReserveRoom(unsigned long long length);
    // The directory at dataEnd, flushed, the file cut behind it.
    void WriteDirectoryAt(unsigned long long dataEnd);

    CZipStorage& m_storage;
    CZipCentralDir& m_centralDir;
    CZipMover m_mover;
    unsigned long long m_uDataEnd = 0;
    // Where the room kept for adds ends and the copy of the directory
    // behind it starts; ~0 with no room.
    unsigned long long m_uRoomEnd = ~0ull;
};
