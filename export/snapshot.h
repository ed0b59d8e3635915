#pragma once
// The vessel snapshot: one record per MMSI heard while the export is on,
// kept by value in the order of first appearance. A hash index beside the
// list finds a vessel by MMSI in O(1); the list itself is never reordered.
//
// `snapshotMutex` guards `snapshot` and every record in it. The functions
// below take it themselves, except `snapshotSearchMMSI`, whose caller must
// hold it. Change the list only through these functions, so the index stays
// in step with it.

#include <cstdint>
#include <ctime>
#include <list>
#include <mutex>
#include <vector>

class AISParser;

struct TVessel {
    time_t lastSeen;       // when the vessel was last updated, seconds since the epoch
    uint64_t mmsi;         // the key: at most one record per MMSI
    uint8_t navStatus;     // AIS navigational status 0-15
    int8_t rot;            // low 8 bits of the rate of turn; kept, never shown
    uint32_t sog;          // speed over ground, 0.1 knot
    uint8_t accuracy;      // position accuracy flag; kept, never shown
    int64_t lon;           // 1/10000 minute
    int64_t lat;           // 1/10000 minute
    uint32_t cog;          // course over ground, 0.1 degree
    uint32_t heading;      // true heading, degrees
    int64_t imo;           // 0 = none
    char callsign[8];
    char name[21];
    uint8_t shipType;      // AIS ship and cargo type
    uint32_t toBow;        // metres from the reference point
    uint32_t toStern;
    uint32_t toPort;
    uint32_t toStarboard;
    int64_t eta;           // minute bits 0-5, hour 6-10, day 11-15, month 16-19; 0 = none
    uint8_t draught;       // 0.1 metre
    char destination[21];
};

extern std::list<TVessel> snapshot;
extern std::mutex snapshotMutex;

// Updates or adds the vessel of the message `parser` has just decoded, of
// message type `type`, stamping it with `now`. Position reports (1-3, 18,
// 19) add unknown vessels; static reports (5, 24) only update known ones;
// every other type is ignored.
void AddUpdateSnapshot(const AISParser& parser, int type, time_t now);

// The record with this MMSI, or snapshot.end(). The caller holds snapshotMutex.
std::list<TVessel>::iterator snapshotSearchMMSI(unsigned long mmsi);

// Removes every vessel whose age `now - lastSeen`, taken as unsigned, exceeds
// purgeSnapshotTime; a vessel stamped in the future counts as very old.
void PurgeSnapshot(time_t now);

// Under one hold of the lock: purges as PurgeSnapshot does at the time
// `clock` gives, read once the lock is held (a time read before it could
// make a vessel the pipeline stamps meanwhile look as if heard in the
// future, and purge it), sets a ship type above 99 to 0 in the snapshot, and
// returns a copy of the list. The export formats the copy without the lock.
std::vector<TVessel> CopySnapshotForExport(time_t (*clock)());

// Empties the snapshot (tests).
void ClearSnapshot();
