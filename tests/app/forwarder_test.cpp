#include "app_fixture.h"
#include "udp_receiver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

std::string Datagram(const Lines& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

// A message of `type` from `mmsi`; `salt` makes otherwise equal messages
// distinct for the duplicate filter.
Lines Msg(unsigned type, uint32_t mmsi, uint64_t salt, size_t bits = 168) {
    return Message(type, mmsi, bits, 60, bits > 360 ? "1" : "", salt);
}

class Forwarding : public CoreTest {
protected:
    void Destinations(size_t n, unsigned interval = 0) {
        receivers_.clear();
        std::vector<std::pair<std::string, int>> list;
        for (size_t i = 0; i < n; ++i) {
            receivers_.push_back(std::make_unique<UdpReceiver>());
            list.push_back({"127.0.0.1", receivers_.back()->port()});
        }
        UseDestinations(list, interval);
    }
    UdpReceiver& At(size_t i) { return *receivers_[i]; }

    std::vector<std::unique_ptr<UdpReceiver>> receivers_;
};

TEST_F(Forwarding, ExactDatagramPerMessage) {
    Destinations(1);
    const Lines single = Msg(1, 244000001, 1);
    const Lines twoPart = Msg(5, 244000001, 2, 424);
    ASSERT_EQ(twoPart.size(), 2u);
    Feed(single);
    Feed(twoPart);
    const auto got = At(0).Expect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], Datagram(single));
    EXPECT_EQ(got[1], Datagram(twoPart));
    EXPECT_TRUE(At(0).Drain().empty());
}

TEST_F(Forwarding, NonVdmSentencesReachEveryDestinationUnlessVdmOnly) {
    Destinations(3);
    const std::string zda = "$GPZDA,092751.00,10,12,2026,00,00*6A";
    Feed({zda});
    for (size_t i = 0; i < 3; ++i) {
        const auto got = At(i).Expect(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0], zda + "\r\n");
    }
    params.vdmOnly = true;
    Feed({zda});
    Feed(Msg(1, 244000001, 1));
    for (size_t i = 0; i < 3; ++i) {
        const auto got = At(i).Drain();
        ASSERT_EQ(got.size(), 1u);  // only the AIS message
        EXPECT_EQ(got[0].rfind("!AIVDM", 0), 0u);
    }
}

TEST_F(Forwarding, DuplicateWindowCountsFromFirstSighting) {
    Destinations(1);
    const Lines m = Msg(1, 244000001, 7);
    struct Step { int at; bool sent; };
    // Every 6 s: forwarded at 0, dropped at 6, forwarded at 12 (the 6 s copy
    // made no entry); then 10 s after 12 is still a duplicate, 11 s is not.
    const Step steps[] = {{0, true}, {6, false}, {12, true}, {22, false}, {23, true}};
    const time_t start = FakeNow();
    for (const auto& s : steps) {
        FakeNow() = start + s.at;
        Feed(m);
        EXPECT_EQ(At(0).Drain(50).size(), s.sent ? 1u : 0u) << "at " << s.at;
    }
}

// A type 24 part B in a table of types.
constexpr unsigned kPartB = 124;

struct DsStep {
    int at;              // seconds from the start
    unsigned type;       // kPartB: type 24 part B
    uint32_t mmsi;
    bool sent;
};

struct DsCase {
    const char* name;
    unsigned interval;
    std::vector<DsStep> steps;
};

