#pragma once
// The duplicate window: a key is new when it was not first seen within the
// last `seconds` seconds. One flat open-addressing table maps each key to the
// time of its first sighting; entries that have aged out are skipped by
// look-ups and dropped when the table is rebuilt, so every message costs one
// probe sequence whatever the number of messages in the window.

#include "app/huge_page_allocator.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

class DupWindow {
public:
    explicit DupWindow(uint64_t seconds) : seconds_(seconds), slots_(kInitialSlots) {}

    // True, and `now` recorded as its first sighting, when the key is new; false
    // for a duplicate (whose first sighting is not renewed). An entry stamped in
    // the future counts as old.
    bool Admit(uint64_t key, time_t now) {
        if ((occupied_ + 1) * 2 > slots_.size()) Rebuild(now);
        size_t i = Home(key);
        for (; Used(slots_[i]); i = (i + 1) & Mask()) {
            if (slots_[i].key != key) continue;
            if (Fresh(slots_[i], now)) return false;
            slots_[i].stamp = now;  // aged out: a new first sighting
            return true;
        }
        slots_[i] = Slot{key, now};
        ++occupied_;
        return true;
    }

    // Starts loading the key's slot, so that Admit a little later finds it
    // in the cache: with a million keys the table is far larger than it.
    void Prefetch(uint64_t key) const { __builtin_prefetch(&slots_[Home(key)]); }

    // Entries still inside the window at `now`.
    size_t Live(time_t now) const {
        size_t n = 0;
        for (const Slot& s : slots_) n += Used(s) && Fresh(s, now);
        return n;
    }

    void Clear() {
        slots_.assign(kInitialSlots, Slot{});
        occupied_ = 0;
    }

private:
    static constexpr time_t kUnused = INT64_MIN;
    struct Slot {
        uint64_t key = 0;
        time_t stamp = kUnused;
    };
    static constexpr size_t kInitialSlots = 16384;  // 256 KiB: rebuilt rarely

    static bool Used(const Slot& s) { return s.stamp != kUnused; }
    bool Fresh(const Slot& s, time_t now) const {
        return static_cast<uint64_t>(now - s.stamp) <= seconds_;
    }
    size_t Mask() const { return slots_.size() - 1; }
    size_t Home(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & Mask();
    }

    // Drops the aged-out entries; doubles the table when the live ones would
    // still fill more than a third of it. The purge works in place: a fresh
    // table would cost a page fault per page on every rebuild.
    void Rebuild(time_t now) {
        size_t live = 0;
        for (const Slot& s : slots_) live += Used(s) && Fresh(s, now);
        if ((live + 1) * 3 > slots_.size()) {
            std::vector<Slot, HugePageAllocator<Slot>> old(slots_.size() * 2);
            old.swap(slots_);
            occupied_ = 0;
            for (const Slot& s : old)
                if (Used(s) && Fresh(s, now)) Place(s);
            return;
        }
        // Walk once round from an empty slot (no probe run crosses it): take
        // each entry out and, when still fresh, put it back from its home. It
        // lands at or before where it was, so no run is ever broken.
        size_t start = 0;
        while (Used(slots_[start])) ++start;
        occupied_ = 0;
        for (size_t k = 1; k <= slots_.size(); ++k) {
            Slot& here = slots_[(start + k) & Mask()];
            if (!Used(here)) continue;
            const Slot s = here;
            here = Slot{};
            if (Fresh(s, now)) Place(s);
        }
    }

    void Place(const Slot& s) {
        size_t i = Home(s.key);
        while (Used(slots_[i])) i = (i + 1) & Mask();
        slots_[i] = s;
        ++occupied_;
    }

    uint64_t seconds_;
    std::vector<Slot, HugePageAllocator<Slot>> slots_;
    size_t occupied_ = 0;
};
