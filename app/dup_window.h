#pragma once
// The duplicate window: a key is new when it was not first seen within the
// last `seconds` seconds. Flat open-addressing tables of 8-byte slots hold
// each key (48 bits of it) with the time of its first sighting (the low 16
// bits of the second); entries that have aged out are skipped by look-ups
// and dropped when a table is rebuilt, so every message costs one probe
// sequence whatever the number of messages in the window. The keys are
// spread over 16 tables that grow one at a time, so growing costs a
// sixteenth of the window in passing, not half of it again; every 300 s of
// clock time all are rebuilt, which gives back what a burst made them grow.
// A jump ahead of more than 30000 s empties them, so every stamp is less
// than 2^16 s older than the latest time seen and its full second follows
// from that time; a clock set back by any amount is judged on full seconds.

#include "app/huge_page_allocator.h"
#include "app/prefetch.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

class DupWindow {
public:
    explicit DupWindow(uint64_t seconds) : seconds_(seconds) { Clear(); }

    // True, and `now` recorded as its first sighting, when the key is new; false
    // for a duplicate (whose first sighting is not renewed). An entry stamped in
    // the future counts as old.
    bool Admit(uint64_t key, time_t now) {
        if (now < latest_) {
            // The clock was set back: entries now in the future are old, and
            // what had expired must not come back to life.
            RebuildAll(now);
            latest_ = now;
        } else if (static_cast<uint64_t>(now - latest_) > kMaxStampAge) {
            Clear();  // a jump far ahead: everything has long expired
            latest_ = rebuiltAt_ = now;
        } else {
            latest_ = now;
            if (static_cast<uint64_t>(now - rebuiltAt_) > kRebuildSeconds) RebuildAll(now);
        }
        const uint64_t k = Key(key);
        Shard& sh = ShardOf(k);
        if ((sh.occupied + 1) * 4 > sh.slots.size() * 3) Rebuild(sh, now);
        const size_t mask = sh.slots.size() - 1;
        size_t i = Home(sh, k);
        for (; Used(sh.slots[i]); i = (i + 1) & mask) {
            if (KeyOf(sh.slots[i]) != k) continue;
            // latest_ is now here and no stamp is after it: the 16-bit age is exact.
            if (Age(sh.slots[i], now) <= seconds_) return false;
            sh.slots[i] = Make(k, now);  // aged out: a new first sighting
            return true;
        }
        sh.slots[i] = Make(k, now);
        ++sh.occupied;
        return true;
    }

    // Starts loading the key's slot, so that Admit a little later finds it
    // in the cache: with a million keys the tables are far larger than it.
    void Prefetch(uint64_t key) const {
        const uint64_t k = Key(key);
        const Shard& sh = ShardOf(k);
        PrefetchLine(&sh.slots[Home(sh, k)]);
    }

    // Entries still inside the window at `now` (no earlier than the latest
    // time given to Admit).
    size_t Live(time_t now) const {
        size_t n = 0;
        for (const Shard& sh : shards_)
            for (uint64_t s : sh.slots) n += Used(s) && Fresh(s, now);
        return n;
    }

    // Bytes the tables hold.
    size_t Bytes() const {
        size_t n = 0;
        for (const Shard& sh : shards_) n += sh.slots.capacity() * sizeof(uint64_t);
        return n;
    }

    // Empties the window and gives its memory back.
    void Clear() {
        for (Shard& sh : shards_) {
            Table(kInitialSlots).swap(sh.slots);
            sh.occupied = 0;
        }
        latest_ = rebuiltAt_ = 0;
    }

private:
    using Table = std::vector<uint64_t, HugePageAllocator<uint64_t>>;
    struct Shard {
        Table slots;
        size_t occupied = 0;
    };
    static constexpr unsigned kShardBits = 4;
    static constexpr size_t kInitialSlots = 2048;    // per table: 256 KiB in all
    static constexpr uint64_t kMaxStampAge = 30000;  // well inside 2^16 s
    static constexpr uint64_t kRebuildSeconds = 300;