TEST_F(Forwarding, DownsamplingPerVesselKindAndDestination) {
    const DsCase cases[] = {
        {"0, 10 and 31 s", 30, {{0, 1, 1, true}, {10, 1, 1, false}, {31, 1, 1, true}}},
        {"interval 0 never holds", 0, {{0, 1, 1, true}, {0, 1, 1, true}, {1, 3, 1, true}}},
        {"kinds 1 and 5 apart", 30, {{0, 1, 1, true}, {5, 5, 1, true}, {6, 5, 1, false}}},
        {"type 18 shares kind 1", 30, {{0, 1, 1, true}, {5, 18, 1, false}, {6, 19, 1, false}}},
        // 24 is part A below, kPartB part B.
        {"type 5 and both parts of 24 apart", 30,
         {{0, 5, 1, true}, {1, 24, 1, true}, {2, kPartB, 1, true}, {3, 5, 1, false}, {4, 24, 1, false},
          {5, kPartB, 1, false}, {31, 24, 1, true}, {32, kPartB, 1, true}}},
        {"part B follows every part A sent", 30,
         {{0, kPartB, 1, true}, {1, 24, 1, true}, {2, kPartB, 1, true}, {3, kPartB, 1, false},
          {20, 24, 1, false}, {21, kPartB, 1, false}, {40, 24, 1, true}, {41, kPartB, 1, true}}},
        {"part B of another vessel owes nothing", 30,
         {{0, kPartB, 2, true}, {1, 24, 1, true}, {2, kPartB, 2, false}}},
        {"vessels apart", 30, {{0, 1, 1, true}, {1, 1, 2, true}, {2, 1, 1, false}}},
        {"types 9, 21, 27 never held", 30,
         {{0, 9, 1, true}, {1, 9, 1, true}, {2, 21, 1, true}, {3, 21, 1, true}, {4, 27, 1, true},
          {5, 27, 1, true}}},
        {"types 0, 28, 31 reach nobody", 0, {{0, 0, 1, false}, {1, 28, 1, false}, {2, 31, 1, false}}},
    };
    uint64_t salt = 100;
    for (const auto& c : cases) {
        Destinations(2, c.interval);
        params.debug = true;
        const time_t start = FakeNow() += 1000;
        for (const auto& s : c.steps) {
            FakeNow() = start + s.at;
            const size_t bits = s.type == 5 ? 424 : s.type == 19 ? 312 : s.type == 21 ? 272 : s.type == 27 ? 96 : 168;
            // The part number is the top two bits of the salt field.
            const uint64_t part = s.type == kPartB ? 1ull << 30 : 0;
            testing::internal::CaptureStderr();
            Feed(Msg(s.type == kPartB ? 24 : s.type, s.mmsi, ++salt | part, bits));
            const std::string err = testing::internal::GetCapturedStderr();
            for (size_t d = 0; d < 2; ++d)
                EXPECT_EQ(At(d).Drain(30).size(), s.sent ? 1u : 0u)
                    << c.name << ", at " << s.at << ", destination " << d;
            // "Downsampled" once per destination held back.
            size_t held = 0;
            for (size_t p = 0; (p = err.find("Downsampled\n", p)) != std::string::npos; ++p) ++held;
            const bool downsampledType =
                s.type <= 5 || s.type == 18 || s.type == 19 || s.type == 24 || s.type == kPartB;
            EXPECT_EQ(held, (!s.sent && downsampledType && s.type != 0) ? 2u : 0u)
                << c.name << ", at " << s.at;
        }
    }
}

TEST_F(Forwarding, QueueEntriesExpireAfter300Seconds) {
    Destinations(1, 300);
    const time_t start = FakeNow();
    Feed(Msg(1, 211000001, 1));
    Feed(Msg(5, 211000001, 2, 424));
    EXPECT_EQ(AISBrinecast->dsqCount(), 2u);
    FakeNow() = start + 300;
    Feed(Msg(1, 211000002, 3));  // 300 s is not yet more than 300
    EXPECT_EQ(AISBrinecast->dsqCount(), 3u);
    FakeNow() = start + 301;
    Feed(Msg(1, 211000002, 4));
    EXPECT_EQ(AISBrinecast->dsqCount(), 1u);
    EXPECT_EQ(AISBrinecast->dsqFindDynamic(211000001), nullptr);
    ASSERT_NE(AISBrinecast->dsqFindDynamic(211000002), nullptr);
    // The expired vessel starts afresh.
    At(0).Drain(30);
    FakeNow() = start + 302;
    Feed(Msg(1, 211000001, 5));
    EXPECT_EQ(At(0).Drain(50).size(), 1u);
}

// A flood of vessels that then falls silent: once it has expired the queue
// gives its memory back, and the vessels still heard keep their order and
// their downsampling state.
TEST_F(Forwarding, QueueGivesMemoryBackAfterAFloodExpires) {
    Destinations(1, 30);
    const time_t start = FakeNow();
    const size_t idle = AISBrinecast->dsqMemory();
    FakeNow() = start + 1;
    for (uint32_t m = 0; m < 200000; ++m) AISBrinecast->dsqFindInsert(300000000 + m, m % 4 ? 1 : 5, 0, 0);
    const size_t flooded = AISBrinecast->dsqMemory();
    EXPECT_GT(flooded, idle + (8u << 20));

    FakeNow() = start + 290;
    Feed(Msg(1, 211000002, 1));
    FakeNow() = start + 291;
    Feed(Msg(1, 211000001, 2));
    EXPECT_EQ(At(0).Drain(30).size(), 2u);
    FakeNow() = start + 302;  // the flood expires at this look-up
    Feed(Msg(1, 211000002, 3));
    EXPECT_TRUE(At(0).Drain(30).empty()) << "12 s after the last report: held back";
    EXPECT_EQ(AISBrinecast->dsqCount(), 2u);
    EXPECT_LT(AISBrinecast->dsqMemory(), idle + (4u << 20));
    ASSERT_EQ(AISBrinecast->dsqHead->mmsi, 211000002u);
    ASSERT_EQ(AISBrinecast->dsqTail->mmsi, 211000001u);
    EXPECT_EQ(AISBrinecast->dsqHead->next, AISBrinecast->dsqTail);
    EXPECT_EQ(AISBrinecast->dsqTail->prev, AISBrinecast->dsqHead);
    EXPECT_EQ(AISBrinecast->dsqFindDynamic(211000001), AISBrinecast->dsqTail);
    FakeNow() = start + 321;
    Feed(Msg(1, 211000001, 4));
    EXPECT_EQ(At(0).Drain(30).size(), 1u) << "30 s after the last report: sent";
}

