#pragma once
// The forwarder: sends every message to every destination its rules let
// through, one UDP datagram each, through a UDP socket per destination
// (`Outlet`). Position
// and static reports are downsampled per vessel, report kind and
// destination. Used from the main thread only; when a destination is given
// by name, a thread of its own renews the addresses.

#include "app/dsq_index.h"
#include "app/options.h"
#include "app/outlet.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// The forwarder's own bound on destinations; the command line's is the same.
constexpr unsigned kDsqMaxDestinations = 100;
static_assert(kDsqMaxDestinations == kMaxDestinations,
              "the command line and the forwarder must agree on the destination limit");

// Downsampling slots of a static entry, per destination.
enum StaticSlot : unsigned { kSlotType5 = 0, kSlotPartA = 1, kSlotPartB = 2, kStaticSlots = 3 };

struct TDestination {
    uint32_t interval = 0;            // downsampling interval in seconds, 0 = none
    int64_t minX = 0;                 // area bounds; all 0 = no area test
    int64_t minY = 0;
    int64_t maxX = 0;
    int64_t maxY = 0;
    uint64_t typeMask = 0x7ffffff;    // bit t-1 lets message type t through
    bool sourceInverted = false;
    std::string sourceList;           // "#n#" entries of the source filter
    char host[256] = {};
    uint16_t port = 0;

    // Address the datagrams go to, resolved when the forwarder is built. A
    // name (not a dotted address) is looked up again every 300 s by the
    // forwarder's renewal thread, which publishes each new address here; a
    // failed look-up keeps the last good address. The sending road only
    // reads it.
    std::atomic<uint32_t> address{0};  // IPv4, network byte order; 0 = never resolved
    bool numeric = false;
};

// One queue entry per (vessel, kind), in a block of its own; the block goes
// on with the entry's downsampling stamps (Brinecast::lastSent), as many as
// the destinations need, so an entry costs what the destinations use. A
// position entry has one slot per destination; a static entry three (type 5,
// type 24 part A, type 24 part B), since a class B unit sends its two parts
// seconds apart and one shared slot would hold part B back every cycle.
struct TDSQueue {
    uint64_t mmsi;
    int32_t kind;                     // 1 = position reports, 5 = static reports
    time_t lastSeen;
    int64_t x;
    int64_t y;
    TDSQueue* prev;                   // towards the head (most recently used)
    TDSQueue* next;                   // towards the tail

    time_t* stamps() { return reinterpret_cast<time_t*>(this + 1); }
};
static_assert(sizeof(TDSQueue) % alignof(time_t) == 0, "stamps follow the entry");

class Brinecast {
public:
    TDSQueue* dsqHead = nullptr;
    TDSQueue* dsqTail = nullptr;
    uint32_t destinationCount = 0;
    TDestination* destinations = nullptr;

    // Throws std::invalid_argument when count exceeds kDsqMaxDestinations.
    // Looks each name up once (with the resolver installed at that moment)
    // and, when there is a name, starts the renewal thread.
    Brinecast(TOutgoing** list, unsigned count, unsigned interval);
    // Stops and joins the renewal thread (after a look-up in progress ends)
    // and sends what still waits, as a closing batch does.
    ~Brinecast();
    Brinecast(const Brinecast&) = delete;
    Brinecast& operator=(const Brinecast&) = delete;

    // One AIS message text (all its sentences with "\r\n"); x, y the position
    // in 1/10000 minute for position reports, 0 otherwise. For type 24 the
    // part is read from the parser's type 24 record (`Parser`), which the
    // pipeline has just decoded; part numbers other than 0 count as part B.
    // Sending a part A to a destination lets that vessel's next part B
    // through to it.
    void DispatchMessage(int type, unsigned long mmsi, long x, long y, char* text);
    // The same with the text's length given, and for type 24 whether it is
    // a part B (instead of reading the parser).
    void DispatchMessage(int type, unsigned long mmsi, long x, long y, const char* text, size_t length,
                         bool partB);
    // A text sent unchanged to every destination.
    void DispatchNoneVdmMessage(char* text);