    // A slot: 48 bits of the mixed key | 16 bits of stamp; 0 is an empty
    // slot. The mix spreads every bit of the key over the 48 kept; the top
    // bits of those pick the table.
    static uint64_t Key(uint64_t key) {
        key ^= key >> 30;
        key *= 0xBF58476D1CE4E5B9ull;
        key ^= key >> 27;
        key *= 0x94D049BB133111EBull;
        key ^= key >> 31;
        return (key >> 16) ? (key >> 16) : 1;
    }
    Shard& ShardOf(uint64_t k) { return shards_[k >> (48 - kShardBits)]; }
    const Shard& ShardOf(uint64_t k) const { return shards_[k >> (48 - kShardBits)]; }
    static uint64_t Make(uint64_t k, time_t now) { return (k << 16) | static_cast<uint16_t>(now); }
    static uint64_t KeyOf(uint64_t slot) { return slot >> 16; }
    static bool Used(uint64_t slot) { return slot != 0; }
    // The full second of a stamp, from the latest time seen.
    time_t StampOf(uint64_t slot) const { return latest_ - Age(slot, latest_); }
    // Inside the window at `now`, and not expired at the latest time seen
    // (which only differs from `now` while the clock is set back); a stamp
    // after `now` is old.
    bool Fresh(uint64_t slot, time_t now) const {
        const time_t stamp = StampOf(slot);
        return stamp <= now && static_cast<uint64_t>(now - stamp) <= seconds_ &&
               static_cast<uint64_t>(latest_ - stamp) <= seconds_;
    }
    static uint16_t Age(uint64_t slot, time_t at) {
        return static_cast<uint16_t>(static_cast<uint16_t>(at) - static_cast<uint16_t>(slot));
    }
    static size_t Home(const Shard& sh, uint64_t k) {
        // The top bits of the product are the well mixed ones.
        const unsigned bits = static_cast<unsigned>(__builtin_ctzll(sh.slots.size()));
        return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> (64 - bits));
    }

    void RebuildAll(time_t now) {
        rebuiltAt_ = now;
        for (Shard& sh : shards_) Rebuild(sh, now);
    }

    // Drops the aged-out entries of one table, in place (a fresh table would
    // cost a page fault per page on every rebuild), then doubles the table
    // when the live ones still fill more than half of it, or halves it while
    // they fill less than an eighth. Rebuilt at three quarters full: eight
    // slots share a cache line, so the longer probes cost little and the
    // smaller table stays in the cache.
    void Rebuild(Shard& sh, time_t now) {
        Table& slots = sh.slots;
        const size_t mask = slots.size() - 1;
        // Walk once round from an empty slot (no probe run crosses it): take
        // each entry out and, when still fresh, put it back from its home. It
        // lands at or before where it was, so no run is ever broken.
        size_t start = 0;
        while (Used(slots[start])) ++start;
        sh.occupied = 0;
        for (size_t n = 1; n <= slots.size(); ++n) {
            uint64_t& here = slots[(start + n) & mask];
            if (!Used(here)) continue;
            const uint64_t s = here;
            here = 0;
            if (Fresh(s, now)) Place(sh, s);
        }
        size_t size = slots.size();
        if ((sh.occupied + 1) * 2 > size) size *= 2;
        while (size > kInitialSlots && sh.occupied * 8 < size) size /= 2;
        if (size == slots.size()) return;
        Table old(size);
        old.swap(slots);
        sh.occupied = 0;
        for (uint64_t s : old)
            if (Used(s)) Place(sh, s);
    }

    static void Place(Shard& sh, uint64_t s) {
        const size_t mask = sh.slots.size() - 1;
        size_t i = Home(sh, KeyOf(s));
        while (Used(sh.slots[i])) i = (i + 1) & mask;
        sh.slots[i] = s;
        ++sh.occupied;
    }

    uint64_t seconds_;
    Shard shards_[size_t(1) << kShardBits];
    time_t latest_ = 0;     // the latest time seen
    time_t rebuiltAt_ = 0;
};