TEST_F(Forwarding, QueueStaysInMostRecentlyUsedOrder) {
    Destinations(1);
    const uint32_t order[] = {3, 1, 2, 1, 3};
    uint64_t salt = 0;
    for (uint32_t m : order) {
        FakeNow() += 1;
        Feed(Msg(1, 211000000 + m, ++salt));
    }
    std::vector<uint64_t> seen;
    for (TDSQueue* e = AISBrinecast->dsqHead; e; e = e->next) {
        seen.push_back(e->mmsi - 211000000);
        if (e->next) {
            EXPECT_EQ(e->next->prev, e);
        }
    }
    EXPECT_EQ(seen, (std::vector<uint64_t>{3, 1, 2}));
    EXPECT_EQ(AISBrinecast->dsqTail->mmsi, 211000002u);
}

TEST_F(Forwarding, TypeMaskWithoutUndefinedShifts) {
    Destinations(1);
    const struct { int type; bool passes; } cases[] = {
        {0, false}, {1, true}, {24, true}, {27, true}, {28, false}, {31, false},
        {32, false}, {33, true}, {59, true}, {60, false}, {63, false}};
    for (const auto& c : cases) EXPECT_EQ(AISBrinecast->typePasses(c.type, 0), c.passes) << c.type;
}

TEST_F(Forwarding, RefusesMoreDestinationsThanTheLimit) {
    std::vector<TOutgoing> records(kMaxDestinations + 1, TOutgoing{"127.0.0.1", 9});
    std::vector<TOutgoing*> list;
    for (auto& r : records) list.push_back(&r);
    EXPECT_THROW(Brinecast(list.data(), kMaxDestinations + 1, 0), std::invalid_argument);
    Brinecast full(list.data(), kMaxDestinations, 0);
    EXPECT_EQ(full.destinationCount, kMaxDestinations);
}

TEST_F(Forwarding, FiltersOfTheRecord) {
    Destinations(1);
    TDestination& d = AISBrinecast->destinations[0];
    EXPECT_TRUE(AISBrinecast->dsqPolygon(123, -456, 0));  // no bounds: everything passes
    d.minX = -10; d.maxX = 10; d.minY = -10; d.maxY = 10;
    EXPECT_TRUE(AISBrinecast->dsqPolygon(9, -9, 0));
    EXPECT_FALSE(AISBrinecast->dsqPolygon(10, 0, 0));  // strict bounds
    d.sourceList = "#3#12#";
    EXPECT_TRUE(AISBrinecast->dsqSource(12, 0));
    EXPECT_FALSE(AISBrinecast->dsqSource(1, 0));
    d.sourceInverted = true;
    EXPECT_FALSE(AISBrinecast->dsqSource(12, 0));
    EXPECT_TRUE(AISBrinecast->dsqSource(1, 0));
}

TEST_F(Forwarding, SendBatchLeavesInOrderAndLosesAFailedDatagramAlone) {
    Destinations(2);
    const unsigned total = 2 * Brinecast::kSendBatch + 5;
    const unsigned tooLong = Brinecast::kSendBatch + 3;  // no datagram holds it
    Lines texts;
    AISBrinecast->OpenSendBatch();
    AISBrinecast->OpenSendBatch();  // batches nest
    for (unsigned i = 0; i < total; ++i) {
        std::string t = i == tooLong ? std::string(70000, 'x') : "$GPTXT," + std::to_string(i) + "\r\n";
        AISBrinecast->DispatchNoneVdmMessage(&t[0]);
        if (i != tooLong) texts.push_back(t);
        if (i == 2) {
            EXPECT_TRUE(At(0).Drain(50, 50).empty()) << "nothing leaves before the batch is full or closed";
        }
    }
    AISBrinecast->CloseSendBatch();
    AISBrinecast->CloseSendBatch();
    for (size_t k = 0; k < 2; ++k) EXPECT_EQ(At(k).Expect(texts.size()), texts) << k;
}

