#include "app/brinecast.h"

#include "ais/ais_parser.h"
#include "app/clock.h"
#include "app/pipeline.h"
#include "net/Exception.h"
#include "net/SocketHandler.h"
#include "net/UdpSocket.h"
#include "net/Utility.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

Brinecast* AISBrinecast = nullptr;

// The destinations' sockets are never selected; they log nowhere.
static SocketHandler HandlerUdp;

namespace {

constexpr uint64_t kExpirySeconds = 300;
constexpr int kResolveSeconds = 300;

bool systemResolve(const char* host, uint32_t& address) {
    unsigned long a = 0;
    if (!Utility::u2ip(host, a)) return false;
    address = static_cast<uint32_t>(a);
    return true;
}

std::atomic<DestinationResolver> resolver{systemResolve};

}  // namespace

void SetDestinationResolver(DestinationResolver r) { resolver = r ? r : systemResolve; }

// The renewal thread sleeps on `wake` for 300 s, or until the sending road
// finds a renewal due by the forwarder's clock (set back, or a test's), or
// the forwarder is destroyed; it looks the names up with no lock held and
// stores each good address atomically.
struct Brinecast::Renewal {
    DestinationResolver resolve;
    std::mutex mutex;
    std::condition_variable wake;
    bool due = false;              // under mutex
    std::atomic<bool> stop{false};
    std::atomic<bool> renewedOnTime{false};  // by the timer, not yet seen by the sending road
    time_t wokenAt = 0;            // main thread only
    std::thread thread;

    void run(TDestination* table, unsigned count) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const bool woken =
                wake.wait_for(lock, std::chrono::seconds(kResolveSeconds), [this] { return due || stop; });
            if (stop) return;
            if (!woken) renewedOnTime = true;
            due = false;
            lock.unlock();
            for (unsigned i = 0; i < count && !stop; ++i) {
                TDestination& d = table[i];
                uint32_t a = 0;
                if (!d.numeric && resolve(d.host, a)) d.address.store(a, std::memory_order_relaxed);
            }
            lock.lock();
        }
    }
};

namespace {
unsigned checkedCount(unsigned count) {
    if (count > kDsqMaxDestinations)
        throw std::invalid_argument("Brinecast: more than " + std::to_string(kDsqMaxDestinations) +
                                    " destinations");
    return count;
}
}  // namespace

Brinecast::Brinecast(TOutgoing** list, unsigned count, unsigned interval)
    : destinationCount(checkedCount(count)),
      destinations(new TDestination[count]),
      positionPool_(sizeof(TDSQueue) + count * sizeof(time_t)),
      staticPool_(sizeof(TDSQueue) + count * kStaticSlots * sizeof(time_t)) {
    try {
        build(list, count, interval);
    } catch (...) {
        delete[] destinations;  // no destructor runs for a constructor that throws
        throw;
    }
}

void Brinecast::build(TOutgoing** list, unsigned count, unsigned interval) {
    const DestinationResolver resolve = resolver;
    bool names = false;
    outlets_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        outlets_.push_back(std::make_unique<Outlet>(HandlerUdp));
        TDestination& d = destinations[i];
        std::snprintf(d.host, sizeof d.host, "%s", list[i]->host);
        d.port = static_cast<uint16_t>(list[i]->port);
        d.interval = interval;
        in_addr dotted;
        d.numeric = inet_pton(AF_INET, d.host, &dotted) == 1;
        uint32_t a = 0;
        if (d.numeric) {
            d.address = dotted.s_addr;
        } else if (resolve(d.host, a)) {
            d.address = a;
        }
        names = names || !d.numeric;
    }
    if (names) {
        renewal_.reset(new Renewal);
        renewal_->resolve = resolve;
        renewal_->wokenAt = Now();
        renewal_->thread = std::thread(&Renewal::run, renewal_.get(), destinations, count);
    }
}

Brinecast::~Brinecast() {
    if (renewal_) {
        {
            std::lock_guard<std::mutex> lock(renewal_->mutex);
            renewal_->stop = true;
        }
        renewal_->wake.notify_one();
        renewal_->thread.join();
    }
    drain();
    dsqDispose();
    delete[] destinations;
}