    // While a send batch is open (they nest), datagrams queue in order per
    // destination and leave together, a system call (sendmmsg) for up to
    // kSendBatch of them, when the last batch closes or a destination has
    // kSendBatch waiting; outside a batch each leaves at once. A datagram
    // the kernel refuses for a full send buffer waits until the socket has
    // room, so a send returns once every datagram has left, but for a
    // destination that took nothing for Outlet::kStallLimit: what waits for
    // it is lost (under -G one line says so), and for Outlet::kNoWaitPeriod
    // it gets only what its socket takes at once. A datagram refused for a
    // reason of its own is lost alone.
    void OpenSendBatch() { ++batchDepth_; }
    void CloseSendBatch() {
        if (--batchDepth_ == 0) drain();
    }
    static constexpr unsigned kSendBatch = 64;
    // Datagrams lost to destination i so far (refused, or given up on).
    uint64_t Lost(unsigned destination) const { return outlets_[destination]->Lost(); }

    // The entry of (mmsi, kind), created when missing, moved to the head and
    // stamped; entries unused for more than 300 s expire from the tail.
    TDSQueue* dsqFindInsert(unsigned long mmsi, int kind, long x, long y);
    // `slot` is 0 for a position entry, a StaticSlot for a static one.
    bool dsqDownsampling(TDSQueue* entry, unsigned destination, unsigned slot = 0);
    // When `destination` was last sent this entry's report of `slot`; 0 = never.
    time_t& lastSent(TDSQueue* entry, unsigned destination, unsigned slot = 0);
    bool dsqPolygon(long x, long y, unsigned destination);
    bool dsqSource(unsigned source, unsigned destination);
    TDSQueue* dsqFindDynamic(unsigned long mmsi);
    unsigned dsqCount();
    // Bytes the queue and its index hold.
    size_t dsqMemory() const;
    // Frees every entry and gives the memory back.
    void dsqDispose();

    // The queue kind a message type is downsampled under: 1 (position), 5
    // (static) or 0 (none).
    static int kindOf(int type) {
        if ((type >= 1 && type <= 4) || type == 18 || type == 19) return 1;
        return type == 5 || type == 24 ? 5 : 0;
    }
    // Starts loading what dispatching a message of this vessel and type will
    // read, one step at a time as each arrives: the queue index slot, then
    // the entry, then its neighbours in the queue.
    void Prefetch(unsigned long mmsi, int type) const {
        if (const int kind = kindOf(type)) index_.Prefetch(mmsi, kind);
    }
    void PrefetchEntry(unsigned long mmsi, int type) const {
        if (const int kind = kindOf(type)) index_.PrefetchEntry(mmsi, kind);
    }
    void PrefetchNeighbours(unsigned long mmsi, int type) const {
        if (const int kind = kindOf(type)) {
            if (const TDSQueue* e = index_.Find(mmsi, kind)) {
                if (e->prev) PrefetchLine(e->prev, true);
                if (e->next) PrefetchLine(e->next, true);
            }
        }
    }

    // True when type t passes destination i's type mask.
    bool typePasses(int type, unsigned destination) const;

private:
    // The constructor's work: outlets, destination records, renewal thread.
    void build(TOutgoing** list, unsigned count, unsigned interval);
    void send(unsigned destination, const char* text, size_t length);
    void drain();
    // Wakes the renewal thread when 300 s have passed since it was last woken.
    void renewDueNames();
    void unlink(TDSQueue* e);
    void pushHead(TDSQueue* e);
    DsqPool& poolOf(int kind) { return kind == 1 ? positionPool_ : staticPool_; }
    void compactIfSparse();

    // Index over the queue, and the entries' storage, one pool per entry size.
    DsqIndex<TDSQueue> index_;
    DsqPool positionPool_;
    DsqPool staticPool_;

    struct Renewal;
    std::unique_ptr<Renewal> renewal_;  // null when every destination is dotted

    std::vector<std::unique_ptr<Outlet>> outlets_;  // one per destination
    int batchDepth_ = 0;
};

extern Brinecast* AISBrinecast;

// How destination names become IPv4 addresses (network byte order); false
// when a name doesn't resolve. Called from the renewal thread as well, so it
// must be thread-safe. Tests install their own before building a forwarder;
// nullptr restores the system's look-up.
using DestinationResolver = bool (*)(const char* host, uint32_t& address);
void SetDestinationResolver(DestinationResolver resolver);