TEST_F(Forwarding, RefusingDestinationDoesNotDisturbTheOthers) {
    UdpReceiver good;
    UseDestinations({{"127.0.0.1", ClosedUdpPort()}, {"127.0.0.1", good.port()}, {"localhost", good.port()}});
    for (int i = 0; i < 50; ++i) Feed(Msg(1, 211000000 + i, static_cast<uint64_t>(i)));
    EXPECT_EQ(good.Expect(100).size(), 100u);
}

}  // namespace

namespace {

// The name service of the tests: "receiver.test" and "other.test" are
// 127.0.0.1 while it is up. Renewals run on the forwarder's own thread.
std::atomic<int> lookups{0};
std::atomic<bool> nameServiceUp{true};
bool FakeResolve(const char* host, uint32_t& address) {
    ++lookups;
    const std::string h = host;
    if (!nameServiceUp || (h != "receiver.test" && h != "other.test")) return false;
    address = htonl(INADDR_LOOPBACK);
    return true;
}

// Waits up to five seconds for `n` look-ups in all.
bool LookupsReach(int n) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (lookups < n && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return lookups >= n;
}

class Resolving : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        lookups = 0;
        nameServiceUp = true;
        SetDestinationResolver(FakeResolve);
    }
    void TearDown() override {
        CoreTest::TearDown();  // joins the renewal thread first
        SetDestinationResolver(nullptr);
    }
    void SendOne() { Feed(Message(1, 244000100, 168, 60, "", ++salt_)); }

    uint64_t salt_ = 0;
};

TEST_F(Resolving, NamesAreLookedUpOnceAndRenewedEvery300Seconds) {
    UdpReceiver rx;
    UseDestinations({{"receiver.test", rx.port()}, {"127.0.0.1", rx.port()}});
    EXPECT_EQ(lookups, 1);  // when the forwarder is built; the dotted address never
    const time_t start = FakeNow();
    for (int i = 0; i < 20; ++i) SendOne();
    EXPECT_EQ(rx.Expect(40).size(), 40u);
    EXPECT_EQ(lookups, 1);  // nothing per message

    FakeNow() = start + 299;
    SendOne();
    FakeNow() = start + 300;
    nameServiceUp = false;  // the renewal fails: the last good address stays
    SendOne();
    EXPECT_TRUE(LookupsReach(2));
    SendOne();
    EXPECT_EQ(rx.Expect(6).size(), 6u);
    EXPECT_EQ(lookups, 2);  // not retried per message either
}

TEST_F(Resolving, ARenewalPublishesTheFirstGoodAddress) {
    UdpReceiver rx;
    nameServiceUp = false;
    UseDestinations({{"receiver.test", rx.port()}});
    SendOne();
    EXPECT_TRUE(rx.Drain(50).empty());  // never resolved: nothing to send to
    nameServiceUp = true;
    FakeNow() += 300;
    SendOne();  // wakes the renewal; this one may still find no address
    ASSERT_TRUE(LookupsReach(2));
    rx.Drain(50);
    SendOne();
    EXPECT_EQ(rx.Expect(1).size(), 1u);
}

// A renewal that hangs in the name service for seconds: every destination
// keeps receiving every message meanwhile, and the forwarder is destroyed
// cleanly once the look-up returns.
std::mutex gateMutex;
std::condition_variable gate;
bool gateOpen = false;
std::atomic<bool> hang{false};
std::atomic<bool> blocked{false};
bool BlockingResolve(const char* host, uint32_t& address) {
    if (hang) {
        std::unique_lock<std::mutex> lock(gateMutex);
        blocked = true;
        gate.wait_for(lock, std::chrono::seconds(10), [] { return gateOpen; });
        blocked = false;
    }
    return FakeResolve(host, address);
}

TEST_F(Resolving, ASlowNameServiceNeverHoldsTheForwardingBack) {
    gateOpen = false;
    hang = false;
    SetDestinationResolver(BlockingResolve);
    UdpReceiver named, dotted, other;
    UseDestinations({{"receiver.test", named.port()}, {"127.0.0.1", dotted.port()},
                     {"other.test", other.port()}});
    hang = true;
    FakeNow() += 300;
    SendOne();  // wakes the renewal, which hangs
    const auto hangs = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!blocked && std::chrono::steady_clock::now() < hangs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(blocked);

    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) SendOne();
    const auto took = std::chrono::steady_clock::now() - begin;
    for (UdpReceiver* rx : {&named, &dotted, &other}) EXPECT_EQ(rx->Expect(201).size(), 201u);
    EXPECT_TRUE(blocked) << "the look-up hung throughout";
    EXPECT_LT(took, std::chrono::seconds(1));
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateOpen = true;
    }
    gate.notify_all();
    EXPECT_TRUE(LookupsReach(4));  // both names renewed once the service answers
}

}  // namespace