bool Brinecast::typePasses(int type, unsigned destination) const {
    // Bit (t - 1) mod 32 as a signed 32-bit value widened with its sign: the
    // bit of types 0 and 32 covers bits 31 to 63.
    const unsigned bit = (static_cast<unsigned>(type) - 1u) & 31u;
    const uint64_t pattern = bit == 31 ? 0xFFFFFFFF80000000ull : (1ull << bit);
    return (pattern & destinations[destination].typeMask) != 0;
}

void Brinecast::renewDueNames() {
    if (!renewal_) return;
    const time_t now = Now();
    if (renewal_->renewedOnTime.load(std::memory_order_relaxed) && renewal_->renewedOnTime.exchange(false)) {
        renewal_->wokenAt = now;  // the timer came first
        return;
    }
    // Unsigned: a clock set back makes a renewal due at once.
    if (static_cast<uint64_t>(now - renewal_->wokenAt) < static_cast<uint64_t>(kResolveSeconds)) return;
    renewal_->wokenAt = now;
    {
        // Held only against the thread's own short turns, never across a look-up.
        std::lock_guard<std::mutex> lock(renewal_->mutex);
        renewal_->due = true;
    }
    renewal_->wake.notify_one();
}

void Brinecast::drain() {
    DrainOutlets(outlets_, [this](unsigned i, size_t dropped) {
        if (!params.debug) return;
        const TDestination& d = destinations[i];
        std::fprintf(stderr, "%s:%u took nothing for %lld ms: %zu datagrams lost, not waited for %lld s\n",
                     d.host, static_cast<unsigned>(d.port),
                     static_cast<long long>(Outlet::kStallLimit.count()), dropped,
                     static_cast<long long>(Outlet::kNoWaitPeriod.count()));
    });
}

void Brinecast::send(unsigned destination, const char* text, size_t length) {
    const TDestination& d = destinations[destination];
    const uint32_t address = d.address.load(std::memory_order_relaxed);
    if (address == 0 && !d.numeric) return;  // never resolved yet
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(d.port);
    to.sin_addr.s_addr = address;
    Outlet& outlet = *outlets_[destination];
    outlet.Queue(to, text, length);
    if (batchDepth_ == 0 || outlet.Waiting() >= kSendBatch) drain();
}

void Brinecast::DispatchMessage(int type, unsigned long mmsi, long x, long y, char* text) {
    DispatchMessage(type, mmsi, x, y, text, std::strlen(text),
                    type == 24 && Parser && Parser->message24.partNumber != 0);
}

void Brinecast::DispatchMessage(int type, unsigned long mmsi, long x, long y, const char* text,
                                size_t length, bool partB) {
    if (destinationCount == 0) return;
    renewDueNames();
    const bool staticReport = type == 5 || type == 24;
    const bool positionReport =
        (type >= 1 && type <= 4) || type == 18 || type == 19;
    TDSQueue* entry = nullptr;
    unsigned slot = 0;
    if (staticReport) {
        entry = dsqFindInsert(mmsi, 5, x, y);
        slot = type == 5 ? kSlotType5 : partB ? kSlotPartB : kSlotPartA;
    }
    if (positionReport) entry = dsqFindInsert(mmsi, 1, x, y);

    for (unsigned i = 0; i < destinationCount; ++i) {
        if (!typePasses(type, i)) continue;
        if (entry) {
            if (!dsqDownsampling(entry, i, slot)) {
                if (params.debug) std::fputs("Downsampled\n", stderr);
                continue;
            }
            if (positionReport && !dsqPolygon(x, y, i)) continue;
            // The part B that completes this part A is never held back.
            if (staticReport && slot == kSlotPartA) lastSent(entry, i, kSlotPartB) = 0;
        } else if (type == 9 && !dsqPolygon(x, y, i)) {
            continue;
        }
        send(i, text, length);
    }
}

void Brinecast::DispatchNoneVdmMessage(char* text) {
    renewDueNames();
    const size_t length = std::strlen(text);
    for (unsigned i = 0; i < destinationCount; ++i) send(i, text, length);
}

time_t& Brinecast::lastSent(TDSQueue* entry, unsigned destination, unsigned slot) {
    return entry->stamps()[entry->kind == 1 ? destination : destination * kStaticSlots + slot];
}

bool Brinecast::dsqDownsampling(TDSQueue* entry, unsigned destination, unsigned slot) {
    const time_t now = Now();
    time_t& stamp = lastSent(entry, destination, slot);
    if (static_cast<uint64_t>(now - stamp) < destinations[destination].interval) return false;
    stamp = now;
    return true;
}

