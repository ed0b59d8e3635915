// Threads of the socket library: the thread object's life.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/Thread.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- Thread ---

class CountingThread : public Thread {
public:
    explicit CountingThread(bool release) : Thread(release) {}
    ~CountingThread() override { Stop(); }
    std::atomic<int> runs{0};

protected:
    void Run() override {
        ++runs;
        while (IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST(Thread, RunsOnlyOnceStartedAndReleased) {
    struct Case {
        const char* name;
        bool start;
        bool release;
        int runs;
    };
    for (const Case& k : {Case{"never started", false, true, 0}, Case{"started, never released", true, false, 0},
                          Case{"started and released", true, true, 1}}) {
        SCOPED_TRACE(k.name);
        CountingThread t(k.release);
        if (k.start) {
            ASSERT_TRUE(t.Start());
            EXPECT_FALSE(t.Start());  // once only
        }
        if (k.runs > 0) {
            const auto start = Clock::now();
            while (t.runs == 0 && SecondsSince(start) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto start = Clock::now();
        t.Stop();
        EXPECT_LT(SecondsSince(start), 2.0);
        EXPECT_EQ(k.runs, t.runs);
        EXPECT_FALSE(t.IsRunning());
        EXPECT_TRUE(!k.start || t.Ended());
    }
}

}  // namespace
