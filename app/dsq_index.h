#pragma once
// The forwarder's look-ups: (mmsi, kind) to its queue entry in one flat
// open-addressing table (linear probing, deletion by backward shift), and
// the entries themselves carved from huge-page chunks. With a hundred
// thousand vessels and kinds both stay cheap per message.

#include "app/huge_page_allocator.h"
#include "app/prefetch.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// Entry has the fields `mmsi` and `kind` of its key. A slot holds a 64-bit
// mix of the key and the entry; the entry itself settles a match, and it is
// read right after a look-up anyway.
template <typename Entry>
class DsqIndex {
public:
    // Room for `expected` keys before the table first grows.
    explicit DsqIndex(size_t expected = 0) : slots_(SlotsFor(expected)) {}

    Entry* Find(uint64_t mmsi, int32_t kind) const {
        const uint64_t k = Mix(mmsi, kind);
        for (size_t i = Home(k); slots_[i].entry; i = Next(i))
            if (Is(slots_[i], k, mmsi, kind)) return slots_[i].entry;
        return nullptr;
    }

    // Adds the entry of a key that is not in the table.
    void Insert(uint64_t mmsi, int32_t kind, Entry* entry) {
        if ((size_ + 1) * 2 > slots_.size()) Grow();
        const uint64_t k = Mix(mmsi, kind);
        size_t i = Home(k);
        while (slots_[i].entry) i = Next(i);
        slots_[i] = Slot{k, entry};
        ++size_;
    }

    // Removes a key; its entry must still be readable.
    void Erase(uint64_t mmsi, int32_t kind) {
        const uint64_t k = Mix(mmsi, kind);
        size_t i = Home(k);
        for (; slots_[i].entry; i = Next(i))
            if (Is(slots_[i], k, mmsi, kind)) break;
        if (!slots_[i].entry) return;
        // Shift later members of the probe run back so no look-up stops early.
        for (size_t j = Next(i); slots_[j].entry; j = Next(j)) {
            const size_t home = Home(slots_[j].k);
            const bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
            if (!between) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = Slot{};
        --size_;
    }

    size_t Size() const { return size_; }
    size_t Bytes() const { return slots_.capacity() * sizeof(Slot); }

    // Empties the table and gives its memory back.
    void Clear() {
        std::vector<Slot, HugePageAllocator<Slot>>(kInitialSlots).swap(slots_);
        size_ = 0;
    }

    void Prefetch(uint64_t mmsi, int32_t kind) const { PrefetchLine(&slots_[Home(Mix(mmsi, kind))]); }
    // Starts loading the entry of a key whose slot is in the cache by now.
    // The mix alone picks it: a wrong guess costs a wasted load, where
    // reading the entry to be sure would wait for the very miss this hides.
    void PrefetchEntry(uint64_t mmsi, int32_t kind) const {
        const uint64_t k = Mix(mmsi, kind);
        for (size_t i = Home(k); slots_[i].entry; i = Next(i)) {
            if (slots_[i].k == k) {
                PrefetchLine(slots_[i].entry);
                return;
            }
        }
    }

private:
    struct Slot {
        uint64_t k = 0;
        Entry* entry = nullptr;  // null: empty slot
    };
    static constexpr size_t kInitialSlots = 1024;
    // A power of two at least twice `keys`: the table stays at most half full.
    static size_t SlotsFor(size_t keys) {
        size_t n = kInitialSlots;
        while (n < (keys + 1) * 2) n *= 2;
        return n;
    }

    static uint64_t Mix(uint64_t mmsi, int32_t kind) { return (mmsi * 8) ^ static_cast<uint32_t>(kind); }
    static bool Is(const Slot& s, uint64_t k, uint64_t mmsi, int32_t kind) {
        return s.k == k && s.entry->mmsi == mmsi && s.entry->kind == kind;
    }
    size_t Next(size_t i) const { return (i + 1) & (slots_.size() - 1); }
    size_t Home(uint64_t k) const {
        return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 20) & (slots_.size() - 1);
    }
    void Grow() {
        std::vector<Slot, HugePageAllocator<Slot>> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& s : old) {
            if (!s.entry) continue;
            size_t i = Home(s.k);
            while (slots_[i].entry) i = Next(i);
            slots_[i] = s;
        }
    }

    std::vector<Slot, HugePageAllocator<Slot>> slots_;
    size_t size_ = 0;
};

// Blocks of one size (fixed when the pool is made) for queue entries, cut
// in order from huge-page chunks and reused after they are freed. A pool
// gives its chunks back only when it is destroyed; the forwarder moves its
// entries into a fresh pool when the queue has shrunk (see Brinecast).
class DsqPool {
public:
    explicit DsqPool(size_t blockBytes)
        : block_((blockBytes + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1)),
          perChunk_(kHugePage / block_ ? kHugePage / block_ : 1) {}
    DsqPool(const DsqPool&) = delete;
    DsqPool& operator=(const DsqPool&) = delete;
    DsqPool(DsqPool&& o) noexcept { *this = std::move(o); }
    DsqPool& operator=(DsqPool&& o) noexcept {
        if (this != &o) {
            Release();
            block_ = o.block_;
            perChunk_ = o.perChunk_;
            free_ = o.free_;
            bump_ = o.bump_;
            bumpEnd_ = o.bumpEnd_;
            chunks_.swap(o.chunks_);
            live_ = o.live_;
            o.free_ = nullptr;
            o.bump_ = o.bumpEnd_ = nullptr;
            o.live_ = 0;
        }
        return *this;
    }
    ~DsqPool() { Release(); }

    // An uninitialised block of BlockBytes().
    void* New() {
        ++live_;
        if (free_) {
            Free* f = free_;
            free_ = f->next;
            return f;
        }
        if (bump_ == bumpEnd_) Refill();
        void* p = bump_;
        bump_ += block_;
        return p;
    }
    void Delete(void* p) {
        Free* f = static_cast<Free*>(p);
        f->next = free_;
        free_ = f;
        --live_;
    }

    size_t BlockBytes() const { return block_; }
    size_t Live() const { return live_; }
    size_t Chunks() const { return chunks_.size(); }
    size_t Bytes() const { return chunks_.size() * ChunkBytes(); }
    // True when three quarters of more than one chunk stand empty: moving
    // the live blocks to a fresh pool then gives most of the memory back.
    bool Sparse() const { return chunks_.size() > 1 && live_ * 4 < chunks_.size() * perChunk_; }

private:
    struct Free {
        Free* next;
    };
    size_t ChunkBytes() const { return perChunk_ * block_; }
    void Refill() {
        chunks_.reserve(chunks_.size() + 1);
        bump_ = static_cast<char*>(AllocateLarge(ChunkBytes()));
        bumpEnd_ = bump_ + ChunkBytes();
        chunks_.push_back(bump_);
    }
    void Release() {
        for (void* c : chunks_) ReleaseLarge(c, ChunkBytes());
        chunks_.clear();
    }

    size_t block_ = 0;
    size_t perChunk_ = 1;
    Free* free_ = nullptr;
    char* bump_ = nullptr;
    char* bumpEnd_ = nullptr;
    std::vector<char*> chunks_;
    size_t live_ = 0;
};
