#pragma once
// The vessel snapshot: one record per MMSI heard while the export is on,
// kept by value in the order of first appearance. A hash index beside the
// list finds a vessel by MMSI in O(1); the list itself is never reordered.
//
// `snapshotMutex` guards `snapshot` and every record in it. The functions
// below take it themselves, except `snapshotSearchMMSI`, whose caller must
// hold it. Change the list only through these functions, so the index stays
// in step with it.

#include <sys/mman.h>

#include <cstdint>
#include <ctime>
#include <list>
#include <mutex>
#include <new>
#include <vector>

class AISParser;

// Each field is as wide as the AIS field it keeps, no wider, and the fields
// are ordered so that no padding falls between them: the record is 96 bytes
// (144 with 64-bit fields), which the snapshot holds for every vessel heard.
struct TVessel {
    time_t lastSeen;       // when the vessel was last updated, seconds since the epoch
    uint32_t mmsi;         // the key: at most one record per MMSI
    int32_t lon;           // 1/10000 minute
    int32_t lat;           // 1/10000 minute
    uint32_t imo;          // 0 = none
    uint32_t eta;          // minute bits 0-5, hour 6-10, day 11-15, month 16-19; 0 = none
    uint16_t sog;          // speed over ground, 0.1 knot
    uint16_t cog;          // course over ground, 0.1 degree
    uint16_t heading;      // true heading, degrees
    uint16_t toBow;        // metres from the reference point
    uint16_t toStern;
    uint8_t toPort;
    uint8_t toStarboard;
    uint8_t navStatus;     // AIS navigational status 0-15
    int8_t rot;            // low 8 bits of the rate of turn; kept, never shown
    uint8_t accuracy;      // position accuracy flag; kept, never shown
    uint8_t shipType;      // AIS ship and cargo type
    uint8_t draught;       // 0.1 metre
    char callsign[8];
    char name[21];
    char destination[21];
};
static_assert(sizeof(TVessel) == 96, "the snapshot record stays lean");

// Memory mapped for one block and unmapped with it. The export's copy of a
// large snapshot must go back to the system after each export, which malloc
// does not promise: a thread's arena keeps a freed block at its top.
template <typename T>
struct MappedAllocator {
    using value_type = T;
    MappedAllocator() = default;
    template <typename U>
    MappedAllocator(const MappedAllocator<U>&) {}
    T* allocate(size_t n) {
        void* p = mmap(nullptr, bytes(n), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) { munmap(p, bytes(n)); }
    template <typename U>
    bool operator==(const MappedAllocator<U>&) const { return true; }
    template <typename U>
    bool operator!=(const MappedAllocator<U>&) const { return false; }

private:
    static size_t bytes(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return n == 0 ? 1 : n * sizeof(T);
    }
};

// A list of vessels outside the snapshot: the export's copy.
using VesselList = std::vector<TVessel, MappedAllocator<TVessel>>;

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
VesselList CopySnapshotForExport(time_t (*clock)());

// Empties the snapshot (tests).
void ClearSnapshot();
