#include "export/snapshot.h"

#include "ais/ais_parser.h"
#include "export/export_settings.h"

#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <iterator>
#include <unordered_map>

std::list<TVessel> snapshot;
std::mutex snapshotMutex;

namespace {

using Index = std::unordered_map<uint32_t, std::list<TVessel>::iterator>;
Index snapshotIndex;
// The most vessels held since the snapshot was last rebuilt.
size_t highWater = 0;

template <size_t N, size_t M>
void copyText(char (&to)[N], const char (&from)[M]) {
    static_assert(N <= M, "the record's text fits the vessel's field");
    const size_t n = strnlen(from, N - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

template <typename Record>
void fillPosition(TVessel& v, const Record& r, time_t now) {
    v.lastSeen = now;
    v.sog = r.sog;
    v.accuracy = r.accuracy;
    v.lon = r.lon;
    v.lat = r.lat;
    v.cog = r.cog;
    v.heading = r.heading;
}

void copyPosition(TVessel& to, const TVessel& from) {
    fillPosition(to, from, from.lastSeen);
    to.navStatus = from.navStatus;
    to.rot = from.rot;
}

template <typename Record>
void fillDimensions(TVessel& v, const Record& r) {
    v.shipType = r.shipType;
    v.toBow = r.toBow;
    v.toStern = r.toStern;
    v.toPort = r.toPort;
    v.toStarboard = r.toStarboard;
}

void copyDimensions(TVessel& to, const TVessel& from) { fillDimensions(to, from); }

// The voyage data that only type 5 carries; class B static reports reset it.
void copyVoyage(TVessel& to, const TVessel& from) {
    to.imo = from.imo;
    to.eta = from.eta;
    to.draught = from.draught;
    std::memcpy(to.destination, from.destination, sizeof to.destination);
}

void purgeLocked(time_t now) {
    const uint64_t limit = static_cast<uint64_t>(purgeSnapshotTime);
    for (auto it = snapshot.begin(); it != snapshot.end();) {
        if (static_cast<uint64_t>(now - it->lastSeen) > limit) {
            snapshotIndex.erase(it->mmsi);
            it = snapshot.erase(it);
        } else {
            ++it;
        }
    }
}

// After a purge has left fewer than half of the most vessels held, the
// survivors move into fresh nodes and a fresh index (whose buckets never
// shrink otherwise), so that the purged ones' pages hold nothing and can go
// back. True when it rebuilt; the caller then trims the heap, lock released.
bool compactLocked() {
    highWater = std::max(highWater, snapshot.size());
    if (snapshot.size() >= highWater / 2) return false;
    VesselList survivors(snapshot.begin(), snapshot.end());
    Index().swap(snapshotIndex);
    snapshot.clear();
    snapshotIndex.reserve(survivors.size());
    for (const TVessel& v : survivors) {
        snapshot.push_back(v);
        snapshotIndex.emplace(v.mmsi, std::prev(snapshot.end()));
    }
    highWater = snapshot.size();
    return true;
}

// Gives the heap's free pages back to the system, as the forwarder's
// tables give theirs.
void giveBack() { malloc_trim(0); }

}  // namespace

void AddUpdateSnapshot(const AISParser& parser, int type, time_t now) {
    const uint32_t key = parser.mmsi;

    // The template, built before the lock is taken.
    TVessel t{};
    t.mmsi = key;
    std::snprintf(t.name, sizeof t.name, "%lu", static_cast<unsigned long>(key));

    bool addsVessel = false;
    switch (type) {
        case 1: case 2: case 3: {
            const TMessage123& r = parser.message123;
            fillPosition(t, r, now);
            t.navStatus = r.navStatus;
            t.rot = static_cast<int8_t>(r.rot);
            addsVessel = true;
            break;
        }
        case 18:
            fillPosition(t, parser.message18, now);
            addsVessel = true;
            break;
        case 19: {
            const TMessage19& r = parser.message19;
            fillPosition(t, r, now);
            copyText(t.name, r.name);
            fillDimensions(t, r);
            addsVessel = true;
            break;
        }
        case 5: {
            const TMessage5& r = parser.message5;
            t.lastSeen = now;
            t.imo = r.imo;
            copyText(t.callsign, r.callsign);
            copyText(t.name, r.name);
            fillDimensions(t, r);
            t.eta = r.eta;
            t.draught = r.draught;
            copyText(t.destination, r.destination);
            break;
        }
        case 24: {
            const TMessage24& r = parser.message24;
            t.lastSeen = now;
            if (r.partNumber == 0) {
                copyText(t.name, r.name);
            } else {
                copyText(t.callsign, r.callsign);
                fillDimensions(t, r);
            }
            break;
        }
        default:
            return;
    }

    std::lock_guard<std::mutex> lock(snapshotMutex);
    const auto found = snapshotIndex.find(key);
    if (found == snapshotIndex.end()) {
        if (addsVessel) {
            snapshot.push_back(t);
            snapshotIndex.emplace(key, std::prev(snapshot.end()));
        }
        return;
    }

    TVessel& v = *found->second;
    switch (type) {
        case 1: case 2: case 3: case 18:
            copyPosition(v, t);
            break;
        case 19:
            copyPosition(v, t);
            std::memcpy(v.name, t.name, sizeof v.name);
            copyDimensions(v, t);
            std::memcpy(v.callsign, t.callsign, sizeof v.callsign);
            copyVoyage(v, t);
            break;
        case 5:
            v.lastSeen = now;
            std::memcpy(v.callsign, t.callsign, sizeof v.callsign);
            std::memcpy(v.name, t.name, sizeof v.name);
            copyDimensions(v, t);
            copyVoyage(v, t);
            break;
        case 24:
            v.lastSeen = now;
            if (parser.message24.partNumber == 0) {
                std::memcpy(v.name, t.name, sizeof v.name);
            } else {
                std::memcpy(v.callsign, t.callsign, sizeof v.callsign);
                copyDimensions(v, t);
                copyVoyage(v, t);
            }
            break;
    }
}

std::list<TVessel>::iterator snapshotSearchMMSI(unsigned long mmsi) {
    if (mmsi > UINT32_MAX) return snapshot.end();
    const auto found = snapshotIndex.find(static_cast<uint32_t>(mmsi));
    return found == snapshotIndex.end() ? snapshot.end() : found->second;
}

void PurgeSnapshot(time_t now) {
    bool rebuilt;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        purgeLocked(now);
        rebuilt = compactLocked();
    }
    if (rebuilt) giveBack();
}

VesselList CopySnapshotForExport(time_t (*clock)()) {
    // Allocate and touch the copy before the lock is taken: the page faults
    // of a fresh multi-megabyte block would otherwise stall the pipeline.
    size_t expected;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        expected = snapshot.size();
    }
    VesselList copy(expected + expected / 64 + 16);

    // One walk purges, clamps and copies, to keep the hold short.
    const uint64_t limit = static_cast<uint64_t>(purgeSnapshotTime);
    bool rebuilt;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex);
        const time_t now = clock();
        if (copy.size() < snapshot.size()) copy.resize(snapshot.size());
        size_t n = 0;
        for (auto it = snapshot.begin(); it != snapshot.end();) {
            if (static_cast<uint64_t>(now - it->lastSeen) > limit) {
                snapshotIndex.erase(it->mmsi);
                it = snapshot.erase(it);
                continue;
            }
            if (it->shipType > 99) it->shipType = 0;
            copy[n++] = *it;
            ++it;
        }
        copy.resize(n);
        rebuilt = compactLocked();
    }
    if (rebuilt) {
        // The slack the copy was allocated with goes too.
        copy.shrink_to_fit();
        giveBack();
    }
    return copy;
}

void ClearSnapshot() {
    std::lock_guard<std::mutex> lock(snapshotMutex);
    // Swapped out rather than cleared: clear() keeps the index's buckets.
    Index().swap(snapshotIndex);
    snapshot.clear();
    highWater = 0;
}
