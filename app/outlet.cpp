#include "app/outlet.h"

#include "net/Exception.h"
#include "net/SocketHandler.h"

#include <poll.h>

#include <cerrno>

Outlet::Outlet(SocketHandler& handler) : socket_(handler, 1, false, 0) {}

void Outlet::Queue(const sockaddr_in& to, const char* data, size_t length) {
    items_.push_back(Item{to, bytes_.size(), length});
    bytes_.insert(bytes_.end(), data, data + length);
}

void Outlet::dropWaiting() {
    lost_ += Waiting();
    items_.clear();
    bytes_.clear();
    first_ = 0;
}

bool Outlet::TrySend() {
    bool progress = false;
    while (first_ < items_.size()) {
        const size_t n = items_.size() - first_;
        batch_.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const Item& item = items_[first_ + i];
            batch_[i] = UdpSocket::Datagram{item.to, bytes_.data() + item.offset, item.length};
        }
        int error = 0;
        unsigned sent = 0;
        try {
            sent = socket_.SendBatch(batch_.data(), static_cast<unsigned>(n), error);
        } catch (const Exception&) {
            // No descriptor to be had (out of descriptors): what waits is
            // lost, the next datagram tries again.
            dropWaiting();
            return true;
        }
        first_ += sent;
        progress = progress || sent > 0;
        if (error == 0 || UdpSocket::BufferFull(error)) break;
        // Refused for a reason of its own: lost alone, the rest go on.
        ++first_;
        ++lost_;
        progress = true;
    }
    if (first_ == items_.size()) {
        items_.clear();
        bytes_.clear();
        first_ = 0;
    }
    return progress;
}

bool Outlet::MayWait(Clock::time_point now) {
    if (now >= noWaitUntil_) return true;
    dropWaiting();
    return false;
}

size_t Outlet::GiveUp(Clock::time_point now) {
    const size_t dropped = Waiting();
    dropWaiting();
    noWaitUntil_ = now + kNoWaitPeriod;
    return dropped;
}

void DrainOutlets(std::vector<std::unique_ptr<Outlet>>& outlets,
                  const std::function<void(unsigned, size_t)>& onStall) {
    bool refused = false;
    for (auto& o : outlets) {
        if (o->Waiting() == 0) continue;
        o->TrySend();
        refused = refused || o->Waiting() != 0;
    }
    if (!refused) return;

    Outlet::Clock::time_point now = Outlet::Clock::now();
    std::vector<unsigned> waiting;
    for (unsigned i = 0; i < outlets.size(); ++i) {
        Outlet& o = *outlets[i];
        if (o.Waiting() == 0 || !o.MayWait(now)) continue;
        o.CountStallFrom(now);
        waiting.push_back(i);
    }
    std::vector<pollfd> fds;
    bool progressed = true;
    while (!waiting.empty()) {
        // Room in any send buffer wakes the loop; a round that moved nothing
        // (a buffer said to have room but still refusing) sleeps instead of
        // spinning. Either way another try comes within 10 ms: a socket
        // takes a datagram long before poll calls it writable.
        fds.clear();
        if (progressed)
            for (unsigned i : waiting) fds.push_back(pollfd{outlets[i]->Descriptor(), POLLOUT, 0});
        while (poll(fds.data(), fds.size(), 10) == -1 && errno == EINTR) {
        }
        now = Outlet::Clock::now();
        progressed = false;
        size_t kept = 0;
        for (unsigned i : waiting) {
            Outlet& o = *outlets[i];
            if (o.TrySend()) {
                o.CountStallFrom(now);
                progressed = true;
            }
            if (o.Waiting() == 0) continue;
            if (o.Stalled(now)) {
                onStall(i, o.GiveUp(now));
                continue;
            }
            waiting[kept++] = i;
        }
        waiting.resize(kept);
    }
}
