#include "app/dup_window.h"

#include "app/clock.h"
#include "app/pipeline.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace {

// The plain form of the window: a list newest first, old entries removed
// from the oldest end, searched from end to end.
class ListWindow {
public:
    bool Admit(uint64_t key, time_t now) {
        while (!list_.empty() && static_cast<uint64_t>(now - list_.back().second) > 10) list_.pop_back();
        for (const auto& e : list_)
            if (e.first == key) return false;
        list_.push_front({key, now});
        return true;
    }
    size_t Size() const { return list_.size(); }

private:
    std::deque<std::pair<uint64_t, time_t>> list_;
};

// Random keys (many repeats) at random, rising times across table growth and
// rebuilds: the flat window answers as the list does.
TEST(DupWindow, AgreesWithTheListForm) {
    std::mt19937_64 rng(11);
    for (uint64_t keys : {4ull, 300ull, 50000ull}) {
        DupWindow window(10);
        ListWindow model;
        time_t now = 1700000000;
        for (int step = 0; step < 200000; ++step) {
            if (rng() % 50 == 0) now += static_cast<time_t>(rng() % 4);
            const uint64_t key = rng() % keys;
            ASSERT_EQ(window.Admit(key, now), model.Admit(key, now)) << "step " << step;
        }
        EXPECT_EQ(window.Live(now), model.Size());
    }
}

TEST(DupWindow, FirstSightingCountsAndFutureStampsAreOld) {
    DupWindow w(10);
    const time_t t = 1700000000;
    EXPECT_TRUE(w.Admit(7, t));
    EXPECT_FALSE(w.Admit(7, t + 6));   // no renewal at 6 s...
    EXPECT_FALSE(w.Admit(7, t + 10));
    EXPECT_TRUE(w.Admit(7, t + 11));   // ...so 11 s after the first it is new
    EXPECT_TRUE(w.Admit(7, t - 5));    // the clock set back: the stamp is in the future
    EXPECT_EQ(w.Live(t - 5), 1u);

    // What expired stays expired when the clock is set back into its window.
    DupWindow v(10);
    EXPECT_TRUE(v.Admit(1, t));
    EXPECT_TRUE(v.Admit(2, t + 100));
    EXPECT_TRUE(v.Admit(1, t + 5));
    EXPECT_FALSE(v.Admit(1, t + 6));
    // A jump far ahead, past what a 16-bit stamp can tell apart, then back.
    EXPECT_TRUE(v.Admit(3, t + 65536 + 6));
    EXPECT_TRUE(v.Admit(1, t + 65536 + 7));
}

// A burst grows the tables; once it has aged out they shrink again.
TEST(DupWindow, GivesMemoryBackAfterABurst) {
    DupWindow w(10);
    const time_t t = 1700000000;
    const size_t idle = w.Bytes();
    for (uint64_t k = 0; k < 300000; ++k) ASSERT_TRUE(w.Admit(k, t));
    EXPECT_GT(w.Bytes(), idle * 8);
    EXPECT_FALSE(w.Admit(299999, t + 10));
    EXPECT_TRUE(w.Admit(1, t + 301));  // the burst has aged out
    EXPECT_FALSE(w.Admit(1, t + 302));
    EXPECT_EQ(w.Bytes(), idle);
    EXPECT_EQ(w.Live(t + 302), 1u);
}

// Clock steps of every size, forward and back, through the pipeline's window
// on the injectable clock: a key first seen at one time is a duplicate only
// within ten seconds after it, an entry stamped in the future counts as
// old, and what expired stays expired.
time_t fakeNow = 0;
time_t FakeClock() { return fakeNow; }

TEST(DupWindow, ClockStepsOfEverySize) {
    constexpr uint64_t K = 0x1234567890ABCDEFull;
    constexpr uint64_t L = 42;
    struct Step {
        int64_t at;  // seconds from the start
        uint64_t key;
        bool isNew;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"10 s ahead", {{0, K, true}, {10, K, false}, {11, K, true}}},
        {"1 s back", {{0, K, true}, {-1, K, true}, {1, K, false}}},
        {"11 s back", {{0, K, true}, {-11, K, true}, {1, K, true}}},
        {"30001 s back", {{0, K, true}, {-30001, K, true}, {-29991, K, false}, {1, K, true}}},
        {"65530 s back", {{0, K, true}, {-65530, K, true}, {-65525, K, false}, {1, K, true}}},
        {"65536 s back", {{0, K, true}, {-65536, K, true}, {-65536, K, false}, {1, K, true}}},
        {"65546 s back", {{0, K, true}, {-65546, K, true}, {1, K, true}}},
        {"10^9 s back", {{0, K, true}, {-1000000000, K, true}, {-999999990, K, false}, {0, K, true}}},
        {"2^32 s back", {{0, K, true}, {-(int64_t(1) << 32), K, true}, {0, K, true}}},
        {"30001 s ahead and back", {{0, K, true}, {30001, K, true}, {30005, K, false}, {0, K, true}}},
        {"65530 s ahead and back", {{0, K, true}, {65530, K, true}, {65531, K, false}, {0, K, true}}},
        {"65536 s ahead", {{0, K, true}, {65536, K, true}, {65540, K, false}, {65547, K, true}}},
        {"2^32 s ahead", {{0, K, true}, {int64_t(1) << 32, K, true}, {0, K, true}}},
        {"expired stays expired", {{0, K, true}, {100, L, true}, {5, K, true}, {6, K, false}}},
        {"expired stays expired past 2^16",
         {{0, K, true}, {65536 + 100, L, true}, {65536 + 5, K, true}, {65536 + 6, K, false}}},
    };
    SetClockSource(FakeClock);
    const time_t start = 1700000000;
    for (const auto& c : cases) {
        ResetPipeline();
        for (const auto& s : c.steps) {
            fakeNow = start + static_cast<time_t>(s.at);
            EXPECT_EQ(nodup(s.key), s.isNew) << c.name << ", at " << s.at;
        }
    }
    SetClockSource(nullptr);
    ResetPipeline();
}

}  // namespace
