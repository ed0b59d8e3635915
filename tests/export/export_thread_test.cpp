#include "export/export_thread.h"

#include "export/export_report.h"
#include "export/export_settings.h"
#include "export/snapshot.h"
#include "export_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>

namespace {

using exporttest::Messages;
using Clock = std::chrono::steady_clock;

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
        exportTime = 0;
        dir_name.clear();
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

TEST_F(WorkerTest, IdlesWhileExportIsOff) {
    exportTime = 0;
    worker = std::thread(Worker, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_FALSE(exportKmlFile);
    EXPECT_FALSE(Exists(dir_name));
    EXPECT_LT(Stop().count(), 300);
    EXPECT_TRUE(Messages::Take().empty());
}

TEST_F(WorkerTest, ExportsEveryIntervalAndStopsPromptly) {
    exportTime = 1;
    worker = std::thread(Worker, nullptr);
    const std::string file = dir_name + "/aisBrinecastSnapshot.kml";
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!Exists(file) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(exportKmlFile);
    EXPECT_TRUE(Exists(file));
    EXPECT_LT(Stop().count(), 300);
}

TEST_F(WorkerTest, WorkerStartedAfterStopReturnsAtOnce) {
    exportTime = 1;
    StopExport();  // no worker running: returns at once
    std::atomic<bool> returned{false};
    worker = std::thread([&returned] {
        Worker(nullptr);
        returned = true;
    });
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!returned && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(returned);
    if (returned) worker.join();
    else worker.detach();
    EXPECT_FALSE(Exists(dir_name));
}

}  // namespace