bool Brinecast::dsqPolygon(long x, long y, unsigned destination) {
    const TDestination& d = destinations[destination];
    if (d.minX == 0 && d.minY == 0 && d.maxX == 0 && d.maxY == 0) return true;
    return d.minX < x && x < d.maxX && d.minY < y && y < d.maxY;
}

bool Brinecast::dsqSource(unsigned source, unsigned destination) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "#%u#", source);
    const TDestination& d = destinations[destination];
    const bool listed = d.sourceList.find(tag) != std::string::npos;
    return listed ? !d.sourceInverted : d.sourceInverted;
}

void Brinecast::unlink(TDSQueue* e) {
    (e->prev ? e->prev->next : dsqHead) = e->next;
    (e->next ? e->next->prev : dsqTail) = e->prev;
    e->prev = e->next = nullptr;
}

void Brinecast::pushHead(TDSQueue* e) {
    e->prev = nullptr;
    e->next = dsqHead;
    if (dsqHead) dsqHead->prev = e;
    dsqHead = e;
    if (!dsqTail) dsqTail = e;
}

TDSQueue* Brinecast::dsqFindInsert(unsigned long mmsi, int kind, long x, long y) {
    const time_t now = Now();
    TDSQueue* e = index_.Find(mmsi, kind);
    if (e) {
        if (e != dsqHead) {
            // Both neighbours are written: load them side by side.
            __builtin_prefetch(e->prev, 1);
            __builtin_prefetch(e->next, 1);
            unlink(e);
            pushHead(e);
        }
    } else {
        DsqPool& pool = poolOf(kind);
        e = new (pool.New()) TDSQueue{};
        e->mmsi = mmsi;
        e->kind = kind;
        std::fill_n(e->stamps(), (pool.BlockBytes() - sizeof(TDSQueue)) / sizeof(time_t), time_t(0));
        index_.Insert(mmsi, kind, e);
        pushHead(e);
    }
    e->lastSeen = now;
    e->kind = kind;
    e->x = x;
    e->y = y;

    // The head is never removed, so the entry just stamped survives.
    bool expired = false;
    while (dsqTail && dsqTail->prev &&
           static_cast<uint64_t>(now - dsqTail->lastSeen) > kExpirySeconds) {
        TDSQueue* old = dsqTail;
        unlink(old);
        index_.Erase(old->mmsi, old->kind);
        poolOf(old->kind).Delete(old);
        expired = true;
    }
    if (expired) {
        compactIfSparse();
        e = dsqHead;  // moved when compacted
    }
    return e;
}

// After a flood of vessels has expired, the pools stand mostly empty: copy
// the live entries, in queue order, into fresh pools and a fresh index, and
// give the old ones back. Each entry moves once per halving of the queue.
void Brinecast::compactIfSparse() {
    if (!positionPool_.Sparse() && !staticPool_.Sparse()) return;
    DsqPool positions(positionPool_.BlockBytes());
    DsqPool statics(staticPool_.BlockBytes());
    DsqIndex<TDSQueue> index(index_.Size());
    TDSQueue* last = nullptr;
    for (TDSQueue* e = dsqHead; e; e = e->next) {
        DsqPool& pool = e->kind == 1 ? positions : statics;
        auto* moved = static_cast<TDSQueue*>(pool.New());
        std::memcpy(static_cast<void*>(moved), e, pool.BlockBytes());
        moved->prev = last;
        moved->next = nullptr;
        (last ? last->next : dsqHead) = moved;
        index.Insert(moved->mmsi, moved->kind, moved);
        last = moved;
    }
    dsqTail = last;
    positionPool_ = std::move(positions);
    staticPool_ = std::move(statics);
    index_ = std::move(index);
}

TDSQueue* Brinecast::dsqFindDynamic(unsigned long mmsi) { return index_.Find(mmsi, 1); }

unsigned Brinecast::dsqCount() { return static_cast<unsigned>(index_.Size()); }

size_t Brinecast::dsqMemory() const {
    return positionPool_.Bytes() + staticPool_.Bytes() + index_.Bytes();
}

void Brinecast::dsqDispose() {
    dsqHead = dsqTail = nullptr;
    positionPool_ = DsqPool(positionPool_.BlockBytes());
    staticPool_ = DsqPool(staticPool_.BlockBytes());
    index_.Clear();
}
