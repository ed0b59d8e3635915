#pragma once
// Changes of an existing, unsegmented archive in place, kept readable
// through failures, full disks and kills. The engine owns what every
// change shares: where the data ends, the directory that stands on disk
// while the one in memory differs from it (the old one, or a copy at the
// far end of room kept ahead of adds), the mover and its buffer, the one
// routine that writes the directory and the one that writes it back after
// a failure (Restore).
//
// Every change is a CZipChange, a scoped object: its constructor begins
// it, the operation gives it its plan of moves and runs it (Move), and its
// destructor runs the recovery unless the change was completed. Changes
// of the directory alone (comments, attributes, times, central names, a
// record or the last entry removed) only tell the engine
// (DirectoryChanged, LastEntryRemoved): the old directory stays on disk,
// readable, until the next write of the directory.
#include <functional>

#include "ZipMover.h"

class CZipCentralDir;
class CZipFileHeader;
class CZipStorage;

class CZipChangeEngine {
public:
    CZipChangeEngine(CZipStorage& storage, CZipCentralDir& centralDir)
        : m_storage(storage), m_centralDir(centralDir), m_mover(storage, centralDir) {}

    // --- the directory on disk ---------------------------------------------
    // A directory stands on disk: the current one, or an older one (or a
    // copy) that the next write of the directory must not overwrite.
    bool DirectoryStands() const;
    // The directory in memory changed: a current directory on disk becomes
    // the standing one. Nothing is written.
    void DirectoryChanged();
    // The last entry, starting at offset, left the directory in memory: the
    // data ends there now. A directory that stands on disk stays (it still
    // lists the entry, whose bytes stay until something is written over
    // them); with none the file is cut at offset.
    void LastEntryRemoved(unsigned long long offset);
    // The one write of the directory: at dataEnd (the data end when not
    // given), then the file is cut behind it and no room is kept. Where it
    // would overwrite a standing directory it first goes behind that one,
    // so an old directory stays until a new one is whole. A write that
    // fails is tried `attempts` times in all, then thrown: the standing
    // directory (if any) is left as it was, else the file ends at dataEnd;
    // no part of the new one stays. Nothing when the directory is current.
    void WriteDirectory(unsigned long long dataEnd = ~0ull, int attempts = 1);
    // The recovery: unless the directory is current, the directory of the
    // headers as they now are is written at dataEnd. Never throws; when
    // even that fails, a standing directory stays, or else the file ends at
    // dataEnd.
    void Restore(unsigned long long dataEnd);
    // Takes the directory off the disk (RemoveCentralDirectoryFromArchive):
    // the file is cut where the data ends.
    void CutDirectory();

    // --- adds into room ----------------------------------------------------
    // Before an add of at most entryBound bytes to an archive whose
    // directory stands on disk: room for the entry and the new directory,
    // with a copy of the directory in memory at its far end. False when no
    // room is kept (nothing stands on disk, segmented, near 4 GiB); throws
    // when the room cannot be written, the room as it was.
    bool KeepRoomFor(unsigned long long entryBound);
    // An entry is complete: the data end moves behind it.
    void EntryWritten();
    // Adds kept in room go on record: the directory is written where the
    // data ends (twice more on failure, then thrown with the copy standing).
    void SettleRoom();
    // The directory was written (or the archive opened or closed): nothing
    // stands behind the data.
    void ForgetRoom();
    bool HasRoom() const { return m_uRoomEnd != ~0ull; }

    // --- the mover's services for plans --------------------------------------
    // The step's entries: every one whose local header lies in its range,
    // in data order.
    void GatherEntries(CZipMoveStep& step) const;
    // After a failure: the plan's stopped step settled (CZipMover::Settle).
    unsigned long long Settle(CZipMovePlan& plan, unsigned long long floor) { return m_mover.Settle(plan, floor); }
    bool Finish(CZipMoveStep& step) { return m_mover.Finish(step); }
    // Best effort: the signature of a local header at offset (where
    // nothing kept lies) is cleared, so that tools walking local headers
    // do not test broken or stale bytes.
    void UnmarkLocalHeader(unsigned long long offset) { m_mover.UnmarkLocalHeader(offset); }
    // Zeros over [from, to) (archive offsets), written, not only sized.
    void FillWithZeros(unsigned long long from, unsigned long long to);

private:
    friend class CZipChange;

