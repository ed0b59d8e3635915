// The export thread, driven by a clock the test moves by hand: each step
// wakes the thread for one check and waits for it, so nothing sleeps.
#include "export/export_thread.h"

#include "export/export_report.h"
#include "export/export_settings.h"
#include "export/snapshot.h"
#include "export_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/stat.h>
#include <thread>

namespace {

using exporttest::Messages;
using Clock = std::chrono::steady_clock;

std::atomic<time_t> fakeNow{0};
time_t fakeClock() { return fakeNow; }

bool Exists(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0;
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        ResetExportThread();
        ClearSnapshot();
        Messages::Take();
        SetExportReporter(Messages::Report);
        fakeNow = 1000;
        SetExportClock(fakeClock);
        exportKmlFile = false;
        useKmz = false;
        purgeSnapshotTime = 900;
        dir_name = tmp.path() + "/out";
        imagesUrlDir.clear();
    }
    void TearDown() override {
        StopExport();
        if (worker.joinable()) worker.join();
        SetExportReporter(nullptr);
        SetExportClock(nullptr);
        exportTime = 0;
        dir_name.clear();
    }

    void Start() {
        worker = std::thread(Worker, nullptr);
        ASSERT_TRUE(CheckExportNow());  // the first check: the period has begun
    }

    // Sets the clock, lets the thread check once; true when it exported
    // (the export file appeared; it is removed for the next step).
    bool ExportsAt(time_t now) {
        fakeNow = now;
        EXPECT_TRUE(CheckExportNow());
        const std::string file = dir_name + "/aisBrinecastSnapshot.kml";
        return std::remove(file.c_str()) == 0;
    }

    // Stops the worker; returns how long StopExport blocked.
    std::chrono::milliseconds Stop() {
        const auto start = Clock::now();
        StopExport();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        worker.join();
        return took;
    }

    TempDir tmp;
    std::thread worker;
};

TEST_F(WorkerTest, ExportsEveryIntervalOfTheExportClock) {
    exportTime = 10;
    Start();
    EXPECT_TRUE(exportKmlFile);
    const struct {
        time_t now;
        bool exports;
    } steps[] = {
        {1000, false}, {1009, false}, {1010, true},   // the first interval after the start
        {1015, false}, {1019, false}, {1020, true},   // a new period from the export
        {1100, true},  {1101, false},                 // a late check exports once
        {900, true},   {905, false},  {910, true},    // a clock set back exports at once
    };
    for (const auto& s : steps) EXPECT_EQ(ExportsAt(s.now), s.exports) << "at " << s.now;
    EXPECT_LT(Stop().count(), 300);
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(WorkerTest, IdlesWhileExportIsOff) {
    exportTime = 0;
    Start();
    for (time_t now : {1000, 1001, 100000, 0}) EXPECT_FALSE(ExportsAt(now)) << "at " << now;
    EXPECT_FALSE(exportKmlFile);
    EXPECT_FALSE(Exists(dir_name));
    EXPECT_LT(Stop().count(), 300);
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(WorkerTest, WorkerStartedAfterStopReturnsAtOnce) {
    exportTime = 1;
    StopExport();  // no worker running: returns at once
    std::promise<void> returned;
    std::future<void> done = returned.get_future();
    worker = std::thread([&returned] {
        Worker(nullptr);
        returned.set_value();
    });
    const bool ready = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(ready);
    if (ready) worker.join();
    else worker.detach();
    EXPECT_FALSE(CheckExportNow());  // no worker checks any more
    EXPECT_FALSE(Exists(dir_name));
}

}  // namespace
