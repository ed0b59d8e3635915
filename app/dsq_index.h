#pragma once
// The forwarder's look-ups: (mmsi, kind) to its queue entry in one flat
// open-addressing table (linear probing, deletion by backward shift), and
// the entries themselves carved from huge-page blocks. With a hundred
// thousand vessels and kinds both stay cheap per message.

#include "app/huge_page_allocator.h"

#include <cstddef>
#include <cstdint>
#include <vector>

template <typename Entry>
class DsqIndex {
public:
    DsqIndex() : slots_(kInitialSlots) {}

    Entry* Find(uint64_t mmsi, int32_t kind) const {
        for (size_t i = Home(mmsi, kind); slots_[i].entry; i = Next(i))
            if (slots_[i].mmsi == mmsi && slots_[i].kind == kind) return slots_[i].entry;
        return nullptr;
    }

    // Adds a key that is not in the table.
    void Insert(uint64_t mmsi, int32_t kind, Entry* entry) {
        if ((size_ + 1) * 2 > slots_.size()) Grow();
        size_t i = Home(mmsi, kind);
        while (slots_[i].entry) i = Next(i);
        slots_[i] = Slot{mmsi, kind, entry};
        ++size_;
    }

    void Erase(uint64_t mmsi, int32_t kind) {
        size_t i = Home(mmsi, kind);
        for (; slots_[i].entry; i = Next(i))
            if (slots_[i].mmsi == mmsi && slots_[i].kind == kind) break;
        if (!slots_[i].entry) return;
        // Shift later members of the probe run back so no look-up stops early.
        for (size_t j = Next(i); slots_[j].entry; j = Next(j)) {
            const size_t home = Home(slots_[j].mmsi, slots_[j].kind);
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

    void Clear() {
        slots_.assign(kInitialSlots, Slot{});
        size_ = 0;
    }

    void Prefetch(uint64_t mmsi, int32_t kind) const { __builtin_prefetch(&slots_[Home(mmsi, kind)]); }

private:
    struct Slot {
        uint64_t mmsi = 0;
        int32_t kind = 0;
        Entry* entry = nullptr;  // null: empty slot
    };
    static constexpr size_t kInitialSlots = 1024;

    size_t Next(size_t i) const { return (i + 1) & (slots_.size() - 1); }
    size_t Home(uint64_t mmsi, int32_t kind) const {
        const uint64_t k = (mmsi * 8) ^ static_cast<uint32_t>(kind);
        return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 20) & (slots_.size() - 1);
    }
    void Grow() {
        std::vector<Slot, HugePageAllocator<Slot>> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& s : old) {
            if (!s.entry) continue;
            size_t i = Home(s.mmsi, s.kind);
            while (slots_[i].entry) i = Next(i);
            slots_[i] = s;
        }
    }

    std::vector<Slot, HugePageAllocator<Slot>> slots_;
    size_t size_ = 0;
};

// Fixed-size blocks for queue entries, from huge-page chunks, reused after
// they are freed. The chunks live as long as the pool.
template <typename Entry>
class DsqPool {
public:
    DsqPool() = default;
    DsqPool(const DsqPool&) = delete;
    DsqPool& operator=(const DsqPool&) = delete;
    ~DsqPool() {
        for (void* c : chunks_) std::free(c);
    }

    Entry* New() {
        if (!free_) Refill();
        Block* b = free_;
        free_ = b->next;
        return new (b) Entry{};
    }
    void Delete(Entry* e) {
        e->~Entry();
        Block* b = reinterpret_cast<Block*>(e);
        b->next = free_;
        free_ = b;
    }

private:
    union Block {
        Block* next;
        alignas(Entry) unsigned char storage[sizeof(Entry)];
    };
    void Refill() {
        const size_t count = kHugePage / sizeof(Block);
        Block* chunk = static_cast<Block*>(AllocateLarge(count * sizeof(Block)));
        chunks_.push_back(chunk);
        for (size_t i = count; i-- > 0;) {
            chunk[i].next = free_;
            free_ = &chunk[i];
        }
    }
    Block* free_ = nullptr;
    std::vector<void*> chunks_;
};
