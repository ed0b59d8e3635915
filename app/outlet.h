#pragma once
// One destination's way out: a UDP socket of its own and the datagrams
// that wait for it, in order. A datagram the kernel refuses for a full send
// buffer is kept and sent again when the socket has room, as a blocking
// send would; only a destination that takes nothing for kStallLimit loses
// what waits for it (counted), and for kNoWaitPeriod after that it is sent
// only what it takes at once, so a dead link cannot hold the input for
// long. Each destination has its own socket because the kernel charges a
// socket's send buffer with every datagram still queued on the link: behind
// one shared socket a slow destination made the fast ones wait or lose.
// Main thread only.

#include "net/UdpSocket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class SocketHandler;

class Outlet {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kStallLimit{1000};
    static constexpr std::chrono::seconds kNoWaitPeriod{10};

    explicit Outlet(SocketHandler& handler);
    Outlet(const Outlet&) = delete;
    Outlet& operator=(const Outlet&) = delete;

    // Copies one datagram for `to` behind those waiting.
    void Queue(const sockaddr_in& to, const char* data, size_t length);
    size_t Waiting() const { return items_.size() - first_; }

    // Sends what waits, in order, without blocking. A datagram refused for
    // a reason of its own (too long, not allowed, no descriptor to be had)
    // is lost alone and the rest go on. True when something left.
    bool TrySend();
    // Whether what still waits after TrySend may be waited for at `now`;
    // false in the no-wait period after a stall, and then it is dropped.
    bool MayWait(Clock::time_point now);
    // What a caller about to wait reads the socket from; -1 before the
    // first send made it.
    int Descriptor() const { return socket_.GetSocket(); }
    // Called by the drain loop: the stall clock counts from `now`, when a
    // wait starts and whenever the socket took something.
    void CountStallFrom(Clock::time_point now) { waitingSince_ = now; }
    bool Stalled(Clock::time_point now) const { return now - waitingSince_ >= kStallLimit; }
    // Drops what waits, counts it lost and starts the no-wait period;
    // returns how many were dropped.
    size_t GiveUp(Clock::time_point now);

    // Datagrams lost to this destination so far.
    uint64_t Lost() const { return lost_; }

private:
    struct Item {
        sockaddr_in to;
        size_t offset;
        size_t length;
    };
    void dropWaiting();

    UdpSocket socket_;
    std::vector<char> bytes_;
    std::vector<Item> items_;
    size_t first_ = 0;                       // items_ before it have left
    std::vector<UdpSocket::Datagram> batch_;  // TrySend's, kept between calls
    Clock::time_point waitingSince_{};
    Clock::time_point noWaitUntil_{};
    uint64_t lost_ = 0;
};

// Sends what waits at every outlet, waiting (poll, and another try at
// least every 10 ms) while some outlet may be waited for, until each has
// sent all, been given up after kStallLimit without taking anything, or
// dropped what waits in its no-wait period. `onStall(i, dropped)` is called
// for each outlet given up. Outlets that take everything at once are done
// before any wait starts: a slow one delays the others' next datagrams,
// never loses them.
void DrainOutlets(std::vector<std::unique_ptr<Outlet>>& outlets,
                  const std::function<void(unsigned, size_t)>& onStall);