    // A change in place begins: adds kept in room go on record first
    // (moves could run through its copy). Returns where the data ends.
    unsigned long long Begin(unsigned bufferSize);
    // The file will hold growth bytes more of data: it is extended to the
    // data end plus growth plus the directory, with zeros, while the old
    // directory still stands. Throws noZip64 past 4 GiB and the write's
    // codes (the file then is as it was).
    void Grow(unsigned long long dataEnd, unsigned long long growth);
    // The directory that stands leaves the disk without the file being
    // cut, its end record's signature cleared so that no reader takes it
    // for current while data moves under it. Throws the write's codes;
    // nothing changed then.
    void TakeOff();
    void Run(CZipMovePlan& plan) { m_mover.Run(plan); }
    // The directory at dataEnd, flushed, the file cut behind it.
    void PutDirectory(unsigned long long dataEnd);
    void WriteDirectoryAt(unsigned long long at);
    // The standing directory is the one just written at `at`.
    void Stands(unsigned long long at, unsigned long long listedEnd);

    CZipStorage& m_storage;
    CZipCentralDir& m_centralDir;
    CZipMover m_mover;
    // The directory that stands on disk while the one in memory differs:
    // where it starts (~0: none), where its end record is, where the file
    // ends behind it, and where the data it lists ends.
    unsigned long long m_uRoomEnd = ~0ull;
    unsigned long long m_uStandingRecord = 0, m_uStandingEnd = 0, m_uListedEnd = 0;
};

// One change in place, begun by its constructor and recovered by its
// destructor unless it was completed: the entry it was adding leaves the
// directory, the plan is settled (or the operation's own recovery runs),
// and the directory of what the archive then holds is written back.
class CZipChange {
public:
    // A change that moves data (or writes its directory at once), or an
    // add that keeps room ahead of its entry instead.
    enum Kind { inPlace, append };

    CZipChange(CZipChangeEngine& engine, unsigned bufferSize, Kind kind = inPlace);
    ~CZipChange();
    CZipChange(const CZipChange&) = delete;
    CZipChange& operator=(const CZipChange&) = delete;

    // Where the data ended when the change began (inPlace).
    unsigned long long DataEnd() const { return m_uDataEnd; }
    CZipMovePlan& Plan() { return m_plan; }
    // After a failure the data ends at least here (the data end with no
    // plan and no floor given).
    void SetFloor(unsigned long long floor) { m_uFloor = floor; }
    // The operation's own repairs after a failure once its data began to
    // move, in place of settling the plan: returns where the data the
    // headers describe ends. Should not throw; null puts the plan's
    // settling back.
    void OnFailure(std::function<unsigned long long()> recover) { m_recover = std::move(recover); }

    // Room for growth bytes more, while the old directory stands; the
    // directory taken off; the plan run. Throws what those throw.
    void Move(unsigned long long growth = 0);
    // An append: room for an entry of at most bound bytes (~0: not known).
    // Without room the entry goes where the data ends, the directory that
    // stands taken off until the add ends.
    void RoomFor(unsigned long long bound);
    // The entry being added and where its local header starts: a failure
    // takes it out again, cutting the data back to its start when it is
    // the last.
    void Writing(CZipFileHeader* entry, unsigned long long start);
    void EntryWritten();
    // The change is done. Its directory is written at dataEnd (the data
    // end when not given), tried twice, unless it is current already, or
    // an append that keeps room (the copy stands until Close) or found no
    // directory on disk. Throws the write's codes with the directory that
    // stood left standing; the change counts as done either way.
    void Complete(unsigned long long dataEnd = ~0ull);
    // Nothing was changed: no recovery.
    void Unchanged() { m_bDone = true; }

private:
    unsigned long long Recover();

    CZipChangeEngine& m_engine;
    const Kind m_kind;
    // A directory stood on disk when the change began.
    const bool m_bStood;
    bool m_bDone = false;
    // The directory is off the disk and the plan runs.
    bool m_bMoving = false;
    unsigned long long m_uDataEnd = 0;
    unsigned long long m_uFloor = ~0ull;
    CZipMovePlan m_plan;
    std::function<unsigned long long()> m_recover;
    CZipFileHeader* m_pEntry = nullptr;
    unsigned long long m_uEntryStart = ~0ull;
};
